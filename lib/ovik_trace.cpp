/*
 * ovik_trace.cpp - the developer trace file.
 *
 * The trace records every step of a job and every byte sent to the printer.
 * It lives at a fixed name in a world-writable directory and is written by a
 * process that may run as root, so it is opened without following links and
 * never truncates a file that belongs to someone else.
 */
#include "ovik_trace.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

FILE *ovik_trace_handle = nullptr;

/* The trace's descriptor, readable from a signal handler. */
static volatile sig_atomic_t trace_fd = -1;

/* Sets the trace stream and the descriptor the signal path writes on. */
static void set_trace(FILE *stream)
{
  ovik_trace_handle = stream;
  trace_fd = stream ? fileno(stream) : -1;
}

/* Opens path for tracing, or returns NULL (errno tells why). A symbolic link
 * is never followed; an existing regular file is used only when the effective
 * user owns it and it has no other names; devices and the like are opened as
 * they are. Nothing is truncated before these checks pass. */
static FILE *open_trace_file(const char *path)
{
  // O_NONBLOCK: a FIFO without reader or a terminal line must not hang the job.
  int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd < 0)
    return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return nullptr;
  }
  if (S_ISREG(st.st_mode)) {
    if (st.st_uid != geteuid() || st.st_nlink > 1) {
      close(fd);
      errno = EPERM;
      return nullptr;
    }
    if (ftruncate(fd, 0) != 0) {
      int saved = errno;
      close(fd);
      errno = saved;
      return nullptr;
    }
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0)
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE *stream = fdopen(fd, "wb");
  if (!stream) {
    int saved = errno;
    close(fd);
    errno = saved;
  }
  return stream;
}

/* Opens the trace: "stdout", or a file by name. Returns errno after the open. */
int ovik_trace_init(const char *path)
{
  if (ovik_trace_handle && ovik_trace_handle != stdout) {
    fflush(ovik_trace_handle);
    fclose(ovik_trace_handle);
  }
  set_trace(nullptr);
  if (path && std::strcmp(path, "stdout") == 0)
    set_trace(stdout);
  else if (path)
    set_trace(open_trace_file(path));
  return errno;
}

/* Closes the trace file; standard output is never closed. */
void ovik_trace_exit(void)
{
  if (ovik_trace_handle && ovik_trace_handle != stdout) {
    FILE *stream = ovik_trace_handle;
    set_trace(nullptr);
    fflush(stream);
    fclose(stream);
  }
}

/* Writes one "[DUMP(n):0x.. ].\r\n" line of count bytes to stream. */
void ovik_trace_dump(FILE *stream, const unsigned char *data, uint32_t count)
{
  if (!stream)
    return;
  static const char digits[] = "0123456789abcdef";
  std::string line = "[DUMP(" + std::to_string(static_cast<int>(count)) + "):";
  line.reserve(line.size() + static_cast<size_t>(count) * 5 + 4);
  for (uint32_t i = 0; i < count; i++) {
    const char hex[5] = {'0', 'x', digits[data[i] >> 4], digits[data[i] & 15], ' '};
    line.append(hex, 5);
  }
  line += "].\r\n";
  fwrite(line.data(), 1, line.size(), stream);
  if (ovik_trace_handle)
    fflush(ovik_trace_handle);
}

/* Formats one trace line, writes it and flushes the trace. */
void ovik_trace(const char *format, ...)
{
  if (!ovik_trace_handle)
    return;
  va_list args;
  va_start(args, format);
  vfprintf(ovik_trace_handle, format, args);
  va_end(args);
  fflush(ovik_trace_handle);
}

/* Writes a block of trace text in one piece and flushes the trace. */
void ovik_trace_write(const char *text, size_t length)
{
  if (!ovik_trace_handle)
    return;
  fwrite(text, 1, length, ovik_trace_handle);
  fflush(ovik_trace_handle);
}

/* One write(2) of a finished line; safe inside a signal handler. */
void ovik_trace_signal_write(const char *text, size_t length)
{
  int fd = trace_fd;
  if (fd < 0)
    return;
  ssize_t ignored = write(fd, text, length);
  (void)ignored;
}

/* The filter's trace path: $OVIK_TRACE, the default, or NULL when switched off. */
const char *ovik_trace_path(void)
{
  const char *path = getenv(OVIK_TRACE_ENV);
  if (!path)
    return OVIK_TRACE_DEFAULT_PATH;
  if (*path == '\0' || std::strcmp(path, "off") == 0)
    return nullptr;
  return path;
}
