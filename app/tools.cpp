/*
 * tools.cpp - the printer tools of the printer application: what a shop does
 * with a printer outside a job, for the Printer Tools page and the tools
 * sub-command alike.
 *
 *   logos     an image read as a job reads it, stored as logo N (the key
 *             codes logo-index N prints); the stored graphics listed and
 *             deleted; the memory left
 *   drawers   drawer 1 or 2 opened with a job's pulse, and nothing else
 *   beeper    the beeper with the printer's default beeper settings
 *   identity  the printer's model ID and firmware; its self-test page
 *
 * The engine does each (ovik_tools.h) over the printer's device, borrowed
 * from PAPPL while no job has it: a printer that is printing says so at
 * once, nothing waits for a job to end. An image is read and checked before
 * the device is borrowed, so a bad one sends nothing. The printer cannot
 * tell a stored graphic's size, so a logo stored from here keeps its
 * preview in the spool folder ("p00001-logo-3.png"), which gives the list
 * its size.
 */
#include <chrono>
#include <cstring>
#include <thread>
#include <unistd.h>

#include "ovik_app.h"
#include "ovik_error.h"

namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

/* How long a tool waits for the monitor's look at the printer, or for
 * another tool, to end. */
constexpr auto monitor_wait = 5s;

/* Every key code pair the NV memory can hold. */
constexpr int most_graphics = 95 * 95;

/* ---------- the preview ---------- */

/* A 1-bit image as a 1-bit gray PNG at 203 dpi (in a PNG 1 is white). */
bool write_preview(const ovik_bitmap &b, std::vector<uint8_t> &out)
{
  std::vector<uint8_t> row((b.width + 7) / 8);
  return ovik_app_write_png(out, b.width, b.height, 1, false, true, [&](uint32_t y) {
    const uint8_t *from = b.rows + size_t(y) * b.bytes_per_line;
    for (size_t i = 0; i < row.size(); i++)
      row[i] = static_cast<uint8_t>(~from[i]);
    return row.data();
  });
}

/* ---------- what is kept of logos stored from here ---------- */

/* Logo N's preview file in the spool folder, through PAPPL's modes: "r"
 * and "w" open it, "x" removes it. */
int open_record(pappl_printer_t *printer, int logo, const char *mode, char (&path)[1024])
{
  return papplPrinterOpenFile(printer, path, sizeof path, nullptr, ("logo-" + std::to_string(logo)).c_str(), "png",
                              mode);
}

void keep_record(pappl_printer_t *printer, int logo, const std::vector<uint8_t> &png)
{
  char path[1024];
  int fd = open_record(printer, logo, "w", path);
  if (fd < 0)
    return;
  bool ok = write(fd, png.data(), png.size()) == static_cast<ssize_t>(png.size());
  if (close(fd) != 0 || !ok)
    unlink(path);
}

void drop_record(pappl_printer_t *printer, int logo)
{
  char path[1024];
  open_record(printer, logo, "x", path);
}

/* Logo N's preview with the size its PNG header gives; g.width stays 0
 * without a whole one. */
void read_record(pappl_printer_t *printer, int logo, listed_graphic &g)
{
  char path[1024];
  int fd = open_record(printer, logo, "r", path);
  if (fd < 0)
    return;
  uint8_t buffer[65536];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 && g.preview.size() < (8u << 20))
    g.preview.insert(g.preview.end(), buffer, buffer + n);
  close(fd);
  const uint8_t *h = g.preview.data();
  if (n != 0 || g.preview.size() < 24 || std::memcmp(h + 12, "IHDR", 4) != 0) {
    g.preview.clear();
    return;
  }
  g.width = uint32_t(h[16]) << 24 | uint32_t(h[17]) << 16 | uint32_t(h[18]) << 8 | h[19];
  g.height = uint32_t(h[20]) << 24 | uint32_t(h[21]) << 16 | uint32_t(h[22]) << 8 | h[23];
}

/* ---------- the tools ---------- */

/* What a tool works with. */
struct tool_context {
  pappl_printer_t *printer;
  const dev_mode &settings;
  const ovik_status_port &port;
  char message[256];
};

void store_logo(tool_context &c, tool_run &r)
{
  r.code = r.logo ? ovik_tools_store_logo(&c.settings, &c.port, r.number, &r.logo->bitmap, c.message, sizeof c.message)
                  : OVIK_ERR_PARAMETER;
  if (r.code == 0)
    keep_record(c.printer, r.number, r.logo->preview);
}

/* The graphics held, with the sizes of logos stored from here; the record
 * of a logo the printer no longer holds goes. */
void list_logos(tool_context &c, tool_run &r)
{
  std::vector<ovik_nv_graphic> found(most_graphics);
  int count = 0;
  r.code = ovik_tools_list_logos(&c.settings, &c.port, OVIK_STATUS_REPLY_MS, found.data(), most_graphics, &count,
                                 c.message, sizeof c.message);
  if (r.code != 0)
    return;
  int first = 0, last = 0;
  ovik_app_logo_numbers(&first, &last);
  std::vector<bool> held(static_cast<size_t>(last + 1));
  for (int i = 0; i < count; i++) {
    listed_graphic g;
    g.graphic = found[static_cast<size_t>(i)];
    if (g.graphic.logo >= first && g.graphic.logo <= last) {
      held[static_cast<size_t>(g.graphic.logo)] = true;
      read_record(c.printer, g.graphic.logo, g);
    }
    r.graphics.push_back(g);
  }
  for (int logo = first; logo <= last; logo++)
    if (!held[static_cast<size_t>(logo)])
      drop_record(c.printer, logo);
}

void delete_logo(tool_context &c, tool_run &r)
{
  r.code = ovik_tools_delete_logo(&c.settings, &c.port, r.number, c.message, sizeof c.message);
  int first = 0, last = 0;
  ovik_app_logo_numbers(&first, &last);
  for (int logo = first; r.code == 0 && logo <= last; logo++)
    if (r.number == -1 || r.number == logo)
      drop_record(c.printer, logo);
}

void capacity(tool_context &c, tool_run &r)
{
  r.code = ovik_tools_capacity(&c.settings, &c.port, OVIK_STATUS_REPLY_MS, &r.free_bytes, &r.total_bytes, c.message,
                               sizeof c.message);
}

void open_drawer(tool_context &c, tool_run &r)
{
  r.code = ovik_tools_open_drawer(&c.settings, &c.port, r.number, c.message, sizeof c.message);
}

void beep(tool_context &c, tool_run &r)
{
  r.code = ovik_tools_beep(&c.settings, &c.port, c.message, sizeof c.message);
}

void self_test(tool_context &c, tool_run &r)
{
  r.code = ovik_tools_self_test(&c.settings, &c.port, c.message, sizeof c.message);
}

void identify(tool_context &c, tool_run &r)
{
  r.code = ovik_tools_identify(&c.settings, &c.port, OVIK_STATUS_REPLY_MS, &r.identity, c.message, sizeof c.message);
}

/* The tools by name. */
struct tool_row {
  tool_action action;
  const char *name;
  void (*run)(tool_context &, tool_run &);
};

constexpr tool_row tools[] = {
    {tool_action::store_logo, "store-logo", store_logo},    {tool_action::list_logos, "list-logos", list_logos},
    {tool_action::delete_logo, "delete-logo", delete_logo}, {tool_action::capacity, "capacity", capacity},
    {tool_action::open_drawer, "open-drawer", open_drawer}, {tool_action::beep, "beep", beep},
    {tool_action::self_test, "self-test", self_test},       {tool_action::identify, "identify", identify},
};

/* Borrows the device of an idle printer: NULL with why filled when a job
 * has it or it cannot be reached. The monitor's short look is waited for. */
pappl_device_t *borrow(printer_state &st, std::string &why)
{
  pappl_printer_t *printer = st.printer;
  unsigned shown = 0;
  {
    std::lock_guard<std::mutex> hold(st.lock);
    shown = st.shown;
  }
  // PAPPL opens a device with the printer's lock held, for as long as the
  // address takes to answer: one the monitor cannot reach is tried first.
  // A device that does not open is the monitor's for a moment, or one that
  // cannot be reached.
  const char *uri = papplPrinterGetDeviceURI(printer);
  for (auto end = steady::now() + monitor_wait;;) {
    if (ovik_app_printer_busy(st)) {
      why = "The printer is printing a job; try again when the job is done";
      return nullptr;
    }
    if ((shown & OVIK_STATUS_UNREACHABLE) && !ovik_app_reachable(uri)) {
      why = "The printer cannot be reached: check that it is on and connected";
      return nullptr;
    }
    st.port_active = true;
    if (pappl_device_t *device = papplPrinterOpenDevice(printer))
      return device;
    st.port_active = false;
    if (steady::now() >= end)
      break;
    shown = OVIK_STATUS_UNREACHABLE; // from now on, asked each time
    std::this_thread::sleep_for(100ms);
  }
  why = "The printer cannot be opened: check that it is on and connected";
  return nullptr;
}

} // namespace

const char *ovik_app_tool_name(tool_action action)
{
  for (const tool_row &t : tools)
    if (t.action == action)
      return t.name;
  return "";
}

bool ovik_app_tool_named(const char *name, tool_action &action)
{
  for (const tool_row &t : tools)
    if (name && std::strcmp(t.name, name) == 0) {
      action = t.action;
      return true;
    }
  return false;
}

void ovik_app_logo_numbers(int *first, int *last)
{
  const ovik_keyword *row = ovik_keyword_find("LogoIndex");
  *first = row ? row->min : 0;
  *last = row ? row->max : 0;
}

bool ovik_app_logo_number_ok(int logo, std::string &why)
{
  int first = 0, last = 0;
  ovik_app_logo_numbers(&first, &last);
  if (logo >= first && logo <= last)
    return true;
  why = "There is no logo " + std::to_string(logo) + ": logos are numbered " + std::to_string(first) + " to " +
        std::to_string(last) + ", as logo-index prints them";
  return false;
}

/* The image read, trimmed to its rows with dots, checked, and its preview. */
bool ovik_app_prepare_logo(pappl_printer_t *printer, int logo, const char *path, bool photo, logo_upload &out,
                           std::string &why)
{
  printer_state *st = ovik_app_state(printer);
  dev_mode settings{};
  if (!st) {
    why = "This printer has no Ovik driver";
    return false;
  }
  if (!ovik_app_logo_number_ok(logo, why) || !ovik_app_printer_settings(printer, *st, settings, why) ||
      !ovik_app_read_image(path, static_cast<uint32_t>(st->driver->row->width_dots), photo, out.image, why))
    return false;
  ovik_bitmap page = {out.image.width, out.image.height, (out.image.width + 7) / 8, out.image.rows.data()};
  out.bitmap = ovik_bitmap_content(&page);
  char message[256];
  if (ovik_tools_check_logo(&settings, logo, out.bitmap.width, out.bitmap.height, message, sizeof message) != 0) {
    why = message;
    return false;
  }
  if (!write_preview(out.bitmap, out.preview)) {
    why = "The preview of the logo could not be made";
    return false;
  }
  return true;
}

/* One visit: the device borrowed, every tool run over it, given back. */
void ovik_app_run_tools(pappl_printer_t *printer, tool_run *runs, size_t count)
{
  auto refuse = [&](const std::string &why) {
    for (size_t i = 0; i < count; i++) {
      runs[i].busy = true;
      runs[i].code = OVIK_ERR_IO_WRITE;
      runs[i].message = why;
    }
  };
  printer_state *st = ovik_app_state(printer);
  dev_mode settings{};
  std::string why;
  if (!st) {
    why = "This printer has no Ovik driver";
  } else if (ovik_app_printer_settings(printer, *st, settings, why)) {
    std::unique_lock<std::timed_mutex> one(st->tool_lock, std::defer_lock);
    if (!one.try_lock_for(monitor_wait)) {
      why = "Another printer tool is using the printer; try again in a moment";
    } else if (pappl_device_t *device = borrow(*st, why)) {
      device_port port;
      port_open(port, device, papplPrinterGetDeviceURI(printer));
      // A printer that did not answer one request is not asked the next:
      // each would wait out its own deadline.
      bool silent = false;
      for (size_t i = 0; i < count; i++) {
        if (silent) {
          runs[i].code = OVIK_ERR_IO_READ_TIMEOUT;
          runs[i].message = "The printer did not answer, so it was not asked again";
          continue;
        }
        tool_context c{printer, settings, port.port, ""};
        for (const tool_row &t : tools)
          if (t.action == runs[i].action)
            t.run(c, runs[i]);
        runs[i].message = c.message;
        if (runs[i].code == OVIK_ERR_IO_READ_TIMEOUT)
          silent = true;
      }
      port_close(port);
      papplPrinterCloseDevice(printer);
      st->port_active = false;
      return;
    }
  }
  refuse(why);
}
