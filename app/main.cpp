/*
 * main.cpp - ovik-printer-app: every Ovik printer model of the catalogue as
 * an IPP Everywhere printer, on PAPPL.
 *
 * PAPPL's main loop gives the usual sub-commands (server, add, delete,
 * printers, drivers, devices, submit, status, jobs, cancel, options,
 * shutdown) and server options (-o server-port=N, -o listen-hostname=NAME,
 * -o spool-directory=DIR, -o log-file=FILE, -o log-level=LEVEL); the driver
 * is in ovik_driver.cpp.
 */
#include "ovik_app.h"

/* Runs the sub-command the command line names. The web pages carry a
 * footer: PAPPL 1.3.1 looks a missing one up as text and fails on it. */
int main(int argc, char *argv[])
{
  int num_drivers = 0;
  pappl_pr_driver_t *drivers = ovik_app_drivers(&num_drivers);
  return papplMainloop(argc, argv, OVIK_VERSION, "ovik-printer-app " OVIK_VERSION, num_drivers, drivers,
                       ovik_app_autoadd_cb, ovik_app_driver_cb, nullptr, nullptr, nullptr, nullptr, nullptr);
}
