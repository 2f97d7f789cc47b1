/*
 * test_printer_app_tools.cpp - the printer tools of ovik-printer-app through
 * its tools sub-command, against a running server and ovik-sim with its NV
 * graphics memory: a logo stored is the image's dots and prints where a job
 * asks for it, each tool sends its command and nothing else, bad images and
 * a busy printer are refused in words with nothing sent.
 */
#include <gtest/gtest.h>

#include "app_harness.h"

using namespace app_test;

namespace {

/* The simulator's options: its memory kept in a folder, a model and firmware of its own. */
std::vector<std::string> sim_options(const app_server &app)
{
  return {"--memory", app.dir.file("memory"), "--model", "Tern 80A", "--firmware", "2.3.4"};
}

/* What a printer got besides status requests, one entry per connection that carried more. */
std::vector<bytes> sent(const printer_sim &sim)
{
  std::vector<bytes> out;
  for (const bytes &c : sim.connections())
    if (bytes b = without_status_requests(c); !b.empty())
      out.push_back(b);
  return out;
}

/* A drawing: a frame 180 x 60 with a hole, on white; 200 x 80 pixels. */
bool drawn(unsigned x, unsigned y)
{
  return x >= 10 && x < 190 && y >= 10 && y < 70 && !(x >= 60 && x < 140 && y >= 25 && y < 55);
}

/* The rows of drawn() as the printer stores them: 1-bit, the blank rows
 * above and below left out. */
bytes drawn_rows()
{
  bytes rows;
  for (unsigned y = 10; y < 70; y++)
    for (unsigned byte = 0; byte < 25; byte++) {
      uint8_t b = 0;
      for (unsigned bit = 0; bit < 8; bit++)
        if (drawn(byte * 8 + bit, y))
          b |= static_cast<uint8_t>(0x80 >> bit);
      rows.push_back(b);
    }
  return rows;
}

} // namespace

/* An image stored as logo 3 is its dots (a wider one made as wide as the
 * paper), listed with its size, counted in the memory; a job with
 * print-logo and logo-index 3 prints exactly it; deleted, it is gone. */
TEST(PrinterAppTools, StoresAnImageAsTheLogoAJobPrints)
{
  app_server app;
  printer_sim sim("ready", sim_options(app));
  ASSERT_TRUE(app.add("till", "ovik-tern-80a", sim.uri()));
  write_png_file(app.dir.file("logo.png"), 200, 80, PNG_COLOR_TYPE_RGB, 8, [](unsigned x, unsigned y) {
    return drawn(x, y) ? rgba{0, 0, 0, 255} : rgba{255, 255, 255, 255};
  });
  write_png_file(app.dir.file("wide.png"), 1000, 100, PNG_COLOR_TYPE_GRAY, 8, [](unsigned x, unsigned) {
    return (x / 50) % 2 ? rgba{255, 255, 255, 255} : rgba{0, 0, 0, 255};
  });
  write_jpeg_file(app.dir.file("photo.jpg"), 300, 120, true, 90, [](unsigned x, unsigned y) {
    uint8_t v = static_cast<uint8_t>((x + y) * 255 / 420);
    return rgba{v, v, v, 255};
  });
  struct store_case {
    const char *file;
    std::vector<std::string> options;
    const char *said;
    const char *listed;
  };
  const store_case cases[] = {
      {"wide.png", {}, "Logo 3 stored in the printer: 576 x 58 dots.", "logo=3 key-codes=30,32 size=576x58"},
      {"photo.jpg",
       {"-o", "print-content-optimize=photo"},
       "Logo 3 stored in the printer: 300 x 120 dots.",
       "logo=3 key-codes=30,32 size=300x120"},
      {"logo.png", {}, "Logo 3 stored in the printer: 200 x 60 dots.", "logo=3 key-codes=30,32 size=200x60"},
  };
  std::string out;
  for (const store_case &c : cases) {
    std::vector<std::string> args = {"tools", "-d", "till"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {"store-logo", "3", app.dir.file(c.file)});
    EXPECT_EQ(app.cli(args, &out), 0) << c.file << ": " << out << app.log_tail();
    EXPECT_EQ(out, std::string(c.said) + "\n") << c.file;
    EXPECT_EQ(app.cli({"tools", "-d", "till", "list-logos"}, &out), 0) << out;
    EXPECT_EQ(out, std::string(c.listed) + "\n") << c.file;
  }
  // The last one stays: exactly the drawing's dots, 25 bytes a row.
  bytes expected = drawn_rows();
  graphics_memory held;
  EXPECT_EQ(read_graphics_folder(app.dir.file("memory"), held), "");
  EXPECT_TRUE(held.nv[0x3032].rows == expected) << "the stored logo is not the image";
  EXPECT_EQ(app.cli({"tools", "-d", "till", "capacity"}, &out), 0);
  EXPECT_EQ(out, "free=" + std::to_string(262144 - 25 * 60) + " total=262144\n");

  // A job that prints logo 3 at its start, centred: the simulator's
  // picture is that of the same stream with the expected rows sent as a
  // raster image in the print command's place.
  write_file(app.dir.file("page.pwg"), pwg_raster(receipt_page()));
  int job = app.print("till", app.dir.file("page.pwg"), "image/pwg-raster",
                      {{"print-logo", "job-start"}, {"logo-index", "3"}, {"logo-align", "center"}});
  ASSERT_GT(job, 0);
  EXPECT_EQ(app.finish("till", job), "completed");
  ASSERT_TRUE(eventually([&] { return !sim.jobs().empty(); }));
  bytes stream = sim.jobs().back();
  bytes as_raster;
  for (const decode_record &r : decode_stream(stream).records) {
    auto from = stream.begin() + static_cast<long>(r.offset);
    if (r.effect == paper_effect::stored_image) {
      as_raster.insert(as_raster.end(), {0x1D, 0x76, 0x30, 0x00, 25, 0, 60, 0});
      as_raster.insert(as_raster.end(), expected.begin(), expected.end());
    } else {
      as_raster.insert(as_raster.end(), from, from + static_cast<long>(r.length));
    }
  }
  ASSERT_NE(as_raster, stream) << "the job printed no stored logo";
  render_options options;
  options.paper_width = 576;
  std::string png = app.dir.file("expected.png");
  ASSERT_EQ(write_png(render_records(decode_stream(as_raster), as_raster, options), png.c_str()), "");
  std::string printed;
  for (int n = 1; n < 1000 && printed.empty(); n++) {
    char stem[32];
    snprintf(stem, sizeof stem, "out/job-%03d", n);
    if (read_file(sim.dir.file(std::string(stem) + ".prn")) == stream)
      printed = sim.dir.file(std::string(stem) + ".png");
  }
  EXPECT_TRUE(!printed.empty() && read_file(printed) == read_file(png))
      << "the simulator's picture does not show the stored logo at the job's start";

  EXPECT_EQ(app.cli({"tools", "-d", "till", "delete-logo", "3"}, &out), 0) << out;
  EXPECT_EQ(out, "Logo 3 deleted.\n");
  EXPECT_EQ(app.cli({"tools", "-d", "till", "list-logos"}, &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_NE(access(app.dir.file("memory/nv-3032.pbm").c_str(), F_OK), 0);
}

/* Each tool sends its command and nothing else (no feed, no cut, no
 * packet): a connection of its own with exactly these bytes; the beeper
 * takes the printer's defaults. Identify tells the printer's replies. */
TEST(PrinterAppTools, EachToolSendsItsCommandAndNothingElse)
{
  app_server app;
  printer_sim sim("ready", sim_options(app));
  ASSERT_TRUE(app.add("till", "ovik-tern-80a", sim.uri()));
  struct command_case {
    std::vector<std::string> words;
    std::vector<job_attr> defaults; /* the printer's, set before */
    const char *said;
    bytes expected;
  };
  const command_case cases[] = {
      {{"open-drawer", "1"}, {}, "Drawer 1 opened.\n", hex_bytes("1B 70 00 50 50")},
      {{"open-drawer", "2"}, {}, "Drawer 2 opened.\n", hex_bytes("1B 70 01 50 50")},
      {{"beep"}, {}, "Beeped.\n", hex_bytes("1B 28 41 05 00 61 64 01 00 00")},
      {{"beep"},
       {{"beep-repeat-default", "3"}, {"beep-duration-default", "4"}, {"beep-interval-default", "2"}},
       "Beeped.\n",
       hex_bytes("1B 28 41 05 00 61 64 03 04 02")},
      {{"self-test"}, {}, "Self-test page printed.\n", hex_bytes("1D 28 41 02 00 00 02")},
  };
  for (const command_case &c : cases) {
    if (!c.defaults.empty())
      ippDelete(app.send(IPP_OP_SET_PRINTER_ATTRIBUTES, "till", c.defaults));
    size_t before = sent(sim).size();
    std::vector<std::string> args = {"tools", "-d", "till"};
    args.insert(args.end(), c.words.begin(), c.words.end());
    std::string out;
    EXPECT_EQ(app.cli(args, &out), 0) << c.words[0] << ": " << out;
    EXPECT_EQ(out, c.said);
    ASSERT_TRUE(eventually([&] { return sent(sim).size() > before; }, 10s)) << c.words[0];
    std::this_thread::sleep_for(300ms);
    std::vector<bytes> now = sent(sim);
    EXPECT_EQ(now.size(), before + 1) << c.words[0];
    EXPECT_TRUE(now.back() == c.expected) << c.words[0] << ": " << first_difference(now.back(), c.expected);
  }
  std::string out;
  const std::string identity = "make-and-model=Ovik Tern 80A\nmodel-id=0x01\nfirmware=2.3.4\n";
  EXPECT_EQ(app.cli({"tools", "identify"}, &out), 0); // the only printer is the default one
  EXPECT_EQ(out, identity);
  EXPECT_EQ(app.cli({"tools", "-u", app.uri("till"), "identify"}, &out), 0) << out;
  EXPECT_EQ(out, identity);
}

/* What cannot be stored or done is refused with its reason, and the printer
 * gets nothing: not an image, an empty file, a damaged PNG, an image taller
 * than the printer stores, a white one, logo numbers and drawers that do
 * not exist, a printer that is not there or cannot be reached. */
TEST(PrinterAppTools, RefusesWhatCannotBeDoneAndSendsNothing)
{
  app_server app;
  printer_sim sim("ready", sim_options(app));
  ASSERT_TRUE(app.add("till", "ovik-tern-80a", sim.uri()));
  write_text(app.dir.file("notes.png"), "not an image\n");
  write_text(app.dir.file("empty.png"), "");
  write_png_file(app.dir.file("tall.png"), 100, 2400, PNG_COLOR_TYPE_GRAY, 1, [](unsigned, unsigned) {
    return rgba{0, 0, 0, 255};
  });
  write_png_file(app.dir.file("white.png"), 100, 100, PNG_COLOR_TYPE_GRAY, 8, [](unsigned, unsigned) {
    return rgba{255, 255, 255, 255};
  });
  bytes png = read_file(app.dir.file("tall.png"));
  write_file(app.dir.file("damaged.png"), bytes(png.begin(), png.begin() + static_cast<long>(png.size() / 2)));
  struct refusal_case {
    std::vector<std::string> words;
    const char *said;
  };
  const refusal_case cases[] = {
      {{"store-logo", "1", app.dir.file("notes.png")}, "The file is not a PNG or JPEG image."},
      {{"store-logo", "1", app.dir.file("empty.png")}, "The file is empty: there is no image in it."},
      {{"store-logo", "1", app.dir.file("damaged.png")}, "The PNG image cannot be read: "},
      {{"store-logo", "1", app.dir.file("tall.png")},
       "The image is 2400 dots tall; a stored logo is 2304 dots tall at most."},
      {{"store-logo", "1", app.dir.file("white.png")}, "The image is empty (100 x 0 dots): there is nothing to store."},
      {{"store-logo", "11", app.dir.file("white.png")}, "'11' is not a logo number (0 to 10)."},
      {{"store-logo", "1", app.dir.file("missing.png")}, "Unable to open '"},
      {{"delete-logo", "first"}, "'first' is not a logo number (0 to 10)."},
      {{"open-drawer", "3"}, "'3' is not a drawer (1 or 2)."},
      {{"open-drawer"}, "Usage: ovik-printer-app tools"},
      {{"cut"}, "Usage: ovik-printer-app tools"},
  };
  size_t before = sent(sim).size();
  for (const refusal_case &c : cases) {
    std::vector<std::string> args = {"tools", "-d", "till"};
    args.insert(args.end(), c.words.begin(), c.words.end());
    std::string out;
    EXPECT_EQ(app.cli(args, &out), 1) << c.words[0] << ": " << out;
    EXPECT_NE(out.find(c.said), std::string::npos) << c.words[0] << ": " << out;
  }
  std::string out;
  EXPECT_EQ(app.cli({"tools", "-d", "nobody", "beep"}, &out), 1);
  EXPECT_NE(out.find("not found"), std::string::npos) << out;
  ASSERT_TRUE(app.add("gone", "ovik-tern-80a", "socket://127.0.0.1:" + std::to_string(free_port())));
  EXPECT_EQ(app.cli({"tools", "-d", "gone", "open-drawer", "1"}, &out), 1);
  EXPECT_EQ(out, "ovik-printer-app: The printer cannot be reached: check that it is on and connected.\n");
  // A printer that takes the connection and says nothing: the tool tells
  // so, and the printer is free for the next one at once.
  printer_sim mute("ready", {"--pause-after", "0", "--pause-for", "60"});
  ASSERT_TRUE(app.add("mute", "ovik-tern-80a", mute.uri()));
  EXPECT_EQ(app.cli({"tools", "-d", "mute", "identify"}, &out), 1);
  EXPECT_EQ(out, "ovik-printer-app: The printer did not answer the request for the model.\n");
  EXPECT_EQ(app.cli({"tools", "-d", "mute", "beep"}, &out), 0) << out;
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(sent(sim).size(), before) << "a refused tool sent something to the printer";
}

/* A printer that is printing a job is not waited for: the tool says so at
 * once, the job goes on, and the drawer opens once the job is done. */
TEST(PrinterAppTools, APrinterPrintingAJobSaysSo)
{
  app_server app;
  printer_sim sim("ready", {"--drain-rate", "100000"});
  ASSERT_TRUE(app.add("till", "ovik-tern-80a", sim.uri()));
  write_file(app.dir.file("page.pwg"), pwg_raster(receipt_page()));
  int job = app.print("till", app.dir.file("page.pwg"), "image/pwg-raster",
                      {{"copies", "20"}, {"paper-save-bottom", "keep"}});
  ASSERT_GT(job, 0);
  ASSERT_TRUE(eventually([&] { return app.job_state("till", job) == "processing"; }, 10s));
  std::string out;
  EXPECT_EQ(app.cli({"tools", "-d", "till", "open-drawer", "1"}, &out), 1);
  EXPECT_EQ(out, "ovik-printer-app: The printer is printing a job; try again when the job is done.\n");
  EXPECT_EQ(app.job_state("till", job), "processing") << "the tool waited for the job";
  EXPECT_TRUE(app.cancel("till", job));
  EXPECT_EQ(app.finish("till", job), "canceled");
  EXPECT_TRUE(eventually([&] { return app.cli({"tools", "-d", "till", "open-drawer", "1"}, &out) == 0; }, 30s)) << out;
}
