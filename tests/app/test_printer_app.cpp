/*
 * test_printer_app.cpp - ovik-printer-app end to end: a real server on a
 * loopback port, printers that are ovik-sim simulators, jobs sent over IPP
 * as clients send them, and the printer streams compared whole with what
 * the real rastertoovik filter writes for the same page and settings.
 */
#include <gtest/gtest.h>

#include "app_harness.h"

using namespace app_test;

namespace {

/* One job's settings, as IPP attributes for the printer application and as
 * PPD options for the filter. */
struct settings_case {
  const char *label;
  const char *driver;
  std::vector<job_attr> ipp;
  const char *ppd_options;
  unsigned copies;
  unsigned rows = 1678; /* the page length in dots: 210 mm, the default media */
};

const settings_case settings_cases[] = {
    {"every setting at its default", "ovik-tern-80a", {}, "", 1},
    {"full cut after 10 mm at job end, beep at job end",
     "ovik-tern-80a",
     {{"cut-mode", "full"}, {"cut-paper-length", "10"}, {"beep-control", "job-end"}},
     "CutMode=2 CutPaperLength=10 BeepControl=2",
     1},
    {"partial cut after every page, labels with gaps, darkness 75 % is level 5",
     "ovik-tern-80a",
     {{"post-print-action", "cut-every-page"},
      {"cut-mode", "partial"},
      {"cut-paper-length", "5"},
      {"media-type", "labels"},
      {"print-darkness", "75"}},
     "PostPrintAction=3 CutMode=1 CutPaperLength=5 PaperType=1 PrintDensity=5",
     1},
    {"feed 20 mm at job end, drawer and buzzer at start, blank bottom kept",
     "ovik-tern-80a",
     {{"post-print-action", "feed-at-end"},
      {"formfeed-length", "20"},
      {"drawer-1", "job-start"},
      {"external-beep-control", "job-start"},
      {"external-beep-repeat", "3"},
      {"external-beep-duration", "2"},
      {"paper-save-bottom", "keep"}},
     "PostPrintAction=1 FormfeedLength=20 Drawer1=1 ExternalBeepControl=1 ExternalBeepRepeat=3 "
     "ExternalBeepDuration=2 PaperSaveBottom=0",
     1},
    {"finishings trim: a full cut at job end", "ovik-tern-80a", {{"finishings", "11"}}, "CutMode=2", 1},
    {"two copies, stored logo 3 centred at job end, 100 mm page",
     "ovik-tern-80a",
     {{"copies", "2"},
      {"print-logo", "job-end"},
      {"logo-index", "3"},
      {"logo-align", "center"},
      {"media", "om_80x100mm_72.08x100mm"}},
     "PrintLogo=2 LogoIndex=3 LogoAlign=2 PageSize=80x100mm",
     2,
     799},
    {"58 mm model, tickets, shortened feeds, black marks",
     "ovik-tern-58a",
     {{"media-type", "black-mark"},
      {"paper-save-mode", "half"},
      {"post-print-action", "cut-at-end"},
      {"cut-paper-length", "15"},
      {"cut-mode", "full"}},
     "PaperType=2 PaperSaveMode=2 PostPrintAction=2 CutPaperLength=15 CutMode=2",
     1},
};

/* Prints one case and returns what the printer received, less the status
 * requests between the job's parts. */
bytes print_case(const app_server &app, const printer_sim &sim, const std::string &printer, const settings_case &c,
                 const std::string &raster_file)
{
  size_t before = sim.jobs().size();
  int job = app.print(printer, raster_file, "image/pwg-raster", c.ipp);
  EXPECT_GT(job, 0) << c.label << "\n" << app.log_tail();
  EXPECT_EQ(app.finish(printer, job), "completed") << c.label;
  EXPECT_TRUE(eventually([&] { return sim.jobs().size() > before; })) << c.label;
  std::vector<bytes> jobs = sim.jobs();
  return jobs.empty() ? bytes{} : without_status_requests(jobs.back());
}

} // namespace

/* For every setting the PPDs offer, the printer application sends exactly
 * the bytes the CUPS filter sends for the same page and settings. */
TEST(PrinterApp, SendsTheFiltersBytesForEverySetting)
{
  app_server app;
  printer_sim sim80, sim58;
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim80.uri()));
  ASSERT_TRUE(app.add("r58", "ovik-tern-58a", sim58.uri()));
  for (const settings_case &c : settings_cases) {
    bool narrow = std::string(c.driver) == "ovik-tern-58a";
    page_spec page = receipt_page(narrow ? 384 : 576, c.rows);
    write_file(app.dir.file("page.pwg"), pwg_raster(page));
    bytes expected = filter_stream(c.driver, pwg_raster(page, c.copies), c.ppd_options);
    ASSERT_FALSE(expected.empty()) << c.label;
    bytes actual = print_case(app, narrow ? sim58 : sim80, narrow ? "r58" : "r80", c, app.dir.file("page.pwg"));
    EXPECT_TRUE(actual == expected) << c.label << ": " << first_difference(actual, expected);
  }
}

/* A page of the default media with 300 blank rows above its print and a
 * blank run of 560 rows inside, as a centred image or a page with margins
 * comes: the printer gets the filter's bytes for the PPD's defaults (2 mm,
 * 15 rows, kept above) and a 10 mm gap, 55 + 79 + 40 rows. */
TEST(PrinterApp, LeavesOutTheBlankTopAndShortensLongGapsAsTheFilterDoes)
{
  app_server app;
  printer_sim sim;
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
  page_spec page = receipt_page(576, 1678);
  page.pixels.assign(page.size(), 0);
  for (unsigned y : {300u, 900u})
    for (unsigned row = y; row < y + 40; row++)
      page.dot(16 + row % 500, row).dot(560, row);
  write_file(app.dir.file("page.pwg"), pwg_raster(page));
  settings_case c{"paper-save-gap 10 mm", "ovik-tern-80a", {{"paper-save-gap", "10"}}, "PaperSaveGap=10", 1};
  bytes expected = filter_stream(c.driver, pwg_raster(page), c.ppd_options);
  EXPECT_EQ(decode_stream(expected).summary.rows, 174u);
  bytes actual = print_case(app, sim, "r80", c, app.dir.file("page.pwg"));
  EXPECT_TRUE(actual == expected) << first_difference(actual, expected);
}

/* Four printers of four models in one application, a job sent to each at
 * once: every printer gets its whole stream, the filter's for its model. */
TEST(PrinterApp, FourPrintersPrintAtOnce)
{
  const char *drivers[] = {"ovik-tern-80a", "ovik-tern-58a", "ovik-finch-80", "ovik-tv-801"};
  app_server app;
  std::vector<std::unique_ptr<printer_sim>> sims;
  for (int i = 0; i < 4; i++) {
    sims.push_back(std::make_unique<printer_sim>());
    ASSERT_TRUE(app.add("p" + std::to_string(i), drivers[i], sims[i]->uri()));
  }
  const std::vector<job_attr> attrs = {{"cut-mode", "full"}, {"cut-paper-length", "10"}, {"copies", "3"}};
  std::vector<bytes> rasters(4);
  for (int i = 0; i < 4; i++) {
    rasters[i] = pwg_raster(receipt_page(std::string(drivers[i]) == "ovik-tern-58a" ? 384 : 576, 1678, i));
    write_file(app.dir.file("page" + std::to_string(i) + ".pwg"), rasters[i]);
  }
  std::vector<int> jobs(4);
  std::vector<std::thread> senders;
  for (int i = 0; i < 4; i++)
    senders.emplace_back([&, i] {
      jobs[i] = app.print("p" + std::to_string(i), app.dir.file("page" + std::to_string(i) + ".pwg"),
                          "image/pwg-raster", attrs);
    });
  for (std::thread &t : senders)
    t.join();
  for (int i = 0; i < 4; i++) {
    ASSERT_GT(jobs[i], 0) << drivers[i];
    EXPECT_EQ(app.finish("p" + std::to_string(i), jobs[i]), "completed") << drivers[i];
  }
  for (int i = 0; i < 4; i++) {
    ASSERT_TRUE(eventually([&] { return sims[i]->jobs().size() == 1; })) << drivers[i];
    bytes actual = without_status_requests(sims[i]->jobs()[0]);
    // The filter writes the copies its raster header asks for.
    bytes raster3 = pwg_raster(receipt_page(std::string(drivers[i]) == "ovik-tern-58a" ? 384 : 576, 1678, i), 3);
    bytes expected = filter_stream(drivers[i], raster3, "CutMode=2 CutPaperLength=10");
    EXPECT_TRUE(actual == expected) << drivers[i] << ": " << first_difference(actual, expected);
    decode_summary s = decode_stream(sims[i]->jobs()[0]).summary;
    EXPECT_EQ(s.crc_errors + s.problems + s.unknown_bytes, 0u) << drivers[i];
    EXPECT_EQ(s.bitmaps, 3u) << drivers[i];
  }
}

/* The printer's condition, as its status replies tell it, shows in
 * printer-state-reasons, and each reason goes when the printer is ready. */
TEST(PrinterApp, ShowsThePrintersCondition)
{
  struct condition_case {
    const char *condition;
    const char *reason;
  };
  const condition_case cases[] = {
      {"paper-out", "media-empty"}, {"near-end", "media-low"}, {"cover-open", "cover-open"}, {"offline", "offline"}};
  app_server app;
  printer_sim sim;
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
  auto has = [&](const char *reason) {
    return ("," + app.reasons("r80") + ",").find(std::string(",") + reason + ",") != std::string::npos;
  };
  for (const condition_case &c : cases) {
    sim.set(c.condition);
    EXPECT_TRUE(eventually([&] { return has(c.reason); })) << c.condition << ": " << app.reasons("r80");
    sim.set("ready");
    EXPECT_TRUE(eventually([&] { return !has(c.reason); })) << c.condition << " cleared: " << app.reasons("r80");
  }
}

/* Every answer to Get-Printer-Attributes names each attribute once, however
 * often it is asked: all of them, or the strings languages by name (PAPPL
 * 1.3.1 adds printer-strings-languages-supported to the printer once more at
 * each request while strings resources name a language). */
TEST(PrinterApp, NamesEveryAttributeOnceInEveryAnswer)
{
  app_server app;
  printer_sim sim;
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
  const std::vector<const char *> asked[] = {{}, {"printer-strings-languages-supported", "printer-strings-uri"}};
  for (int round = 0; round < 3; round++)
    for (const auto &names : asked) {
      ipp_t *req = app.new_request(IPP_OP_GET_PRINTER_ATTRIBUTES, "r80");
      if (!names.empty())
        ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", static_cast<int>(names.size()),
                      nullptr, names.data());
      ipp_t *resp = app.request(req, "r80");
      ASSERT_NE(resp, nullptr);
      EXPECT_EQ(ippGetStatusCode(resp), IPP_STATUS_OK);
      std::map<std::string, int> seen;
      for (ipp_attribute_t *a = ippFirstAttribute(resp); a; a = ippNextAttribute(resp))
        if (ippGetGroupTag(a) == IPP_TAG_PRINTER && ippGetName(a) && ++seen[ippGetName(a)] == 2)
          ADD_FAILURE() << "round " << round << ": " << ippGetName(a) << " twice";
      ippDelete(resp);
    }
}

/* A job that finds the paper out waits with media-needed, sends nothing
 * meanwhile, and prints whole once paper is loaded. (PAPPL prints a raster
 * stream while it arrives, so the request itself waits too.) */
TEST(PrinterApp, JobWaitsForPaper)
{
  app_server app;
  printer_sim sim("paper-out");
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
  page_spec page = receipt_page();
  write_file(app.dir.file("page.pwg"), pwg_raster(page));
  int job = 0;
  std::thread sender([&] {
    job = app.print("r80", app.dir.file("page.pwg"), "image/pwg-raster", {{"cut-mode", "full"}});
  });
  EXPECT_TRUE(eventually([&] { return app.reasons("r80").find("media-needed") != std::string::npos; }))
      << app.reasons("r80");
  EXPECT_TRUE(sim.jobs().empty());
  sim.set("ready");
  sender.join();
  ASSERT_GT(job, 0);
  EXPECT_EQ(app.finish("r80", job), "completed");
  EXPECT_TRUE(eventually([&] { return app.reasons("r80").find("media-needed") == std::string::npos; }))
      << app.reasons("r80");
  ASSERT_TRUE(eventually([&] { return sim.jobs().size() == 1; }));
  bytes expected = filter_stream("ovik-tern-80a", pwg_raster(page), "CutMode=2");
  bytes actual = without_status_requests(sim.jobs()[0]);
  EXPECT_TRUE(actual == expected) << first_difference(actual, expected);
}

/* Cancelling a job of many copies, while the printer takes it slowly:
 * the stream ends between two page copies, never inside a packet, and
 * without the document end (no final cut). */
TEST(PrinterApp, CancelStopsBetweenCopies)
{
  app_server app;
  printer_sim sim("ready", {"--drain-rate", "200000"});
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
  write_file(app.dir.file("page.pwg"), pwg_raster(receipt_page()));
  const std::vector<job_attr> attrs = {{"copies", "50"}, {"paper-save-bottom", "keep"}, {"cut-mode", "full"}};
  std::thread sender([&] { app.print("r80", app.dir.file("page.pwg"), "image/pwg-raster", attrs); });
  const int job = 1; // the first job of a new server
  EXPECT_TRUE(eventually([&] { return app.job_state("r80", job) == "processing"; }, 10s));
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(app.cancel("r80", job));
  sender.join();
  EXPECT_EQ(app.finish("r80", job), "canceled");
  ASSERT_TRUE(eventually([&] { return sim.jobs().size() == 1; }));
  decode_summary s = decode_stream(sim.jobs()[0]).summary;
  EXPECT_EQ(s.stop_offset, -1) << "the stream ends inside a packet or command";
  EXPECT_EQ(s.crc_errors + s.problems + s.unknown_bytes, 0u);
  EXPECT_EQ(s.page_headers, s.bitmaps);
  EXPECT_GT(s.bitmaps, 0u);
  EXPECT_LT(s.bitmaps, 50u);
  EXPECT_EQ(s.cuts_full, 0u) << "a cancelled job ends without its document end";
}

/* Identify-Printer with the action sound: the beeper command reaches the
 * printer. */
TEST(PrinterApp, IdentifySoundsTheBeeper)
{
  app_server app;
  printer_sim sim;
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
  ipp_t *req = app.new_request(IPP_OP_IDENTIFY_PRINTER, "r80");
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "identify-actions", nullptr, "sound");
  ipp_t *resp = app.request(req, "r80");
  ASSERT_NE(resp, nullptr);
  EXPECT_EQ(ippGetStatusCode(resp), IPP_STATUS_OK) << app.log_tail();
  ippDelete(resp);
  auto beeps = [&] {
    size_t n = 0;
    for (const bytes &c : sim.connections())
      n += decode_stream(c).summary.beeps;
    return n;
  };
  EXPECT_TRUE(eventually([&] { return beeps() == 1; })) << beeps() << " beeps";
}
