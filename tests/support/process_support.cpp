#include "support/process_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "runtime/network.h"

namespace test {

using Clock = std::chrono::steady_clock;

Child spawn(const TempDir& dir, const std::string& name, const std::vector<std::string>& args,
            const std::vector<std::pair<std::string, std::string>>& env) {
  Child child;
  child.name = name;
  child.errors = dir.file(name + ".err");
  std::string out = dir.file(name + ".out");
  child.pid = fork();
  if (child.pid == 0) {
    for (const auto& [key, value] : env) setenv(key.c_str(), value.c_str(), 1);
    if (!freopen(out.c_str(), "w", stdout) || !freopen(child.errors.c_str(), "w", stderr)) {
      _exit(126);
    }
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

bool waitAll(std::vector<Child>& children, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    bool running = false;
    for (Child& c : children) {
      if (c.done || c.pid <= 0) continue;
      if (waitpid(c.pid, &c.status, WNOHANG) == c.pid) {
        c.done = true;
      } else {
        running = true;
      }
    }
    if (!running) return true;
    if (Clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (Child& c : children) {
    if (c.done || c.pid <= 0) continue;
    kill(c.pid, SIGKILL);
    waitpid(c.pid, &c.status, 0);
    c.done = true;
  }
  return false;
}

int exitCode(const Child& c) {
  return c.done && WIFEXITED(c.status) ? WEXITSTATUS(c.status) : -1;
}

std::string sanitizerReport(const Child& c) {
  std::string text = readFile(c.errors);
  for (const char* mark : {"AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
    if (text.find(mark) != std::string::npos) return text;
  }
  return "";
}

int freePortBase() {
  rt::initNetwork();
  for (int base = 20000 + static_cast<int>(getpid() % 1500) * 20; base < 60000; base += 7) {
    rt::Handle a = rt::createServer(rt::kAnyNumber, base, rt::kTcp, "127.0.0.1");
    rt::Handle b = rt::createServer(rt::kAnyNumber, base + 1, rt::kTcp, "127.0.0.1");
    rt::Handle c = rt::createServer(rt::kAnyNumber, base + 2, rt::kUdp, "127.0.0.1");
    for (rt::Handle server : {a, b, c}) {
      if (server) rt::closeServer(server);
    }
    if (a && b && c) return base;
  }
  return 0;
}

bool waitForText(const std::string& path, const std::string& text, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (readFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::vector<Line> parseLog(const std::string& text) {
  std::vector<Line> lines;
  std::istringstream in(text);
  std::string row;
  while (std::getline(in, row)) {
    std::istringstream fields(row);
    Line line;
    if (!(fields >> line.ms >> line.tag)) continue;
    std::getline(fields, line.text);
    if (!line.text.empty() && line.text[0] == ' ') line.text.erase(0, 1);
    lines.push_back(line);
  }
  return lines;
}

bool has(const std::vector<Line>& log, const std::string& tag, const std::string& start) {
  return find(log, tag, start) != nullptr;
}

const Line* find(const std::vector<Line>& log, const std::string& tag, const std::string& start) {
  for (const Line& line : log) {
    if (line.tag == tag && line.text.rfind(start, 0) == 0) return &line;
  }
  return nullptr;
}

std::multiset<std::string> texts(const std::vector<Line>& log, const std::string& tag) {
  std::multiset<std::string> all;
  for (const Line& line : log) {
    if (line.tag == tag) all.insert(line.text);
  }
  return all;
}

}  // namespace test
