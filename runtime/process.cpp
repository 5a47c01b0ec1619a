#include "runtime/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "runtime/clock.h"
#include "runtime/log.h"

namespace rt {

int startProcess(const std::string& program, const std::vector<std::string>& arguments) {
  // Everything the child needs is built before the fork: after it only system calls are safe.
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t parent = getpid();
  pid_t child = fork();
  if (child < 0) {
    logLine("PROC", "cannot start %s: fork failed (errno %d)", program.c_str(), errno);
    return 0;
  }
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);  // the parent is already gone
    int nothing = open("/dev/null", O_RDWR);
    if (nothing >= 0) {
      dup2(nothing, 0);
      dup2(nothing, 1);
    }
    // The game's sockets and files stay with the game: a bot must not hold its ports open.
    if (close_range(3, ~0u, 0) != 0) {
      for (int fd = 3; fd < 1024; ++fd) close(fd);
    }
    signal(SIGPIPE, SIG_DFL);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  logLine("PROC", "started %s as process %d", program.c_str(), static_cast<int>(child));
  return static_cast<int>(child);
}

bool processRunning(int id) {
  if (id <= 0) return false;
  int status = 0;
  pid_t result = waitpid(id, &status, WNOHANG);
  if (result == 0) return true;
  if (result == id) {
    if (WIFEXITED(status)) {
      logLine("PROC", "process %d ended with %d", id, WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
      logLine("PROC", "process %d ended by signal %d", id, WTERMSIG(status));
    }
  }
  return false;
}

void stopProcess(int id) {
  if (id > 0) kill(id, SIGTERM);
}

void awaitProcess(int id, int milliseconds) {
  uint32_t until = rt::milliseconds() + static_cast<uint32_t>(milliseconds);
  while (processRunning(id)) {
    if (rt::timeAfter(rt::milliseconds(), until)) {
      kill(id, SIGKILL);
      waitpid(id, nullptr, 0);
      logLine("PROC", "process %d ended by force", id);
      return;
    }
    rt::delay(10);
  }
}

}  // namespace rt
