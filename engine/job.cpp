/*
 * job.cpp - the job object: made from its settings and io, with its
 * buffers; its cancel request; why it ended.
 */
#include <cstdlib>
#include <new>

#include "job.h"

/* Makes a job: settings and io copied, settings dumped, buffers sized. */
int ovik_printer_dev_creator(const dev_mode *settings, const ovik_job_io *io, ovik_printer_dev **out)
{
  *out = nullptr;
  auto *job = new (std::nothrow) ovik_printer_dev{};
  if (!job)
    return OVIK_JOB_ERR_DEVICE;
  *out = job;
  job->settings = *settings;
  job->io = *io;
  job->out.io = &job->io;

  dump_options(&job->settings, &job->io);
  job_trace(job, "-dump options finished.\n");

  int32_t render_size = 0, data_size = 0;
  int code = device_buffer_sizes(job->settings, &render_size, &data_size);
  if (code == 0) {
    job->render_buf = static_cast<uint8_t *>(calloc(1, render_size ? render_size : 1));
    if (!job->render_buf)
      code = OVIK_JOB_ERR_RENDER_BUFFER;
  }
  if (code == 0) {
    job->data_buf = static_cast<uint8_t *>(calloc(1, data_size));
    if (!job->data_buf)
      code = OVIK_JOB_ERR_DATA_BUFFER;
  }
  if (code == OVIK_JOB_ERR_RENDER_BUFFER)
    return job_failed(job, code, "Cannot allocate rending data buffer");
  if (code == OVIK_JOB_ERR_DATA_BUFFER)
    return job_failed(job, code, "Cannot allocate data buffer");
  job->render_buf_size = render_size;
  job->data_buf_size = data_size;
  return 0;
}

/* Releases the job's buffers, the page in progress and the job. */
int ovik_printer_dev_destroy(ovik_printer_dev *job)
{
  if (!job)
    return 0;
  free(job->page_buf);
  free(job->data_buf);
  free(job->render_buf);
  delete job;
  return 0;
}

/* Why the job ended; a job that could not be made has no object. */
const char *ovik_job_error(const ovik_printer_dev *job)
{
  return job ? job->error : "Cannot allocate dev buffer";
}

/* The settings the job runs with. */
const dev_mode *ovik_job_settings(const ovik_printer_dev *job)
{
  return &job->settings;
}

/* Front-end bytes onto the printer stream, flushed. */
int ovik_job_send(ovik_printer_dev *job, const void *data, size_t length)
{
  write_bytes(job->out, data, static_cast<int>(length));
  flush_output(job->out);
  return stream_result(job);
}

/* A cancel request: one atomic store, safe in a signal handler. */
void ovik_job_cancel(ovik_printer_dev *job)
{
  job->cancel_request.store(1, std::memory_order_relaxed);
}

bool ovik_job_cancelled(const ovik_printer_dev *job)
{
  return job->cancel_request.load(std::memory_order_relaxed) != 0;
}
