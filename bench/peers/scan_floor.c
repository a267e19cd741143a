/* bench_scan_floor FILE [--count]: the time of two sequential passes over FILE with read() calls of
 * 4000 bytes, the way the module's loader reads a file. With --count each pass also looks at every
 * byte, counting line feeds and ';' in a plain loop, so the figure includes touching the data. */
#define _POSIX_C_SOURCE 200809L /* clock_gettime, O_CLOEXEC */

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || (argc == 3 && strcmp(argv[2], "--count") != 0)) {
    (void)fprintf(stderr, "usage: bench_scan_floor FILE [--count]\n");
    return 1;
  }
  const int count = argc == 3;
  static char block[4000];
  unsigned long long bytes = 0;
  unsigned long long lineFeeds = 0;
  unsigned long long delimiters = 0;
  const double start = Now();
  for (int pass = 0; pass < 2; ++pass) {
    const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      (void)fprintf(stderr, "bench_scan_floor: cannot open %s\n", argv[1]);
      return 1;
    }
    ssize_t got = 0;
    while ((got = read(fd, block, sizeof block)) > 0) {
      bytes += (unsigned long long)got;
      if (count) {
        for (ssize_t i = 0; i < got; ++i) {
          lineFeeds += block[i] == '\n';
          delimiters += block[i] == ';';
        }
      }
    }
    close(fd);
  }
  const double seconds = Now() - start;
  printf("seconds=%.6f bytes=%llu line_feeds=%llu delimiters=%llu\n", seconds, bytes, lineFeeds,
         delimiters);
  return 0;
}
