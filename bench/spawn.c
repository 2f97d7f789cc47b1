/*
 * spawn.c - runs one program and reports what it cost.
 *
 * Usage: ovik-bench-spawn IN OUT ERR program [args...]
 *
 * The program runs with standard input, output and error opened on the three
 * paths and with the environment of this process. One line goes to standard
 * output: wall nanoseconds, user and system CPU nanoseconds, peak resident set
 * in KiB, and the exit status (-1 after a signal).
 *
 * This helper is small on purpose. Linux carries the peak resident set of the
 * process image that calls exec over into the new one, so a child started by
 * the benchmark driver itself would report at least the driver's own peak.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

/* Nanoseconds of seconds and a fraction counted in units of scale nanoseconds. */
static long long nanos(long long seconds, long long fraction, long long scale)
{
  return seconds * 1000000000LL + fraction * scale;
}

/* Runs the program once and prints its cost on one line. */
int main(int argc, char **argv)
{
  if (argc < 5) {
    fputs("usage: ovik-bench-spawn IN OUT ERR program [args...]\n", stderr);
    return 2;
  }
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, argv[1], O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&files, 2, argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);

  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid;
  int failed = posix_spawn(&pid, argv[4], &files, NULL, argv + 4, environ);
  if (failed) {
    /* posix_spawn returns its error; errno is not set. */
    fprintf(stderr, "ovik-bench-spawn: cannot run %s: %s\n", argv[4], strerror(failed));
    return 2;
  }
  int status = 0;
  struct rusage usage = {0};
  if (wait4(pid, &status, 0, &usage) < 0) {
    perror("wait4");
    return 2;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  posix_spawn_file_actions_destroy(&files);

  printf("%lld %lld %lld %ld %d\n", nanos(end.tv_sec - start.tv_sec, end.tv_nsec - start.tv_nsec, 1),
         nanos(usage.ru_utime.tv_sec, usage.ru_utime.tv_usec, 1000),
         nanos(usage.ru_stime.tv_sec, usage.ru_stime.tv_usec, 1000), usage.ru_maxrss,
         WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return 0;
}
