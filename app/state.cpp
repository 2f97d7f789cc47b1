/*
 * state.cpp - the system state (printers, their defaults, their jobs) in
 * the file PAPPL's papplSystemLoadState reads, saved whole or not at all.
 *
 * PAPPL 1.3.1's papplSystemSaveState writes the file in place (a server
 * killed while it saves loses the printers after the one it was writing)
 * and holds the system's lock while it takes each printer's lock, the
 * opposite order of _papplJobCopyDocumentData when it refuses a document,
 * which holds a printer's lock and waits for the system's: the server
 * deadlocks. The state is therefore written here, from PAPPL's public
 * accessors, into a new file that then replaces the old one: the printers
 * come from the driver's own list (never under the system's lock), each
 * printer is read under its own lock only, and a printer being deleted
 * waits until the save has done with it.
 *
 * A job that was printing when the server stopped is saved as pending: it
 * is printed again from its first page after a restart, as CUPS retries a
 * job. Queued jobs are started once the server runs (PAPPL 1.3.1 loads them
 * but never starts them).
 */
#include <algorithm>
#include <atomic>
#include <map>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include "ovik_app.h"

namespace {

/* A job was saved before its document came: save again soon. */
std::atomic<bool> incomplete_job{false};

/* Jobs our filter has ended that PAPPL still shows as printing, with the
 * state they end in (by printer and job ID): saved so, before PAPPL removes
 * their documents. */
std::mutex ended_lock;
std::map<std::pair<int, int>, ipp_jstate_t> ended;

/* Ended jobs whose attribute files are gone (by printer and job ID), as of
 * the last save and as this save finds them: each file is removed once,
 * not at every save (with a hundred ended jobs kept a printer, that was most
 * of what a save cost), and a job PAPPL no longer keeps leaves the list.
 * Touched only by the save, one at a time. */
std::set<std::pair<int, int>> attributes_removed, attributes_removed_now;

/* The printers as the driver knows them, for the save. */
std::mutex registry_lock;
std::condition_variable registry_changed;
std::vector<printer_state *> registry;

/* Keywords of PAPPL's enums as the state file carries them (beside those
 * of ovik_app.h). */
constexpr keyword_bit identify_actions[] = {{PAPPL_IDENTIFY_ACTIONS_DISPLAY, "display"},
                                            {PAPPL_IDENTIFY_ACTIONS_FLASH, "flash"},
                                            {PAPPL_IDENTIFY_ACTIONS_SOUND, "sound"},
                                            {PAPPL_IDENTIFY_ACTIONS_SPEAK, "speak"}};
constexpr keyword_bit color_modes[] = {{PAPPL_COLOR_MODE_AUTO, "auto"},
                                       {PAPPL_COLOR_MODE_AUTO_MONOCHROME, "auto-monochrome"},
                                       {PAPPL_COLOR_MODE_BI_LEVEL, "bi-level"},
                                       {PAPPL_COLOR_MODE_COLOR, "color"},
                                       {PAPPL_COLOR_MODE_MONOCHROME, "monochrome"},
                                       {PAPPL_COLOR_MODE_PROCESS_MONOCHROME, "process-monochrome"}};
constexpr keyword_bit sides[] = {{PAPPL_SIDES_ONE_SIDED, "one-sided"},
                                 {PAPPL_SIDES_TWO_SIDED_LONG_EDGE, "two-sided-long-edge"},
                                 {PAPPL_SIDES_TWO_SIDED_SHORT_EDGE, "two-sided-short-edge"}};

/* The attributes of a job the state keeps beyond those it was created with. */
constexpr const char *job_extras[] = {"document-format",
                                      "document-format-supplied",
                                      "document-format-detected",
                                      "document-name",
                                      "finishings",
                                      "finishings-col",
                                      "print-scaling",
                                      "job-originating-user-name",
                                      "page-ranges",
                                      "job-hold-until",
                                      "job-hold-until-time"};

/* A line of the state file, in PAPPL's form: a name, then for options
 * name="value" pairs with backslashes before quotes and backslashes. */
struct state_writer {
  FILE *fp;

  void line(const char *name, const std::string &value)
  {
    if (!value.empty())
      fprintf(fp, "%s %s\n", name, value.c_str());
  }
  void number(const char *name, long value) { fprintf(fp, "%s %ld\n", name, value); }

  void options(const char *name, const std::vector<std::pair<std::string, std::string>> &pairs)
  {
    fputs(name, fp);
    for (const auto &[key, value] : pairs) {
      fprintf(fp, " %s=\"", key.c_str());
      for (char c : value) {
        if (c == '\\' || c == '"')
          fputc('\\', fp);
        fputc(c, fp);
      }
      fputc('"', fp);
    }
    fputs(*name == '<' ? ">\n" : "\n", fp);
  }

  void contact(const pappl_contact_t &c)
  {
    std::vector<std::pair<std::string, std::string>> pairs;
    if (c.name[0])
      pairs.emplace_back("name", c.name);
    if (c.email[0])
      pairs.emplace_back("email", c.email);
    if (c.telephone[0])
      pairs.emplace_back("telephone", c.telephone);
    options("Contact", pairs);
  }

  void media(const char *name, const pappl_media_col_t &m)
  {
    std::vector<std::pair<std::string, std::string>> pairs;
    auto add = [&](const char *key, int v) {
      if (v)
        pairs.emplace_back(key, std::to_string(v));
    };
    add("bottom", m.bottom_margin);
    add("left", m.left_margin);
    add("left-offset", m.left_offset);
    add("right", m.right_margin);
    if (m.size_name[0])
      pairs.emplace_back("name", m.size_name);
    add("width", m.size_width);
    add("length", m.size_length);
    if (m.source[0])
      pairs.emplace_back("source", m.source);
    add("top", m.top_margin);
    add("top-offset", m.top_offset);
    if (m.tracking)
      pairs.emplace_back("tracking", keywords(tracking_keywords, m.tracking, false));
    if (m.type[0])
      pairs.emplace_back("type", m.type);
    options(name, pairs);
  }
};

/* A text accessor's value. */
template <typename Getter>
std::string text(Getter get)
{
  char buffer[1024] = "";
  return get(buffer, sizeof buffer) ? buffer : "";
}

/* What the save writes of one job, taken under the printer's lock. */
struct job_line {
  state_writer *out;
  ipp_t *extras; /* the job attribute names the printer offers */
};

/* One job: its line, and for a job not yet done its attributes beside the
 * spool file (PAPPL's loader reads them back). */
void save_job(pappl_job_t *job, void *data)
{
  auto &jl = *static_cast<job_line *>(data);
  std::vector<std::pair<std::string, std::string>> o;
  auto add = [&](const char *key, const std::string &v) { o.emplace_back(key, v); };
  ipp_jstate_t state = papplJobGetState(job);
  std::pair<int, int> key{papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job)};
  {
    std::lock_guard<std::mutex> hold(ended_lock);
    auto e = ended.find(key);
    if (e != ended.end() && state == IPP_JSTATE_PROCESSING)
      state = e->second;
    else if (e != ended.end())
      ended.erase(e); // PAPPL has ended it too
  }
  if (papplJobIsCanceled(job))
    state = IPP_JSTATE_CANCELED;
  else if (state == IPP_JSTATE_PROCESSING)
    state = IPP_JSTATE_PENDING; // printed again from its first page after a restart
  add("id", std::to_string(papplJobGetID(job)));
  add("name", papplJobGetName(job) ? papplJobGetName(job) : "");
  add("username", papplJobGetUsername(job) ? papplJobGetUsername(job) : "");
  add("format", papplJobGetFormat(job) ? papplJobGetFormat(job) : "");
  if (const char *filename = papplJobGetFilename(job))
    add("filename", filename);
  add("state", std::to_string(state));
  if (pappl_jreason_t reasons = papplJobGetReasons(job))
    add("state_reasons", std::to_string(reasons));
  if (time_t t = papplJobGetTimeCreated(job))
    add("created", std::to_string(static_cast<long>(t)));
  if (time_t t = papplJobGetTimeProcessed(job); t && state != IPP_JSTATE_PENDING)
    add("processing", std::to_string(static_cast<long>(t)));
  if (time_t t = papplJobGetTimeCompleted(job))
    add("completed", std::to_string(static_cast<long>(t)));
  else if (state == IPP_JSTATE_CANCELED)
    add("completed", std::to_string(static_cast<long>(time(nullptr))));
  if (int n = papplJobGetImpressions(job))
    add("impressions", std::to_string(n));
  if (int n = papplJobGetImpressionsCompleted(job); n && state != IPP_JSTATE_PENDING)
    add("imcompleted", std::to_string(n));

  char path[1024];
  if (state < IPP_JSTATE_STOPPED && !papplJobGetFilename(job))
    incomplete_job = true;
  if (state < IPP_JSTATE_STOPPED) {
    ipp_t *attrs = ippNew();
    auto keep = [&](const char *name) {
      if (ipp_attribute_t *a = papplJobGetAttribute(job, name); a && !ippFindAttribute(attrs, name, IPP_TAG_ZERO)) {
        ipp_attribute_t *copy = ippCopyAttribute(attrs, a, 0);
        ippSetGroupTag(attrs, &copy, IPP_TAG_JOB);
      }
    };
    if (ipp_attribute_t *names = ippFindAttribute(jl.extras, "job-creation-attributes-supported", IPP_TAG_KEYWORD))
      for (int i = 0; i < ippGetCount(names); i++)
        keep(ippGetString(names, i, nullptr));
    for (const char *name : job_extras)
      keep(name);
    int fd = papplJobOpenFile(job, path, sizeof path, nullptr, "ipp", "w");
    if (fd >= 0) {
      ippWriteFile(fd, attrs);
      close(fd);
    }
    ippDelete(attrs);
  } else if (attributes_removed.count(key) || papplJobOpenFile(job, path, sizeof path, nullptr, "ipp", "x") == 0 ||
             errno == ENOENT) {
    attributes_removed_now.insert(key);
  }
  jl.out->options("Job", o);
}

/* One printer: its identity, its settings and defaults, its jobs. */
void save_printer(state_writer &w, pappl_printer_t *p)
{
  w.options("<Printer", {{"id", std::to_string(papplPrinterGetID(p))},
                         {"name", papplPrinterGetName(p)},
                         {"did", papplPrinterGetDeviceID(p) ? papplPrinterGetDeviceID(p) : ""},
                         {"uri", papplPrinterGetDeviceURI(p)},
                         {"driver", papplPrinterGetDriverName(p)}});
  w.line("DNSSDName", text([&](char *b, size_t n) { return papplPrinterGetDNSSDName(p, b, n); }));
  w.line("Location", text([&](char *b, size_t n) { return papplPrinterGetLocation(p, b, n); }));
  w.line("Geolocation", text([&](char *b, size_t n) { return papplPrinterGetGeoLocation(p, b, n); }));
  w.line("Organization", text([&](char *b, size_t n) { return papplPrinterGetOrganization(p, b, n); }));
  w.line("OrganizationalUnit", text([&](char *b, size_t n) { return papplPrinterGetOrganizationalUnit(p, b, n); }));
  pappl_contact_t contact{};
  papplPrinterGetContact(p, &contact);
  w.contact(contact);
  if (papplPrinterIsHoldingNewJobs(p))
    fputs("HoldNewJobs\n", w.fp);
  w.line("PrintGroup", text([&](char *b, size_t n) { return papplPrinterGetPrintGroup(p, b, n); }));
  w.number("MaxActiveJobs", papplPrinterGetMaxActiveJobs(p));
  w.number("MaxCompletedJobs", papplPrinterGetMaxCompletedJobs(p));
  w.number("NextJobId", papplPrinterGetNextJobID(p));
  w.number("ImpressionsCompleted", papplPrinterGetImpressionsCompleted(p));

  pappl_pr_driver_data_t d;
  papplPrinterGetDriverData(p, &d);
  if (d.identify_default)
    w.line("identify-actions-default", keywords(identify_actions, d.identify_default, true));
  if (d.tear_offset_configured)
    w.number("label-tear-offset-configured", d.tear_offset_configured);
  w.media("media-col-default", d.media_default);
  for (int i = 0; i < d.num_source && i < PAPPL_MAX_SOURCE; i++)
    if (d.media_ready[i].size_name[0])
      w.media(("media-col-ready" + std::to_string(i)).c_str(), d.media_ready[i]);
  if (d.orient_default)
    w.line("orientation-requested-default", ippEnumString("orientation-requested", d.orient_default));
  if (d.bin_default && d.num_bin > 0)
    w.line("output-bin-default", d.bin[d.bin_default]);
  if (d.color_default)
    w.line("print-color-mode-default", keywords(color_modes, d.color_default, false));
  if (d.content_default)
    w.line("print-content-optimize-default", keywords(content_keywords, d.content_default, false));
  if (d.darkness_default)
    w.number("print-darkness-default", d.darkness_default);
  if (d.quality_default)
    w.line("print-quality-default", ippEnumString("print-quality", d.quality_default));
  if (d.scaling_default)
    w.line("print-scaling-default", keywords(scaling_keywords, d.scaling_default, false));
  if (d.darkness_configured)
    w.number("printer-darkness-configured", d.darkness_configured);
  if (d.sides_default)
    w.line("sides-default", keywords(sides, d.sides_default, false));
  if (d.x_default)
    fprintf(w.fp, "printer-resolution-default %dx%ddpi\n", d.x_default, d.y_default);
  ipp_t *attrs = papplPrinterGetDriverAttributes(p);
  for (int i = 0; i < d.num_vendor; i++) {
    std::string name = std::string(d.vendor[i]) + "-default";
    char value[1024] = "";
    if (ipp_attribute_t *a = ippFindAttribute(attrs, name.c_str(), IPP_TAG_ZERO))
      ippAttributeString(a, value, sizeof value);
    fprintf(w.fp, "%s %s\n", name.c_str(), value);
  }
  job_line jl{&w, attrs};
  papplPrinterIterateAllJobs(p, save_job, &jl, 1, 0);
  ippDelete(attrs);
  fputs("</Printer>\n", w.fp);
}

/* Starts a printer's queued jobs: PAPPL looks for jobs when a printer resumes. */
void start_queue(pappl_printer_t *printer, void *data)
{
  if (papplPrinterGetNumberOfActiveJobs(printer) > 0)
    static_cast<std::vector<pappl_printer_t *> *>(data)->push_back(printer);
}

} // namespace

/* Adds and removes a printer of the driver's list; removal waits for a
 * save that is writing it. */
void ovik_app_registry_add(printer_state *st)
{
  std::lock_guard<std::mutex> hold(registry_lock);
  if (std::find(registry.begin(), registry.end(), st) == registry.end())
    registry.push_back(st);
}

void ovik_app_registry_remove(printer_state *st)
{
  std::unique_lock<std::mutex> hold(registry_lock);
  registry_changed.wait(hold, [st] { return !st->in_save; });
  registry.erase(std::remove(registry.begin(), registry.end(), st), registry.end());
}

/* Writes the state into a new file beside the old one, then puts it in its
 * place; one save at a time (PAPPL's main loop saves, and a new job). */
bool ovik_app_save_cb(pappl_system_t *system, void *data)
{
  static std::mutex one_at_a_time;
  std::lock_guard<std::mutex> hold_save(one_at_a_time);
  const char *path = static_cast<const char *>(data);
  std::string temporary = std::string(path) + ".new";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  FILE *fp = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (!fp) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to create system state file '%s': %s", temporary.c_str(),
             strerror(errno));
    if (fd >= 0)
      close(fd);
    return false;
  }
  incomplete_job = false;
  state_writer w{fp};
  w.line("DNSSDName", text([&](char *b, size_t n) { return papplSystemGetDNSSDName(system, b, n); }));
  w.line("Location", text([&](char *b, size_t n) { return papplSystemGetLocation(system, b, n); }));
  w.line("Geolocation", text([&](char *b, size_t n) { return papplSystemGetGeoLocation(system, b, n); }));
  w.line("Organization", text([&](char *b, size_t n) { return papplSystemGetOrganization(system, b, n); }));
  w.line("OrganizationalUnit", text([&](char *b, size_t n) { return papplSystemGetOrganizationalUnit(system, b, n); }));
  pappl_contact_t contact{};
  papplSystemGetContact(system, &contact);
  w.contact(contact);
  w.line("AdminGroup", text([&](char *b, size_t n) { return papplSystemGetAdminGroup(system, b, n); }));
  w.line("DefaultPrintGroup", text([&](char *b, size_t n) { return papplSystemGetDefaultPrintGroup(system, b, n); }));
  w.line("Password", text([&](char *b, size_t n) { return papplSystemGetPassword(system, b, n); }));
  w.number("DefaultPrinterID", papplSystemGetDefaultPrinterID(system));
  int max_width = 0, max_height = 0;
  size_t max_size = papplSystemGetMaxImageSize(system, &max_width, &max_height);
  fprintf(fp, "MaxImageSize %ld %d %d\n", static_cast<long>(max_size), max_width, max_height);
  w.number("NextPrinterID", papplSystemGetNextPrinterID(system));
  w.line("UUID", papplSystemGetUUID(system) ? papplSystemGetUUID(system) : "");

  // The printers in the order of their IDs, each marked while it is written.
  std::vector<std::pair<int, printer_state *>> printers;
  {
    std::lock_guard<std::mutex> hold(registry_lock);
    for (printer_state *st : registry)
      printers.emplace_back(papplPrinterGetID(st->printer), st);
  }
  std::sort(printers.begin(), printers.end());
  for (auto [id, st] : printers) {
    {
      std::lock_guard<std::mutex> hold(registry_lock);
      if (std::find(registry.begin(), registry.end(), st) == registry.end())
        continue; // deleted meanwhile
      st->in_save = true;
    }
    if (!papplPrinterIsDeleted(st->printer))
      save_printer(w, st->printer);
    {
      std::lock_guard<std::mutex> hold(registry_lock);
      st->in_save = false;
    }
    registry_changed.notify_all();
  }

  attributes_removed.swap(attributes_removed_now);
  attributes_removed_now.clear();

  bool ok = fflush(fp) == 0 && fsync(fileno(fp)) == 0;
  ok = fclose(fp) == 0 && ok;
  if (ok && rename(temporary.c_str(), path) != 0)
    ok = false;
  if (!ok) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to save system state to '%s': %s", path, strerror(errno));
    unlink(temporary.c_str());
    return false;
  }
  papplLog(system, PAPPL_LOGLEVEL_INFO, "Saved system state to '%s'.", path);
  return true;
}

/* A save on the saver's own thread, as soon as it can. The saver lives as
 * long as the process: what it waits on is never destroyed (a condition
 * variable destroyed at exit with a thread waiting on it hangs the exit). */
void ovik_app_save_soon(pappl_system_t *system, const char *path)
{
  struct saver {
    std::mutex lock;
    std::condition_variable wanted;
    bool due = false;
  };
  static saver *s = nullptr;
  static std::once_flag started;
  std::call_once(started, [system, path] {
    s = new saver;
    std::thread([system, path] {
      std::unique_lock<std::mutex> hold(s->lock);
      for (;;) {
        s->wanted.wait(hold, [] { return s->due; });
        s->due = false;
        hold.unlock();
        ovik_app_save_cb(system, const_cast<char *>(path));
        hold.lock();
      }
    }).detach();
  });
  std::lock_guard<std::mutex> hold(s->lock);
  s->due = true;
  s->wanted.notify_one();
}

/* A job our filter has ended, saved at once in its final state. */
void ovik_app_save_ended(pappl_job_t *job, ipp_jstate_t state, const char *path)
{
  {
    std::lock_guard<std::mutex> hold(ended_lock);
    ended[{papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job)}] = state;
  }
  ovik_app_save_cb(papplPrinterGetSystem(papplJobGetPrinter(job)), const_cast<char *>(path));
}

/* True when the last save had a job whose document had not yet come. */
bool ovik_app_save_incomplete()
{
  return incomplete_job;
}

/* PAPPL's loader reads the file; a state saved by PAPPL itself (before this
 * application saved its own) may still hold a job as printing, which would
 * never end: the first save after the start writes it as pending. */
bool ovik_app_load_state(pappl_system_t *system, const char *path)
{
  unlink((std::string(path) + ".new").c_str()); // a save cut short
  return papplSystemLoadState(system, path);
}

/* Once the server runs: the queued jobs of every printer are started. */
bool ovik_app_resume_cb(pappl_system_t *system, void *)
{
  std::vector<pappl_printer_t *> printers;
  papplSystemIteratePrinters(system, start_queue, &printers);
  for (pappl_printer_t *printer : printers) {
    papplLog(system, PAPPL_LOGLEVEL_INFO, "Starting the queued jobs of '%s'.", papplPrinterGetName(printer));
    papplPrinterResume(printer);
  }
  return false; // once
}
