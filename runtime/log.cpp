#include "runtime/log.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace rt {
namespace {

std::mutex logMutex;
FILE* logFile = nullptr;
const auto logStart = std::chrono::steady_clock::now();

}  // namespace

bool openLog(const std::string& path) {
  std::lock_guard lock(logMutex);
  if (logFile && logFile != stderr) fclose(logFile);
  logFile = path == "-" ? stderr : fopen(path.c_str(), "w");
  return logFile != nullptr;
}

void closeLog() {
  std::lock_guard lock(logMutex);
  if (logFile && logFile != stderr) fclose(logFile);
  logFile = nullptr;
}

bool logEnabled() { return logFile != nullptr; }

void logLine(const char* tag, const char* format, ...) {
  if (!logFile) return;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - logStart).count();
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::lock_guard lock(logMutex);
  if (!logFile) return;
  // Flushed line by line: the log is read while the game runs and must survive a crash.
  fprintf(logFile, "%lld %s %s\n", static_cast<long long>(ms), tag, text);
  fflush(logFile);
}

int64_t peakResidentKb() {
  FILE* status = fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  long long kb = 0;
  while (fgets(line, sizeof line, status)) {
    if (sscanf(line, "VmHWM: %lld kB", &kb) == 1) break;
  }
  fclose(status);
  return kb;
}

}  // namespace rt
