/*
 * paper.h - the paper a receipt takes, against the height of what is printed
 * on it: documents through the CUPS filter chain into raster, then through
 * rastertoovik with the top and gap trim off and on.
 */
#ifndef OVIK_BENCH_PAPER_H
#define OVIK_BENCH_PAPER_H

#include <functional>
#include <string>
#include <vector>

namespace bench {

/* Runs argv with exactly the environment env, standard input from in and
 * standard output to out: the program's exit status. */
using runner = std::function<int(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                                 const std::string &in, const std::string &out)>;

/* One document's figures, in millimetres. */
struct paper_figure {
  std::string job;
  double content = 0; /* from the first to the last dotted row, less the blank runs beyond the gap */
  double margins = 0; /* what the trim may keep: the top margin and the gap for each such run */
  double off = 0;     /* paper fed with the trim off, as a PPD without its keywords */
  double on = 0;      /* paper fed with the trim on */
  bool label = false; /* a label job: the trim must change nothing */
};

/* Makes the documents in work (the PDFs with Chromium), runs every job and
 * returns its figures; a document that cannot be made is named in *missing. */
std::vector<paper_figure> paper_figures(const std::string &work, const std::string &filter, const std::string &ppd,
                                        const runner &run, std::string *missing);

} // namespace bench

#endif
