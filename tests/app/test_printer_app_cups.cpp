/*
 * test_printer_app_cups.cpp - the printer application behind CUPS, as a
 * driverless (IPP Everywhere) queue: the sample receipt printed from CUPS
 * reaches the simulated printer whole, with the rows the filter writes for
 * the page CUPS sent.
 *
 * A private cupsd (tools/cupsd-sandbox) makes the queue with lpadmin -m
 * everywhere from the application's attributes. A second queue with the
 * same generated PPD writes to a file instead, so the test holds the very
 * raster CUPS sends: 8-bit gray Apple raster, which the application turns
 * into 1-bit black with its threshold (a dot where the gray is at most 127).
 * Runs as root, as cupsd does; skipped otherwise.
 */
#include <gtest/gtest.h>

#include "app_harness.h"

using namespace app_test;

namespace {

/* Runs a command with CUPS_SERVER set; its exit status. */
int run(const std::vector<std::string> &args, const std::string &server, const std::string &log)
{
  return wait_for(spawn(args, {{"CUPS_SERVER", server}}, log), 120s);
}

/* The make and model cupsd gives a queue (its PPD's, once it has one). */
std::string queue_model(const std::string &server, const char *queue)
{
  http_t *http = httpConnect2(server.c_str(), 0, nullptr, AF_LOCAL, HTTP_ENCRYPTION_NEVER, 1, 10000, nullptr);
  if (!http)
    return "";
  ipp_t *req = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  std::string uri = std::string("ipp://localhost/printers/") + queue;
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-make-and-model");
  ipp_t *resp = cupsDoRequest(http, req, "/");
  std::string model;
  if (ipp_attribute_t *a = resp ? ippFindAttribute(resp, "printer-make-and-model", IPP_TAG_TEXT) : nullptr)
    model = ippGetString(a, 0, nullptr);
  ippDelete(resp);
  httpClose(http);
  return model;
}

/* The pages of a raster stream (PWG or Apple) turned into 1-bit black PWG
 * raster: a dot where the 8-bit gray is at most 127. */
bytes to_black_1(const bytes &stream)
{
  struct reader {
    const bytes *data;
    size_t at;
  } in{&stream, 0};
  auto read_cb = [](void *ctx, unsigned char *buf, size_t len) -> ssize_t {
    auto *r = static_cast<reader *>(ctx);
    size_t n = std::min(len, r->data->size() - r->at);
    std::memcpy(buf, r->data->data() + r->at, n);
    r->at += n;
    return static_cast<ssize_t>(n);
  };
  bytes out;
  cups_raster_t *src = cupsRasterOpenIO(read_cb, &in, CUPS_RASTER_READ);
  cups_raster_t *dst = cupsRasterOpenIO(append_to_bytes, &out, CUPS_RASTER_WRITE_PWG);
  cups_page_header2_t h;
  while (src && cupsRasterReadHeader2(src, &h)) {
    if (h.cupsBitsPerPixel != 8)
      break;
    std::vector<unsigned char> gray(h.cupsBytesPerLine);
    cups_page_header2_t b = h;
    b.cupsBitsPerColor = b.cupsBitsPerPixel = 1;
    b.cupsColorSpace = CUPS_CSPACE_K;
    b.cupsNumColors = 1;
    b.cupsBytesPerLine = (h.cupsWidth + 7) / 8;
    b.NumCopies = 1; // Apple raster leaves it 0; the job has one copy
    cupsRasterWriteHeader2(dst, &b);
    std::vector<unsigned char> row(b.cupsBytesPerLine);
    for (unsigned y = 0; y < h.cupsHeight; y++) {
      cupsRasterReadPixels(src, gray.data(), h.cupsBytesPerLine);
      std::fill(row.begin(), row.end(), 0);
      for (unsigned x = 0; x < h.cupsWidth; x++)
        if (gray[x] <= 127)
          row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
      cupsRasterWritePixels(dst, row.data(), b.cupsBytesPerLine);
    }
  }
  if (src)
    cupsRasterClose(src);
  cupsRasterClose(dst);
  return out;
}

} // namespace

/* The sample receipt through CUPS's driverless queue: whole, and the
 * filter's rows for the page CUPS sent. */
TEST(PrinterAppWithCups, PrintsTheSampleReceiptDriverless)
{
  if (geteuid() != 0 || access("/usr/sbin/cupsd", X_OK) != 0)
    GTEST_SKIP() << "cupsd runs as root";
  app_server app;
  printer_sim sim;
  ASSERT_TRUE(app.add("receipt", "ovik-tern-80a", sim.uri()));

  temp_dir cups;
  chmod(cups.path.c_str(), 0755);
  std::string sandbox = std::string(OVIK_SOURCE_DIR) + "/tools/cupsd-sandbox";
  std::string dir = cups.file("cupsd"), server = dir + "/cups.sock", log = cups.file("commands.log");
  ASSERT_EQ(run({sandbox, "start", dir}, "", log), 0) << read_text(log);
  struct stop_cupsd {
    std::string sandbox, dir, log;
    ~stop_cupsd() { wait_for(spawn({sandbox, "stop", dir}, {}, log), 60s); }
  } stopper{sandbox, dir, log};

  ASSERT_EQ(run({"/usr/sbin/lpadmin", "-p", "ovik", "-E", "-v", app.uri("receipt"), "-m", "everywhere"}, server, log),
            0)
      << read_text(log);
  // cupsd makes the queue's PPD from the printer's attributes in the
  // background; until it has, the queue would pass documents on raw.
  std::string ppd = dir + "/etc/ppd/ovik.ppd";
  ASSERT_TRUE(eventually([&] { return queue_model(server, "ovik").find("IPP Everywhere") != std::string::npos; }, 60s))
      << queue_model(server, "ovik");
  std::string capture = cups.file("capture.urf");
  ASSERT_EQ(run({"/usr/sbin/lpadmin", "-p", "capture", "-E", "-v", "file:" + capture, "-P", ppd}, server, log), 0)
      << read_text(log);

  std::string pdf = cups.file("receipt.pdf");
  ASSERT_EQ(run({"/usr/bin/gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite", "-o", pdf,
                 std::string(OVIK_SOURCE_DIR) + "/samples/receipt.ps"},
                "", log),
            0);
  for (const char *queue : {"ovik", "capture"}) {
    std::string out = cups.file(std::string(queue) + ".lp");
    ASSERT_EQ(run({"/usr/bin/lp", "-d", queue, pdf}, server, out), 0) << read_text(out);
    std::string text = read_text(out), id = text.substr(text.find('-') + 1);
    id = id.substr(0, id.find(' '));
    ASSERT_EQ(run({sandbox, "wait-job", dir, id, "90"}, "", out), 0) << queue << ": " << read_text(out);
  }
  ASSERT_TRUE(eventually([&] { return sim.jobs().size() == 1; }, 30s)) << read_text(dir + "/log/error_log");
  bytes sent = read_file(capture);
  ASSERT_FALSE(sent.empty());

  bytes actual = sim.jobs()[0];
  decode_summary s = decode_stream(actual).summary;
  EXPECT_EQ(s.crc_errors + s.problems + s.unknown_bytes + s.sync_losses, 0u);
  EXPECT_EQ(s.bitmaps, 1u);
  EXPECT_GT(s.rows, 100u);
  bytes expected = filter_stream("ovik-tern-80a", to_black_1(sent), "");
  actual = without_status_requests(actual);
  EXPECT_TRUE(actual == expected) << first_difference(actual, expected);
}
