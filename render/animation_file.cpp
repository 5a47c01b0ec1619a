#include "render/animation_file.h"

#include <cstring>
#include <limits>
#include <utility>

#include "runtime/checksum.h"

namespace {

uint32_t u32At(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void putU32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

// Walks the frame records between the header and the CRC. The count was checked against the
// room there is, so reserving for it is bounded by the input's own length.
AnimationFileError readFrames(const uint8_t* data, size_t end, uint32_t count,
                              AnimationFileView* view) {
  view->frames.reserve(count);
  size_t at = kAnimationHeaderSize;
  for (uint32_t i = 0; i < count; ++i) {
    if (end - at < kAnimationFrameHeaderSize) return kAnimationFileBadFrames;
    AnimationFrameView frame;
    frame.duration = u32At(data + at);
    frame.imageLength = u32At(data + at + 4);
    at += kAnimationFrameHeaderSize;
    if (frame.imageLength > end - at) return kAnimationFileBadFrames;
    frame.image = data + at;
    at += frame.imageLength;
    view->frames.push_back(frame);
  }
  return kAnimationFileOk;
}

}  // namespace

AnimationFileError ParseAnimationFile(const uint8_t* data, size_t length, int64_t maxSize,
                                      AnimationFileView* out) {
  if (!out) return kAnimationFileBadFrames;
  *out = AnimationFileView{};
  if (!data || length < sizeof kAnimationIdentification ||
      std::memcmp(data, kAnimationIdentification, sizeof kAnimationIdentification) != 0) {
    return kAnimationFileBadIdentification;
  }
  if (length < kAnimationHeaderSize) return kAnimationFileBadSize;
  uint32_t size = u32At(data + 8);
  if (maxSize >= 0 && static_cast<int64_t>(size) > maxSize) return kAnimationFileTooLarge;
  if (size > length || size < kAnimationHeaderSize + kAnimationCrcSize) {
    return kAnimationFileBadSize;
  }
  size_t crcAt = size - kAnimationCrcSize;
  if (rt::crc32(data, crcAt) != u32At(data + crcAt)) return kAnimationFileBadChecksum;

  uint32_t count = u32At(data + 12);
  size_t room = crcAt - kAnimationHeaderSize;
  if (count == 0 || count > room / kAnimationFrameHeaderSize) return kAnimationFileBadFrames;
  AnimationFileView view;
  view.width = u32At(data + 16);
  view.height = u32At(data + 20);
  // Bytes between the last frame and the CRC are tolerated; the CRC covers them anyway.
  AnimationFileError error = readFrames(data, crcAt, count, &view);
  if (error != kAnimationFileOk) return error;
  *out = std::move(view);
  return kAnimationFileOk;
}

const char* AnimationFileErrorText(AnimationFileError error) {
  switch (error) {
    case kAnimationFileOk: return "no error";
    case kAnimationFileBadIdentification: return "not an AFS-2.00 file";
    case kAnimationFileTooLarge: return "larger than allowed";
    case kAnimationFileBadSize: return "size field does not match the data";
    case kAnimationFileBadChecksum: return "wrong checksum";
    case kAnimationFileBadFrames: return "no frames or a frame past the end";
  }
  return "unknown error";
}

bool WriteAnimationFile(const AnimationFile& file, std::vector<uint8_t>* out) {
  if (!out || file.frames.empty()) return false;
  uint64_t total = kAnimationHeaderSize + kAnimationCrcSize;
  for (const AnimationFileFrame& frame : file.frames) {
    total += kAnimationFrameHeaderSize + frame.image.size();
    if (total > std::numeric_limits<uint32_t>::max()) return false;
  }
  if (file.frames.size() > std::numeric_limits<uint32_t>::max()) return false;

  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(total));
  bytes.insert(bytes.end(), kAnimationIdentification,
               kAnimationIdentification + sizeof kAnimationIdentification);
  putU32(&bytes, static_cast<uint32_t>(total));
  putU32(&bytes, static_cast<uint32_t>(file.frames.size()));
  putU32(&bytes, file.width);
  putU32(&bytes, file.height);
  for (const AnimationFileFrame& frame : file.frames) {
    putU32(&bytes, frame.duration);
    putU32(&bytes, static_cast<uint32_t>(frame.image.size()));
    bytes.insert(bytes.end(), frame.image.begin(), frame.image.end());
  }
  putU32(&bytes, rt::crc32(bytes.data(), bytes.size()));
  *out = std::move(bytes);
  return true;
}
