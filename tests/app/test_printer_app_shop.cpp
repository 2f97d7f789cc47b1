/*
 * test_printer_app_shop.cpp - ovik-printer-app through what a shop throws at
 * it: images of every form and hostile ones, values out of range, printers
 * that hang up, stop reading or run out of paper, copies and cancels, a
 * lunch-hour load, and a server killed at any moment. The server runs as
 * the systemd unit starts it; the printers are ovik-sim simulators.
 */
#include <gtest/gtest.h>

#include <random>

#include "app_harness.h"

using namespace app_test;

namespace {

/* ---------- images ---------- */

/* The test picture: blocks of block x block pixels, dark and light in a
 * checkerboard, and a transparent band (printed white) where the alpha is 0. */
rgba picture(unsigned x, unsigned y, unsigned block, bool color, bool alpha)
{
  bool dark = ((x / block) + (y / block)) % 2 == 0;
  if (alpha && y / block == 1)
    return {0, 0, 0, 0}; // black, but fully transparent: white paper
  if (color)
    return dark ? rgba{20, 10, 120, 255} : rgba{255, 250, 190, 255}; // dark blue, pale yellow
  return dark ? rgba{0, 0, 0, 255} : rgba{255, 255, 255, 255};
}

struct image_case {
  const char *label;
  bool jpeg;
  int color_type; /* PNG */
  int depth;      /* PNG */
  unsigned width; /* pixels; the head is 576 dots */
};

const image_case image_cases[] = {
    {"PNG gray 1-bit", false, PNG_COLOR_TYPE_GRAY, 1, 200},
    {"PNG gray 2-bit", false, PNG_COLOR_TYPE_GRAY, 2, 200},
    {"PNG gray 4-bit", false, PNG_COLOR_TYPE_GRAY, 4, 200},
    {"PNG gray 8-bit", false, PNG_COLOR_TYPE_GRAY, 8, 200},
    {"PNG gray 16-bit", false, PNG_COLOR_TYPE_GRAY, 16, 200},
    {"PNG gray and alpha 8-bit", false, PNG_COLOR_TYPE_GRAY_ALPHA, 8, 200},
    {"PNG gray and alpha 16-bit", false, PNG_COLOR_TYPE_GRAY_ALPHA, 16, 200},
    {"PNG palette 1-bit", false, PNG_COLOR_TYPE_PALETTE, 1, 200},
    {"PNG palette 2-bit with transparency", false, PNG_COLOR_TYPE_PALETTE, 2, 200},
    {"PNG palette 4-bit", false, PNG_COLOR_TYPE_PALETTE, 4, 200},
    {"PNG palette 8-bit with transparency", false, PNG_COLOR_TYPE_PALETTE, 8, 200},
    {"PNG RGB 8-bit", false, PNG_COLOR_TYPE_RGB, 8, 200},
    {"PNG RGB 16-bit", false, PNG_COLOR_TYPE_RGB, 16, 200},
    {"PNG RGBA 8-bit", false, PNG_COLOR_TYPE_RGBA, 8, 200},
    {"PNG RGBA 16-bit", false, PNG_COLOR_TYPE_RGBA, 16, 200},
    {"PNG twice as wide as the head: scaled to it", false, PNG_COLOR_TYPE_GRAY, 8, 1152},
    {"JPEG gray", true, PNG_COLOR_TYPE_GRAY, 8, 200},
    {"JPEG colour", true, PNG_COLOR_TYPE_RGB, 8, 200},
};

/* Every image form prints what it shows: each dot of the printed bitmap is
 * the image's pixel under it (dark is a dot; transparent is paper), the
 * image centred on the head, scaled down when wider than it. */
TEST(Documents, EveryImageFormPrintsItsPixels)
{
  app_server app;
  printer_sim sim;
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
  constexpr unsigned head = 576, height = 96, block = 16;
  for (const image_case &c : image_cases) {
    SCOPED_TRACE(c.label);
    bool color = c.color_type & PNG_COLOR_MASK_COLOR;
    bool alpha = (c.color_type & PNG_COLOR_MASK_ALPHA) ||
                 (c.color_type == PNG_COLOR_TYPE_PALETTE && c.depth != 1 && c.depth != 4);
    unsigned scale = c.width > head ? c.width / head : 1;
    unsigned h = height * scale;
    auto pixel = [&](unsigned x, unsigned y) { return picture(x, y, block * scale, color, alpha); };
    std::string file = app.dir.file(c.jpeg ? "image.jpg" : "image.png");
    if (c.jpeg)
      write_jpeg_file(file, c.width, h, color, 95, pixel);
    else
      write_png_file(file, c.width, h, c.color_type, c.depth, pixel);
    size_t before = sim.jobs().size();
    int job = app.print("r80", file, c.jpeg ? "image/jpeg" : "image/png", {{"paper-save-bottom", "keep"}});
    ASSERT_GT(job, 0) << app.log_tail();
    ASSERT_EQ(app.finish("r80", job), "completed") << app.log_tail();
    ASSERT_TRUE(eventually([&] { return sim.jobs().size() > before; }));
    uint32_t bpl = 0;
    bytes bitmap = first_bitmap(sim.jobs().back(), &bpl);
    ASSERT_EQ(bpl, head / 8);
    ASSERT_EQ(bitmap.size(), size_t(bpl) * height);
    unsigned shown = c.width / scale, x0 = (head - shown) / 2, wrong = 0;
    for (unsigned y = 0; y < height; y++)
      for (unsigned x = 0; x < head; x++) {
        bool dot = bitmap[y * bpl + x / 8] & (0x80 >> (x % 8));
        bool inside = x >= x0 && x < x0 + shown;
        rgba p = inside ? picture(x - x0, y, block, color, alpha) : rgba{255, 255, 255, 255};
        bool dark = p.a > 127 && (p.r * 299 + p.g * 587 + p.b * 114) / 1000 < 128;
        wrong += dot != dark;
      }
    // JPEG is lossy at the edges of its blocks; PNG is exact.
    EXPECT_LE(wrong, c.jpeg ? head * height / 200 : 0) << wrong << " dots differ";
  }
}

/* A broken or hostile document ends its job as aborted within seconds, with
 * its reason and one line of log, sending the printer no part of a page;
 * a format the printer does not print is refused at Print-Job; the next
 * job prints. */
TEST(Documents, AHostileDocumentEndsItsJobAndTheNextPrints)
{
  app_server app;
  printer_sim sim;
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
  std::string good = app.dir.file("good.png");
  write_png_file(good, 200, 64, PNG_COLOR_TYPE_GRAY, 1,
                 [](unsigned x, unsigned y) { return picture(x, y, 16, false, false); });
  bytes png = read_file(good);
  bytes garbage(5008, 0x5A);
  std::copy(png.begin(), png.begin() + 8, garbage.begin());
  bytes huge = png; // IHDR of 100000 x 100000 pixels, its CRC made right
  huge[16] = 0x00, huge[17] = 0x01, huge[18] = 0x86, huge[19] = 0xA0;
  huge[20] = 0x00, huge[21] = 0x01, huge[22] = 0x86, huge[23] = 0xA0;
  uint32_t crc = static_cast<uint32_t>(::crc32(0, huge.data() + 12, 17));
  for (int i = 0; i < 4; i++)
    huge[29 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
  std::string jpeg_file = app.dir.file("good.jpg");
  write_jpeg_file(jpeg_file, 200, 64, false, 90,
                  [](unsigned x, unsigned y) { return picture(x, y, 16, false, false); });
  bytes jpeg = read_file(jpeg_file);
  std::string tall = app.dir.file("tall.png"); // 4.5 m of paper
  write_png_file(tall, 576, 36000, PNG_COLOR_TYPE_GRAY, 1, [](unsigned, unsigned) { return rgba{255, 255, 255, 255}; });
  bytes pwg2 = pwg_raster(receipt_page());
  bytes page2 = pwg_raster(receipt_page(576, 1678, 1));
  pwg2.insert(pwg2.end(), page2.begin() + 4, page2.begin() + 4 + 1796 + 3000); // page 2 cut short

  struct hostile {
    const char *label;
    bytes data;
    const char *format;
    const char *reason; /* in the job's message; NULL: refused at Print-Job */
    size_t bitmaps;     /* page copies that reach the printer */
  };
  const hostile cases[] = {
      {"PNG: garbage after the signature", garbage, "image/png", "cannot be read", 0},
      {"PNG cut short", bytes(png.begin(), png.begin() + png.size() / 2), "image/png", "cannot be read", 0},
      {"PNG header of 100000 x 100000 pixels", huge, "image/png", "PNG", 0},
      {"PNG 4.5 m long", read_file(tall), "image/png", "longest page", 0},
      {"JPEG cut short", bytes(jpeg.begin(), jpeg.begin() + jpeg.size() / 3), "image/jpeg", "JPEG", 0},
      {"PWG raster cut short inside page 2", pwg2, "image/pwg-raster", "ends early", 1},
      {"PDF", bytes{'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'}, "application/pdf", nullptr, 0},
      {"text", bytes{'h', 'e', 'l', 'l', 'o', '\n'}, "text/plain", nullptr, 0},
      {"text sent as application/octet-stream", bytes{'h', 'e', 'l', 'l', 'o', '\n'}, "application/octet-stream",
       nullptr, 0},
  };
  for (const hostile &c : cases) {
    SCOPED_TRACE(c.label);
    write_file(app.dir.file("doc"), c.data);
    size_t before = sim.jobs().size();
    ipp_t *resp = app.send(IPP_OP_PRINT_JOB, "r80", {}, c.format, app.dir.file("doc"));
    ASSERT_NE(resp, nullptr);
    ipp_status_t status = ippGetStatusCode(resp);
    int job = ippGetInteger(ippFindAttribute(resp, "job-id", IPP_TAG_INTEGER), 0);
    ippDelete(resp);
    if (!c.reason) {
      EXPECT_EQ(status, IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED);
      EXPECT_EQ(job, 0);
      continue;
    }
    ASSERT_GT(job, 0) << ippErrorString(status);
    auto started = steady::now();
    EXPECT_EQ(app.finish("r80", job, 20s), "aborted");
    EXPECT_LT(steady::now() - started, 20s);
    EXPECT_TRUE(contains(app.job_attr_text("r80", job, "job-state-message"), c.reason))
        << app.job_attr_text("r80", job, "job-state-message");
    size_t lines = 0;
    for (const std::string &line : harness::lines(read_text(app.dir.file("log"))))
      lines += contains(line, "[Job " + std::to_string(job) + "]") && line.rfind("E ", 0) == 0;
    EXPECT_EQ(lines, 1u) << app.log_tail();
    size_t bitmaps = 0;
    std::vector<bytes> now = sim.jobs();
    for (size_t i = before; i < now.size(); i++)
      bitmaps += decode_stream(now[i]).summary.bitmaps;
    EXPECT_EQ(bitmaps, c.bitmaps);
  }
  int job = app.print("r80", good, "image/png");
  EXPECT_EQ(app.finish("r80", job), "completed");
}

/* ---------- values ---------- */

/* A value outside what the printer offers (the job keyword table's choices
 * and ranges, and the standard attributes' -supported) is refused at every
 * operation that takes it, named in the unsupported group, and never
 * reaches a job. */
TEST(Requests, OutOfRangeValuesAreRefused)
{
  struct value_case {
    ipp_op_t op;
    job_attr attr;
    bool refused;
  };
  const value_case cases[] = {
      {IPP_OP_VALIDATE_JOB, {"formfeed-length", "100000"}, true},
      {IPP_OP_PRINT_JOB, {"cut-mode", "bogus"}, true},
      {IPP_OP_PRINT_JOB, {"cut-paper-length", "-5"}, true},
      {IPP_OP_CREATE_JOB, {"beep-repeat", "0"}, true},
      {IPP_OP_PRINT_JOB, {"finishings", "4"}, true}, // staple
      {IPP_OP_PRINT_JOB, {"media-type", "photographic"}, true},
      {IPP_OP_SET_PRINTER_ATTRIBUTES, {"cut-paper-length-default", "500"}, true},
      {IPP_OP_SET_PRINTER_ATTRIBUTES, {"cut-mode-default", "sideways"}, true},
      {IPP_OP_VALIDATE_JOB, {"cut-paper-length", "40"}, false},
      {IPP_OP_SET_PRINTER_ATTRIBUTES, {"cut-mode-default", "full"}, false},
  };
  app_server app;
  printer_sim sim;
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
  std::string page = app.dir.file("page.pwg");
  write_file(page, pwg_raster(receipt_page()));
  for (const value_case &c : cases) {
    SCOPED_TRACE(std::string(ippOpString(c.op)) + " " + c.attr.name + "=" + c.attr.value);
    bool with_file = c.op == IPP_OP_PRINT_JOB;
    ipp_t *resp = app.send(c.op, "r80", {c.attr}, with_file ? "image/pwg-raster" : nullptr, with_file ? page : "");
    ASSERT_NE(resp, nullptr);
    if (c.refused) {
      EXPECT_EQ(ippGetStatusCode(resp), IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES);
      ipp_attribute_t *bad =
          ippFindAttribute(resp, c.attr.name.rfind("media-", 0) == 0 ? "media-col" : c.attr.name.c_str(), IPP_TAG_ZERO);
      EXPECT_TRUE(bad && ippGetGroupTag(bad) == IPP_TAG_UNSUPPORTED_GROUP);
      EXPECT_EQ(ippFindAttribute(resp, "job-id", IPP_TAG_INTEGER), nullptr);
    } else {
      EXPECT_EQ(ippGetStatusCode(resp), IPP_STATUS_OK);
    }
    ippDelete(resp);
  }
  EXPECT_EQ(app.printer_attr_text("r80", "cut-mode-default"), "full");
  EXPECT_EQ(app.printer_attr_text("r80", "cut-paper-length-default"), "-1");
}

/* ---------- faults ---------- */

/* A printer that hangs up, stops reading or runs out of paper mid-job: the
 * job waits with the printer's state shown, is printed again from its first
 * page after a hang-up, and ends completed only once every byte reached the
 * printer; a printer that keeps hanging up ends the job aborted, with its
 * reason and only the copies the printer took. */
TEST(Faults, APrinterThatFailsMidJobNeverLosesAReceiptSilently)
{
  struct fault_case {
    const char *label;
    std::vector<std::string> faults;
    const char *shown; /* printer-state-reasons while it lasts, or NULL */
    const char *end;
    int whole_streams; /* connections that carry the whole job */
  };
  // One copy of the receipt is about 59,000 bytes.
  const fault_case cases[] = {
      {"hangs up once after the first copy",
       {"--disconnect-after", "70000", "--disconnect-times", "1"},
       nullptr,
       "completed",
       1},
      {"stops reading for 12 s", {"--pause-after", "70000", "--pause-for", "12"}, "offline", "completed", 1},
      {"runs out of paper", {"--paper-out-after", "70000"}, "media-empty", "completed", 1},
      {"hangs up after every first copy", {"--disconnect-after", "70000"}, nullptr, "aborted", 0},
  };
  for (const fault_case &c : cases) {
    SCOPED_TRACE(c.label);
    app_server app;
    printer_sim sim("ready", c.faults);
    ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
    write_file(app.dir.file("page.pwg"), pwg_raster(receipt_page()));
    int job = app.print("r80", app.dir.file("page.pwg"), "image/pwg-raster", {{"copies", "3"}, {"cut-mode", "full"}});
    ASSERT_GT(job, 0);
    if (c.shown) {
      EXPECT_TRUE(eventually([&] { return app.has_reason("r80", c.shown); }, 20s)) << app.reasons("r80");
      EXPECT_EQ(app.job_state("r80", job), "processing");
      sim.set("ready"); // paper loaded
    }
    EXPECT_EQ(app.finish("r80", job, 90s), c.end) << app.log_tail();
    int whole = 0;
    for (const bytes &b : sim.jobs()) {
      decode_summary s = decode_stream(b).summary;
      whole += s.bitmaps == 3 && s.cuts_full == 1 && s.stop_offset == -1 && s.crc_errors == 0;
    }
    EXPECT_EQ(whole, c.whole_streams);
    std::string impressions = app.job_attr_text("r80", job, "job-impressions-completed");
    EXPECT_EQ(impressions, std::string(c.end) == "completed" ? "3" : "1") << app.log_tail(8000);
    if (std::string(c.end) == "aborted") {
      EXPECT_TRUE(contains(app.job_attr_text("r80", job, "job-state-message"), "closed the connection"));
    }
    if (c.shown) {
      EXPECT_FALSE(app.has_reason("r80", c.shown));
    }
  }
}

/* ---------- copies and cancel ---------- */

/* Copies asked for are printed and counted; a cancel on a slow printer stops
 * at the copy the printer is taking: no copy already buffered behind it
 * reaches the printer afterwards. */
TEST(Copies, EveryCopyPrintsAndACancelStopsAtTheNext)
{
  app_server app;
  printer_sim sim("ready", {"--drain-rate", "200000"});
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
  std::string png = app.dir.file("receipt.png");
  write_png_file(png, 500, 400, PNG_COLOR_TYPE_GRAY, 1,
                 [](unsigned x, unsigned y) { return picture(x, y, 16, false, false); });
  std::string out;
  ASSERT_EQ(app.cli({"submit", "-d", "r80", "-n", "3", png}, &out), 0) << out;
  size_t named = out.find("r80-");
  ASSERT_NE(named, std::string::npos) << out;
  int first = atoi(out.c_str() + named + 4);
  EXPECT_EQ(app.finish("r80", first), "completed");
  ASSERT_TRUE(eventually([&] { return sim.jobs().size() == 1; }));
  EXPECT_EQ(decode_stream(sim.jobs()[0]).summary.bitmaps, 3u);
  EXPECT_EQ(app.job_attr_text("r80", first, "job-impressions-completed"), "3");

  write_file(app.dir.file("page.pwg"), pwg_raster(receipt_page()));
  int job = app.print("r80", app.dir.file("page.pwg"), "image/pwg-raster",
                      {{"copies", "20"}, {"paper-save-bottom", "keep"}, {"cut-mode", "full"}});
  ASSERT_GT(job, 0);
  ASSERT_TRUE(
      eventually([&] { return atoi(app.job_attr_text("r80", job, "job-impressions-completed").c_str()) >= 2; }));
  ASSERT_TRUE(app.cancel("r80", job));
  int taken = atoi(app.job_attr_text("r80", job, "job-impressions-completed").c_str());
  EXPECT_EQ(app.finish("r80", job), "canceled");
  ASSERT_TRUE(eventually([&] { return sim.jobs().size() == 2; }));
  decode_summary s = decode_stream(sim.jobs()[1]).summary;
  EXPECT_EQ(s.stop_offset, -1) << "the stream ends inside a packet or command";
  EXPECT_EQ(s.page_headers, s.bitmaps);
  EXPECT_GE(s.bitmaps, size_t(taken));
  EXPECT_LE(s.bitmaps, size_t(taken) + 1) << "copies buffered before the cancel reached the printer";
  EXPECT_EQ(s.cuts_full, 0u) << "a cancelled job ends without its document end";
}

/* ---------- states ---------- */

/* A printer that cannot print (out of paper, cover open, not reachable) is
 * stopped with the reason, its jobs wait in the queue, and it is idle again
 * and prints them once it can. */
TEST(States, APrinterThatCannotPrintIsStoppedUntilItCan)
{
  struct state_case {
    const char *label;
    const char *condition;
    std::vector<std::string> faults;
    const char *reason;
  };
  const state_case cases[] = {
      {"out of paper", "paper-out", {}, "media-empty"},
      {"cover open", "cover-open", {}, "cover-open"},
      {"not reachable for 15 s", "ready", {"--refuse-for", "15"}, "offline"},
  };
  for (const state_case &c : cases) {
    SCOPED_TRACE(c.label);
    app_server app;
    printer_sim sim(c.condition, c.faults);
    ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
    EXPECT_TRUE(eventually([&] { return app.printer_attr_text("r80", "printer-state") == "stopped"; }, 20s))
        << app.printer_attr_text("r80", "printer-state");
    EXPECT_TRUE(app.has_reason("r80", c.reason)) << app.reasons("r80");
    write_file(app.dir.file("page.pwg"), pwg_raster(receipt_page()));
    int job = app.print("r80", app.dir.file("page.pwg"), "image/pwg-raster");
    ASSERT_GT(job, 0);
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(app.job_state("r80", job), "pending");
    sim.set("ready");
    EXPECT_EQ(app.finish("r80", job, 60s), "completed");
    EXPECT_TRUE(eventually([&] { return !app.has_reason("r80", c.reason); })) << app.reasons("r80");
    EXPECT_TRUE(eventually([&] { return app.printer_attr_text("r80", "printer-state") == "idle"; }));
  }
}

/* A job cancelled while it waits for paper or a closed cover ends
 * cancelled by the user, its wait no longer given as its reason. */
TEST(States, AJobCancelledWhileItWaitsSaysSo)
{
  app_server app;
  printer_sim sim("ready", {"--paper-out-after", "70000"});
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
  write_file(app.dir.file("page.pwg"), pwg_raster(receipt_page()));
  int job = app.print("r80", app.dir.file("page.pwg"), "image/pwg-raster", {{"copies", "3"}});
  ASSERT_GT(job, 0);
  ASSERT_TRUE(eventually([&] { return contains(app.job_attr_text("r80", job, "job-state-message"), "Waiting"); }))
      << app.job_attr_text("r80", job, "job-state-message");
  ASSERT_TRUE(app.cancel("r80", job));
  EXPECT_EQ(app.finish("r80", job), "canceled");
  EXPECT_EQ(app.job_attr_text("r80", job, "job-state-reasons"), "job-canceled-by-user");
  EXPECT_FALSE(contains(app.job_attr_text("r80", job, "job-state-message"), "Waiting"));
}

/* A job cancelled as soon as it is sent, while the server starts it: it
 * ends canceled by the user (or completed, when it printed before the
 * cancel came), and the list of ended jobs names it once. */
TEST(States, AJobCancelledAsItIsSentEndsCanceledOnce)
{
  app_server app;
  printer_sim sim;
  ASSERT_TRUE(app.add("r80", "ovik-tern-80a", sim.uri()));
  write_file(app.dir.file("page.pwg"), pwg_raster(receipt_page()));
  std::map<int, bool> sent; // job, and whether the cancel was taken
  for (int round = 0; round < 30; round++) {
    int job = app.print("r80", app.dir.file("page.pwg"), "image/pwg-raster");
    ASSERT_GT(job, 0);
    sent[job] = app.cancel("r80", job);
  }
  for (const auto &[job, cancelled] : sent) {
    SCOPED_TRACE("job " + std::to_string(job));
    EXPECT_EQ(app.finish("r80", job), cancelled ? "canceled" : "completed") << app.log_tail();
    if (cancelled) {
      EXPECT_EQ(app.job_attr_text("r80", job, "job-state-reasons"), "job-canceled-by-user");
    }
  }
  ipp_t *req = app.new_request(IPP_OP_GET_JOBS, "r80");
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "completed");
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-id");
  ipp_t *resp = app.request(req, "r80");
  ASSERT_NE(resp, nullptr);
  std::map<int, int> listed;
  for (ipp_attribute_t *a = ippFindAttribute(resp, "job-id", IPP_TAG_INTEGER); a;
       a = ippFindNextAttribute(resp, "job-id", IPP_TAG_INTEGER))
    listed[ippGetInteger(a, 0)]++;
  ippDelete(resp);
  for (const auto &[job, cancelled] : sent)
    EXPECT_EQ(listed[job], 1) << "job " << job;
}

/* ---------- load ---------- */

/* A lunch hour: 8 printers, 5 jobs to each sent at once, three rounds of PWG
 * raster and one of PNG; every job completes, every printer gets every
 * stream whole, and the server answers every request meanwhile. */
TEST(Load, EightPrintersFiveJobsEachAtOnce)
{
  constexpr int printers = 8, jobs = 5;
  app_server app;
  std::vector<std::unique_ptr<printer_sim>> sims;
  for (int i = 0; i < printers; i++) {
    sims.push_back(std::make_unique<printer_sim>());
    ASSERT_TRUE(app.add("p" + std::to_string(i), "ovik-tern-80a", sims[i]->uri()));
  }
  write_file(app.dir.file("page.pwg"), pwg_raster(receipt_page()));
  write_png_file(app.dir.file("page.png"), 576, 600, PNG_COLOR_TYPE_GRAY, 1,
                 [](unsigned x, unsigned y) { return picture(x, y, 16, false, false); });
  std::atomic<bool> done{false};
  std::atomic<int> slow{0};
  std::thread probe([&] {
    while (!done) {
      auto asked = steady::now();
      bool answered = !app.printer_attr_text("p0", "printer-state").empty();
      if (!answered || steady::now() - asked > 10s)
        slow++;
      std::this_thread::sleep_for(200ms);
    }
  });
  const char *rounds[] = {"image/pwg-raster", "image/pwg-raster", "image/pwg-raster", "image/png"};
  int round = 0;
  for (const char *format : rounds) {
    SCOPED_TRACE(std::string("round ") + std::to_string(++round) + " of " + format);
    std::string file = app.dir.file(std::string(format) == "image/png" ? "page.png" : "page.pwg");
    std::vector<int> ids(printers * jobs);
    std::vector<std::string> refusals(printers * jobs);
    std::vector<std::thread> senders;
    for (int n = 0; n < printers * jobs; n++)
      senders.emplace_back([&, n] {
        ipp_t *resp = app.send(IPP_OP_PRINT_JOB, "p" + std::to_string(n % printers), {}, format, file);
        ids[n] = resp ? ippGetInteger(ippFindAttribute(resp, "job-id", IPP_TAG_INTEGER), 0) : 0;
        refusals[n] = resp ? ippErrorString(ippGetStatusCode(resp)) : "no response";
        ippDelete(resp);
      });
    for (std::thread &t : senders)
      t.join();
    for (int n = 0; n < printers * jobs; n++) {
      if (ids[n] <= 0) {
        ADD_FAILURE() << "job " << n << " was refused: " << refusals[n] << "\n" << app.log_tail(6000);
        continue;
      }
      std::string printer = "p" + std::to_string(n % printers);
      std::string state = app.finish(printer, ids[n], 120s);
      EXPECT_EQ(state, "completed") << printer << " job " << ids[n] << ": "
                                    << app.job_attr_text(printer, ids[n], "job-state-message") << "\n"
                                    << app.log_tail(6000) << read_text(app.dir.file("server.out"));
      if (state == "unknown") { // the server does not answer: what it said is above
        done = true;
        probe.join();
        return;
      }
    }
    // PAPPL keeps a printer's connection open while it has jobs: a stream
    // may carry several jobs, each whole.
    for (int i = 0; i < printers; i++) {
      auto bitmaps = [&] {
        size_t n = 0;
        for (const bytes &b : sims[i]->jobs())
          n += decode_stream(b).summary.bitmaps;
        return n;
      };
      EXPECT_TRUE(eventually([&] { return bitmaps() == size_t(jobs * round); }))
          << "printer " << i << " got " << bitmaps() << " pages\n"
          << read_text(sims[i]->dir.file("sim.log"));
      for (const bytes &b : sims[i]->jobs()) {
        decode_summary s = decode_stream(b).summary;
        EXPECT_EQ(s.crc_errors + s.problems + s.unknown_bytes, 0u);
        EXPECT_EQ(s.stop_offset, -1);
      }
    }
  }
  done = true;
  probe.join();
  EXPECT_EQ(slow, 0) << "requests went unanswered for more than 10 s";
  // Ended jobs leave nothing in the spool: no document, no attribute file.
  auto spooled = [&] {
    std::string names;
    for (const auto &e : std::filesystem::directory_iterator(app.dir.file("spool")))
      names += e.path().filename().string() + " ";
    return names;
  };
  EXPECT_TRUE(eventually([&] { return spooled().empty(); }, 10s)) << spooled();
}

/* ---------- state ---------- */

/* The server killed at any moment (while it saves, while it prints) comes
 * back with every printer and its defaults; a job it was printing is printed
 * again, queued jobs print, none stays processing. */
TEST(State, KilledAtAnyMomentComesBackWhole)
{
  constexpr int printers = 9;
  app_server app;
  std::vector<std::unique_ptr<printer_sim>> sims;
  for (int i = 0; i < printers; i++) {
    sims.push_back(std::make_unique<printer_sim>("ready", std::vector<std::string>{"--drain-rate", "100000"}));
    ASSERT_TRUE(app.add("p" + std::to_string(i), "ovik-tern-80a", sims[i]->uri()));
    ipp_t *resp = app.send(IPP_OP_SET_PRINTER_ATTRIBUTES, "p" + std::to_string(i),
                           {{"cut-paper-length-default", std::to_string(5 + i)}});
    ASSERT_TRUE(resp && ippGetStatusCode(resp) == IPP_STATUS_OK);
    ippDelete(resp);
  }
  write_file(app.dir.file("page.pwg"), pwg_raster(receipt_page()));
  std::mt19937 random(20261208);
  std::vector<std::pair<int, int>> jobs; // printer, job
  for (int round = 0; round < 6; round++) {
    SCOPED_TRACE("round " + std::to_string(round));
    for (int n = 0; n < 4; n++) {
      int p = static_cast<int>(random() % printers);
      int id = app.print("p" + std::to_string(p), app.dir.file("page.pwg"), "image/pwg-raster", {{"copies", "2"}});
      if (id)
        jobs.emplace_back(p, id);
    }
    // Killed while the jobs print and the state is saved after each of them
    // (a job accepted less than a second before is saved without its
    // document and would show as aborted).
    std::this_thread::sleep_for(std::chrono::milliseconds(1200 + random() % 600));
    app.kill_now();
    app.start();
    for (int i = 0; i < printers; i++)
      ASSERT_EQ(app.printer_attr_text("p" + std::to_string(i), "cut-paper-length-default"), std::to_string(5 + i))
          << "printer p" << i << " or its default was lost\n"
          << read_text(app.dir.file("log")).substr(0, 2000);
  }
  for (const auto &[p, id] : jobs)
    EXPECT_EQ(app.finish("p" + std::to_string(p), id, 120s), "completed")
        << "p" << p << " job " << id << ": " << app.job_attr_text("p" + std::to_string(p), id, "job-state-message")
        << "\n"
        << app.log_tail(4000);
}

/* ---------- the web pages ---------- */

/* The Add Printer page works without the Avahi daemon (PAPPL's aborted the
 * server) and adds a network printer by its address. */
TEST(Web, AddPrinterWorksWithoutAvahi)
{
  app_server app;
  printer_sim sim;
  http_t *http = httpConnect2("localhost", app.port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  ASSERT_NE(http, nullptr);
  httpClearFields(http);
  ASSERT_EQ(httpGet(http, "/addprinter"), 0);
  http_status_t status;
  while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
  }
  std::string page;
  char buffer[8192];
  for (ssize_t n; (n = httpRead2(http, buffer, sizeof buffer)) > 0;)
    page.append(buffer, static_cast<size_t>(n));
  httpClose(http);
  EXPECT_EQ(status, HTTP_STATUS_OK);
  EXPECT_TRUE(contains(page, "Network Printer")) << page.substr(0, 500);
  EXPECT_TRUE(contains(page, "ovik-tern-80a"));
  EXPECT_TRUE(port_open(app.port)) << "the server went down";
}

} // namespace
