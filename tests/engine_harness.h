/*
 * engine_harness.h - a job of the engine whose printer stream is memory,
 * for the tests that drive the engine's modules in-process.
 */
#ifndef OVIK_ENGINE_HARNESS_H
#define OVIK_ENGINE_HARNESS_H

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "job.h"

namespace harness {

/* A job with settings as creation leaves them for a model and class word
 * (printer_width 72 unless changed), writing into out. */
struct device {
  std::vector<uint8_t> out;                          /* the printer stream */
  std::vector<std::pair<int, std::string>> messages; /* level and text of every status line */
  size_t fail_after = SIZE_MAX;                      /* writes beyond this many bytes fail (ENOSPC) */
  ovik_job_io io{};
  ovik_printer_dev *job = nullptr;
  int created = -1; /* the creator's result */

  explicit device(uint32_t type = 0x10201, uint32_t model = 0x1001, const std::function<void(dev_mode &)> &setup = {})
  {
    dev_mode s;
    init_dev_mode(&s);
    s.type = type;
    s.model = model;
    s.printer_width = 72;
    if (setup)
      setup(s);
    io.write = [](void *ctx, const void *data, size_t length) {
      auto *d = static_cast<device *>(ctx);
      if (d->out.size() + length > d->fail_after)
        return ENOSPC;
      auto *p = static_cast<const uint8_t *>(data);
      d->out.insert(d->out.end(), p, p + length);
      return 0;
    };
    io.sink_context = this;
    io.message = [](void *ctx, int level, const char *text) {
      static_cast<device *>(ctx)->messages.emplace_back(level, text);
    };
    io.message_context = this;
    created = ovik_printer_dev_creator(&s, &io, &job);
    messages.clear(); // the settings dump
  }
  ~device() { ovik_printer_dev_destroy(job); }
  device(const device &) = delete;

  dev_mode &settings() { return job->settings; }
  job_state_record &state() { return job->job_state; }

  /* Sizes data_buf again from printer_width and max_render_height, as
   * creation does; returns the job. */
  ovik_printer_dev *sized()
  {
    int32_t render = 0, data = 0;
    device_buffer_sizes(job->settings, &render, &data);
    free(job->data_buf);
    job->data_buf = static_cast<uint8_t *>(calloc(1, data));
    job->data_buf_size = data;
    return job;
  }

  /* Traces the job into trace (NULL: no trace). */
  void trace_to(FILE *trace) { job->io.trace = trace; }

  /* What fn put on the printer stream. */
  std::vector<uint8_t> printed(const std::function<void()> &fn)
  {
    out.clear();
    fn();
    return out;
  }
};

} // namespace harness

#endif
