/*
 * paper.cpp - the paper a receipt takes: the sample receipt, a web till's
 * HTML receipt printed to PDF by headless Chromium at two page sizes and
 * once with a long blank gap inside, and a label job. Each document goes
 * through the CUPS filter chain (cupsfilter, with the queue's PPD) into
 * raster, then through rastertoovik with the top and gap trim off and on;
 * the paper fed is read from the printer stream by the decoder, the height
 * of what is printed from the raster itself.
 */
#include "paper.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include <cups/raster.h>

#include "decoder.h"
#include "sequence.h"

namespace bench {

namespace {

/* The trim as the benchmark sets it: the PPD's top margin and a 10 mm gap. */
constexpr int top_mm = 2, gap_mm = 10;
constexpr float dot_mm = 25.4f / stream_dpi;

/* The program of that name in $PATH or the system folders, or "". */
std::string find_program(const char *name)
{
  std::string path = getenv("PATH") ? getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/bin:/bin";
  for (size_t at = 0, end; at <= path.size(); at = end + 1) {
    end = path.find(':', at);
    if (end == std::string::npos)
      end = path.size();
    std::string candidate = path.substr(at, end - at) + "/" + name;
    if (end > at && access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return "";
}

/* What a raster's pages print, in dot rows. */
struct content_rows {
  uint64_t rows = 0;      /* first to last dotted row of each page, less the long runs */
  uint64_t long_runs = 0; /* blank runs between dots longer than the gap */
  bool read = false;
};

/* Reads a raster row by row: a row is blank when the whole bytes of its
 * width are zero, as the filter tests it. */
content_rows measure_content(const std::string &path, uint64_t gap_rows)
{
  content_rows c;
  int fd = open(path.c_str(), O_RDONLY);
  cups_raster_t *ras = fd < 0 ? nullptr : cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t h;
  std::vector<uint8_t> row;
  while (ras && cupsRasterReadHeader2(ras, &h)) {
    c.read = true;
    row.resize(h.cupsBytesPerLine);
    size_t tested = std::min<size_t>(h.cupsWidth / 8, row.size());
    uint64_t first = 0, last = 0, run = 0, removed = 0;
    bool any = false;
    for (uint32_t y = 0; y < h.cupsHeight; y++) {
      if (cupsRasterReadPixels(ras, row.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine)
        break;
      bool blank = std::all_of(row.begin(), row.begin() + static_cast<long>(tested), [](uint8_t b) { return !b; });
      if (blank) {
        run++;
        continue;
      }
      if (!any)
        first = y;
      else if (run > gap_rows) {
        c.long_runs++;
        removed += run;
      }
      any = true;
      last = y;
      run = 0;
    }
    if (any)
      c.rows += last - first + 1 - removed;
  }
  if (ras)
    cupsRasterClose(ras);
  if (fd >= 0)
    close(fd);
  return c;
}

/* The paper fed by a printer stream file, in millimetres. */
double paper_fed(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return rows_to_mm(decode_stream(bytes).summary.paper_rows);
}

struct document {
  const char *job;
  std::string source;  /* a file, or the HTML receipt's query string */
  bool html;           /* printed to PDF by Chromium first */
  const char *options; /* the filter's options beside the trim's */
  bool label;
};

} // namespace

std::vector<paper_figure> paper_figures(const std::string &work, const std::string &filter, const std::string &ppd,
                                        const runner &run, std::string *missing)
{
  const std::string chromium = find_program("chromium"), cupsfilter = find_program("cupsfilter");
  const std::string timeout = find_program("timeout");
  const std::string path = "PATH=" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
  const std::string sample = OVIK_SOURCE_DIR "/samples/receipt.ps";
  const document documents[] = {
      {"sample receipt (samples/receipt.ps)", sample, false, "", false},
      {"HTML receipt, Chromium PDF 80 x 200 mm", "size=80x200", true, "", false},
      {"HTML receipt, Chromium PDF A4", "size=A4", true, "", false},
      {"HTML receipt, 60 mm gap inside, PDF 80 x 200 mm", "size=80x200&gap=60", true, "", false},
      {"label job: the sample receipt, PaperType=1", sample, false, "PaperType=1", true},
  };
  std::vector<paper_figure> figures;
  int n = 0;
  for (const document &d : documents) {
    std::string base = work + "/paper-" + std::to_string(++n), input = d.source;
    if (d.html) {
      input = base + ".pdf";
      std::string profile = base + "-chromium";
      std::filesystem::remove_all(profile);
      std::filesystem::create_directories(profile);
      int status = chromium.empty() || timeout.empty()
                       ? -1
                       : run({timeout, "120", chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                              "--no-first-run", "--disable-background-networking", "--disable-component-update",
                              "--disable-sync", "--user-data-dir=" + profile, "--print-to-pdf=" + input,
                              "--no-pdf-header-footer", "file://" OVIK_SOURCE_DIR "/bench/receipt.html?" + d.source},
                             {path, "HOME=" + profile}, "/dev/null", "/dev/null");
      std::filesystem::remove_all(profile);
      if (status != 0 || access(input.c_str(), R_OK) != 0) {
        *missing += std::string(*missing == "" ? "" : "; ") + d.job + ": no PDF (chromium " +
                    (chromium.empty() ? "not found" : "failed") + ")";
        continue;
      }
    }
    std::string raster = base + ".ras";
    if (cupsfilter.empty() || run({cupsfilter, "-p", ppd, "-m", "application/vnd.cups-raster", input},
                                  {path, "HOME=" + work}, "/dev/null", raster) != 0) {
      *missing += std::string(*missing == "" ? "" : "; ") + d.job + ": no raster (cupsfilter)";
      continue;
    }
    content_rows content = measure_content(raster, static_cast<uint64_t>(mm_to_dots(gap_mm, dot_mm)));
    auto fed = [&](const std::string &trim) {
      std::string out = base + ".prn";
      run({filter, "1", "bench", "receipt", "1", trim + " " + d.options}, {"PPD=" + ppd, "OVIK_TRACE="}, raster, out);
      return paper_fed(out);
    };
    paper_figure f;
    f.job = d.job;
    f.label = d.label;
    f.content = rows_to_mm(content.rows);
    f.margins = top_mm + gap_mm * static_cast<double>(content.long_runs);
    f.off = fed("PaperSaveTop=-1 PaperSaveGap=0");
    f.on = fed("PaperSaveTop=" + std::to_string(top_mm) + " PaperSaveGap=" + std::to_string(gap_mm));
    figures.push_back(f);
  }
  return figures;
}

} // namespace bench
