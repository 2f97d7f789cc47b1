/*
 * ovik_app.h - the parts of ovik-printer-app and what they offer each other:
 *
 *   main.cpp      PAPPL's main loop with the drivers and the system callback
 *   system.cpp    the system: server options, state, document filters, hooks
 *   state.cpp     the state file, saved whole or not at all
 *   vet.cpp       requests checked before PAPPL acts on them
 *   driver.cpp    the drivers from the model catalogue, driver data, identify
 *   job.cpp       a job from its document to the printer, through the engine
 *   document.cpp  documents (PWG and Apple raster, PNG, JPEG) as 1-bit pages
 *   port.cpp      the way to the printer: writes, replies with a deadline
 *   monitor.cpp   the printer's condition between jobs, shown as its state
 *   web.cpp       the web pages of our own
 *   pages.cpp     the printer's Printing Defaults and Media pages, in words
 *   words.cpp     what the pages say, in English and Chinese
 *   icon.cpp      the application's icon
 *   tools.cpp     the printer tools: logos, drawers, beeper, what the printer is
 *   toolspage.cpp their web page
 *   toolsipp.cpp  their IPP operation and the tools sub-command
 *   testpage.cpp  the test receipt
 */
#ifndef OVIK_APP_H
#define OVIK_APP_H

#include <pappl/pappl.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ovik_engine.h"
#include "ovik_printer_model.h"
#include "ovik_status.h"
#include "ovik_tools.h"

/* ---------- drivers (driver.cpp) ---------- */

/* One driver: the catalogue row it is made from and the texts PAPPL shows. */
struct model_driver {
  const ovik_model_brief *row;
  std::string name;         /* the PPD file name less ".ppd": "ovik-tern-80a" */
  std::string manufacturer; /* "Ovik" when the row names none, as the PPDs do */
  std::string make_model;   /* "Ovik Tern 80A" */
  std::string device_id;    /* "MFG:Ovik;MDL:Tern 80A;CMD:OVIK,ESC/POS;" */
  std::vector<std::string> media;
};

/* The printers' one resolution. */
constexpr int app_resolution = 203;

/* The printer's own data stream, printed as it is. */
constexpr const char *native_format = "application/vnd.ovik-printer";

/* What PWG and Apple raster are spooled as, so that PAPPL does not stream
 * them (vet.cpp). */
constexpr const char *spooled_pwg_format = "application/vnd.ovik-pwg-raster";
constexpr const char *spooled_urf_format = "application/vnd.ovik-apple-raster";

/* The drivers, one per catalogue model name that has a print width; static. */
pappl_pr_driver_t *ovik_app_drivers(int *count);

/* The driver of a name, or NULL. */
const model_driver *ovik_app_driver(const char *name);

/* The width in hundredths of millimetres that holds every dot of a print
 * head: the width of the model's media. */
int ovik_app_width_hmm(int dots);

/* The IPP attribute that carries a job keyword: its vendor attribute, else
 * the standard one; NULL for none. */
inline const char *ovik_app_ipp_name(const ovik_keyword &row)
{
  return row.ipp_name ? row.ipp_name : row.ipp_standard;
}

/* A choice's value over IPP: its keyword, or the number of an integer keyword. */
inline const char *ovik_app_ipp_value(const ovik_keyword &row, const ovik_choice &c)
{
  return c.ipp && !row.ipp_integer ? c.ipp : c.value;
}

/* The label of a PPD group ("Cutting/Feed and Cut": "Feed and Cut"). */
inline std::string ovik_app_group_label(const char *group)
{
  const char *slash = std::strchr(group, '/');
  return slash ? slash + 1 : group;
}

/* PAPPL's enumerations and their IPP keywords (the state file, the web pages). */
struct keyword_bit {
  unsigned bit;
  const char *keyword;
};
inline constexpr keyword_bit content_keywords[] = {{PAPPL_CONTENT_AUTO, "auto"},
                                                   {PAPPL_CONTENT_GRAPHIC, "graphic"},
                                                   {PAPPL_CONTENT_PHOTO, "photo"},
                                                   {PAPPL_CONTENT_TEXT, "text"},
                                                   {PAPPL_CONTENT_TEXT_AND_GRAPHIC, "text-and-graphic"}};
inline constexpr keyword_bit scaling_keywords[] = {{PAPPL_SCALING_AUTO, "auto"},
                                                   {PAPPL_SCALING_AUTO_FIT, "auto-fit"},
                                                   {PAPPL_SCALING_FILL, "fill"},
                                                   {PAPPL_SCALING_FIT, "fit"},
                                                   {PAPPL_SCALING_NONE, "none"}};
inline constexpr keyword_bit tracking_keywords[] = {{PAPPL_MEDIA_TRACKING_CONTINUOUS, "continuous"},
                                                    {PAPPL_MEDIA_TRACKING_GAP, "gap"},
                                                    {PAPPL_MEDIA_TRACKING_MARK, "mark"},
                                                    {PAPPL_MEDIA_TRACKING_WEB, "web"}};

/* The keyword of one value, or the keywords of the bits of a set, joined by commas. */
template <size_t N>
std::string keywords(const keyword_bit (&table)[N], unsigned value, bool set)
{
  std::string text;
  for (const keyword_bit &k : table)
    if (set ? (value & k.bit) != 0 : value == k.bit)
      text += (text.empty() ? "" : ",") + std::string(k.keyword);
  return text;
}

/* The row of a keyword, or NULL. */
template <size_t N>
const keyword_bit *keyword_row(const keyword_bit (&table)[N], const char *keyword)
{
  for (const keyword_bit &k : table)
    if (keyword && std::strcmp(k.keyword, keyword) == 0)
      return &k;
  return nullptr;
}

/* Fills the driver data of a printer from its model's catalogue row. */
bool ovik_app_driver_cb(pappl_system_t *system, const char *driver_name, const char *device_uri, const char *device_id,
                        pappl_pr_driver_data_t *data, ipp_t **attrs, void *context);

/* A printer just made (or loaded): its state knows it, its monitor starts. */
void ovik_app_create_cb(pappl_printer_t *printer, void *data);

/* The driver for a printer found on a port (USB), by its IEEE 1284 device ID. */
const char *ovik_app_autoadd_cb(const char *device_info, const char *device_uri, const char *device_id, void *context);

/* The density level of a darkness: -1 for the printer's own setting. */
int ovik_app_density_level(int configured, int job);

/* ---------- the way to the printer (port.cpp) ---------- */

/* A PAPPL device as a status port: writes, and one-byte reads with a
 * deadline. papplDeviceRead waits up to 10 s on a silent printer, so a
 * network printer is read from its socket with the deadline, and other
 * devices on a thread of the port's own, the caller waiting at most its
 * deadline; such a read still under way when the port closes is waited for. */
struct device_port {
  pappl_device_t *device = nullptr;
  std::mutex lock;
  std::condition_variable changed;
  std::deque<uint8_t> received; /* bytes read, not yet taken */
  bool read_asked = false;      /* the reader is to read once */
  bool reading = false;         /* the reader is inside papplDeviceRead */
  bool hung_up = false;         /* the printer closed the connection */
  bool broken = false;          /* reads fail: there is no way back (a file, a printer gone) */
  int failed_reads = 0;         /* reads in a row that failed at once */
  bool stop = false;
  int socket = -1; /* the network printer's socket, read directly; else -1 */
  std::thread reader;
  std::atomic<long long> *write_since_ms = nullptr; /* told when a write starts and ends; may be NULL */
  ovik_status_port port{};                          /* the engine's view of this port */
};

/* Starts a port on device, opened for uri (the device stays the caller's). */
void port_open(device_port &p, pappl_device_t *device, const char *uri);

/* Waits for a read under way, then stops the reader. */
void port_close(device_port &p);

/* Writes and flushes: 0, or an errno value. */
int port_write(device_port &p, const void *data, size_t length);

/* One byte within timeout_ms: 1, 0 (none in time), -1 (the way back is broken). */
int port_read(device_port &p, int timeout_ms, uint8_t *byte);

/* ---------- printers (driver.cpp, monitor.cpp) ---------- */

/* What the driver keeps per printer (driver data extension). */
struct printer_state {
  const model_driver *driver = nullptr;
  pappl_printer_t *printer = nullptr;
  std::mutex lock;                          /* guards shown and paused_by_us */
  unsigned shown = 0;                       /* the conditions shown in printer-state-reasons */
  bool paused_by_us = false;                /* the monitor stopped the queue for a condition */
  std::mutex job_lock;                      /* held by the job that prints (job.cpp) */
  std::atomic<int> jobs_inside{0};          /* our filter's runs, printing or waiting for job_lock */
  std::deque<int> jobs_started;             /* the last jobs our filter started (under job_lock) */
  std::atomic<bool> port_active{false};     /* a job or a tool is using the printer */
  std::timed_mutex tool_lock;               /* held by the printer tool that uses the printer (tools.cpp) */
  std::atomic<long long> write_since_ms{0}; /* a write under way since (steady clock), or 0 */
  /* The monitor (monitor.cpp): its thread, and what only it touches. */
  std::thread monitor;
  std::mutex monitor_lock;
  std::condition_variable monitor_wake;
  bool monitor_stop = false;
  ovik_status_pacing pacing{};
  bool unreachable = false;
  bool in_save = false; /* the state save is writing this printer (state.cpp) */
};

/* A printer on its way out: its monitor stopped, the state save told. */
void ovik_app_forget(printer_state &st);

/* The driver state of a printer, or NULL. */
printer_state *ovik_app_state(pappl_printer_t *printer);

/* True while the printer prints or a job of ours is on its way to it. */
inline bool ovik_app_printer_busy(const printer_state &st)
{
  return papplPrinterGetState(st.printer) == IPP_PSTATE_PROCESSING || st.jobs_inside > 0;
}

/* The name of the paper roll among the printer's supplies (a key of the
 * pages' words). */
constexpr const char *paper_roll_name = "Paper roll";

/* Shows conditions as the printer's state: printer-state-reasons (for the
 * ones the status queries decide) and the paper roll's supply level;
 * answered false leaves the level unknown. */
void ovik_app_show_conditions(printer_state &st, unsigned conditions, bool answered);

/* Starts and stops the printer's monitor, which asks the printer when no
 * job is using it and stops its queue while it cannot print. */
void ovik_app_monitor_start(printer_state &st);
void ovik_app_monitor_stop(printer_state &st);

/* True when the address of a socket: device URI takes a connection within
 * 2 s; other devices count as reachable. */
bool ovik_app_reachable(const char *uri);

/* ---------- jobs (job.cpp, document.cpp) ---------- */

/* The document kinds our filters read. */
enum class document_kind { pwg_raster, apple_raster, png, jpeg, native };

/* The MIME filter of every document kind: the job from its document to the
 * printer; data is the document_kind. */
bool ovik_app_print_cb(pappl_job_t *job, pappl_device_t *device, void *data);

/* Where a document reader hands its pages: 1-bit rows (1 black) of
 * (width + 7) / 8 bytes. Each returns false to stop the document. */
struct page_sink {
  bool (*begin)(void *context, uint32_t width, uint32_t height);
  bool (*rows)(void *context, const uint8_t *rows, uint32_t count);
  bool (*end)(void *context);
  void *context;
};

/* How a document is laid onto the printer's paper. */
struct layout {
  uint32_t width_dots;  /* the print head */
  uint32_t length_rows; /* a page of the media, for labels and tickets; 0: as long as the content */
  uint32_t max_rows;    /* the longest page taken */
  pappl_scaling_t scaling;
  bool photo;              /* ordered dithering instead of a threshold */
  bool image_wide = false; /* an image's page as wide as the image (at most the head), not the head */
};

/* Reads a document into pages. false with why filled when it cannot be
 * printed (a bad or hostile file, a size beyond the limits). */
bool ovik_app_read_document(const char *path, document_kind kind, const layout &l, const page_sink &sink,
                            std::string &why);

/* A 1-bit image kept whole: height rows of (width + 7) / 8 bytes, 1 black. */
struct bitmap_image {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rows;
};

/* Reads an image file, PNG or JPEG by its first bytes, as a job with
 * print-scaling auto reads it (one pixel a dot, narrower when wider than
 * width_dots; photo: ordered dithering, else the threshold), onto a page as
 * wide as the image. false with why filled when it is no such image or
 * cannot be read. */
bool ovik_app_read_image(const char *path, uint32_t width_dots, bool photo, bitmap_image &image, std::string &why);

/* Writes a PNG of height rows into out: gray of depth bits, or 8-bit RGBA
 * when rgba; row(y) gives row y as PNG stores it (for 1-bit gray, 1 is
 * white). at_203dpi records the printer's resolution. false when libpng
 * fails. */
bool ovik_app_write_png(std::vector<uint8_t> &out, uint32_t width, uint32_t height, int depth, bool rgba,
                        bool at_203dpi, const std::function<const uint8_t *(uint32_t y)> &row);

/* The settings of the printer's defaults, as a job without attributes of
 * its own gets them; false with why when a default is refused. */
bool ovik_app_printer_settings(pappl_printer_t *printer, const printer_state &st, dev_mode &settings, std::string &why);

/* ---------- requests (vet.cpp) ---------- */

/* A format we print: as a client names it, the kind our filter reads, and
 * the name it is spooled under (NULL: its own). */
struct printed_format {
  const char *format;
  document_kind kind;
  const char *spooled;
};

/* Every format we print, and the one a client names (NULL for none). */
const printed_format *ovik_app_printed_formats(size_t *count);
const printed_format *ovik_app_printed_format(const char *format);

/* The format of a document's first bytes (a MIME type), or NULL when we
 * print no such document. */
const char *ovik_app_format_of(const unsigned char *head, size_t length);

/* Routes requests that cannot be honoured to the refusal below. */
void ovik_app_vet_start(pappl_system_t *system);

/* The IPP operation callback: answers the requests vetting refused, and the
 * printer tools' operation (toolsipp.cpp). */
bool ovik_app_operation_cb(pappl_client_t *client, void *data);

/* ---------- state (state.cpp) ---------- */

/* Saves the system state whole or not at all (a new file, then renamed);
 * data is the file name. */
bool ovik_app_save_cb(pappl_system_t *system, void *data);

/* Saves at once a job our filter has ended, in the state it ends in (PAPPL
 * removes its document right after; a state saved before would print it
 * again after a crash, or abort it for its missing document). */
void ovik_app_save_ended(pappl_job_t *job, ipp_jstate_t state, const char *path);

/* The state file's path (system.cpp). */
const char *ovik_app_state_path();

/* True when the last save had a job whose document had not yet come. */
bool ovik_app_save_incomplete();

/* Saves the state soon, on a thread of its own (from where PAPPL holds locks). */
void ovik_app_save_soon(pappl_system_t *system, const char *path);

/* Loads the state; jobs that were printing when the server stopped are
 * printed again from their first page. */
bool ovik_app_load_state(pappl_system_t *system, const char *path);

/* Timer, once after the start: queued jobs are started. */
bool ovik_app_resume_cb(pappl_system_t *system, void *data);

/* The printers the save writes: added when made, removed when deleted (a
 * removal waits while the save writes the printer). */
void ovik_app_registry_add(printer_state *st);
void ovik_app_registry_remove(printer_state *st);

/* ---------- web pages (web.cpp, pages.cpp, words.cpp, icon.cpp) ---------- */

/* True when DNS-SD can be browsed: the Avahi daemon runs (PAPPL 1.3.1's
 * DNS-SD browser aborts the process without it). */
bool ovik_app_dnssd_available();

/* Adds our pages (Add Printer without DNS-SD), the pages' words, our icon
 * and the application's name in the header to the system. */
void ovik_app_add_pages(pappl_system_t *system);

/* Puts a printer's Printing Defaults and Media pages in place of PAPPL's:
 * from the printer's creation callback, before PAPPL adds its own (it
 * keeps the first resource of a path). */
void ovik_app_add_printer_pages(pappl_printer_t *printer);

/* Adds the words of the pages, English and Chinese, to the system's
 * localizations (and the strings files as /en.strings and /zh.strings). */
void ovik_app_add_words(pappl_system_t *system);

/* A text of ours in the client's language: by itself, else by its pattern
 * (each number as %d) with the numbers put back; the text as it is when the
 * language has neither. */
std::string ovik_app_localize(pappl_client_t *client, const std::string &english);

/* The application's icon as PNG data: 0 small (48 px), 1 medium (128 px),
 * 2 large (512 px); static, made once. */
const std::vector<unsigned char> &ovik_app_icon(int size_index);

/* ---------- printer tools (tools.cpp, toolspage.cpp, toolsipp.cpp) ---------- */

/* What a printer tool does. */
enum class tool_action { store_logo, list_logos, delete_logo, capacity, open_drawer, beep, self_test, identify };

/* The name of an action, as the sub-command, the IPP operation and the web
 * page's forms give it ("store-logo"); and the action of a name (false when
 * there is none). */
const char *ovik_app_tool_name(tool_action action);
bool ovik_app_tool_named(const char *name, tool_action &action);

/* The logo numbers the tools take: the values of logo-index. */
void ovik_app_logo_numbers(int *first, int *last);

/* True when logo is one of them; else false with why saying which are. */
bool ovik_app_logo_number_ok(int logo, std::string &why);

/* An image file made a logo: read as a job reads it, its blank rows above
 * and below left out, and its preview (a PNG of exactly the dots stored). */
struct logo_upload {
  bitmap_image image;
  ovik_bitmap bitmap{}; /* the logo: rows of image */
  std::vector<uint8_t> preview;
};

/* Reads the image for logo N of the printer and checks it as the store
 * will (the logo number, the printer's width, the command's height); false
 * with why filled when it cannot be that logo. Nothing is sent. */
bool ovik_app_prepare_logo(pappl_printer_t *printer, int logo, const char *path, bool photo, logo_upload &out,
                           std::string &why);

/* A graphic the printer holds, with the size and preview of a logo stored
 * from here. */
struct listed_graphic {
  ovik_nv_graphic graphic{};
  uint32_t width = 0, height = 0; /* 0: not known (not stored from this application) */
  std::vector<uint8_t> preview;   /* the PNG of the dots stored, when known */
};

/* One tool to run, and what it found. */
struct tool_run {
  tool_action action = tool_action::identify;
  int number = 0;                           /* the logo (delete-logo: -1 for all), or the drawer */
  const logo_upload *logo = nullptr;        /* store-logo */
  int code = 0;                             /* 0, or the library's code of the failure */
  bool busy = false;                        /* not run: the printer is busy or cannot be reached */
  std::string message;                      /* what happened, in words */
  std::vector<listed_graphic> graphics;     /* list-logos */
  int free_bytes = -1, total_bytes = -1;    /* capacity */
  ovik_identity identity{-1, {-1, -1, -1}}; /* identify */
};

/* Runs tools on the printer in one visit: its device borrowed while it is
 * idle, each tool in turn over it, the device given back. A printer busy
 * with a job or with another tool, or one that cannot be reached, is not
 * waited for: every run says so (busy) and nothing is sent. */
void ovik_app_run_tools(pappl_printer_t *printer, tool_run *runs, size_t count);

/* Adds the printer's Printer Tools page and its link. */
void ovik_app_add_tools_page(pappl_printer_t *printer);

/* The IPP operation of the tools: true when the request was one (answered). */
bool ovik_app_tools_operation(pappl_client_t *client);

/* The "tools" sub-command: asks the running server; words are the action
 * and its arguments (main.cpp takes them from the command line). */
int ovik_app_tools_command(const char *base_name, int num_options, cups_option_t *options, int num_files, char **files,
                           void *words);

/* ---------- test page (testpage.cpp) ---------- */

/* Writes the test receipt as a PNG file: model, width, darkness and a ruler,
 * at the top of a page of width_dots x length_dots (the media's size, so
 * that it prints unscaled from the page's top edge); darkness is the
 * density level, -1 for the printer's own setting. false when the file
 * cannot be written. */
bool ovik_testpage_write(const char *path, const char *model, int width_dots, int length_dots, int darkness);

/* ---------- the system (system.cpp) ---------- */

/* The system callback of the main loop: the server of the command line's options. */
pappl_system_t *ovik_app_system_cb(int num_options, cups_option_t *options, void *data);

#endif
