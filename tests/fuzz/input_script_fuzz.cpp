// The --input-script reader, then the events of a script it accepts fed in over a hand-moved
// clock, as a headless game drives them. The input is the script.
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/input.h"
#include "runtime/input_local.h"
#include "runtime/screen.h"
#include "tests/fuzz/scratch_files.h"

namespace {

uint32_t fuzzNow = 0;
uint32_t fuzzClock() { return fuzzNow; }

void drainEvents() {
  while (rt::windowEvent() != rt::kEventNone) {
  }
  rt::mouseWheel();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool screen = rt::initScreenSystem(rt::Backend::Null);
  if (!screen) return 0;
  rt::setInputScriptClock(fuzzClock);
  std::string error;
  if (!rt::loadInputScript(fuzz::scratchFile("script.txt", data, size), &error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  rt::startInputScript();
  // Steps from the script's own bytes, then a jump past the latest time a line may give.
  for (size_t i = 0; i < 16 && !rt::inputScriptFinished(); ++i) {
    fuzzNow += uint32_t{i < size ? data[i] : uint8_t{0}} * 97u;
    rt::pumpInputScript();
    drainEvents();
  }
  fuzzNow += 25u * 3600 * 1000;
  rt::pumpInputScript();
  drainEvents();
  if (!rt::inputScriptFinished()) __builtin_trap();
  rt::releaseAllInput();
  return 0;
}
