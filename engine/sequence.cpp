/*
 * sequence.cpp - document and page sequencing: the document packets and the
 * actions asked for at document start, the feed and cut at document end,
 * the per-copy step that cuts after every page when asked to, and the start
 * and end of a whole job around them.
 */
#include "sequence.h"

#include "packet.h"
#include "print.h"

/* Millimetres over millimetres-per-dot, in single precision, truncated. */
int mm_to_dots(int32_t millimetres, float dot_unit)
{
  return trunc_to_int(static_cast<float>(millimetres) / dot_unit);
}

namespace {

constexpr int at_start = 1;
constexpr int at_end = 2;

/* The actions that the settings place at document start (1) or end (2). */
void run_actions(ovik_printer_dev *job, int when)
{
  const dev_mode &s = job->settings;
  if (s.beepcontrol == when)
    print_beep(job);
  if (s.externalbeepcontrol == when)
    print_external_beep(job);
  if (s.drawer1 == when)
    print_open_drawer(job, 0);
  if (s.drawer2 == when)
    print_open_drawer(job, 1);
  if (s.printlogo == when) {
    printer_set_align(job);
    print_logo(job);
  }
}

} // namespace

/* Opens the job on the printer: document packets, then the start actions. */
int start_doc(ovik_printer_dev *job)
{
  const dev_mode &s = job->settings;
  job_trace(job, "+start_doc start.\n");
  if (s.density != -1)
    send_density_packet(job, s.density);
  send_paper_type_packet(job, s.papertype);
  send_doc_start_packet(job);
  flush_output(job->out);
  job->job_state.lastStripBlanksHeight = 0;

  if (s.speed != -1)
    printer_set_speed(job);
  if (s.linespacing != -1)
    printer_set_linespacing(job);
  run_actions(job, at_start);
  flush_output(job->out);
  job_trace(job, "-start_doc finished.\n");
  return 0;
}

/* Closes a job that ran to its end: end actions, then the final feed or cut. */
int end_doc(ovik_printer_dev *job)
{
  const dev_mode &s = job->settings;
  job_trace(job, "+end_doc start.\n");
  if (s.fwdfeed != 0) {
    job_trace(job, "\tfwdfeed:%d.\n", s.fwdfeed);
    if (s.fwdfeed != -1)
      print_blank(job, s.fwdfeed);
  }
  job_trace(job, "\tticketmode:%d.\n", s.ticketmode ? 1 : 0);
  if (!s.ticketmode)
    job_trace(job, "\tticketmode:False.\n");

  run_actions(job, at_end);

  if (s.postprintaction == 1) {
    int feed_dots = mm_to_dots(s.feeddistance, s.dot_unit);
    print_blank(job, feed_dots);
    job_trace(job, "*end_doc feed_dots = %d, feeddistance = %d, dot_unit = %f.\n", feed_dots, s.feeddistance,
              static_cast<double>(s.dot_unit));
  } else if (s.postprintaction == 2) {
    int cut_dots = mm_to_dots(s.cutdistance, s.dot_unit);
    print_blank(job, cut_dots);
    print_cut_page(job);
    job_trace(job, "*end_doc cut_dots = %d, cutdistance = %d, dot_unit = %f.\n", cut_dots, s.cutdistance,
              static_cast<double>(s.dot_unit));
  }
  flush_output(job->out);
  job_trace(job, "-end_doc finished.\n");
  return 0;
}

/* Before a page copy: the blank strip owed is forgotten. */
void start_page(ovik_printer_dev *job)
{
  job_trace(job, "+start_page start.\n");
  job->job_state.lastStripBlanksHeight = 0;
  job_trace(job, "-start_page finished.\n");
}

/* After a page copy: with post-print action 3, a feed and a cut. */
void end_page(ovik_printer_dev *job)
{
  const dev_mode &s = job->settings;
  job_trace(job, "+end_page start.\n");
  if (!s.pagemode && s.ticketmode)
    job->job_state.lastStripBlanksHeight = 0;
  if (s.postprintaction == 3) {
    print_blank(job, mm_to_dots(s.cutdistance, s.dot_unit));
    print_cut_page(job);
  }
  job_trace(job, "-end_page finished.\n");
}

/* The document start of a job, once, before its first page. */
int ovik_job_begin(ovik_printer_dev *job)
{
  flush_output(job->out);
  start_doc(job);
  job_trace(job, "\tstart_doc.\n");
  return stream_result(job);
}

/* The end of a job: the document end sequence unless it was cancelled. */
int ovik_job_end(ovik_printer_dev *job)
{
  if (ovik_job_cancelled(job)) {
    msg(job, MSG_DEBUG, "Print job was cancelled");
  } else {
    uint32_t owed = job->job_state.lastStripBlanksHeight;
    bool pagemode = job->settings.pagemode;
    job_trace(job, "\tbefore end_doc,lastStripBlanksHeight:%d,pagemode:%s.\n", static_cast<int>(owed),
              pagemode ? "YES" : "NO");
    if (owed != 0 && pagemode) {
      job_trace(job, "print lastStripBlanksHeight:%d.\n", static_cast<int>(owed));
      print_blank(job, static_cast<int>(owed));
    }
    job_trace(job, "end_docing.\n");
    end_doc(job);
  }
  job_trace(job, "Closing.\n");
  flush_output(job->out);
  return stream_result(job);
}
