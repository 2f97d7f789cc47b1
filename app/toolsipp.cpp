/*
 * toolsipp.cpp - the printer tools over IPP: the vendor operation the
 * server answers, and the "tools" sub-command that sends it, for tills that
 * script the printer:
 *
 *   ovik-printer-app tools [-d PRINTER | -u PRINTER-URI] ACTION [ARGUMENTS]
 *
 * The sub-command reaches the running server as PAPPL's own sub-commands do
 * (its domain socket) or at a printer URI; it never starts a server. The
 * request is Printer-Tools (0x4F02) to the printer, with the action in
 * ovik-tool and its number in ovik-number; store-logo carries the image as
 * its document. Local clients are authorized, others as for PAPPL's
 * administrative operations.
 */
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include "ovik_app.h"
#include "ovik_error.h"

namespace {

/* The operation (in the vendor range, beside vet.cpp's refusal 0x4F01). */
constexpr ipp_op_t tools_op = static_cast<ipp_op_t>(0x4F02);

/* The largest image a request may carry. */
constexpr size_t max_upload = 16u << 20;

/* The root server's domain socket folder in Debian's libpappl (its
 * PAPPL_SOCKDIR); other servers' sockets are where PAPPL's sub-commands
 * look for them. */
constexpr const char *root_socket_folder = "/run";

/* ---------- the server: the operation ---------- */

/* The status of a run that failed: the printer busy, the request at fault,
 * or the printer. */
ipp_status_t status_of(const tool_run &r)
{
  if (r.code == 0)
    return IPP_STATUS_OK;
  if (r.busy)
    return IPP_STATUS_ERROR_BUSY;
  if (r.code == OVIK_ERR_PARAMETER || r.code == OVIK_ERR_IMAGE_SIZE)
    return IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES;
  if (r.code == OVIK_ERR_PRINTER_CLASS)
    return IPP_STATUS_ERROR_OPERATION_NOT_SUPPORTED;
  return IPP_STATUS_ERROR_DEVICE;
}

/* The request's document in a file of its own; false with why filled. */
bool receive_image(pappl_client_t *client, char *path, size_t size, std::string &why)
{
  http_t *http = papplClientGetHTTP(client);
  int fd = cupsTempFd(path, static_cast<int>(size));
  if (fd < 0) {
    why = std::string("The image cannot be kept: ") + strerror(errno);
    return false;
  }
  char buffer[65536];
  size_t total = 0;
  ssize_t n = 0;
  bool ok = true;
  while (ok && httpGetState(http) == HTTP_STATE_POST_RECV && (n = httpRead2(http, buffer, sizeof buffer)) > 0) {
    total += static_cast<size_t>(n);
    ok = total <= max_upload && write(fd, buffer, static_cast<size_t>(n)) == n;
  }
  close(fd);
  if (!ok)
    why = total > max_upload ? "The image file is larger than " + std::to_string(max_upload >> 20) + " MB"
                             : std::string("The image cannot be kept: ") + strerror(errno);
  if (!ok)
    unlink(path);
  return ok;
}

/* Adds what a run found to the response. */
void add_results(ipp_t *response, const tool_run &r, const printer_state &st)
{
  switch (r.action) {
  case tool_action::store_logo:
    ippAddInteger(response, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "ovik-logo-width",
                  static_cast<int>(r.logo->bitmap.width));
    ippAddInteger(response, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "ovik-logo-height",
                  static_cast<int>(r.logo->bitmap.height));
    break;
  case tool_action::list_logos:
    if (!r.graphics.empty()) {
      ipp_attribute_t *keys = nullptr, *logos = nullptr, *widths = nullptr, *heights = nullptr;
      for (const listed_graphic &g : r.graphics) {
        if (!keys) {
          keys = ippAddOctetString(response, IPP_TAG_OPERATION, "ovik-key-codes", g.graphic.key_codes, 2);
          logos = ippAddInteger(response, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "ovik-logo-index", g.graphic.logo);
          widths = ippAddInteger(response, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "ovik-logo-width", int(g.width));
          heights = ippAddInteger(response, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "ovik-logo-height", int(g.height));
          continue;
        }
        ippSetOctetString(response, &keys, ippGetCount(keys), g.graphic.key_codes, 2);
        ippSetInteger(response, &logos, ippGetCount(logos), g.graphic.logo);
        ippSetInteger(response, &widths, ippGetCount(widths), int(g.width));
        ippSetInteger(response, &heights, ippGetCount(heights), int(g.height));
      }
    }
    break;
  case tool_action::capacity:
    ippAddInteger(response, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "ovik-nv-free", r.free_bytes);
    ippAddInteger(response, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "ovik-nv-total", r.total_bytes);
    break;
  case tool_action::identify: {
    char firmware[64];
    snprintf(firmware, sizeof firmware, "%d.%d.%d", r.identity.firmware[0], r.identity.firmware[1],
             r.identity.firmware[2]);
    ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_TEXT, "printer-make-and-model", nullptr,
                 st.driver->make_model.c_str());
    ippAddInteger(response, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "ovik-model-id", r.identity.model_id);
    ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_TEXT, "ovik-firmware", nullptr, firmware);
    break;
  }
  default:
    break;
  }
}

/* ---------- the sub-command ---------- */

/* What each action takes on the command line. */
struct command_row {
  tool_action action;
  const char *arguments; /* for the usage text */
  int words;             /* how many */
  const char *purpose;
};

constexpr command_row commands[] = {
    {tool_action::store_logo, "N FILE", 2, "store a PNG or JPEG image as logo N (what logo-index N prints)"},
    {tool_action::list_logos, "", 0, "list the graphics stored in the printer"},
    {tool_action::delete_logo, "N|all", 1, "delete logo N, or every stored graphic"},
    {tool_action::capacity, "", 0, "the graphics memory free and in all, in bytes"},
    {tool_action::open_drawer, "1|2", 1, "open cash drawer 1 or 2"},
    {tool_action::beep, "", 0, "sound the beeper"},
    {tool_action::self_test, "", 0, "print the printer's own self-test page"},
    {tool_action::identify, "", 0, "the printer's model ID and firmware"},
};

const command_row &command_of(tool_action action)
{
  for (const command_row &c : commands)
    if (c.action == action)
      return c;
  return commands[0];
}

int usage(const char *base_name)
{
  fprintf(stderr, "Usage: %s tools [-d PRINTER | -u PRINTER-URI] [-o print-content-optimize=photo] ACTION\n",
          base_name);
  for (const command_row &c : commands) {
    std::string words = std::string(ovik_app_tool_name(c.action)) + (*c.arguments ? " " : "") + c.arguments;
    fprintf(stderr, "  %-22s %s\n", words.c_str(), c.purpose);
  }
  return 1;
}

/* A whole number within a range, or false. */
bool whole_number(const std::string &text, int low, int high, int &value)
{
  char *end = nullptr;
  errno = 0;
  long v = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || errno || v < low || v > high)
    return false;
  value = static_cast<int>(v);
  return true;
}

/* The running server: at -u's printer URI, else on its domain socket (the
 * user's own server, then root's). */
http_t *connect_server(const char *base_name, const char *printer_uri, std::string &resource, std::string &uri)
{
  if (printer_uri) {
    char scheme[32], user[256], host[256], path[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, printer_uri, scheme, sizeof scheme, user, sizeof user, host, sizeof host,
                        &port, path, sizeof path) < HTTP_URI_STATUS_OK ||
        (std::strcmp(scheme, "ipp") != 0 && std::strcmp(scheme, "ipps") != 0)) {
      fprintf(stderr, "%s: Bad printer URI '%s'.\n", base_name, printer_uri);
      return nullptr;
    }
    resource = path;
    uri = printer_uri;
    http_encryption_t encryption =
        std::strcmp(scheme, "ipps") == 0 ? HTTP_ENCRYPTION_ALWAYS : HTTP_ENCRYPTION_IF_REQUESTED;
    http_t *http = httpConnect2(host, port, nullptr, AF_UNSPEC, encryption, 1, 30000, nullptr);
    if (!http)
      fprintf(stderr, "%s: Unable to connect to printer at '%s:%d': %s\n", base_name, host, port,
              cupsLastErrorString());
    return http;
  }
  std::vector<std::string> sockets;
  if (getuid())
    sockets.push_back(std::string(papplGetTempDir()) + "/" + base_name + std::to_string(getuid()) + ".sock");
  const char *snap = getenv("SNAP_COMMON");
  sockets.push_back(snap ? std::string(snap) + "/" + base_name + ".sock"
                         : std::string(root_socket_folder) + "/" + base_name + ".sock");
  for (const std::string &s : sockets)
    if (http_t *http = httpConnect2(s.c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr))
      return http;
  fprintf(stderr, "%s: The server is not running (start it with '%s server').\n", base_name, base_name);
  return nullptr;
}

/* The resource of a printer by its name, as PAPPL makes it: "/ipp/print/"
 * and the name with spaces, controls and /\'"?# as single underscores,
 * none at the end. */
std::string printer_resource(const char *name)
{
  std::string r = "/ipp/print/";
  for (const char *p = name; *p; p++) {
    bool odd = (*p & 255) <= ' ' || *p == 0x7F || std::strchr("/\\'\"?#", *p);
    if (!odd)
      r += *p;
    else if (r.back() != '_')
      r += '_';
  }
  while (r.size() > 11 && r.back() == '_')
    r.pop_back();
  return r;
}

/* The server's default printer, or "". */
std::string default_printer(http_t *http)
{
  ipp_t *request = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-name");
  ipp_t *response = cupsDoRequest(http, request, "/ipp/system");
  const char *name = ippGetString(ippFindAttribute(response, "printer-name", IPP_TAG_NAME), 0, nullptr);
  std::string found = name ? name : "";
  ippDelete(response);
  return found;
}

int integer_of(ipp_t *response, const char *name, int i = 0)
{
  return ippGetInteger(ippFindAttribute(response, name, IPP_TAG_INTEGER), i);
}

/* Prints what the answer holds: key=value lines for what the printer
 * holds or is, the message for what was done. */
void print_answer(tool_action action, ipp_t *response)
{
  const char *message = ippGetString(ippFindAttribute(response, "status-message", IPP_TAG_TEXT), 0, nullptr);
  switch (action) {
  case tool_action::list_logos: {
    ipp_attribute_t *keys = ippFindAttribute(response, "ovik-key-codes", IPP_TAG_STRING);
    for (int i = 0; i < ippGetCount(keys); i++) {
      int length = 0;
      const auto *k = static_cast<const uint8_t *>(ippGetOctetString(keys, i, &length));
      int logo = integer_of(response, "ovik-logo-index", i), w = integer_of(response, "ovik-logo-width", i),
          h = integer_of(response, "ovik-logo-height", i);
      std::string number = logo >= 0 ? std::to_string(logo) : "none";
      std::string size = w > 0 ? std::to_string(w) + "x" + std::to_string(h) : "unknown";
      if (length == 2)
        printf("logo=%s key-codes=%02x,%02x size=%s\n", number.c_str(), k[0], k[1], size.c_str());
    }
    break;
  }
  case tool_action::capacity:
    printf("free=%d total=%d\n", integer_of(response, "ovik-nv-free"), integer_of(response, "ovik-nv-total"));
    break;
  case tool_action::identify:
    printf("make-and-model=%s\nmodel-id=0x%02X\nfirmware=%s\n",
           ippGetString(ippFindAttribute(response, "printer-make-and-model", IPP_TAG_TEXT), 0, nullptr),
           integer_of(response, "ovik-model-id"),
           ippGetString(ippFindAttribute(response, "ovik-firmware", IPP_TAG_TEXT), 0, nullptr));
    break;
  default:
    printf("%s\n", message ? message : "Done");
    break;
  }
}

} // namespace

/* Printer-Tools: the request checked, the image read and checked (before
 * anything goes to the printer), the tool run, what it found answered. */
bool ovik_app_tools_operation(pappl_client_t *client)
{
  if (papplClientGetOperation(client) != tools_op)
    return false;
  http_status_t auth = papplClientIsAuthorized(client);
  if (auth != HTTP_STATUS_CONTINUE) {
    papplClientRespond(client, auth, nullptr, nullptr, 0, 0);
    return true;
  }
  pappl_printer_t *printer = papplClientGetPrinter(client);
  printer_state *st = ovik_app_state(printer);
  ipp_t *request = papplClientGetRequest(client);
  tool_run run;
  const char *name = ippGetString(ippFindAttribute(request, "ovik-tool", IPP_TAG_KEYWORD), 0, nullptr);
  ipp_attribute_t *number = ippFindAttribute(request, "ovik-number", IPP_TAG_INTEGER);
  if (!st) {
    papplClientRespondIPP(client, IPP_STATUS_ERROR_NOT_POSSIBLE, "This printer has no Ovik driver.");
    return true;
  }
  if (!ovik_app_tool_named(name, run.action)) {
    papplClientRespondIPP(client, IPP_STATUS_ERROR_BAD_REQUEST, "No tool named '%s'.", name ? name : "");
    return true;
  }
  run.number = number ? ippGetInteger(number, 0) : 0;
  if (command_of(run.action).words > 0 && !number) {
    papplClientRespondIPP(client, IPP_STATUS_ERROR_BAD_REQUEST, "The %s tool needs ovik-number.", name);
    return true;
  }
  bool logo_numbered =
      run.action == tool_action::store_logo || (run.action == tool_action::delete_logo && run.number != -1);
  std::string why;
  if (logo_numbered && !ovik_app_logo_number_ok(run.number, why)) {
    papplClientRespondIPP(client, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "%s.", why.c_str());
    return true;
  }
  char refused[256];
  if (run.action == tool_action::open_drawer && ovik_tools_check_drawer(run.number, refused, sizeof refused) != 0) {
    papplClientRespondIPP(client, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "%s.", refused);
    return true;
  }
  logo_upload logo;
  if (run.action == tool_action::store_logo) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    const char *content =
        ippGetString(ippFindAttribute(request, "print-content-optimize", IPP_TAG_KEYWORD), 0, nullptr);
    bool photo = content ? std::strcmp(content, "photo") == 0 : data.content_default == PAPPL_CONTENT_PHOTO;
    char path[1024];
    std::string why;
    bool ok = receive_image(client, path, sizeof path, why);
    if (ok) {
      ok = ovik_app_prepare_logo(printer, run.number, path, photo, logo, why);
      unlink(path);
    }
    if (!ok) {
      papplClientRespondIPP(client, IPP_STATUS_ERROR_DOCUMENT_FORMAT_ERROR, "%s.", why.c_str());
      return true;
    }
    run.logo = &logo;
  }
  ovik_app_run_tools(printer, &run, 1);
  ipp_t *response = papplClientRespondIPP(client, status_of(run), "%s.", run.message.c_str());
  if (run.code == 0)
    add_results(response, run, *st);
  return true;
}

/* The tools sub-command: the action and its arguments checked, the request
 * sent, the answer printed; 0 when the tool did its work. */
int ovik_app_tools_command(const char *base_name, int num_options, cups_option_t *options, int, char **, void *data)
{
  const auto &words = *static_cast<const std::vector<std::string> *>(data);
  tool_action action;
  if (words.empty() || !ovik_app_tool_named(words[0].c_str(), action))
    return usage(base_name);
  const command_row &row = command_of(action);
  if (static_cast<int>(words.size()) != 1 + row.words)
    return usage(base_name);
  int first = 0, last = 0, value = 0;
  ovik_app_logo_numbers(&first, &last);
  bool ok = true;
  if (action == tool_action::store_logo)
    ok = whole_number(words[1], first, last, value);
  else if (action == tool_action::delete_logo)
    ok = words[1] == "all" ? (value = -1, true) : whole_number(words[1], first, last, value);
  else if (action == tool_action::open_drawer)
    ok = whole_number(words[1], 1, 2, value);
  if (!ok) {
    fprintf(stderr, "%s: '%s' is not a %s (%s).\n", base_name, words[1].c_str(),
            action == tool_action::open_drawer ? "drawer" : "logo number",
            action == tool_action::open_drawer ? "1 or 2"
                                               : (std::to_string(first) + " to " + std::to_string(last)).c_str());
    return 1;
  }
  const char *file = action == tool_action::store_logo ? words[2].c_str() : nullptr;
  if (file && access(file, R_OK) != 0) {
    fprintf(stderr, "%s: Unable to open '%s': %s.\n", base_name, file, strerror(errno));
    return 1;
  }

  std::string resource, uri;
  http_t *http = connect_server(base_name, cupsGetOption("printer-uri", num_options, options), resource, uri);
  if (!http)
    return 1;
  if (uri.empty()) {
    const char *named = cupsGetOption("printer-name", num_options, options);
    std::string printer = named ? named : default_printer(http);
    if (printer.empty()) {
      fprintf(stderr, "%s: No default printer available.\n", base_name);
      httpClose(http);
      return 1;
    }
    resource = printer_resource(printer.c_str());
    char text[1024];
    httpAssembleURI(HTTP_URI_CODING_ALL, text, sizeof text, "ipp", nullptr, "localhost", 0, resource.c_str());
    uri = text;
  }
  ipp_t *request = ippNewRequest(tools_op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "ovik-tool", nullptr, words[0].c_str());
  if (row.words > 0)
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "ovik-number", value);
  if (const char *content = cupsGetOption("print-content-optimize", num_options, options))
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "print-content-optimize", nullptr, content);
  ipp_t *response = cupsDoFileRequest(http, request, resource.c_str(), file);
  int status = 1;
  if (cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE) {
    print_answer(action, response);
    status = 0;
  } else {
    fprintf(stderr, "%s: %s\n", base_name, cupsLastErrorString());
  }
  ippDelete(response);
  httpClose(http);
  return status;
}
