/*
 * main.cpp - ovik-printer-app: every Ovik printer model of the catalogue as
 * an IPP Everywhere printer, on PAPPL.
 *
 * PAPPL's main loop gives the usual sub-commands (server, add, delete,
 * printers, drivers, devices, submit, status, jobs, cancel, options,
 * shutdown, autoadd) and ours, tools (the printer tools, toolsipp.cpp), and
 * server options (-o server-port=N, -o listen-hostname=NAME,
 * -o server-options=LIST, -o spool-directory=DIR, -o log-file=FILE,
 * -o log-level=LEVEL, -o auth-service=NAME); the system it
 * runs is ours (system.cpp), the drivers are in driver.cpp and a job's way
 * to the printer in job.cpp.
 */
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ovik_app.h"

namespace {

/* One device found by the devices sub-command: its URI, with -o verbose
 * its description and IEEE 1284 ID. */
bool show_device(const char *info, const char *uri, const char *device_id, void *verbose)
{
  puts(uri);
  if (verbose && info)
    printf("    %s\n", info);
  if (verbose && device_id)
    printf("    %s\n", device_id);
  return false;
}

/* The devices sub-command, as PAPPL's, but without DNS-SD when the Avahi
 * daemon is not running (PAPPL 1.3.1's _papplMainloopShowDevices browses it
 * anyway and aborts on an assertion). */
int show_devices(const std::vector<std::string> &words)
{
  bool verbose = false;
  for (size_t i = 2; i + 1 < words.size(); i++)
    if (words[i] == "-o" && words[i + 1].rfind("verbose", 0) == 0)
      verbose = true;
  pappl_devtype_t kinds = PAPPL_DEVTYPE_ALL;
  if (!ovik_app_dnssd_available())
    kinds &= ~PAPPL_DEVTYPE_DNS_SD;
  papplDeviceList(kinds, show_device, verbose ? &verbose : nullptr, nullptr, nullptr);
  return 0;
}

} // namespace

int main(int argc, char *argv[])
{
  // PAPPL 1.3.1's main loop keeps "-n COPIES" as an option no request
  // carries (num-copies): it is handed on as the copies attribute.
  std::vector<std::string> words(argv, argv + argc);
  if (words.size() >= 2 && words[1] == "devices")
    return show_devices(words);
  for (size_t i = 1; i + 1 < words.size(); i++)
    if (words[i] == "-n") {
      words[i] = "-o";
      words[i + 1] = "copies=" + words[i + 1];
    }
  // "tools" takes words of its own (the action and its arguments), which
  // the main loop would take for files to print: they are handed to the
  // sub-command aside, the options left to the main loop.
  std::vector<std::string> tool_words;
  bool tools = false;
  for (size_t i = 1; i < words.size(); i++) {
    const std::string &w = words[i];
    if (w == "--") {
      i++;
    } else if (w.size() == 2 && w[0] == '-' && std::strchr("dhjmnotuv", w[1])) {
      i++; // an option and its value
    } else if (w[0] != '-' && tools) {
      tool_words.push_back(w);
      words.erase(words.begin() + static_cast<long>(i--));
    } else if (w[0] != '-') {
      tools = w == "tools";
      if (!tools)
        break; // another sub-command: its words are the main loop's
    }
  }
  std::vector<char *> args;
  for (std::string &w : words)
    args.push_back(w.data());
  args.push_back(nullptr);

  int num_drivers = 0;
  pappl_pr_driver_t *drivers = ovik_app_drivers(&num_drivers);
  return papplMainloop(static_cast<int>(words.size()), args.data(), OVIK_VERSION, "ovik-printer-app " OVIK_VERSION,
                       num_drivers, drivers, ovik_app_autoadd_cb, ovik_app_driver_cb, "tools", ovik_app_tools_command,
                       ovik_app_system_cb, nullptr, &tool_words);
}
