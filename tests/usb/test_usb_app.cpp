/*
 * test_usb_app.cpp - ovik-printer-app with USB printers on the simulated
 * bus (libovik_usb_printer, preloaded into the server and its
 * sub-commands), each an ovik-sim on loopback behind a printer-class USB
 * interface: autoadd finds the printers and picks each one's driver by its
 * IEEE 1284 device ID, jobs print over USB with the filter's bytes, the
 * printer's condition comes back over the bulk IN endpoint, and a printer
 * unplugged and plugged back prints again.
 */
#include <gtest/gtest.h>

#include "app_harness.h"

using namespace app_test;

namespace {

/* One device on the simulated bus. */
struct usb_device {
  std::string id; /* IEEE 1284 device ID; empty: a keyboard */
  std::string serial;
  int port = 0;                                               /* its ovik-sim */
  std::string manufacturer = "Ovik", product = "USB Printer"; /* string descriptors */
};

/* The simulated bus: its file, the printers' plug state files, and the
 * environment that loads it into the application. */
struct usb_bus {
  temp_dir dir;

  explicit usb_bus(const std::vector<usb_device> &devices)
  {
    std::string text = "log " + dir.file("log") + "\n";
    int product = 1;
    for (const usb_device &d : devices) {
      char ids[64];
      snprintf(ids, sizeof ids, "vendor 1209\nproduct %04x\n", product++);
      text += std::string("device\n") + (d.id.empty() ? "class keyboard\n" : "") + ids + "manufacturer " +
              d.manufacturer + "\nproduct-name " + d.product + "\nserial " + d.serial + "\n";
      if (!d.id.empty())
        text += "id " + d.id + "\nport " + std::to_string(d.port) + "\nstate " + dir.file(d.serial) + "\n";
    }
    write_text(dir.file("bus"), text);
  }

  std::map<std::string, std::string> env() const
  {
    return {{"LD_PRELOAD", OVIK_USB_PRINTER_LIB}, {"OVIK_USB_BUS", dir.file("bus")}};
  }

  /* Sets a printer's plug state: plugged, unplugged, unplug-after N, stall, ... */
  void plug(const std::string &serial, const std::string &state) const
  {
    write_text(dir.file(serial + ".new"), state + "\n");
    rename(dir.file(serial + ".new").c_str(), dir.file(serial).c_str());
  }
};

/* A printer of the server, as Get-Printers tells it. */
struct printer_row {
  std::string name, make_model, resource;
};

/* Every printer of the server. */
std::vector<printer_row> printers(const app_server &app)
{
  ipp_t *req = ippNewRequest(IPP_OP_GET_PRINTERS);
  std::string system = "ipp://localhost:" + std::to_string(app.port) + "/ipp/system";
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr, system.c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
  const char *wanted[] = {"printer-name", "printer-make-and-model", "printer-uri-supported"};
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
  http_t *http = httpConnect2("localhost", app.port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000, nullptr);
  ipp_t *resp = http ? cupsDoRequest(http, req, "/ipp/system") : nullptr;
  if (!http)
    ippDelete(req);
  httpClose(http);
  std::vector<printer_row> rows;
  bool in_printer = false; /* a printer's group of attributes has begun */
  for (ipp_attribute_t *a = resp ? ippFirstAttribute(resp) : nullptr; a; a = ippNextAttribute(resp)) {
    if (ippGetGroupTag(a) != IPP_TAG_PRINTER || !ippGetName(a)) {
      in_printer = false;
      continue;
    }
    if (!in_printer)
      rows.emplace_back();
    in_printer = true;
    std::string name = ippGetName(a), value = ippGetString(a, 0, nullptr) ? ippGetString(a, 0, nullptr) : "";
    if (name == "printer-name")
      rows.back().name = value;
    else if (name == "printer-make-and-model")
      rows.back().make_model = value;
    else if (name == "printer-uri-supported")
      rows.back().resource = value.substr(value.rfind('/') + 1);
  }
  ippDelete(resp);
  std::sort(rows.begin(), rows.end(), [](const printer_row &a, const printer_row &b) { return a.name < b.name; });
  return rows;
}

/* The driver of each make and model, as `drivers` lists them: NAME "MAKE AND MODEL" "DEVICE ID". */
std::map<std::string, std::string> drivers(const app_server &app)
{
  std::string text;
  app.cli({"drivers"}, &text);
  std::map<std::string, std::string> by_make_model;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at), open = text.find(" \"", at);
    if (end == std::string::npos)
      end = text.size();
    if (open < end)
      by_make_model[text.substr(open + 2, text.find('"', open + 2) - open - 2)] = text.substr(at, open - at);
    at = end + 1;
  }
  return by_make_model;
}

/* The Tern 80A on the bus, its simulator behind it. */
usb_device tern(const printer_sim &sim)
{
  return {"MFG:Ovik;MDL:Tern 80A;CMD:OVIK,ESC/POS;SN:OVK0001;", "OVK0001", sim.port, "Ovik", "Tern 80A"};
}

/* Adds the bus's printers with autoadd; the one printer's resource name. */
std::string autoadd_one(const app_server &app)
{
  EXPECT_EQ(app.cli({"autoadd"}), 0);
  std::vector<printer_row> rows = printers(app);
  EXPECT_EQ(rows.size(), 1u);
  return rows.empty() ? "" : rows[0].resource;
}

/* True when the server's log has the text. */
bool logged(const app_server &app, const std::string &text)
{
  return read_text(app.dir.file("log")).find(text) != std::string::npos;
}

/* The Tern 80A alone on the bus, added by autoadd to a server. */
struct tern_on_usb {
  printer_sim sim;
  usb_bus bus{{tern(sim)}};
  app_server app{bus.env()};
  std::string printer = autoadd_one(app);
};

/* Prints a receipt page, full cut at the end, and checks that the newest
 * job the printer got is the filter's stream for it. */
void print_receipt(const app_server &app, const printer_sim &sim, const std::string &printer, const char *label)
{
  page_spec page = receipt_page();
  write_file(app.dir.file("page.pwg"), pwg_raster(page));
  size_t before = sim.jobs().size();
  int job = app.print(printer, app.dir.file("page.pwg"), "image/pwg-raster", {{"cut-mode", "full"}});
  ASSERT_GT(job, 0) << label << "\n" << app.log_tail();
  EXPECT_EQ(app.finish(printer, job), "completed") << label << "\n" << app.log_tail();
  ASSERT_TRUE(eventually([&] { return sim.jobs().size() > before; })) << label;
  bytes expected = filter_stream("ovik-tern-80a", pwg_raster(page), "CutMode=2");
  bytes actual = without_status_requests(sim.jobs().back());
  EXPECT_TRUE(actual == expected) << label << ": " << first_difference(actual, expected);
}

} // namespace

/* autoadd adds each printer on the bus with the driver its device ID names
 * (by manufacturer and model, or by the model alone for a maker the
 * catalogue lists under another name), passes over a printer of no
 * catalogue model and the keyboard, and adds nothing twice. */
TEST(UsbApp, AutoaddPicksEachPrintersDriverByItsDeviceId)
{
  struct autoadd_case {
    usb_device device;
    const char *name, *driver; /* driver nullptr: not added */
  };
  const autoadd_case cases[] = {
      {{"MFG:Ovik;MDL:Tern 80A;CMD:OVIK,ESC/POS;SN:OVK0001;", "OVK0001"}, "Ovik Tern 80A (USB)", "ovik-tern-80a"},
      {{"MFG:Ovik;MDL:Keel 58;CMD:OVIK,ESC/POS;SN:OVK0002;", "OVK0002"}, "Ovik Keel 58 (USB)", "ovik-keel-58"},
      {{"MFG:Bellmoor;MDL:BM-8010;CMD:OVIK,ESC/POS;SN:BM0003;", "BM0003"}, "Bellmoor BM-8010 (USB)", "ovik-bm-8010"},
      {{"MANUFACTURER:Vantrel;COMMAND SET:ESC/POS;MODEL:Tern 80A;SN:VT0004;", "VT0004"},
       "Vantrel Tern 80A (USB)",
       "ovik-tern-80a"},
      {{"MFG:Ovik;MDL:Tern 99;CMD:ESC/POS;SN:OVK0005;", "OVK0005"}, "Ovik Tern 99 (USB)", nullptr},
      {{"", "KB0006", 0, "Some", "Keyboard"}, "Some Keyboard (USB)", nullptr},
  };
  std::vector<usb_device> devices;
  for (const autoadd_case &c : cases)
    devices.push_back(c.device);
  usb_bus bus(devices);
  app_server app(bus.env());
  std::map<std::string, std::string> driver_of = drivers(app);
  for (int round = 1; round <= 2; round++) {
    EXPECT_EQ(app.cli({"autoadd"}), 0) << "round " << round;
    std::vector<printer_row> rows = printers(app);
    for (const autoadd_case &c : cases) {
      auto row = std::find_if(rows.begin(), rows.end(), [&](const printer_row &r) { return r.name == c.name; });
      if (!c.driver) {
        EXPECT_TRUE(row == rows.end()) << c.name << " was added, round " << round;
        continue;
      }
      ASSERT_TRUE(row != rows.end()) << c.name << " was not added, round " << round << "\n" << app.log_tail();
      EXPECT_EQ(driver_of[row->make_model], c.driver) << c.name << " is a " << row->make_model;
    }
    EXPECT_EQ(rows.size(), 4u) << "round " << round;
  }
}

/* `devices` lists the USB printers by their URIs, and not the keyboard,
 * with the Avahi daemon running or not. It also looks for printers on the
 * network (SNMP broadcasts on every interface): it runs in a network
 * namespace of its own. */
TEST(UsbApp, DevicesListsTheUsbPrinters)
{
  temp_dir scratch;
  if (wait_for(spawn({"/usr/bin/unshare", "-n", "/bin/true"}, {}, scratch.file("out")), 10s) != 0)
    GTEST_SKIP() << "no network namespace of its own for devices (unshare -n): " << read_text(scratch.file("out"));
  printer_sim sim;
  usb_bus bus({tern(sim), {"", "KB0002", 0, "Some", "Keyboard"}});
  std::map<std::string, std::string> env = bus.env();
  env["HOME"] = scratch.path;
  pid_t p = spawn({"/usr/bin/unshare", "-n", OVIK_PRINTER_APP_BIN, "devices"}, env, scratch.file("devices"));
  ASSERT_EQ(wait_for(p, 60s), 0) << read_text(scratch.file("devices"));
  std::string listed = "\n" + read_text(scratch.file("devices"));
  EXPECT_NE(listed.find("\nusb://Ovik/Tern%2080A?serial=OVK0001\n"), std::string::npos) << listed;
  EXPECT_EQ(listed.find("Keyboard"), std::string::npos) << listed;
}

/* A printer added by autoadd prints the filter's bytes over USB, and its
 * condition, asked over the bulk endpoints, shows as printer-state-reasons
 * and goes when the printer is ready again. */
TEST(UsbApp, PrintsAndShowsStatusOverUsb)
{
  tern_on_usb t;
  auto &sim = t.sim;
  auto &app = t.app;
  auto &printer = t.printer;
  ASSERT_FALSE(printer.empty());
  print_receipt(app, sim, printer, "receipt over USB");
  EXPECT_GT(decode_stream(sim.jobs().back()).summary.commands, 0u);
  sim.set("paper-out");
  EXPECT_TRUE(eventually([&] { return app.has_reason(printer, "media-empty"); })) << app.reasons(printer);
  sim.set("ready");
  EXPECT_TRUE(eventually([&] { return !app.has_reason(printer, "media-empty"); })) << app.reasons(printer);
}

/* A printer unplugged while idle: its queue is stopped with the printer
 * shown as offline, a job waits for it, sends nothing meanwhile, and prints
 * whole once the printer is plugged back. */
TEST(UsbApp, JobWaitsForAnUnpluggedPrinter)
{
  tern_on_usb t;
  auto &sim = t.sim;
  auto &bus = t.bus;
  auto &app = t.app;
  auto &printer = t.printer;
  ASSERT_FALSE(printer.empty());
  bus.plug("OVK0001", "unplugged");
  std::thread sender([&] { print_receipt(app, sim, printer, "after the printer came back"); });
  EXPECT_TRUE(eventually([&] { return app.has_reason(printer, "offline"); })) << app.reasons(printer);
  EXPECT_TRUE(sim.jobs().empty());
  bus.plug("OVK0001", "plugged");
  sender.join();
}

/* A fault in the middle of a job (the cable pulled after 30000 bytes, a
 * stalled endpoint): the write fails, the job waits for the printer with it
 * shown as offline, and once it is back the job is printed again from its
 * first page, whole; what the printer got before the fault was the job's
 * start and nothing after. */
TEST(UsbApp, AFaultMidJobIsPrintedAgainWholeOnceThePrinterIsBack)
{
  struct fault_case {
    const char *state, *logged;
    size_t received; /* bytes the printer takes once the fault is set */
  };
  const fault_case cases[] = {
      {"unplug-after 30000", "No such device (it may have been disconnected)", 30000},
      {"stall", "Pipe error", 0},
  };
  tern_on_usb t;
  auto &sim = t.sim;
  auto &bus = t.bus;
  auto &app = t.app;
  auto &printer = t.printer;
  ASSERT_FALSE(printer.empty());
  for (const fault_case &c : cases) {
    SCOPED_TRACE(c.state);
    size_t jobs = sim.jobs().size();
    bus.plug("OVK0001", c.state);
    page_spec page = receipt_page();
    write_file(app.dir.file("page.pwg"), pwg_raster(page));
    int job = app.print(printer, app.dir.file("page.pwg"), "image/pwg-raster", {{"cut-mode", "full"}});
    ASSERT_GT(job, 0);
    EXPECT_TRUE(eventually([&] { return logged(app, std::string("USB port: ") + c.logged); })) << app.log_tail();
    EXPECT_TRUE(eventually([&] { return app.has_reason(printer, "offline"); })) << app.reasons(printer);
    EXPECT_EQ(app.job_state(printer, job), "processing");
    eventually([&] { return sim.jobs().size() > jobs || c.received == 0; });
    bytes cut = sim.jobs().size() > jobs ? sim.jobs().back() : bytes{};
    bus.plug("OVK0001", "plugged");
    EXPECT_EQ(app.finish(printer, job), "completed") << app.log_tail();
    ASSERT_TRUE(eventually([&] { return sim.jobs().size() > jobs + (c.received ? 1 : 0); }));
    bytes whole = sim.jobs().back();
    bytes expected = filter_stream("ovik-tern-80a", pwg_raster(page), "CutMode=2");
    EXPECT_TRUE(without_status_requests(whole) == expected)
        << first_difference(without_status_requests(whole), expected);
    // An idle status query between the fault and the job may have taken
    // its 9 bytes of the 30000.
    EXPECT_LE(cut.size(), c.received);
    EXPECT_GE(cut.size() + 9, c.received);
    EXPECT_TRUE(cut.size() <= whole.size() && std::equal(cut.begin(), cut.end(), whole.begin()))
        << "the printer got what is not the job's start";
  }
}
