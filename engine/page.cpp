/*
 * page.cpp - page rendering: a page arrives whole or row by row into its
 * buffer, then every copy goes out as a page header packet and a bitmap
 * packet, less the blank rows at the bottom when paper saving is on, and on
 * continuous paper less the blank rows above its first dot and in its long
 * blank runs when the settings ask for it (the rows sent are then spans of
 * the buffer, joined in the packet).
 */
#include "page.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "packet.h"
#include "sequence.h"

namespace {

/* True when the first t bytes of row are all zero. */
bool blank_row(const uint8_t *row, uint64_t t)
{
  return t == 0 || (row[0] == 0 && std::memcmp(row, row + 1, t - 1) == 0);
}

/* Ends the page in progress; its buffer stays for the next page. */
void close_page(ovik_printer_dev *job)
{
  job->page_open = false;
}

} // namespace

/* Paper saving: the page ends at its lowest row with a dot in a whole byte. */
void DoSavePaper(const uint8_t *buffer, uint64_t *data_size, uint32_t width, uint64_t *row_count)
{
  if (*row_count == 0)
    return;
  uint64_t r = *data_size / *row_count;
  uint64_t t = std::min<uint64_t>(width / 8, r);
  uint64_t kept = *row_count;
  while (kept > 0 && blank_row(buffer + (kept - 1) * r, t))
    kept--;
  *data_size -= (*row_count - kept) * r;
  *row_count = kept;
}

/* Paper saving at the top and inside a page, with the blank-row test of the
 * bottom trim: the rows sent are spans of the page buffer, which stays as it
 * is. The blank rows above the first dot beyond top_rows are left out, and
 * every blank run between two dots longer than gap_rows keeps only its first
 * gap_rows rows. A negative top_rows keeps the top, a gap_rows of 0 or less
 * every run. The rows below the last dot end the last span: they are the
 * bottom trim's. */
void DoSavePaperTop(const uint8_t *buffer, uint64_t *data_size, uint32_t width, uint64_t *row_count, int64_t top_rows,
                    int64_t gap_rows, std::vector<row_span> &spans)
{
  uint64_t n = *row_count;
  spans.clear();
  if (n == 0) {
    spans.push_back({0, 0});
    return;
  }
  uint64_t r = *data_size / n;
  uint64_t t = std::min<uint64_t>(width / 8, r);
  auto blank = [&](uint64_t y) { return blank_row(buffer + y * r, t); };
  uint64_t first = 0;
  while (first < n && blank(first))
    first++;
  uint64_t block = top_rows >= 0 && first > static_cast<uint64_t>(top_rows) ? first - top_rows : 0;
  uint64_t left_out = std::min(block, n);
  if (gap_rows > 0 && first < n) {
    uint64_t last = n - 1;
    while (blank(last))
      last--;
    // Every blank run longer than the gap holds a row whose distance from a
    // row with dots before it is a multiple of gap + 1: only those rows are
    // tested, and around one found blank, its run.
    uint64_t step = static_cast<uint64_t>(gap_rows) + 1;
    for (uint64_t y = first + step; y < last; y += step) {
      if (!blank(y))
        continue;
      uint64_t from = y; // the run [from, to), between rows with dots
      while (blank(from - 1))
        from--;
      // Shorter than the gap when the row the gap ends at has dots.
      uint64_t cut = from + step - 1;
      if (cut >= last || !blank(cut)) {
        y = cut;
        continue;
      }
      uint64_t to = y + 1;
      while (blank(to))
        to++;
      if (to > cut) {
        spans.push_back({block, cut - block});
        left_out += to - cut;
        block = to;
      }
      y = to;
    }
  }
  block = std::min(block, n);
  spans.push_back({block, n - block});
  *row_count = n - left_out;
  *data_size = *row_count * r;
}

/* NumCopies 0 is the printer's default, as IPP clients write it: one copy. */
uint32_t ovik_page_copies(const ovik_page *page)
{
  return page->copies == 0 ? 1 : page->copies;
}

/* Checks the page and makes its zero-filled buffer. */
int ovik_page_start(ovik_printer_dev *job, const ovik_page *page)
{
  close_page(job);
  job->page = *page;
  job->page_rows = 0;
  // A page of several bits per dot would print as noise, and a huge one must
  // not take the print server's memory: both are refused before allocating.
  uint64_t data_size = static_cast<uint64_t>(page->height) * page->bytes_per_line;
  if (page->bits_per_pixel != 1)
    return job_failed(job, OVIK_JOB_ERR_PAGE_DEPTH, "page is not 1 bit per pixel");
  if (data_size > max_page_bytes)
    return job_failed(job, OVIK_JOB_ERR_PAGE_SIZE, "page too large");
  // One buffer serves page after page, as large as the largest so far: a new
  // one for every page would cost its page faults every time. Rows not given
  // are cleared when the page ends.
  if (data_size > job->page_capacity || !job->page_buf) {
    free(job->page_buf);
    job->page_capacity = 0;
    job->page_buf = static_cast<uint8_t *>(malloc(data_size ? data_size : 1));
    if (!job->page_buf)
      return job_failed(job, OVIK_JOB_ERR_PAGE_MEMORY, "not got enough memory");
    job->page_capacity = data_size;
  }
  job->page_open = true;
  return 0;
}

/* The page buffer, to be filled whole: every row counts as given. */
uint8_t *ovik_page_pixels(ovik_printer_dev *job)
{
  if (job->page_open)
    job->page_rows = job->page.height;
  return job->page_buf;
}

/* Copies count rows in after the rows already given. */
int ovik_page_add_rows(ovik_printer_dev *job, const void *rows, uint32_t count)
{
  if (!job->page_open)
    return 0;
  uint64_t room = job->page.height - job->page_rows;
  uint64_t n = std::min<uint64_t>(count, room);
  size_t line = job->page.bytes_per_line;
  if (n)
    std::memcpy(job->page_buf + job->page_rows * line, rows, n * line);
  job->page_rows += n;
  return 0;
}

/* Sends every copy of the page: page start, trim, header and bitmap packets,
 * page end. A page once begun goes out with all its copies unless the job
 * takes cancel requests between copies. */
int ovik_page_end(ovik_printer_dev *job)
{
  if (!job->page_open)
    return 0;
  const dev_mode &s = job->settings;
  const ovik_page &page = job->page;
  uint64_t rows = page.height;
  uint64_t data_size = rows * page.bytes_per_line;
  // The rows the front end did not give are blank.
  std::memset(job->page_buf + job->page_rows * page.bytes_per_line, 0,
              data_size - job->page_rows * page.bytes_per_line);
  // The blank bottom, then the top and the long blank runs, once for all
  // copies; the top and the runs only on continuous paper, where no label
  // or mark fixes where the content lies.
  if (s.papersavebottom != 0)
    DoSavePaper(job->page_buf, &data_size, page.width, &rows);
  std::vector<row_span> &spans = job->page_spans;
  try {
    spans.assign(1, {0, rows});
    if (s.papertype == 0 && (s.papersavetop >= 0 || s.papersavegap > 0)) {
      int64_t top_rows = s.papersavetop >= 0 ? mm_to_dots(s.papersavetop, s.dot_unit) : -1;
      int64_t gap_rows = s.papersavegap > 0 ? mm_to_dots(s.papersavegap, s.dot_unit) : 0;
      DoSavePaperTop(job->page_buf, &data_size, page.width, &rows, top_rows, gap_rows, spans);
      job_trace(job, "\tDoSavePaperTop: %llu of %u rows kept in %zu pieces, from row %llu.\n",
                static_cast<unsigned long long>(rows), page.height, spans.size(),
                static_cast<unsigned long long>(spans[0].from));
    }
    job->packet_parts.reserve(spans.size() + 1);
  } catch (const std::bad_alloc &) {
    close_page(job);
    return job_failed(job, OVIK_JOB_ERR_PAGE_MEMORY, "not got enough memory");
  }
  uint32_t copies = ovik_page_copies(&page);
  for (uint32_t copy = 0; copy < copies; copy++) {
    if (job->io.cancel_between_copies && ovik_job_cancelled(job))
      break;
    start_page(job);
    send_page_header_packet(job, page.bytes_per_line, rows, page_flags(s));
    printbitmap_spans(job, job->page_buf, page.bytes_per_line, spans.data(), spans.size());
    end_page(job);
    if (job->out.error)
      break;
    if (job->io.copy_sent) {
      flush_output(job->out);
      if (job->out.error || job->io.copy_sent(job->io.sink_context) != 0)
        break;
    }
  }
  close_page(job);
  flush_output(job->out);
  return stream_result(job);
}
