/*
 * main.cpp - ovik-printer-app: every Ovik printer model of the catalogue as
 * an IPP Everywhere printer, on PAPPL.
 *
 * PAPPL's main loop gives the usual sub-commands (server, add, delete,
 * printers, drivers, devices, submit, status, jobs, cancel, options,
 * shutdown, autoadd) and server options (-o server-port=N,
 * -o listen-hostname=NAME, -o server-options=LIST, -o spool-directory=DIR,
 * -o log-file=FILE, -o log-level=LEVEL, -o auth-service=NAME); the system it
 * runs is ours (system.cpp), the drivers are in driver.cpp and a job's way
 * to the printer in job.cpp.
 */
#include "ovik_app.h"

int main(int argc, char *argv[])
{
  int num_drivers = 0;
  pappl_pr_driver_t *drivers = ovik_app_drivers(&num_drivers);
  return papplMainloop(argc, argv, OVIK_VERSION, "ovik-printer-app " OVIK_VERSION, num_drivers, drivers,
                       ovik_app_autoadd_cb, ovik_app_driver_cb, nullptr, nullptr, ovik_app_system_cb, nullptr, nullptr);
}
