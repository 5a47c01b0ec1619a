// Fuzzes the .afs reader, then loads what it accepts on the null screen and runs instances of it
// forward and backward over a hand-moved clock.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "render/animation.h"
#include "render/animation_file.h"
#include "render/animation_local.h"
#include "runtime/checksum.h"
#include "runtime/screen.h"

namespace {

uint32_t fuzzNow = 0;
uint32_t fuzzClock() { return fuzzNow; }

// Random bytes almost never carry the right identification, size and checksum; a copy with
// them reaches the frame records and the pictures.
std::vector<uint8_t> sealed(const uint8_t* data, size_t size) {
  // The fuzzer's first 12 bytes become count, width and height, the rest the frame records.
  size_t head = size < 12 ? size : 12;
  std::vector<uint8_t> fixed(kAnimationHeaderSize, 0);
  std::memcpy(fixed.data(), kAnimationIdentification, sizeof kAnimationIdentification);
  if (head > 0) std::memcpy(fixed.data() + 12, data, head);
  fixed.insert(fixed.end(), data + head, data + size);
  fixed.resize(fixed.size() + kAnimationCrcSize);
  uint32_t total = static_cast<uint32_t>(fixed.size());
  for (int i = 0; i < 4; ++i) fixed[8 + i] = static_cast<uint8_t>(total >> (8 * i));
  uint32_t crc = rt::crc32(fixed.data(), fixed.size() - kAnimationCrcSize);
  for (int i = 0; i < 4; ++i) fixed[total - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
  return fixed;
}

// A file the parser accepted must survive the writer unchanged in meaning.
void checkRoundTrip(const AnimationFileView& view) {
  AnimationFile file;
  file.width = view.width;
  file.height = view.height;
  for (const AnimationFrameView& frame : view.frames) {
    file.frames.push_back({frame.duration, {frame.image, frame.image + frame.imageLength}});
  }
  std::vector<uint8_t> bytes;
  if (!WriteAnimationFile(file, &bytes)) __builtin_trap();
  AnimationFileView again;
  AnimationFileError error = ParseAnimationFile(bytes.data(), bytes.size(), -1, &again);
  if (error != kAnimationFileOk || again.frames.size() != view.frames.size()) __builtin_trap();
}

void exercise(rt::Handle animation, const uint8_t* data, size_t size) {
  rt::Handle instance = CreateAnimationInstance(rt::kAnyNumber, animation, true);
  const float speeds[3] = {1.0f, -1.0f, 2.5f};
  for (size_t i = 0; i < 12; ++i) {
    uint8_t step = i < size ? data[i] : static_cast<uint8_t>(i);
    fuzzNow += static_cast<uint32_t>(step) * 37u;
    if (i % 4 == 0) SetAnimationSpeed(instance, speeds[(i / 4) % 3]);
    DisplayAnimation(instance, 5, 5, 255, static_cast<int32_t>(step) * 0x10101);
  }
  fuzzNow += 0x7FFFFFFF;  // a pause of weeks
  DisplayAnimation(instance, 5, 5);
  FreeAnimationInstance(instance);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool screen = rt::initScreenSystem(rt::Backend::Null);
  static std::vector<rt::DrawnQuad> drawn;
  if (!screen) return 0;
  rt::setDrawRecorder(&drawn);
  SetAnimationClock(fuzzClock);

  AnimationFileView view;
  if (ParseAnimationFile(data, size, -1, &view) == kAnimationFileOk) checkRoundTrip(view);
  std::vector<uint8_t> fixed = sealed(data, size);
  if (ParseAnimationFile(fixed.data(), fixed.size(), -1, &view) == kAnimationFileOk) {
    checkRoundTrip(view);
  }
  rt::Handle animation = CreateAnimationFromMemory(rt::kAnyNumber, fixed);
  if (animation) {
    exercise(animation, data, size);
    FreeAnimation(animation);
  }
  drawn.clear();
  return 0;
}
