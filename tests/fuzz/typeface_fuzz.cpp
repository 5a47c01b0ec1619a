// Fuzzes the .tf reader, then loads, draws and measures what it accepts on the null screen.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render/typeface.h"
#include "render/typeface_file.h"
#include "runtime/checksum.h"
#include "runtime/screen.h"

namespace {

// Random bytes almost never carry a right checksum; a copy with one reaches the records and the
// picture.
std::vector<uint8_t> withChecksum(const uint8_t* data, size_t size) {
  std::vector<uint8_t> fixed(data, data + size);
  const uint32_t covered = static_cast<uint32_t>(size - kTypefaceHeaderSize);
  const uint32_t crc = rt::crc32(fixed.data() + kTypefaceHeaderSize, covered);
  for (int i = 0; i < 4; ++i) {
    fixed[8 + i] = static_cast<uint8_t>(covered >> (8 * i));
    fixed[12 + i] = static_cast<uint8_t>(crc >> (8 * i));
  }
  return fixed;
}

void exercise(rt::Handle typeface) {
  std::string every;
  for (int code = 1; code < 256; ++code) every += static_cast<char>(code);
  DrawText(typeface, 10, 20, every, 200, 0x123456, 1.5f, 30.0f);
  SetTypefaceClip(typeface, true, 30, 15, 200, 8);
  SetTypefaceSpacing(typeface, 2.5f);
  DrawText(typeface, 10, 20, every, kTypefaceKeep, kTypefaceKeepColour, 0.5f, -20.0f);
  SetTypefaceRotation(typeface, 33);
  DrawText(typeface, 10, 20, every);
  TextWidth(typeface, every);
  TextHeight(typeface, every, 2.0f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool screen = rt::initScreenSystem(rt::Backend::Null);
  static std::vector<rt::DrawnQuad> drawn;
  if (!screen) return 0;
  rt::setDrawRecorder(&drawn);

  TypefaceFile file;
  ParseTypefaceFile({data, size}, &file);
  if (size >= kTypefaceHeaderSize) {
    std::vector<uint8_t> fixed = withChecksum(data, size);
    rt::Handle typeface = LoadTypefaceFromMemory(rt::kAnyNumber, fixed);
    if (typeface) exercise(typeface);
    if (typeface) FreeTypeface(typeface);
  }
  drawn.clear();
  return 0;
}
