/*
 * web.cpp - the web pages of our own beside PAPPL's.
 *
 * Add Printer: PAPPL 1.3.1's page lists devices with papplDeviceList over
 * every device kind, DNS-SD among them, and with the Avahi daemon not
 * running its DNS-SD browser aborts the server (avahi_service_browser_new
 * asserts a client it never got). This page takes its place: it lists the
 * printers on USB and the network printers DNS-SD finds (only while the
 * Avahi daemon runs), takes a network printer by its address, and a driver
 * by name or from the printer's IEEE 1284 ID.
 *
 * The header of every page shows our icon and the application's name; the
 * words of all pages are in words.cpp, the printer's Printing Defaults and
 * Media pages in pages.cpp.
 */
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "ovik_app.h"

/* True when the Avahi daemon takes connections on its socket. */
bool ovik_app_dnssd_available()
{
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  snprintf(a.sun_path, sizeof a.sun_path, "/run/avahi-daemon/socket");
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

namespace {

struct device_list {
  pappl_client_t *client;
  std::string selected;
};

/* One device found: an option of the device list. */
bool list_device(const char *info, const char *uri, const char *device_id, void *data)
{
  auto &d = *static_cast<device_list *>(data);
  std::string value = std::string(uri) + "|" + (device_id ? device_id : "");
  papplClientHTMLPrintf(d.client, "<option value=\"");
  papplClientHTMLEscape(d.client, value.c_str(), 0);
  papplClientHTMLPrintf(d.client, "\"%s>", d.selected == uri ? " selected" : "");
  papplClientHTMLEscape(d.client, info ? info : uri, 0);
  papplClientHTMLPuts(d.client, "</option>");
  return false;
}

/* The device URI of a network printer's address ("host" or "host:port"), or
 * empty with why filled. */
std::string socket_uri(const std::string &address, std::string &why)
{
  std::string host = address;
  int port = 9100;
  size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos &&
      host.find(':') == colon) { // "host:port"; an IPv6 address has more colons
    char *end = nullptr;
    errno = 0;
    long p = strtol(host.c_str() + colon + 1, &end, 10);
    if (errno || *end || p <= 0 || p > 65535) {
      why = "Bad port number.";
      return "";
    }
    port = static_cast<int>(p);
    host.resize(colon);
  }
  http_addrlist_t *list = host.empty() ? nullptr : httpAddrGetList(host.c_str(), AF_UNSPEC, "9100");
  if (!list) {
    why = "Unable to look up that address.";
    return "";
  }
  httpAddrFreeList(list);
  char uri[1024];
  httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "socket", nullptr, host.c_str(), port, "/");
  return uri;
}

/* The Add Printer page: a form, and the printer made from it. */
bool add_printer_page(pappl_client_t *client, void *data)
{
  auto *system = static_cast<pappl_system_t *>(data);
  if (!papplClientHTMLAuthorize(client))
    return true;
  std::string status, name, driver = "auto", device, address;
  if (papplClientGetMethod(client) == HTTP_STATE_POST) {
    cups_option_t *form = nullptr;
    int n = papplClientGetForm(client, &form);
    if (n == 0) {
      status = "Invalid form data.";
    } else if (!papplClientIsValidForm(client, n, form)) {
      status = "Invalid form submission.";
    } else {
      auto field = [&](const char *key) {
        const char *v = cupsGetOption(key, n, form);
        return std::string(v ? v : "");
      };
      name = field("printer_name");
      driver = field("driver_name");
      device = field("device_uri");
      address = field("hostname");
      std::string device_id;
      if (size_t bar = device.find('|'); bar != std::string::npos) {
        device_id = device.substr(bar + 1);
        device.resize(bar);
      }
      if (device == "socket")
        device = socket_uri(address, status);
      if (status.empty() && name.empty())
        status = "Please enter a printer name.";
      else if (status.empty() && device.empty())
        status = "Please select a device.";
      else if (status.empty() && driver.empty())
        status = "Please select a driver.";
      if (status.empty()) {
        if (pappl_printer_t *printer =
                papplPrinterCreate(system, 0, name.c_str(), driver.c_str(),
                                   device_id.empty() ? nullptr : device_id.c_str(), device.c_str())) {
          char path[256];
          papplPrinterGetPath(printer, nullptr, path, sizeof path);
          cupsFreeOptions(n, form);
          return papplClientRespondRedirect(client, HTTP_STATUS_FOUND, path);
        }
        status = errno == EEXIST ? "A printer with that name already exists."
                 : errno == EIO  ? "Unable to use that driver."
                 : errno == EINVAL
                     ? "Printer names must start with a letter or underscore and cannot contain special characters."
                     : strerror(errno);
      }
    }
    cupsFreeOptions(n, form);
  }

  if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0))
    return false;
  papplClientHTMLHeader(client, papplClientGetLocString(client, "Add Printer"), 0);
  papplClientHTMLPuts(client,
                      "    <div class=\"content\">\n      <div class=\"row\">\n        <div class=\"col-12\">\n");
  papplClientHTMLPrintf(client, "          <h1 class=\"title\">%s</h1>\n",
                        papplClientGetLocString(client, "Add Printer"));
  if (!status.empty())
    papplClientHTMLPrintf(client, "          <div class=\"banner\">%s</div>\n",
                          papplClientGetLocString(client, status.c_str()));
  papplClientHTMLStartForm(client, papplClientGetURI(client), false);
  papplClientHTMLPrintf(client,
                        "          <table class=\"form\">\n            <tbody>\n"
                        "              <tr><th><label for=\"printer_name\">%s:</label></th><td><input type=\"text\" "
                        "name=\"printer_name\" id=\"printer_name\" required value=\"",
                        papplClientGetLocString(client, "Name"));
  papplClientHTMLEscape(client, name.c_str(), 0);
  papplClientHTMLPrintf(client,
                        "\"></td></tr>\n              <tr><th><label for=\"device_uri\">%s:</label></th><td><select "
                        "name=\"device_uri\" id=\"device_uri\"><option value=\"\">%s</option>",
                        papplClientGetLocString(client, "Device"), papplClientGetLocString(client, "Select Device"));
  device_list found{client, device};
  pappl_devtype_t kinds = PAPPL_DEVTYPE_LOCAL;
  if (ovik_app_dnssd_available())
    kinds |= PAPPL_DEVTYPE_DNS_SD;
  papplDeviceList(kinds, list_device, &found, papplLogDevice, system);
  papplClientHTMLPrintf(client,
                        "<option value=\"socket\"%s>%s</option></select></td></tr>\n"
                        "              <tr><th><label for=\"hostname\">%s:</label></th><td><input type=\"text\" "
                        "name=\"hostname\" id=\"hostname\" placeholder=\"192.0.2.10:9100\" value=\"",
                        device == "socket" ? " selected" : "", papplClientGetLocString(client, "Network Printer"),
                        papplClientGetLocString(client, "Hostname/IP Address"));
  papplClientHTMLEscape(client, address.c_str(), 0);
  papplClientHTMLPrintf(client,
                        "\"></td></tr>\n              <tr><th><label for=\"driver_name\">%s:</label></th><td><select "
                        "name=\"driver_name\" id=\"driver_name\"><option value=\"auto\">%s</option>",
                        papplClientGetLocString(client, "Driver Name"),
                        papplClientGetLocString(client, "Auto-Detect Driver"));
  int count = 0;
  pappl_pr_driver_t *drivers = ovik_app_drivers(&count);
  for (int i = 0; i < count; i++)
    papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", drivers[i].name,
                          driver == drivers[i].name ? " selected" : "", drivers[i].description);
  papplClientHTMLPrintf(client,
                        "</select></td></tr>\n              <tr><th></th><td><input type=\"submit\" "
                        "value=\"%s\"></td></tr>\n            </tbody>\n          </table>\n        </form>\n"
                        "        </div>\n      </div>\n    </div>\n",
                        papplClientGetLocString(client, "Add Printer"));
  papplClientHTMLFooter(client);
  return true;
}

} // namespace

/* Our pages, words and icon, added before PAPPL adds its own at the start
 * (PAPPL keeps the first resource of a path), and the application's name
 * beside the icon in every page's header. */
void ovik_app_add_pages(pappl_system_t *system)
{
  papplSystemAddResourceCallback(system, "/addprinter", "text/html", add_printer_page, system);
  ovik_app_add_words(system);
  papplSystemAddResourceData(system, "/favicon.png", "image/png", ovik_app_icon(1).data(), ovik_app_icon(1).size());
  papplSystemAddResourceData(system, "/navicon.png", "image/png", ovik_app_icon(0).data(), ovik_app_icon(0).size());
  papplSystemAddLink(system, "Ovik Printer Application", "/", PAPPL_LOPTIONS_NAVIGATION);
}
