#include <cstdio>

#include "app/app.h"
#include "app/leak_suppressions.h"
#include "runtime/files.h"
#include "runtime/input.h"
#include "runtime/log.h"

POWDERBOX_DEFINE_LEAK_SUPPRESSIONS

int main(int argc, char** argv) {
  Options options;
  int exitCode = ParseOptions(argc, argv, &options);
  if (exitCode >= 0) return exitCode;

  rt::initDataRoot(argv[0]);
  if (!options.logPath.empty() && !rt::openLog(options.logPath)) {
    fprintf(stderr, "powderbox: cannot write the log %s\n", options.logPath.c_str());
  }
  if (!options.inputScript.empty()) {
    std::string error;
    if (!rt::loadInputScript(options.inputScript, &error)) {
      fprintf(stderr, "powderbox: %s\n", error.c_str());
      return 2;
    }
  }
  return RunGame(options);
}
