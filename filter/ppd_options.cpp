/*
 * ppd_options.cpp - the settings of a job from the PPD of its queue (model
 * by ShortNickName, default choices) and from its options: each job keyword
 * from the job option of that name, else from the PPD's marked choice.
 */
#include "ppd_options.h"

#include <cstdlib>
#include <string>
#include <cups/cups.h>
#include <cups/ppd.h>

#include "ovik_trace.h"
#include "spooler.h"

namespace {

struct option_sources {
  ppd_file_t *ppd;
  int num_options;
  cups_option_t *options;
};

/* The job option of that name, else the PPD's marked choice, else none. */
const char *lookup(const option_sources &src, const char *keyword)
{
  if (const char *value = cupsGetOption(keyword, src.num_options, src.options))
    return value;
  if (ppd_choice_t *choice = ppdFindMarkedChoice(src.ppd, keyword))
    return choice->choice;
  return nullptr;
}

/* The settings source over the PPD and the options. */
const char *keyword_value(void *context, const ovik_keyword *row, char *, size_t)
{
  return lookup(*static_cast<const option_sources *>(context), row->keyword);
}

/* A page size the PPD knows gives the right edge of its imageable area. */
double page_right(void *context, const char *name)
{
  ppd_size_t *size = ppdPageSize(static_cast<const option_sources *>(context)->ppd, name);
  return size ? size->right : -1;
}

} // namespace

/* Fills the settings from the model, then each keyword from the job's
 * options or the PPD's defaults. Every failure ends the job. */
void get_options(dev_mode *s, filter_settings *own, const char *options, const ovik_job_io *io)
{
  ovik_trace("+get_options() start.\n");

  const char *ppd_path = getenv("PPD");
  if (!ppd_path) {
    ovik_trace("\tPPD environment variable not set!\n");
    fatal_error("PPD environment variable not set");
  }
  ovik_trace("\tget_options PPD:%s.\n", ppd_path);

  option_sources src{};
  src.ppd = ppdOpenFile(ppd_path);
  if (!src.ppd) {
    ovik_trace("\tppdOpenFile failed!\n");
    fatal_error("ppdOpenFile failed");
  }
  ppdMarkDefaults(src.ppd);
  if (options)
    src.num_options = cupsParseOptions(options, 0, &src.options);

  const char *nick = src.ppd->shortnickname;
  ovik_trace("\tget_options modelname:%s.\n", nick ? nick : "(null)");
  const ovik_settings_source source = {keyword_value, page_right, &src};
  if (ovik_settings_build(s, nick, &source, io) != 0) {
    ovik_trace("-wrong ppd modelname!\n");
    fatal_error("wrong ppd modelname!");
  }

  // The filter's own: they change no setting of the job, and no line of the dump.
  if (const char *value = lookup(src, "StatusMonitor"))
    own->status_monitor = strtol(value, nullptr, 10) != 0;
  // StoreLogo is taken from the job alone: a queue default would silently
  // store every job of the queue instead of printing it.
  if (const char *value = cupsGetOption("StoreLogo", src.num_options, src.options))
    own->store_logo = value;

  if (options)
    cupsFreeOptions(src.num_options, src.options);
  ppdClose(src.ppd);
  if (options) {
    std::string shown = options;
    ovik_mask_controls(shown.data(), shown.size());
    ovik_message(io, MSG_DUMP, shown.c_str());
  }
  ovik_trace("-get options finished.\n");
}
