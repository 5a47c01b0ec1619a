#include "data/resources.h"

#include <memory>
#include <vector>

#include "data/archive.h"
#include "runtime/log.h"
#include "runtime/screen.h"
#include "runtime/sound.h"

namespace {

// A streamed sound decodes from its memory while it plays, so the memory lives with the sound.
std::vector<std::unique_ptr<std::vector<uint8_t>>> streamedSoundMemory;

}  // namespace

int32_t Load3DSprite(uint32_t archive, int32_t number, const std::string& entry) {
  std::vector<uint8_t> bytes = ReadArchiveEntry(archive, entry);
  if (bytes.empty()) return 0;
  if (!rt::createSpriteFromMemory(number, bytes.data(), bytes.size())) return 0;
  if (!rt::createSprite3D(number, number)) return 0;
  return number;
}

rt::Handle LoadSound(uint32_t archive, int32_t number, const std::string& entry, bool streamed) {
  auto bytes = std::make_unique<std::vector<uint8_t>>(ReadArchiveEntry(archive, entry));
  if (bytes->empty()) return 0;
  rt::Handle sound = rt::createSound(number, bytes->data(), bytes->size(),
                                     streamed ? rt::kSoundStreamed : 0);
  if (sound && streamed) streamedSoundMemory.push_back(std::move(bytes));
  return sound;
}
