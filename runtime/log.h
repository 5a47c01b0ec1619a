// The log: one line per notable event, for bug reports and for tests that watch the game from
// outside. Off unless --log FILE or POWDERBOX_LOG names a file ("-" is standard error).
//
// Line format: "<ms since start> <TAG> <text>", e.g. "2013 START main window shown".
#pragma once

#include <cstdint>
#include <string>

namespace rt {

bool openLog(const std::string& path);
void closeLog();
bool logEnabled();
void logLine(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The most memory the process has held resident so far (VmHWM), in KiB; 0 when unknown. Logged
// at exit, so that a run tells what it needed.
int64_t peakResidentKb();

}  // namespace rt
