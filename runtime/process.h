// Child processes: programs this game starts beside itself (the practice bots) and stops again.
// A child ends with its parent: it is told to stop when the game goes, even after a crash.
#pragma once

#include <string>
#include <vector>

namespace rt {

// Starts the program with the arguments; its standard input and output go nowhere, its errors
// to ours. A path without a slash is looked up in PATH. Returns the process id, or 0.
int startProcess(const std::string& program, const std::vector<std::string>& arguments);
// True while the child runs; a child that ended is reaped here.
bool processRunning(int id);
// Asks the child to end (it may take a moment to say goodbye); reaped by processRunning later.
void stopProcess(int id);
// Waits up to the time for the child to end, then ends it by force; reaps it in any case.
void awaitProcess(int id, int milliseconds);

}  // namespace rt
