/* The reference for bench/output_path.py: SIZE bytes written through a Unix stream socket by
   one process in 1 MiB writes and read by another into a 128 KiB buffer, discarded. Prints the
   seconds the reader took from the first byte asked for to the last byte received. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  long long size = argc > 1 ? atoll(argv[1]) : 64LL << 20;
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return 1;
  pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    size_t block = 1 << 20;
    char* data = malloc(block);
    memset(data, 'x', block);
    for (long long sent = 0; sent < size;) {
      size_t want = size - sent < (long long)block ? (size_t)(size - sent) : block;
      ssize_t put = write(ends[1], data, want);
      if (put <= 0) _exit(1);
      sent += put;
    }
    _exit(0);
  }
  close(ends[1]);
  static char buffer[128 * 1024];
  double start = now();
  long long total = 0;
  for (;;) {
    ssize_t got = read(ends[0], buffer, sizeof buffer);
    if (got <= 0) break;
    total += got;
  }
  double elapsed = now() - start;
  waitpid(pid, NULL, 0);
  if (total != size) return 1;
  printf("%.6f\n", elapsed);
  return 0;
}
