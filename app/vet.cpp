/*
 * vet.cpp - requests checked before PAPPL acts on them.
 *
 * PAPPL 1.3.1 takes any value of a vendor attribute and of several standard
 * ones (valid_job_attributes in printer-ipp.c checks neither those nor
 * finishings; _papplPrinterSetAttributes and papplPrinterSetDriverDefaults
 * store any default), and it accepts any document format
 * (_papplJobValidateDocumentAttributes looks for document-format-supported
 * where PAPPL keeps none), then aborts the job. It also prints PWG and Apple
 * raster while it arrives, which refuses every second job to a busy printer
 * with server-error-busy and, on that refusal, takes the printer's and then
 * the system's lock, the opposite order of papplSystemSaveState: a deadlock
 * under load.
 *
 * PAPPL offers no hook between reading a request and acting on it for these
 * operations, so the application sees each request as libcups reads it: it
 * defines ippRead, which calls libcups's own and then looks at the request.
 * For Print-Job, Validate-Job, Create-Job, Send-Document and
 * Set-Printer-Attributes to one of our printers:
 *
 *   - every job template attribute (and every -default of a printer) whose
 *     -supported the printer offers must be one of its values: the vendor
 *     attributes have the job keyword table's choices and ranges;
 *   - the document format must be one we print (auto-typed from the data
 *     when the client says application/octet-stream or nothing);
 *   - PWG and Apple raster are renamed to formats of our own, so that PAPPL
 *     spools them like every other document and our filter prints them.
 *
 * A request that fails is turned into an operation of our own, which
 * PAPPL hands to the operation callback below; it answers with
 * client-error-attributes-or-values-not-supported (or
 * client-error-document-format-not-supported) and the attributes at fault
 * in the unsupported group. Nothing of such a request reaches a job.
 */
#include <cstring>
#include <dlfcn.h>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ovik_app.h"

namespace {

/* The operation a refused request becomes (in the vendor range). */
constexpr ipp_op_t refused_op = static_cast<ipp_op_t>(0x4F01);

/* What the refusal answers. */
struct refusal {
  ipp_status_t status;
  std::string message;
  std::vector<std::string> attributes; /* at fault, copied into the unsupported group */
};

std::mutex refusals_lock;
std::map<const ipp_t *, refusal> refusals;

pappl_system_t *vet_system = nullptr;

/* The formats we print; raster is spooled under a name of our own. */
constexpr printed_format printed_formats[] = {
    {"image/pwg-raster", document_kind::pwg_raster, spooled_pwg_format},
    {"image/urf", document_kind::apple_raster, spooled_urf_format},
    {"image/png", document_kind::png, nullptr},
    {"image/jpeg", document_kind::jpeg, nullptr},
    {native_format, document_kind::native, nullptr},
};

/* True when every value of attr is one that supported offers. */
bool values_offered(ipp_attribute_t *attr, ipp_attribute_t *supported)
{
  ipp_tag_t stag = ippGetValueTag(supported);
  int count = ippGetCount(attr);
  for (int i = 0; i < count; i++) {
    switch (ippGetValueTag(attr)) {
    case IPP_TAG_KEYWORD:
    case IPP_TAG_NAME:
    case IPP_TAG_NAMELANG:
      if ((stag == IPP_TAG_KEYWORD || stag == IPP_TAG_NAME) &&
          !ippContainsString(supported, ippGetString(attr, i, nullptr)))
        return false;
      break;
    case IPP_TAG_ENUM:
    case IPP_TAG_INTEGER:
      // A single integer is a count (print-darkness-supported), not a list of values.
      if ((stag == IPP_TAG_RANGE || stag == IPP_TAG_ENUM || (stag == IPP_TAG_INTEGER && ippGetCount(supported) > 1)) &&
          !ippContainsInteger(supported, ippGetInteger(attr, i)))
        return false;
      break;
    default:
      break;
    }
  }
  return true;
}

/* The members of media-col that the printer offers values for. */
constexpr const char *media_col_members[] = {"media-type", "media-source"};

/* Checks the attributes of a group against the printer's -supported
 * attributes; names what fails into r. suffix is "-default" for printer
 * defaults. */
void check_values(ipp_t *request, ipp_tag_t group, const char *suffix, ipp_t *offered, refusal &r)
{
  size_t suffix_length = std::strlen(suffix);
  for (ipp_attribute_t *attr = ippFirstAttribute(request); attr; attr = ippNextAttribute(request)) {
    const char *name = ippGetName(attr);
    if (!name || ippGetGroupTag(attr) != group)
      continue;
    std::string base = name;
    if (suffix_length) {
      if (base.size() <= suffix_length || base.compare(base.size() - suffix_length, suffix_length, suffix) != 0)
        continue;
      base.resize(base.size() - suffix_length);
    }
    bool ok = true;
    if (base == "media-col" && ippGetValueTag(attr) == IPP_TAG_BEGIN_COLLECTION) {
      ipp_t *col = ippGetCollection(attr, 0);
      for (const char *member : media_col_members) {
        ipp_attribute_t *value = ippFindAttribute(col, member, IPP_TAG_ZERO);
        ipp_attribute_t *supported =
            ippFindAttribute(offered, (std::string(member) + "-supported").c_str(), IPP_TAG_ZERO);
        if (value && supported && !values_offered(value, supported))
          ok = false;
      }
    } else if (ipp_attribute_t *supported = ippFindAttribute(offered, (base + "-supported").c_str(), IPP_TAG_ZERO)) {
      ok = values_offered(attr, supported);
    }
    if (!ok)
      r.attributes.push_back(name);
  }
}

/* Puts a document-format value into the operation group, after the
 * attributes there (libcups appends; a new attribute must not follow the
 * job group). */
void set_document_format(ipp_t *request, const char *format)
{
  if (ipp_attribute_t *attr = ippFindAttribute(request, "document-format", IPP_TAG_ZERO)) {
    ippSetString(request, &attr, 0, format);
    return;
  }
  ipp_t *copy = ippNew();
  ippCopyAttributes(copy, request, 0, nullptr, nullptr);
  while (ipp_attribute_t *attr = ippFirstAttribute(request))
    ippDeleteAttribute(request, attr);
  bool added = false;
  for (ipp_attribute_t *attr = ippFirstAttribute(copy); attr; attr = ippNextAttribute(copy)) {
    if (!added && ippGetGroupTag(attr) != IPP_TAG_OPERATION) {
      ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
      added = true;
    }
    ippCopyAttribute(request, attr, 0);
  }
  if (!added)
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
  ippDelete(copy);
}

/* The document format of a request that carries a document: the one named,
 * or for application/octet-stream (and none) the one its data begins
 * with. False (with r filled) when we do not print it. */
bool check_format(http_t *http, ipp_t *request, bool has_data, refusal &r)
{
  ipp_attribute_t *attr = ippFindAttribute(request, "document-format", IPP_TAG_MIMETYPE);
  const char *format = attr ? ippGetString(attr, 0, nullptr) : "application/octet-stream";
  if (format && std::strcmp(format, "application/octet-stream") == 0) {
    if (!has_data)
      return true;
    unsigned char header[8] = {};
    ssize_t n = httpPeek(http, reinterpret_cast<char *>(header), sizeof header);
    format = n > 0 ? ovik_app_format_of(header, static_cast<size_t>(n)) : nullptr;
    if (!format) {
      r.status = IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED;
      r.message = "The document is of a kind this printer does not print (PWG or Apple raster, PNG, JPEG)";
      return false;
    }
  } else if (!ovik_app_printed_format(format)) {
    r.status = IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED;
    r.message = std::string("This printer does not print ") + (format ? format : "that format") +
                " (it prints PWG and Apple raster, PNG and JPEG)";
    r.attributes.push_back("document-format");
    return false;
  }
  // Raster is spooled like the rest, under a name of our own.
  if (const char *spooled = ovik_app_printed_format(format)->spooled)
    format = spooled;
  if (!attr || std::strcmp(format, ippGetString(attr, 0, nullptr)) != 0)
    set_document_format(request, format);
  return true;
}

/* The printer a request names by its printer-uri, or NULL. */
pappl_printer_t *printer_of(ipp_t *request)
{
  ipp_attribute_t *uri = ippFindAttribute(request, "printer-uri", IPP_TAG_URI);
  char scheme[32], user[64], host[256], resource[256];
  int port = 0;
  if (!uri || httpSeparateURI(HTTP_URI_CODING_ALL, ippGetString(uri, 0, nullptr), scheme, sizeof scheme, user,
                              sizeof user, host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK)
    return nullptr;
  return papplSystemFindPrinter(vet_system, resource, 0, nullptr);
}

/* Looks at one request as it was read. */
void vet(http_t *http, ipp_t *request)
{
  ipp_op_t op = ippGetOperation(request);
  bool job_op = op == IPP_OP_PRINT_JOB || op == IPP_OP_VALIDATE_JOB || op == IPP_OP_CREATE_JOB;
  if (!job_op && op != IPP_OP_SEND_DOCUMENT && op != IPP_OP_SET_PRINTER_ATTRIBUTES)
    return;
  pappl_printer_t *printer = printer_of(request);
  if (!printer || !ovik_app_state(printer))
    return;
  refusal r{IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "", {}};
  ipp_t *offered = papplPrinterGetDriverAttributes(printer);
  if (op == IPP_OP_SET_PRINTER_ATTRIBUTES)
    check_values(request, IPP_TAG_PRINTER, "-default", offered, r);
  else if (job_op)
    check_values(request, IPP_TAG_JOB, "", offered, r);
  ippDelete(offered);
  if (r.attributes.empty() && op != IPP_OP_CREATE_JOB && op != IPP_OP_SET_PRINTER_ATTRIBUTES)
    check_format(http, request, op == IPP_OP_PRINT_JOB || op == IPP_OP_SEND_DOCUMENT, r);
  if (r.attributes.empty() && r.message.empty())
    return;
  if (r.message.empty()) {
    r.message = "Unsupported value of";
    for (size_t i = 0; i < r.attributes.size(); i++)
      r.message += (i ? ", " : " ") + r.attributes[i];
  }
  std::lock_guard<std::mutex> hold(refusals_lock);
  refusals[request] = r;
  ippSetOperation(request, refused_op);
}

} // namespace

const printed_format *ovik_app_printed_formats(size_t *count)
{
  *count = std::size(printed_formats);
  return printed_formats;
}

const printed_format *ovik_app_printed_format(const char *format)
{
  for (const printed_format &f : printed_formats)
    if (format && std::strcmp(f.format, format) == 0)
      return &f;
  return nullptr;
}

/* The format of a document's first bytes, or NULL when we do not print it. */
const char *ovik_app_format_of(const unsigned char *h, size_t n)
{
  if (n >= 4 && std::memcmp(h, "RaS2", 4) == 0)
    return "image/pwg-raster";
  if (n >= 7 && std::memcmp(h, "UNIRAST", 7) == 0)
    return "image/urf";
  if (n >= 8 && std::memcmp(h, "\x89PNG\r\n\x1a\n", 8) == 0)
    return "image/png";
  if (n >= 3 && std::memcmp(h, "\xff\xd8\xff", 3) == 0)
    return "image/jpeg";
  if (n >= 2 && h[0] == 0x1B && h[1] == 0x1A) // a packet: the printer's own stream
    return native_format;
  return nullptr;
}

/* libcups's ippRead, then a look at every request the server reads. */
extern "C" ipp_state_t ippRead(http_t *http, ipp_t *ipp)
{
  using read_fn = ipp_state_t (*)(http_t *, ipp_t *);
  static read_fn real = reinterpret_cast<read_fn>(dlsym(RTLD_NEXT, "ippRead"));
  ipp_state_t state = real(http, ipp);
  // The server reads requests in the POST state; our sub-commands read
  // responses, in a process without a system.
  http_state_t hs = http ? httpGetState(http) : HTTP_STATE_ERROR;
  if (state == IPP_STATE_DATA && vet_system && (hs == HTTP_STATE_POST_RECV || hs == HTTP_STATE_POST_SEND))
    vet(http, ipp);
  return state;
}

void ovik_app_vet_start(pappl_system_t *system)
{
  vet_system = system;
}

/* Answers a request that vetting refused, and the printer tools' operation. */
bool ovik_app_operation_cb(pappl_client_t *client, void *)
{
  if (ovik_app_tools_operation(client))
    return true;
  ipp_t *request = papplClientGetRequest(client);
  if (papplClientGetOperation(client) != refused_op)
    return false;
  refusal r;
  {
    std::lock_guard<std::mutex> hold(refusals_lock);
    auto found = refusals.find(request);
    if (found == refusals.end())
      return false;
    r = found->second;
    refusals.erase(found);
  }
  ipp_t *response = papplClientRespondIPP(client, r.status, "%s.", r.message.c_str());
  for (const std::string &name : r.attributes)
    if (ipp_attribute_t *attr = ippFindAttribute(request, name.c_str(), IPP_TAG_ZERO)) {
      ipp_attribute_t *copy = ippCopyAttribute(response, attr, 0);
      ippSetGroupTag(response, &copy, IPP_TAG_UNSUPPORTED_GROUP);
    }
  return true;
}
