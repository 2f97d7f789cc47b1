// A set of jobs whose whole output is kept: printer stream, status lines,
// exit status and trace file, recorded from the filter before its job logic
// moved into the engine. Every later build must reproduce them byte for byte.
//
// To record them again (only when a change to the output is intended and
// reviewed): OVIK_GOLDEN_WRITE=1 build/tests/test_filter_golden
#include <gtest/gtest.h>

#include "filter_harness.h"
#include "ovik_printer_model.h"

using namespace harness;

namespace {

std::string model_named(int32_t id)
{
  const ovik_model_brief *row = ovik_printer_model_brief_find_by_id(id);
  return row ? row->name : "";
}

/* A small page with a few dots: 128 dots wide, rows rows, copies copies. */
page_spec small_page(unsigned rows, unsigned copies = 1, unsigned seed = 1)
{
  page_spec p;
  p.width = 128;
  p.height = rows;
  p.copies = copies;
  for (unsigned y = 0; y + 3 < rows; y += 3)
    p.dot((y * 37 + seed * 11) % 128, y).dot((y * 53 + seed * 7) % 128, y + 1);
  return p;
}

struct golden_job {
  const char *name;
  int32_t model;                          /* catalogue id; 0: a name no row has */
  std::map<std::string, std::string> ppd; /* PPD default choices */
  std::string options;                    /* argv[5] */
  std::vector<page_spec> pages;
  raster_version version = raster_version::v3;
  size_t cut_at = 0;        /* nonzero: the raster ends after this many bytes */
  bool from_file = false;   /* the raster as argv[6] */
  bool usage_error = false; /* one argument too few */
};

std::vector<golden_job> golden_jobs()
{
  page_spec gray = small_page(4);
  gray.bits_per_pixel = 8;
  return {
      {"default", 0x1001, {}, "", {small_page(12)}},
      {"cut-at-end", 0x1001, {}, "PostPrintAction=2 CutPaperLength=10 CutMode=2", {small_page(12)}},
      {"cut-every-page",
       0x1001,
       {{"PostPrintAction", "3"}},
       "CutPaperLength=15 CutMode=1 PaperSaveMode=2",
       {small_page(9, 2), small_page(6, 1, 2)}},
      {"peripherals",
       0x1486,
       {{"BeepControl", "1"}, {"PrintLogo", "2"}},
       "BeepRepeat=3 BeepDuration=2 BeepInterval=1 ExternalBeepControl=2 ExternalBeepRepeat=2 "
       "ExternalBeepDuration=2 ExternalBeepInterval=1 Drawer1=1 Drawer2=2 LogoIndex=2 LogoAlign=2 "
       "PrintDensity=5 PaperType=1",
       {small_page(6)}},
      {"refused-commands",
       0x1001,
       {},
       "BeepControl=2 BeepRepeat=64 PrintLogo=1 LogoIndex=80 LogoAlign=0 "
       "Drawer1=2 PaperType=3 CutMode=5",
       {small_page(6)}},
      {"feed-step", 0x1955, {}, "PostPrintAction=1 FormfeedLength=10 PaperType=2", {small_page(9), small_page(3)}},
      {"class-without-escpos",
       0x3102,
       {},
       "PostPrintAction=2 CutPaperLength=10 CutMode=2 BeepControl=1",
       {small_page(6)}},
      {"resolution-and-size",
       0x1001,
       {{"PageSize", "58x210mm"}},
       "Resolution=300dpi PaperSaveBottom=0",
       {small_page(6), small_page(6, 1, 3)},
       raster_version::v2_compressed},
      {"odd-values",
       0x1001,
       {},
       "Resolution=abc PrintDensity=None PageSize=wide CutPaperLength=-99999999999",
       {small_page(3)},
       raster_version::v1},
      {"masked-options", 0x1001, {{"CutMode", "1"}}, "CutMode=2 Title=a\nSTATE:+x", {small_page(3)}},
      {"no-pages", 0x1001, {}, "PostPrintAction=2 CutPaperLength=5 CutMode=2", {}},
      {"raster-file", 0x1001, {}, "", {small_page(6, 3)}, raster_version::v3, 0, true},
      {"unknown-model", 0, {}, "", {small_page(3)}},
      {"gray-page", 0x1001, {}, "", {small_page(3), gray}},
      {"cut-short", 0x1001, {}, "", {small_page(12), small_page(12)}, raster_version::v3, 1900},
      {"usage", 0x1001, {}, "", {small_page(3)}, raster_version::v3, 0, false, true},
  };
}

/* Every occurrence of from in text replaced by to. */
std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

struct golden_output {
  bytes out;
  std::string err, trace;
};

golden_output run_golden(const golden_job &job)
{
  temp_dir dir;
  std::string model = job.model ? model_named(job.model) : "No Such Model";
  write_text(dir.file("test.ppd"), ppd_text(model, job.ppd));
  bytes raster = make_raster(job.pages, job.version);
  if (job.cut_at)
    raster.resize(job.cut_at);
  run_options o;
  o.args = {"7", "user", "title", "1", job.options};
  if (job.usage_error)
    o.args.pop_back();
  if (job.from_file) {
    write_file(dir.file("job.ras"), raster);
    o.args.push_back(dir.file("job.ras"));
  } else {
    o.input = raster;
  }
  o.env = {{"PPD", dir.file("test.ppd")}, {"OVIK_TRACE", dir.file("trace")}};
  run_result r = run_filter(o);
  golden_output g;
  g.out = r.out;
  g.err = "exit status " + std::to_string(r.status) + "\n" + replace_all(r.err, dir.path, "@DIR@");
  g.trace = replace_all(read_text(dir.file("trace")), dir.path, "@DIR@");
  return g;
}

std::string golden_path(const golden_job &job, const char *ext)
{
  return std::string(OVIK_SOURCE_DIR) + "/tests/golden/" + job.name + ext;
}

class Golden : public ::testing::TestWithParam<golden_job> {};

TEST_P(Golden, StreamStatusLinesAndTraceAreThoseRecorded)
{
  const golden_job &job = GetParam();
  golden_output g = run_golden(job);
  if (getenv("OVIK_GOLDEN_WRITE")) {
    write_file(golden_path(job, ".out"), g.out);
    write_text(golden_path(job, ".err"), g.err);
    write_text(golden_path(job, ".trace"), g.trace);
    GTEST_SKIP() << "recorded";
  }
  EXPECT_STREAM(g.out, read_file(golden_path(job, ".out")));
  EXPECT_EQ(g.err, read_text(golden_path(job, ".err")));
  std::string expected_trace = read_text(golden_path(job, ".trace"));
  EXPECT_FALSE(expected_trace.empty()) << "no recorded trace";
  if (g.trace != expected_trace) {
    std::vector<std::string> a = lines(g.trace), e = lines(expected_trace);
    size_t i = 0;
    while (i < a.size() && i < e.size() && a[i] == e[i])
      i++;
    ADD_FAILURE() << "traces differ at line " << i + 1
                  << "\n  actual:   " << (i < a.size() ? a[i].substr(0, 200) : "(end)")
                  << "\n  recorded: " << (i < e.size() ? e[i].substr(0, 200) : "(end)");
  }
}

INSTANTIATE_TEST_SUITE_P(Filter, Golden, ::testing::ValuesIn(golden_jobs()), [](const auto &info) {
  std::string n = info.param.name;
  for (char &c : n)
    if (c == '-')
      c = '_';
  return n;
});

} // namespace
