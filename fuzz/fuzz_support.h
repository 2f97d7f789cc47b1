/*
 * fuzz_support.h - what the libFuzzer harnesses share: running front-end
 * code whose fatal errors end the process, jobs whose printer stream is
 * memory, and checking that a stream is made of whole, intact records.
 *
 * Fatal errors: the engine returns them, but the filter's front end ends a
 * job it can't go on with through exit(1), without clean-up. The harnesses
 * are linked with --wrap=exit; inside run_filter_code an exit throws
 * filter_exit instead, and whatever the call had allocated and not released
 * is exempted from leak checking (the real process would be gone). Every
 * other leak is still reported.
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

#include "ovik_engine.h"

/* Thrown in place of exit() while filter code runs under run_filter_code. */
struct filter_exit {
  int status;
};

/* Runs fn; returns the exit status of a fatal error, or -1 when fn returned. */
int run_filter_code(const std::function<void()> &fn);

/* A job of the engine with the given settings, writing into memory. The
 * settings are sized and checked as for every job: creation may refuse them. */
struct memory_job {
  std::vector<uint8_t> out;
  ovik_job_io io{};
  ovik_printer_dev *job = nullptr;
  int created = -1; /* the creator's result */
  explicit memory_job(const dev_mode &settings, FILE *trace = nullptr);
  ~memory_job();
  memory_job(const memory_job &) = delete;
  std::span<const uint8_t> bytes() const { return out; }
};

/* Sends the filter's status lines to /dev/null (libFuzzer keeps its own stream). */
void quiet_status_lines();

/* Aborts with a message: the harness found a broken promise. */
[[noreturn]] void fuzz_fail(const std::string &what);

/* Checks that a printer stream is whole packets (right CRCs) and known commands
 * only, ending on a record boundary; returns the count of bitmap packets. */
size_t check_printer_stream(std::span<const uint8_t> stream);

#endif
