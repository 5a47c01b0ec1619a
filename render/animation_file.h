// The frame-animation file (".afs", identification "AFS-2.00") in memory: a parser that checks
// everything before it is trusted, and a writer for the content tools and the tests.
//
// Layout, all integers little-endian u32:
//   0  "AFS-2.00"
//   8  total size in bytes, the trailing CRC included
//   12 frame count (at least 1)
//   16 display width, 20 display height of every frame
//   24 the frames, one after the other: duration in ms, image length L, L bytes of PNG/JPEG/BMP
//   size - 4: CRC-32 of every byte before it
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr char kAnimationIdentification[8] = {'A', 'F', 'S', '-', '2', '.', '0', '0'};
inline constexpr size_t kAnimationHeaderSize = 24;
inline constexpr size_t kAnimationFrameHeaderSize = 8;
inline constexpr size_t kAnimationCrcSize = 4;

enum AnimationFileError : int32_t {
  kAnimationFileOk = 0,
  kAnimationFileBadIdentification = 1,
  kAnimationFileTooLarge = 2,    // the size field exceeds the caller's limit
  kAnimationFileBadSize = 3,     // the size field does not fit the bytes there are
  kAnimationFileBadChecksum = 4,
  kAnimationFileBadFrames = 5,   // no frames, or a frame that runs past the end
};

// One frame as found in the parsed bytes; image points into them.
struct AnimationFrameView {
  uint32_t duration = 0;
  const uint8_t* image = nullptr;
  size_t imageLength = 0;
};

struct AnimationFileView {
  uint32_t width = 0, height = 0;
  std::vector<AnimationFrameView> frames;
};

// Parses length bytes (which may run on past the size field: archive entries carry 8 zero bytes
// behind their content). maxSize below 0 means no limit of the caller's own; the bytes present
// always bound the file. On failure *out is left empty.
AnimationFileError ParseAnimationFile(const uint8_t* data, size_t length, int64_t maxSize,
                                      AnimationFileView* out);
const char* AnimationFileErrorText(AnimationFileError error);

// What the writer takes: frames with their encoded images.
struct AnimationFileFrame {
  uint32_t duration = 0;
  std::vector<uint8_t> image;
};

struct AnimationFile {
  uint32_t width = 0, height = 0;
  std::vector<AnimationFileFrame> frames;
};

// Encodes the file. Fails (false, *out untouched) without frames or when the result would not
// fit the 32-bit size field.
bool WriteAnimationFile(const AnimationFile& file, std::vector<uint8_t>* out);
