/*
 * fuzz_support.h - what the libFuzzer harnesses share: running filter code
 * whose fatal errors end the process, capturing the printer stream in memory,
 * and checking that a stream is made of whole, intact records.
 *
 * Fatal errors: the filter ends a job it can't go on with through exit(1),
 * without clean-up. The harnesses are linked with --wrap=exit; inside
 * run_filter_code an exit throws filter_exit instead, and whatever the call
 * had allocated and not released is exempted from leak checking (the real
 * process would be gone). Every other leak is still reported.
 */
#ifndef OVIK_FUZZ_SUPPORT_H
#define OVIK_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "devmode.h"

/* Thrown in place of exit() while filter code runs under run_filter_code. */
struct filter_exit {
  int status;
};

/* Runs fn; returns the exit status of a fatal error, or -1 when fn returned. */
int run_filter_code(const std::function<void()> &fn);

/* Points stdout at a memory buffer for its lifetime: the printer stream. */
struct stdout_sink {
  char *data = nullptr;
  size_t size = 0;
  FILE *stream = nullptr;
  FILE *saved = nullptr;
  stdout_sink();
  ~stdout_sink();
  /* The bytes written so far. */
  std::span<const uint8_t> bytes();
};

/* Sends the filter's status lines to /dev/null (libFuzzer keeps its own stream). */
void quiet_status_lines();

/* Aborts with a message: the harness found a broken promise. */
[[noreturn]] void fuzz_fail(const std::string &what);

/* Checks that a printer stream is whole packets (right CRCs) and known commands
 * only, ending on a record boundary; returns the count of bitmap packets. */
size_t check_printer_stream(std::span<const uint8_t> stream);

/* A device object with default settings and staging buffers of the default
 * size, for calling printer operations without a PPD. */
struct fuzz_device {
  dev_mode settings{};
  job_state_record state{};
  std::vector<uint8_t> render, data;
  ovik_printer_dev dev{};
  fuzz_device();
  /* Sizes the staging buffers as device creation does, from the settings. */
  ovik_printer_dev *sized();
};

#endif
