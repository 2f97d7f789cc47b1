/*
 * commandtoovik.cpp - CUPS command filter for Ovik printers: runs the
 * printer commands of a CUPS command file (application/vnd.cups-command).
 *
 * Usage: commandtoovik job-id user title copies options [file]
 *
 * A command file is "#CUPS-COMMAND" on its first line, then one command a
 * line (names in any case; "#" starts a comment). The commands, as the PPDs
 * list them in *cupsCommands:
 *
 *   OpenDrawer1, OpenDrawer2   the drawer's pulse, and nothing else
 *   Beep                       the beeper, with the queue's beeper settings
 *   PrintSelfTestPage          the printer's own self-test page
 *   ReportLevels               the printer's condition as STATE: lines and
 *                              the paper roll as the marker attributes
 *
 * The queue's PPD gives the printer model and settings, as to the raster
 * filter. The printer is asked only by ReportLevels, and only where the
 * backend has a back channel. An unknown command is reported and left out;
 * the others still run, and the filter then ends with status 1.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "ovik_engine.h"
#include "ovik_status.h"
#include "ovik_tools.h"
#include "ovik_trace.h"
#include "ppd_options.h"
#include "spooler.h"
#include "status.h"

namespace {

/* What a command works with. */
struct command_context {
  const dev_mode *settings;
  ovik_printer_dev *job;
  const ovik_job_io *io;
  ovik_status_port port; /* the printer stream; nothing is read through it */
};

/* Reports an operation's message: INFO on success, else ERROR. 0 or 1. */
int reported(const command_context &c, int code, const char *message)
{
  if (code == 0) {
    ovik_message(c.io, MSG_INFO, message);
    return 0;
  }
  fprintf(stderr, "ERROR: %s\n", message);
  return 1;
}

int open_drawer(const command_context &c, int drawer)
{
  char message[256];
  return reported(c, ovik_tools_open_drawer(c.settings, &c.port, drawer, message, sizeof message), message);
}

int open_drawer_1(const command_context &c)
{
  return open_drawer(c, 1);
}

int open_drawer_2(const command_context &c)
{
  return open_drawer(c, 2);
}

int beep(const command_context &c)
{
  char message[256];
  return reported(c, ovik_tools_beep(c.settings, &c.port, message, sizeof message), message);
}

int self_test(const command_context &c)
{
  char message[256];
  return reported(c, ovik_tools_self_test(c.settings, &c.port, message, sizeof message), message);
}

/* The paper roll as a supply: the sensors tell loaded, near its end or out,
 * not how much is left. Level -3 is "some left, amount unknown", 10 the low
 * level, 0 empty, -1 not known (no answer). */
int report_levels(const command_context &c)
{
  printer_status status;
  bool answered = status_report(status, c.job, c.io);
  int level = -1;
  const char *state = "unknown: the printer was not asked or did not answer";
  if (answered && (status.policy.held & OVIK_STATUS_MEDIA_EMPTY)) {
    level = 0;
    state = "out";
  } else if (answered && (status.policy.held & OVIK_STATUS_MEDIA_LOW)) {
    level = 10;
    state = "near its end";
  } else if (answered) {
    level = -3;
    state = "loaded";
  }
  fprintf(stderr,
          "ATTR: marker-colors=none\n"
          "ATTR: marker-names='\"Paper roll\"'\n"
          "ATTR: marker-types=other\n"
          "ATTR: marker-low-levels=10\n"
          "ATTR: marker-high-levels=100\n"
          "ATTR: marker-levels=%d\n"
          "ATTR: marker-message='Paper roll %s'\n",
          level, state);
  return 0;
}

/* The commands: the *cupsCommands of the PPDs. */
struct command_row {
  const char *name;
  int (*run)(const command_context &);
};
const command_row commands[] = {
    {"OpenDrawer1", open_drawer_1},   {"OpenDrawer2", open_drawer_2},  {"Beep", beep},
    {"PrintSelfTestPage", self_test}, {"ReportLevels", report_levels},
};

/* Runs one line of the command file: 0, or 1 for a command that failed or is unknown. */
int run_line(const command_context &c, char *line)
{
  char *name = line + strspn(line, " \t\r\n");
  if (*name == '\0' || *name == '#')
    return 0;
  name[strcspn(name, " \t\r\n")] = '\0';
  for (const command_row &row : commands)
    if (strcasecmp(row.name, name) == 0)
      return row.run(c);
  ovik_mask_controls(name, strlen(name));
  fprintf(stderr, "ERROR: Unknown printer command \"%.64s\"\n", name);
  return 1;
}

/* Reads the rest of a line longer than the buffer. */
void skip_rest(FILE *file, const char *line)
{
  if (strchr(line, '\n'))
    return;
  int ch;
  while ((ch = fgetc(file)) != EOF && ch != '\n') {
  }
}

} // namespace

int main(int argc, char *argv[])
{
  // Start-up: the trace, the settings of the queue, the printer stream.
  if (const char *trace = ovik_trace_path())
    ovik_trace_init(trace);
  setbuf(stderr, nullptr);
  ovik_job_io io = spooler_io(ovik_trace_handle);
  ovik_message(&io, MSG_DEBUG, "commandtoovik filter started");
  if (argc < 6 || argc > 7)
    fatal_error("commandtoovik job-id user title copies options [file]");
  dev_mode settings;
  filter_settings own;
  init_dev_mode(&settings);
  get_options(&settings, &own, argv[5], &io);
  ovik_printer_dev *job = nullptr;
  if (ovik_printer_dev_creator(&settings, &io, &job) != 0)
    fatal_error(ovik_job_error(job));
  FILE *file = argc == 7 ? fopen(argv[6], "r") : stdin;
  if (!file)
    fatal_error("Unable to open command file");

  // The commands, line by line.
  command_context context = {ovik_job_settings(job), job, &io, job_stream_port(job)};
  char line[1024];
  int status = 0;
  if (!fgets(line, sizeof line, file) || strncmp(line, "#CUPS-COMMAND", 13) != 0) {
    fputs("ERROR: Bad command file: it does not begin with #CUPS-COMMAND\n", stderr);
    status = 1;
  } else {
    skip_rest(file, line);
    while (fgets(line, sizeof line, file)) {
      skip_rest(file, line);
      status |= run_line(context, line);
    }
  }

  // Clean-up.
  if (file != stdin)
    fclose(file);
  ovik_printer_dev_destroy(job);
  ovik_message(&io, MSG_DEBUG, "commandtoovik filter finished");
  ovik_trace_exit();
  return status;
}
