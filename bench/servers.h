/*
 * servers.h - the print servers side by side: ovik-printer-app against the
 * classic path (a private cupsd with a queue of the PPD and the filter, on
 * both socket URI forms), each printing to ovik-sim on loopback. What is
 * measured is what a shop waits for: from the request to the last byte at
 * the printer, the memory of the server process, and a lunch-hour load.
 */
#ifndef OVIK_BENCH_SERVERS_H
#define OVIK_BENCH_SERVERS_H

#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

/* One figure: the application's value against the classic path's. */
struct server_figure {
  std::string figure;    /* what was measured, for the application */
  std::string reference; /* the classic path it is set against */
  double ours = 0, theirs = 0;
  const char *unit = "ms"; /* "ms", "MiB" or "jobs/s" */
  bool higher_is_better = false;
  bool record = false; /* a figure that explains another: no goal */
  std::string note;    /* why a side is missing */
};

/* A process's resident set and its peak so far (VmRSS, VmHWM), in MiB;
 * 0 when the process has gone. */
struct process_memory {
  double rss_mib = 0, peak_mib = 0;
};
process_memory memory_of(pid_t pid);

/* The median of a sample; -1 for none. */
double median_of(std::vector<double> v);

/* Runs every server figure, runs times each side in turn (after one
 * warm-up), and returns them; what could not be measured is named in
 * *missing. The servers start with the systemd unit's options, only their
 * port, spool and log their own; the folders go in the temporary folder. */
std::vector<server_figure> server_figures(int runs, std::string *missing);

} // namespace bench

#endif
