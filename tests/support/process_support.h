// Helpers of the tests that run the game and its tools as real processes on loopback: starting
// and waiting for them, free ports, and reading their logs.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace test {

struct Child {
  std::string name;
  pid_t pid = -1;
  int status = -1;
  bool done = false;
  std::string errors;  // file of its standard error
};

// Starts a program in the folder with extra environment; its output goes to files named after it.
Child spawn(const TempDir& dir, const std::string& name, const std::vector<std::string>& args,
            const std::vector<std::pair<std::string, std::string>>& env);
// Waits for every child until the deadline; those still running then are killed (false).
bool waitAll(std::vector<Child>& children, int timeoutMs);
// The exit status, -1 for a child killed or not waited for.
int exitCode(const Child& c);
// The child's standard error when it holds a sanitizer's report, else "".
std::string sanitizerReport(const Child& c);

// Three ports in a row that nobody uses now: information and game (TCP), positions (UDP).
int freePortBase();
bool waitForText(const std::string& path, const std::string& text, int timeoutMs);

// A log line: "<ms> <TAG> <text>".
struct Line {
  long ms = 0;
  std::string tag;
  std::string text;
};

std::vector<Line> parseLog(const std::string& text);
// Whether a line of the tag starts with the text; the first such line, or null.
bool has(const std::vector<Line>& log, const std::string& tag, const std::string& start);
const Line* find(const std::vector<Line>& log, const std::string& tag, const std::string& start);
// The texts of one tag.
std::multiset<std::string> texts(const std::vector<Line>& log, const std::string& tag);

}  // namespace test
