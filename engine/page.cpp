/*
 * page.cpp - page rendering: a page arrives whole or row by row into its
 * buffer, then every copy goes out as a page header packet and a bitmap
 * packet, less the blank rows at the bottom when paper saving is on.
 */
#include "page.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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
  uint32_t copies = ovik_page_copies(&page);
  for (uint32_t copy = 0; copy < copies; copy++) {
    if (job->io.cancel_between_copies && ovik_job_cancelled(job))
      break;
    start_page(job);
    if (s.papersavebottom != 0)
      DoSavePaper(job->page_buf, &data_size, page.width, &rows);
    send_page_header_packet(job, page.bytes_per_line, rows, page_flags(s));
    printbitmap(job, job->page_buf, page.bytes_per_line, rows);
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
