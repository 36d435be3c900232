// measure: runs one command and reports what it cost, for bench/run.sh.
//
//   measure [OPTIONS] -- COMMAND [ARG...]
//
//   -C DIR     run the command in DIR (and count the bytes left there)
//   -o FILE    its standard output (default /dev/null)
//   -E FILE    its standard error (default /dev/null)
//   -w FILE    read FILE into the page cache before the run (repeatable)
//   -c FILE    evict FILE from the page cache before the run (repeatable)
//   -s         sync() before the run
//   -t SECS    kill the command after SECS seconds (default: no limit)
//
// Everything before the clock starts (sync, warming, eviction, opening the
// output files) is left out of the timed interval, which runs from just
// before fork() to the moment the kernel reports the child's exit. No shell
// and no other program stands between the two.
//
// One line on standard output, fields separated by blanks:
//   STATUS WALL CPU MAXRSS WRITTEN LEFT
// STATUS is the exit status, "sigN" when killed by signal N, or "timeout";
// WALL and CPU (user + system) are seconds; MAXRSS is the child's peak
// resident memory in KiB (getrusage's ru_maxrss); WRITTEN is the bytes the
// child passed to write-like system calls (the wchar count of /proc/PID/io,
// which includes copy_file_range and sendfile), less what went to the -o and
// -E files when they are regular files; LEFT is the total size of the
// regular files under DIR afterwards (-1 without -C).
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { kMaxFiles = 64 };

static const char* warm[kMaxFiles];
static const char* cold[kMaxFiles];
static int nwarm, ncold;

static void die(const char* what, const char* arg) {
  fprintf(stderr, "measure: %s %s: %s\n", what, arg, strerror(errno));
  exit(125);
}

static void usage(void) {
  fprintf(stderr,
          "usage: measure [-C DIR] [-o FILE] [-E FILE] [-w FILE]... [-c FILE]... [-s]"
          " [-t SECS] -- COMMAND [ARG...]\n");
  exit(125);
}

static double now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

// Reads the whole file through a page-aligned buffer that is unmapped
// afterwards, so that it does not count in the child's resident memory.
static void warmFile(const char* path) {
  const size_t piece = 1 << 20;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) die("cannot open", path);
  char* buf = mmap(NULL, piece, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (buf == MAP_FAILED) die("cannot map a buffer for", path);
  ssize_t got;
  while ((got = read(fd, buf, piece)) > 0) {
  }
  if (got < 0) die("cannot read", path);
  munmap(buf, piece);
  close(fd);
}

// Writes back and drops every cached page of the file, then checks with
// mincore() that they are gone.
static void evictFile(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) die("cannot open", path);
  if (fsync(fd) != 0) die("cannot sync", path);
  const int err = posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  if (err != 0) {
    errno = err;
    die("cannot evict", path);
  }
  struct stat st;
  if (fstat(fd, &st) != 0) die("cannot stat", path);
  if (st.st_size > 0) {
    const long page = sysconf(_SC_PAGESIZE);
    const size_t pages = (size_t)((st.st_size + page - 1) / page);
    void* map = mmap(NULL, (size_t)st.st_size, PROT_READ, MAP_SHARED, fd, 0);
    unsigned char* vec = malloc(pages);
    if (map != MAP_FAILED && vec != NULL && mincore(map, (size_t)st.st_size, vec) == 0) {
      size_t resident = 0;
      for (size_t i = 0; i < pages; ++i) resident += vec[i] & 1;
      if (resident * 100 > pages) {
        fprintf(stderr, "measure: warning: %zu of %zu pages of %s still cached\n", resident,
                pages, path);
      }
    }
    free(vec);
    if (map != MAP_FAILED) munmap(map, (size_t)st.st_size);
  }
  close(fd);
}

static long long leftBytes;

static int addSize(const char* path, const struct stat* st, int type, struct FTW* ftw) {
  (void)path;
  (void)ftw;
  if (type == FTW_F && S_ISREG(st->st_mode)) leftBytes += st->st_size;
  return 0;
}

// The wchar count of a child that has exited but not been reaped yet.
static long long writtenBytes(pid_t pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/io", (int)pid);
  FILE* io = fopen(path, "re");
  if (io == NULL) return -1;
  char line[128];
  long long wchar = -1;
  while (fgets(line, sizeof line, io) != NULL) {
    if (sscanf(line, "wchar: %lld", &wchar) == 1) break;
  }
  fclose(io);
  return wchar;
}

// Bytes in an output file that the child wrote into from offset 0; 0 for
// anything else (such as /dev/null, whose writes cannot be told apart).
static long long regularSize(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? (long long)st.st_size : 0;
}

static int openOutput(const char* path) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) die("cannot open", path);
  return fd;
}

int main(int argc, char** argv) {
  const char* dir = NULL;
  const char* outPath = "/dev/null";
  const char* errPath = "/dev/null";
  int doSync = 0;
  double limit = 0;
  int i = 1;
  for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    const char* opt = argv[i];
    if (strcmp(opt, "-s") == 0) {
      doSync = 1;
      continue;
    }
    if (i + 1 >= argc || opt[0] != '-' || opt[1] == '\0' || opt[2] != '\0') usage();
    const char* arg = argv[++i];
    switch (opt[1]) {
      case 'C': dir = arg; break;
      case 'o': outPath = arg; break;
      case 'E': errPath = arg; break;
      case 't': limit = atof(arg); break;
      case 'w':
        if (nwarm == kMaxFiles) usage();
        warm[nwarm++] = arg;
        break;
      case 'c':
        if (ncold == kMaxFiles) usage();
        cold[ncold++] = arg;
        break;
      default: usage();
    }
  }
  if (i + 1 >= argc) usage();
  char** command = argv + i + 1;

  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = openOutput(outPath);
  const int err = openOutput(errPath);
  const int report = fcntl(2, F_DUPFD_CLOEXEC, 3);  // for an exec failure
  if (in < 0 || report < 0) die("cannot set up", "descriptors");

  if (doSync) sync();
  for (int k = 0; k < nwarm; ++k) warmFile(warm[k]);
  for (int k = 0; k < ncold; ++k) evictFile(cold[k]);

  sigset_t chld, old;
  sigemptyset(&chld);
  sigaddset(&chld, SIGCHLD);
  sigprocmask(SIG_BLOCK, &chld, &old);

  const double start = now();
  const pid_t pid = fork();
  if (pid < 0) die("cannot fork for", command[0]);
  if (pid == 0) {
    sigprocmask(SIG_SETMASK, &old, NULL);
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(125);
    if (dir != NULL && chdir(dir) != 0) {
      dprintf(report, "measure: cannot enter %s: %s\n", dir, strerror(errno));
      _exit(125);
    }
    execvp(command[0], command);
    dprintf(report, "measure: cannot run %s: %s\n", command[0], strerror(errno));
    _exit(127);
  }

  // Wait for the exit without reaping, so that /proc/PID/io can still be read.
  int timedOut = 0;
  siginfo_t info;
  if (limit > 0) {
    for (;;) {
      memset(&info, 0, sizeof info);
      if (waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) {
        break;
      }
      const double left = start + limit - now();
      if (left <= 0) {
        kill(pid, SIGKILL);
        timedOut = 1;
        break;
      }
      struct timespec ts = {(time_t)left, (long)((left - (double)(time_t)left) * 1e9)};
      sigtimedwait(&chld, NULL, &ts);
    }
  }
  while (waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0) {
    if (errno != EINTR) die("cannot wait for", command[0]);
  }
  const double wall = now() - start;
  long long written = writtenBytes(pid);
  if (written >= 0) written -= regularSize(out) + regularSize(err);

  int status;
  struct rusage ru;
  if (wait4(pid, &status, 0, &ru) != pid) die("cannot reap", command[0]);
  const double cpu = (double)ru.ru_utime.tv_sec + (double)ru.ru_utime.tv_usec / 1e6 +
                     (double)ru.ru_stime.tv_sec + (double)ru.ru_stime.tv_usec / 1e6;

  long long left = -1;
  if (dir != NULL) {
    leftBytes = 0;
    if (nftw(dir, addSize, 16, FTW_PHYS) == 0) left = leftBytes;
  }

  char state[32];
  if (timedOut) {
    snprintf(state, sizeof state, "timeout");
  } else if (WIFSIGNALED(status)) {
    snprintf(state, sizeof state, "sig%d", WTERMSIG(status));
  } else {
    snprintf(state, sizeof state, "%d", WEXITSTATUS(status));
  }
  printf("%s %.4f %.4f %ld %lld %lld\n", state, wall, cpu, ru.ru_maxrss, written, left);
  return 0;
}
