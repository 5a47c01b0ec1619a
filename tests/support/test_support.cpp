#include "support/test_support.h"

#include "app/leak_suppressions.h"
#include "render/typeface_file.h"
#include "runtime/screen.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

POWDERBOX_DEFINE_LEAK_SUPPRESSIONS

namespace test {

TempDir::TempDir() {
  char pattern[] = "/tmp/powderbox-test-XXXXXX";
  char* made = mkdtemp(pattern);
  path_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
  if (path_ != "/tmp") {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
}

std::vector<unsigned char> tenPixelTypeface(const std::string& characters) {
  rt::Pixels pixels{16, 16, std::vector<uint8_t>(16 * 16 * 4, 255)};
  std::vector<uint8_t> png;
  rt::encodePng(pixels, &png);
  TypefaceFile file;
  for (char c : characters) {
    file.glyphs.push_back({static_cast<uint8_t>(c), 0, 0, 10, 12, 0, 0, 8, 14});
  }
  file.picture = png;
  return WriteTypefaceFile(file);
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  writeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

pid_t xvfbPid = 0;

void stopXvfb() {
  if (xvfbPid > 0) {
    kill(xvfbPid, SIGTERM);
    waitpid(xvfbPid, nullptr, 0);
    xvfbPid = 0;
  }
}

}  // namespace

bool startXvfb() {
  if (xvfbPid > 0) return true;
  if (access("/usr/bin/Xvfb", X_OK) != 0) return false;
  int fds[2];
  if (pipe(fds) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    close(fds[0]);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    std::string fd = std::to_string(fds[1]);
    execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
          "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  // Xvfb writes its display number once it accepts connections.
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) {
    waitpid(pid, nullptr, 0);
    return false;
  }
  xvfbPid = pid;
  setenv("DISPLAY", (":" + number).c_str(), 1);
  atexit(stopXvfb);
  return true;
}

std::string sourceDir() { return POWDERBOX_SOURCE_DIR; }
std::string binaryDir() { return POWDERBOX_BINARY_DIR; }

int runCommand(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool enterPrivateNetwork() {
  static const bool entered = [] {
    if (unshare(CLONE_NEWNET) != 0) return false;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq request{};
    strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    return up;
  }();
  return entered;
}

}  // namespace test
