// The program as a user meets it: started under a private X server, its main window appears
// after the logo, it is closed through the window system, and it exits cleanly.

#include <gtest/gtest.h>
// After gtest: the X headers define macros (None, Bool, Status) that clash with it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/process_support.h"
#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The game's main window: a viewable top-level window of the size given titled like the game.
Window findMainWindow(Display* display, int width = 1024, int height = 768) {
  Window root = DefaultRootWindow(display), parent, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (!XQueryTree(display, root, &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && !found; ++i) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, children[i], &attributes)) continue;
    if (attributes.map_state != IsViewable || attributes.width != width ||
        attributes.height != height) {
      continue;
    }
    char* name = nullptr;
    if (XFetchName(display, children[i], &name) && name) {
      if (std::string(name).find("Powderbox") != std::string::npos) found = children[i];
      XFree(name);
    }
  }
  if (children) XFree(children);
  return found;
}

void askToClose(Display* display, Window window) {
  XEvent event = {};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XFlush(display);
}

bool waitForExit(pid_t pid, int* status, int timeoutMs) {
  auto start = Clock::now();
  while (msSince(start) < timeoutMs) {
    if (waitpid(pid, status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

TEST(Smoke, StartsShowsMainWindowAfterLogoAndClosesCleanly) {
  if (!test::startXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  test::TempDir dir;
  std::string log = dir.file("game.log");
  std::string program = test::binaryDir() + "/powderbox";

  auto started = Clock::now();
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("ALSOFT_DRIVERS", "null", 1);
    setenv("APPDATA", dir.path().c_str(), 1);
    execl(program.c_str(), program.c_str(), "--log", log.c_str(), "--data",
          test::binaryDir().c_str(), "--fullscreen", static_cast<char*>(nullptr));
    _exit(127);
  }

  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  // --fullscreen: the window covers the display.
  const int width = DisplayWidth(display, DefaultScreen(display));
  const int height = DisplayHeight(display, DefaultScreen(display));
  Window window = 0;
  long shownAfter = 0;
  while (!window && msSince(started) < 30000) {
    window = findMainWindow(display, width, height);
    shownAfter = msSince(started);
    if (!window) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!window) kill(pid, SIGKILL);
  ASSERT_NE(window, 0u) << "no main window of " << width << " x " << height << " within 30 s";
  EXPECT_GE(shownAfter, 2000) << "the main window must wait for the logo";

  // Let it run some frames, then close it like a user would.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  askToClose(display, window);
  int status = 0;
  bool exited = waitForExit(pid, &status, 15000);
  if (!exited) kill(pid, SIGKILL);
  XCloseDisplay(display);
  ASSERT_TRUE(exited) << "the program did not end after its window was closed";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  std::string text = test::readFile(log);
  EXPECT_NE(text.find("START main window shown"), std::string::npos) << text;
  // Remembered, as Alt+Enter is.
  std::string settings = test::readFile(dir.file("Vantrel/Powderbox/Config.ini"));
  EXPECT_NE(settings.find("Fullscreen = 1"), std::string::npos) << settings;
  // The frame rate is paced to 80: above means no pacing. How far below it falls depends on how
  // busy the machine is, so only a loop that never turned counts as a failure.
  size_t at = text.rfind("fps=");
  ASSERT_NE(at, std::string::npos) << text;
  double fps = std::strtod(text.c_str() + at + 4, nullptr);
  EXPECT_GT(fps, 0.0) << text;
  EXPECT_LT(fps, 86.0) << text;
}

// A stop signal ends the windowed game as its quit button does: settings saved, every player
// told (message 14). Started as a shell starts a background job, with SIGINT ignored, which the
// game must still obey.
TEST(Smoke, StopSignalsQuitTheWindowedGameLikeItsQuitButton) {
  if (!test::startXvfb()) GTEST_SKIP() << "Xvfb is not installed";
  test::TempDir dir;
  std::string program = test::binaryDir() + "/powderbox";
  std::string base = std::to_string(test::freePortBase());
  // The leak checker's tracer now and then crashes stopping a busy windowed game's threads at
  // exit, which would read as a failed quit; the other smoke test checks the window's leaks.
  std::vector<std::pair<std::string, std::string>> env = {
      {"ALSOFT_DRIVERS", "null"}, {"APPDATA", dir.path()}, {"ASAN_OPTIONS", "detect_leaks=0"}};
  auto previous = signal(SIGINT, SIG_IGN);
  std::vector<test::Child> children = {
      test::spawn(dir, "host",
                  {program, "--data", test::binaryDir(), "--log", dir.file("host.log"), "--host",
                   "--start-with", "3", "--port-base", base},
                  env)};
  signal(SIGINT, previous);
  ASSERT_TRUE(test::waitForText(dir.file("host.log"), "QUICK hosting", 30000));
  children.push_back(test::spawn(dir, "client",
                                 {program, "--headless", "--data", test::binaryDir(), "--log",
                                  dir.file("client.log"), "--connect", "127.0.0.1",
                                  "--port-base", base},
                                 env));
  ASSERT_TRUE(test::waitForText(dir.file("host.log"), "joined, 2 players", 20000));
  kill(children[0].pid, SIGINT);
  std::vector<test::Child> hostOnly = {children[0]};
  bool ended = test::waitAll(hostOnly, 30000);
  children[0] = hostOnly[0];
  bool told = test::waitForText(dir.file("client.log"), "the host closed the game", 10000);
  kill(children[1].pid, SIGTERM);
  test::waitAll(children, 10000);
  std::string logs = "host:\n" + test::readFile(dir.file("host.log")) + "\nclient:\n" +
                     test::readFile(dir.file("client.log"));
  EXPECT_TRUE(ended) << logs;
  EXPECT_EQ(test::exitCode(hostOnly[0]), 0) << logs;
  EXPECT_TRUE(told) << logs;
  std::vector<test::Line> host = test::parseLog(test::readFile(dir.file("host.log")));
  EXPECT_TRUE(test::has(host, "SESSION", "left"));
  // Saved on the way out, after the player came.
  long joined = 0;
  bool savedAfter = false;
  for (const test::Line& line : host) {
    if (line.tag == "JOIN" && line.text.find("joined, 2 players") != std::string::npos) {
      joined = line.ms;
    }
    savedAfter |= joined && line.tag == "CONFIG" && line.text.find(": saved") != std::string::npos;
  }
  EXPECT_TRUE(savedAfter);
}
