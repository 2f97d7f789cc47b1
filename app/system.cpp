/*
 * system.cpp - the printer application's system: the server the command
 * line's options describe (as PAPPL's own default system takes them), and
 * what this application adds to PAPPL:
 *
 *   drivers      every catalogue model, with our printer creation callback
 *   filters      PWG and Apple raster, PNG, JPEG and the printer's own stream,
 *                all printed by our document filter (job.cpp)
 *   requests     vetted before PAPPL acts on them (vet.cpp)
 *   state        saved whole or not at all (state.cpp); queued jobs started
 *                once the server runs
 *   pages        ours beside PAPPL's (web.cpp)
 */
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <span>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "ovik_app.h"

namespace {

constexpr const char *base_name = "ovik-printer-app";

/* The server options of -o server-options=..., as PAPPL's default system reads them. */
pappl_soptions_t server_options(const char *value)
{
  struct option_bit {
    const char *name;
    pappl_soptions_t bit;
    bool set;
  };
  static const option_bit bits[] = {
      {"dnssd-host", PAPPL_SOPTIONS_DNSSD_HOST, true},           {"no-multi-queue", PAPPL_SOPTIONS_MULTI_QUEUE, false},
      {"raw-socket", PAPPL_SOPTIONS_RAW_SOCKET, true},           {"usb-printer", PAPPL_SOPTIONS_USB_PRINTER, true},
      {"no-web-interface", PAPPL_SOPTIONS_WEB_INTERFACE, false}, {"web-log", PAPPL_SOPTIONS_WEB_LOG, true},
      {"web-network", PAPPL_SOPTIONS_WEB_NETWORK, true},         {"web-remote", PAPPL_SOPTIONS_WEB_REMOTE, true},
      {"web-security", PAPPL_SOPTIONS_WEB_SECURITY, true},       {"no-tls", PAPPL_SOPTIONS_NO_TLS, true},
  };
  pappl_soptions_t options = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE;
  for (const char *p = value; p && *p;) {
    size_t n = std::strcspn(p, ",");
    std::string word(p, n);
    if (word == "none")
      options = PAPPL_SOPTIONS_NONE;
    for (const option_bit &b : bits)
      if (word == b.name)
        options = b.set ? (options | b.bit) : (options & ~b.bit);
    p += n + (p[n] == ',');
  }
  return options;
}

pappl_loglevel_t log_level(const char *value)
{
  static const struct {
    const char *name;
    pappl_loglevel_t level;
  } levels[] = {{"fatal", PAPPL_LOGLEVEL_FATAL},
                {"error", PAPPL_LOGLEVEL_ERROR},
                {"warn", PAPPL_LOGLEVEL_WARN},
                {"info", PAPPL_LOGLEVEL_INFO},
                {"debug", PAPPL_LOGLEVEL_DEBUG}};
  for (const auto &l : levels)
    if (value && std::strcmp(value, l.name) == 0)
      return l.level;
  return PAPPL_LOGLEVEL_WARN;
}

/* Makes a folder when it is missing; true when it is there. */
bool folder(const std::string &path)
{
  return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

/* The spool folder and the state file where PAPPL's default system puts
 * them: a snap's common folder, /var for root, else the user's configuration. */
void default_places(std::string &spool, std::string &state)
{
  const char *snap = getenv("SNAP_COMMON"), *xdg = getenv("XDG_CONFIG_HOME"), *home = getenv("HOME");
  std::string tmp = papplGetTempDir();
  if (snap) {
    spool = std::string(snap) + "/" + base_name + ".d";
    state = std::string(snap) + "/" + base_name + ".state";
  } else if (getuid() == 0) {
    spool = folder("/var/spool") ? std::string("/var/spool/") + base_name : "";
    state = folder("/var/lib") ? std::string("/var/lib/") + base_name + ".state" : "";
  } else {
    std::string config = home ? std::string(home) + "/.config" : "";
    if (!config.empty() && !folder(config))
      config.clear();
    spool = config.empty() ? "" : config + "/" + base_name + ".d";
    state = xdg              ? std::string(xdg) + "/" + base_name + ".state"
            : config.empty() ? ""
                             : config + "/" + base_name + ".state";
  }
  if (spool.empty())
    spool = tmp + "/" + base_name + std::to_string(getuid()) + ".d";
  if (state.empty())
    state = tmp + "/" + base_name + std::to_string(getuid()) + ".state";
}

/* The state file. */
std::string state_path;

/* PAPPL's events: a printer being deleted stops its monitor before PAPPL
 * takes the system's write lock to delete it; a new job is saved at once
 * (PAPPL saves only when its main loop next wakes), so that a job a client
 * was told of is never forgotten silently: after a crash before its document
 * was saved with it, it shows as aborted. Events come with PAPPL's locks
 * held: the save runs on a thread of its own. */
void event_cb(pappl_system_t *system, pappl_printer_t *printer, pappl_job_t *, pappl_event_t event, void *)
{
  if ((event & PAPPL_EVENT_PRINTER_DELETED) && printer)
    if (printer_state *st = ovik_app_state(printer))
      ovik_app_forget(*st);
  if ((event & PAPPL_EVENT_JOB_CREATED) && papplSystemIsRunning(system))
    ovik_app_save_soon(system, state_path.c_str());
}

/* Wakes PAPPL's main loop every second: it saves a changed state only when
 * it wakes, and without this it may sleep up to 30 s. A job saved before
 * its document came is saved again with it (PAPPL marks no change when a
 * document is in). */
bool wake_cb(pappl_system_t *system, void *)
{
  if (ovik_app_save_incomplete())
    ovik_app_save_soon(system, state_path.c_str());
  return true;
}

} // namespace

const char *ovik_app_state_path()
{
  return state_path.c_str();
}

/* The system of the command line's options, with our drivers, filters,
 * request checks, state and pages. */
pappl_system_t *ovik_app_system_cb(int num_options, cups_option_t *options, void *)
{
  auto option = [&](const char *name) { return cupsGetOption(name, num_options, options); };
  int port = 0;
  if (const char *value = option("server-port")) {
    char *end = nullptr;
    errno = 0;
    port = static_cast<int>(strtol(value, &end, 10));
    if (port < 0 || errno == ERANGE || *end) {
      fprintf(stderr, "%s: Bad 'server-port' value.\n", base_name);
      return nullptr;
    }
  }
  std::string spool, state;
  default_places(spool, state);
  if (const char *value = option("spool-directory"))
    spool = value;

  pappl_system_t *system =
      papplSystemCreate(server_options(option("server-options")), base_name, port, "_print,_universal", spool.c_str(),
                        option("log-file"), log_level(option("log-level")), option("auth-service"), false);
  if (!system)
    return nullptr;
  if (const char *value = option("admin-group"))
    papplSystemSetAdminGroup(system, value);
  if (const char *value = option("server-hostname"))
    papplSystemSetHostName(system, value);

  pappl_version_t version{};
  snprintf(version.name, sizeof version.name, "%s", base_name);
  snprintf(version.sversion, sizeof version.sversion, "%s", OVIK_VERSION);
  sscanf(OVIK_VERSION, "%hu.%hu.%hu", version.version, version.version + 1, version.version + 2);
  papplSystemSetVersions(system, 1, &version);
  papplSystemSetFooterHTML(system, "ovik-printer-app " OVIK_VERSION);

  // Documents: every format through our filter; raster spooled (vet.cpp).
  size_t count = 0;
  const printed_format *formats = ovik_app_printed_formats(&count);
  for (const printed_format &f : std::span(formats, count)) {
    void *kind = reinterpret_cast<void *>(static_cast<intptr_t>(f.kind));
    if (f.spooled)
      papplSystemAddMIMEFilter(system, f.spooled, native_format, ovik_app_print_cb, kind);
    papplSystemAddMIMEFilter(system, f.format, native_format, ovik_app_print_cb, kind);
  }

  int num_drivers = 0;
  pappl_pr_driver_t *drivers = ovik_app_drivers(&num_drivers);
  papplSystemSetPrinterDrivers(system, num_drivers, drivers, ovik_app_autoadd_cb, ovik_app_create_cb,
                               ovik_app_driver_cb, nullptr);
  papplSystemSetOperationCallback(system, ovik_app_operation_cb, nullptr);
  papplSystemSetEventCallback(system, event_cb, nullptr);
  ovik_app_vet_start(system);
  ovik_app_add_pages(system);

  // The state: loaded, then saved whole after every change.
  state_path = state;
  time_t loaded = time(nullptr);
  ovik_app_load_state(system, state_path.c_str());
  papplSystemSetSaveCallback(system, ovik_app_save_cb, const_cast<char *>(state_path.c_str()));
  papplSystemAddTimerCallback(system, time(nullptr), 0, ovik_app_resume_cb, nullptr);
  papplSystemAddTimerCallback(system, time(nullptr) + 1, 1, wake_cb, nullptr);

  if (!option("private-server"))
    papplSystemAddListeners(system, option("listen-hostname"));

  // Printers loaded from the state answer their first request at least a
  // second old (printer-up-time counts whole seconds from their creation).
  if (papplSystemGetNextPrinterID(system) > 1)
    while (time(nullptr) <= loaded)
      usleep(20 * 1000);
  return system;
}
