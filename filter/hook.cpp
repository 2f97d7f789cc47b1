/*
 * hook.cpp - document and page sequencing: the document packets and the
 * actions asked for at document start, the feed and cut at document end,
 * and the per-copy step that cuts after every page when asked to.
 */
#include "hook.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "ovik_trace.h"
#include "print.h"
#include "rastertoovik.h"
#include "util.h"

/* Millimetres over millimetres-per-dot, in single precision, truncated. */
int mm_to_dots(int32_t millimetres, float dot_unit)
{
  return trunc_to_int(static_cast<float>(millimetres) / dot_unit);
}

namespace {

/* The actions that the settings place at document start (1) or end (2). */
void run_actions(ovik_printer_dev *device, int when)
{
  const dev_mode &s = *device->settings;
  if (s.beepcontrol == when)
    print_beep(device);
  if (s.externalbeepcontrol == when)
    print_external_beep(device);
  if (s.drawer1 == when)
    print_open_drawer(device, 0);
  if (s.drawer2 == when)
    print_open_drawer(device, 1);
  if (s.printlogo == when) {
    printer_set_align(device);
    print_logo(device);
  }
}

constexpr int at_start = 1;
constexpr int at_end = 2;

} // namespace

/* Opens the job on the printer: document packets, then the start actions. */
int start_doc(ovik_printer_dev *device)
{
  const dev_mode &s = *device->settings;
  ovik_trace("+start_doc start.\n");
  if (s.density != -1)
    send_density_packet(s.density);
  send_paper_type_packet(s.papertype);
  send_doc_start_packet();
  fflush(stdout);
  device->job_state->lastStripBlanksHeight = 0;

  if (s.speed != -1)
    printer_set_speed(device);
  if (s.linespacing != -1)
    printer_set_linespacing(device);
  run_actions(device, at_start);
  fflush(stdout);
  ovik_trace("-start_doc finished.\n");
  return 0;
}

/* Closes a job that ran to its end: end actions, then the final feed or cut. */
int end_doc(ovik_printer_dev *device)
{
  const dev_mode &s = *device->settings;
  ovik_trace("+end_doc start.\n");
  if (s.fwdfeed != 0) {
    ovik_trace("\tfwdfeed:%d.\n", s.fwdfeed);
    if (s.fwdfeed != -1)
      print_blank(device, s.fwdfeed);
  }
  ovik_trace("\tticketmode:%d.\n", s.ticketmode ? 1 : 0);
  if (!s.ticketmode)
    ovik_trace("\tticketmode:False.\n");

  run_actions(device, at_end);

  if (s.postprintaction == 1) {
    int feed_dots = mm_to_dots(s.feeddistance, s.dot_unit);
    print_blank(device, feed_dots);
    ovik_trace("*end_doc feed_dots = %d, feeddistance = %d, dot_unit = %f.\n", feed_dots, s.feeddistance,
               static_cast<double>(s.dot_unit));
  } else if (s.postprintaction == 2) {
    int cut_dots = mm_to_dots(s.cutdistance, s.dot_unit);
    print_blank(device, cut_dots);
    print_cut_page(device);
    ovik_trace("*end_doc cut_dots = %d, cutdistance = %d, dot_unit = %f.\n", cut_dots, s.cutdistance,
               static_cast<double>(s.dot_unit));
  }
  fflush(stdout);
  ovik_trace("-end_doc finished.\n");
  return 0;
}

/* Before a page copy: the blank strip owed is forgotten. */
void start_page(ovik_printer_dev *device)
{
  ovik_trace("+start_page start.\n");
  device->job_state->lastStripBlanksHeight = 0;
  ovik_trace("-start_page finished.\n");
}

/* After a page copy: with post-print action 3, a feed and a cut. */
void end_page(ovik_printer_dev *device)
{
  const dev_mode &s = *device->settings;
  ovik_trace("+end_page start.\n");
  if (!s.pagemode && s.ticketmode)
    device->job_state->lastStripBlanksHeight = 0;
  if (s.postprintaction == 3) {
    print_blank(device, mm_to_dots(s.cutdistance, s.dot_unit));
    print_cut_page(device);
  }
  ovik_trace("-end_page finished.\n");
}
