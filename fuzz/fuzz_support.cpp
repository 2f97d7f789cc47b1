/*
 * fuzz_support.cpp - fatal errors as exceptions, leak exemption for the
 * fatal path, jobs writing into memory and the stream check.
 */
#include "fuzz_support.h"

#include <cstdlib>
#include <cstring>
#include <sanitizer/allocator_interface.h>
#include <sanitizer/lsan_interface.h>
#include <unistd.h>

#include "decoder.h"

namespace {

bool intercepting = false;

/* Heap blocks allocated while filter code runs and not yet released: an open
 * addressing set of addresses, filled from the allocator's hooks (which must
 * not allocate themselves). Released blocks leave tombstones, swept out when
 * they crowd the table. */
constexpr size_t table_size = size_t(1) << 16;
const void *live[table_size];
const void *swept[table_size];
const void *const tombstone = reinterpret_cast<const void *>(1);
bool tracking = false;
bool overflowed = false;
size_t occupied = 0; /* slots not empty: live blocks and tombstones */
size_t blocks = 0;   /* live blocks */

/* Slot index where probing for p starts. */
size_t slot_of(const void *p)
{
  return (reinterpret_cast<uintptr_t>(p) >> 4) * 0x9E3779B97F4A7C15ull >> 48;
}

/* Puts p in the first empty slot of its probe sequence. */
void insert(const void *p)
{
  size_t i = slot_of(p);
  while (live[i] != nullptr)
    i = (i + 1) % table_size;
  live[i] = p;
  occupied++;
  blocks++;
}

/* Rebuilds the table from its live blocks, without tombstones. */
void sweep()
{
  std::memcpy(swept, live, sizeof live);
  std::memset(live, 0, sizeof live);
  occupied = blocks = 0;
  for (const void *p : swept)
    if (p != nullptr && p != tombstone)
      insert(p);
}

/* Allocator hook: records a block allocated while tracking. */
void on_malloc(const volatile void *ptr, size_t)
{
  if (!tracking || !ptr)
    return;
  if (occupied >= table_size / 2)
    sweep();
  if (occupied >= table_size / 2) {
    overflowed = true;
    return;
  }
  insert(const_cast<const void *>(ptr));
}

/* Allocator hook: forgets a block released while tracking. */
void on_free(const volatile void *ptr)
{
  if (!tracking || !ptr)
    return;
  for (size_t i = slot_of(const_cast<const void *>(ptr)); live[i] != nullptr; i = (i + 1) % table_size) {
    if (live[i] == ptr) {
      live[i] = tombstone;
      blocks--;
      return;
    }
  }
}

/* Starts a fresh record of the blocks allocated from now on. */
void start_tracking()
{
  std::memset(live, 0, sizeof live);
  occupied = blocks = 0;
  overflowed = false;
  tracking = true;
}

/* Exempts every block still recorded from leak checking. */
void forgive_live_blocks()
{
  for (const void *p : live)
    if (p != nullptr && p != tombstone)
      __lsan_ignore_object(p);
}

bool hooks_installed = false;

} // namespace

/* exit() as the linker routes it (--wrap=exit): a throw while filter code runs. */
extern "C" [[noreturn]] void __real_exit(int status);
extern "C" [[noreturn]] void __wrap_exit(int status)
{
  if (intercepting) {
    intercepting = false;
    throw filter_exit{status};
  }
  __real_exit(status);
}

/* Runs fn with fatal errors turned into a return of their status. */
int run_filter_code(const std::function<void()> &fn)
{
  if (!hooks_installed) {
    __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
    hooks_installed = true;
  }
  start_tracking();
  intercepting = true;
  int status = -1;
  try {
    fn();
  } catch (const filter_exit &e) {
    status = e.status;
  }
  intercepting = false;
  tracking = false;
  if (status >= 0) {
    // The process would have ended here; what it held is not a leak.
    if (overflowed)
      fuzz_fail("more live blocks than the leak exemption table holds");
    forgive_live_blocks();
  }
  return status;
}

/* A job writing into out; its status lines go nowhere. */
memory_job::memory_job(const dev_mode &settings, FILE *trace)
{
  io.write = [](void *ctx, const void *data, size_t length) {
    auto *self = static_cast<memory_job *>(ctx);
    auto *p = static_cast<const uint8_t *>(data);
    self->out.insert(self->out.end(), p, p + length);
    return 0;
  };
  io.sink_context = this;
  io.trace = trace;
  created = ovik_printer_dev_creator(&settings, &io, &job);
}

memory_job::~memory_job()
{
  ovik_printer_dev_destroy(job);
}

/* The filter writes its status lines to stderr; in a fuzz run they are noise. */
void quiet_status_lines()
{
  static FILE *null = fopen("/dev/null", "w");
  if (null)
    stderr = null;
}

/* Straight to descriptor 2: the stderr stream may be the quiet one. */
void fuzz_fail(const std::string &what)
{
  dprintf(2, "FUZZ CHECK FAILED: %s\n", what.c_str());
  abort();
}

/* Decodes the stream; any CRC error, unknown byte or cut-off record fails the run. */
size_t check_printer_stream(std::span<const uint8_t> stream)
{
  decode_result d = decode_stream(stream);
  const decode_summary &s = d.summary;
  if (s.crc_errors || s.unknown_bytes || s.stop_offset != -1) {
    std::string listing;
    for (const decode_record &r : d.records)
      listing += format_record(r, stream) + "\n";
    fuzz_fail("printer stream is not whole records: " + format_summary(s) + "\n" + listing);
  }
  return s.bitmaps;
}
