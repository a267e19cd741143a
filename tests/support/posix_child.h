// Test support (POSIX): runs part of a test in a child process, for a test that must not hang the
// suite or that changes what the whole process is (its user, its limits, its mounts).
#ifndef OVELT_TESTS_SUPPORT_POSIX_CHILD_H
#define OVELT_TESTS_SUPPORT_POSIX_CHILD_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace dbtest {

// Runs body in a child process that is killed after `seconds`. Its exit status, or 1000 plus the
// signal that ended it. The child reports only through that status: its own copy of the test
// framework is lost with it.
inline int RunInChild(const std::function<int()>& body, unsigned seconds = 20) {
  (void)std::fflush(nullptr);  // nothing buffered may be written twice
  const pid_t pid = fork();
  if (pid == 0) {
    (void)alarm(seconds);
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) {
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

}  // namespace dbtest

#endif  // OVELT_TESTS_SUPPORT_POSIX_CHILD_H
