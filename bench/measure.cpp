// Runs a command and prints its wall-clock, user and system seconds, its peak
// resident set size and its exit status: "WALL USER SYS MAXRSS_KIB EXIT". Standard output of the
// command can be sent to a file with -o FILE (so a shell is not needed for the redirection).
//
//   measure [-o FILE] COMMAND [ARGS...]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

int main(int argc, char** argv) {
  int first = 1;
  const char* out_name = nullptr;
  if (argc > 2 && std::strcmp(argv[1], "-o") == 0) {
    out_name = argv[2];
    first = 3;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: measure [-o FILE] COMMAND [ARGS...]\n");
    return 2;
  }
  timespec begin{};
  clock_gettime(CLOCK_MONOTONIC, &begin);
  pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 2;
  }
  if (child == 0) {
    if (out_name != nullptr) {
      int fd = open(out_name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || dup2(fd, 1) < 0) _exit(127);
      close(fd);
    }
    execvp(argv[first], argv + first);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) < 0) {
    std::perror("wait4");
    return 2;
  }
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &end);
  double seconds = static_cast<double>(end.tv_sec - begin.tv_sec) +
                   static_cast<double>(end.tv_nsec - begin.tv_nsec) * 1e-9;
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  auto secs = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  std::printf("%.6f %.6f %.6f %ld %d\n", seconds, secs(usage.ru_utime), secs(usage.ru_stime),
              usage.ru_maxrss, code);
  return 0;
}
