/*
 * fuzz_settings.cpp - job settings from arbitrary option strings and from
 * arbitrary PPD text, then the document and page sequences they drive.
 *
 * Input: the options string, up to the first zero byte; after it, the PPD
 * text. Without a zero byte the PPD is a fixed one for a known model, with
 * every keyword defaulted and custom page sizes allowed, so mutations of the
 * options meet real choices. Whatever creation accepts runs start_doc, one
 * page end and end_doc into memory: the printer stream must be whole records.
 */
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "fuzz_support.h"
#include "job.h"
#include "ovik_printer_model.h"
#include "ppd_options.h"
#include "sequence.h"

namespace {

int ppd_fd = -1;

/* The PPD of a known receipt model, every keyword with a default. */
std::string fixed_ppd()
{
  std::string model = ovik_printer_model_brief_find_by_id(0x1001)->name;
  std::string t = "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
                  "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"FUZZ.PPD\"\n"
                  "*Manufacturer: \"Ovik\"\n*Product: \"(Fuzz)\"\n*ModelName: \"Fuzz\"\n"
                  "*ShortNickName: \"" +
                  model + "\"\n*NickName: \"Fuzz " + model +
                  "\"\n"
                  "*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n*ColorDevice: False\n"
                  "*DefaultColorSpace: Gray\n*FileSystem: False\n*Throughput: \"1\"\n"
                  "*OpenUI *PageSize: PickOne\n*DefaultPageSize: 80x210mm\n"
                  "*PageSize 80x210mm: \"<</PageSize[204 595]>>setpagedevice\"\n"
                  "*PageSize 58x210mm: \"<</PageSize[136 595]>>setpagedevice\"\n*CloseUI: *PageSize\n"
                  "*DefaultImageableArea: 80x210mm\n"
                  "*ImageableArea 80x210mm: \"0 0 204 595\"\n*ImageableArea 58x210mm: \"0 0 136 595\"\n"
                  "*DefaultPaperDimension: 80x210mm\n"
                  "*PaperDimension 80x210mm: \"204 595\"\n*PaperDimension 58x210mm: \"136 595\"\n"
                  "*VariablePaperSize: True\n*MaxMediaWidth: \"1000\"\n*MaxMediaHeight: \"100000\"\n"
                  "*HWMargins: 0 0 0 0\n"
                  "*CustomPageSize True: \"pop pop pop <</PageSize[5 -2 roll]>>setpagedevice\"\n"
                  "*ParamCustomPageSize Width: 1 points 1 1000\n*ParamCustomPageSize Height: 2 points 1 100000\n"
                  "*ParamCustomPageSize WidthOffset: 3 points 0 0\n*ParamCustomPageSize HeightOffset: 4 points 0 0\n"
                  "*ParamCustomPageSize Orientation: 5 int 0 0\n"
                  "*OpenUI *Resolution: PickOne\n*DefaultResolution: 203dpi\n*Resolution 203dpi: \"\"\n"
                  "*CloseUI: *Resolution\n";
  const char *defaults[][2] = {
      {"PaperType", "0"},
      {"PrintLogo", "0"},
      {"LogoIndex", "0"},
      {"LogoAlign", "0"},
      {"BeepControl", "0"},
      {"BeepDuration", "0"},
      {"BeepInterval", "0"},
      {"BeepRepeat", "1"},
      {"ExternalBeepControl", "0"},
      {"ExternalBeepDuration", "0"},
      {"ExternalBeepInterval", "0"},
      {"ExternalBeepRepeat", "1"},
      {"Drawer1", "0"},
      {"Drawer2", "0"},
      {"BitmapCompression", "0"},
      {"PaperSaveMode", "0"},
      {"PaperSaveBottom", "1"},
      {"PostPrintAction", "2"},
      {"FormfeedLength", "0"},
      {"CutMode", "0"},
      {"CutPaperLength", "-1"},
      {"PrintDensity", "None"},
  };
  for (const auto &[keyword, value] : defaults)
    t += std::string("*OpenUI *") + keyword + ": PickOne\n*Default" + keyword + ": " + value + "\n*" + keyword + " " +
         value + ": \"\"\n*CloseUI: *" + keyword + "\n";
  return t;
}

/* Makes the in-memory PPD file hold text. */
void set_ppd(const char *text, size_t length)
{
  if (ftruncate(ppd_fd, 0) != 0 || pwrite(ppd_fd, text, length, 0) != static_cast<ssize_t>(length))
    fuzz_fail("cannot write the PPD");
}

} // namespace

/* libcups keeps only the last of a repeated main keyword (Manufacturer,
 * PCFileName, ...) and loses the earlier copies: its leak, not ours. */
extern "C" const char *__lsan_default_suppressions()
{
  return "leak:_ppdOpen\n";
}

/* Once per process: quiet status lines (and what the harness sets up). */
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  quiet_status_lines();
  ppd_fd = memfd_create("fuzz.ppd", 0);
  if (ppd_fd < 0)
    fuzz_fail("memfd_create");
  setenv("PPD", ("/proc/self/fd/" + std::to_string(ppd_fd)).c_str(), 1);
  return 0;
}

/* One input. */
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static const std::string default_ppd = fixed_ppd();
  const char *text = reinterpret_cast<const char *>(data);
  const uint8_t *zero = static_cast<const uint8_t *>(std::memchr(data, 0, size));
  std::string options(text, zero ? size_t(zero - data) : size);
  if (zero)
    set_ppd(text + (zero - data) + 1, size - (zero - data) - 1);
  else
    set_ppd(default_ppd.data(), default_ppd.size());

  // The front end reads the settings (and ends the job on a bad PPD); what
  // it accepts makes a job, which creation may still refuse.
  dev_mode settings;
  init_dev_mode(&settings);
  filter_settings own;
  ovik_job_io quiet{};
  if (run_filter_code([&] { get_options(&settings, &own, options.c_str(), &quiet); }) >= 0)
    return 0;
  memory_job m(settings);
  if (m.created != 0)
    return 0;
  start_doc(m.job);
  start_page(m.job);
  end_page(m.job);
  end_doc(m.job);
  check_printer_stream(m.bytes());
  return 0;
}
