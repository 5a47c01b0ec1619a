// The textures besides the numbered sprites: the particle texture map and the built-in pictures.
#include <cmath>
#include <vector>

#include "data/archive.h"
#include "data/resources.h"
#include "runtime/screen.h"

namespace {

rt::Handle defaultParticleTexture = 0;

// Both built-in pictures fall off smoothly from the centre to the edge.
float falloff(int x, int y, int size) {
  float half = size / 2.0f;
  float dx = (x + 0.5f - half) / half, dy = (y + 0.5f - half) / half;
  float d = std::sqrt(dx * dx + dy * dy);
  if (d >= 1) return 0;
  float t = 1 - d;
  return t * t * (3 - 2 * t);
}

}  // namespace

rt::Map<ParticleTexture>& ParticleTextures() {
  static rt::Map<ParticleTexture> textures;
  return textures;
}

void LoadTextureFolder(uint32_t archive, const std::string& folder) {
  rt::Map<ParticleTexture>& textures = ParticleTextures();
  for (auto& [key, texture] : textures) {
    rt::freeSprite3D(texture.sprite3D);
    rt::freeSprite(texture.sprite);
  }
  textures.clear();
  if (!ExamineArchiveFolder(archive, folder)) return;
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '\\') prefix += '\\';
  while (NextArchiveFile(archive)) {
    std::string name = ArchiveFileName(archive);
    std::string extension = rt::getExtensionPart(name);
    if (extension != "png" && extension != "jpg" && extension != "bmp") continue;
    if (name.size() <= 4) continue;
    std::string key = name.substr(0, name.size() - 4);
    if (textures.find(key)) continue;
    ParticleTexture* texture = textures.add(key);
    std::vector<uint8_t> bytes = ReadArchiveEntry(archive, prefix + name);
    texture->sprite = rt::createSpriteFromMemory(rt::kAnyNumber, bytes.data(), bytes.size());
    if (texture->sprite) texture->sprite3D = rt::createSprite3D(rt::kAnyNumber, texture->sprite);
  }
}

rt::Handle DefaultParticleTexture() { return defaultParticleTexture; }

void CreateDefaultParticleTexture() {
  constexpr int kSize = 128;
  std::vector<uint8_t> rgba(kSize * kSize * 4);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      auto level = static_cast<uint8_t>(std::lround(255 * falloff(x, y, kSize)));
      uint8_t* p = &rgba[(y * kSize + x) * 4];
      p[0] = p[1] = p[2] = level;
      p[3] = 255;  // no alpha channel of its own: the particle types blend it their way
    }
  }
  rt::Handle image = rt::createImage(rt::kAnyNumber, kSize, kSize, rgba.data());
  rt::Handle sprite = rt::createSpriteFromImage(rt::kAnyNumber, image);
  rt::freeImage(image);
  defaultParticleTexture = sprite ? rt::createSprite3D(rt::kAnyNumber, sprite) : 0;
}

void CreateGlowSprite() {
  constexpr int kSize = 64;
  std::vector<uint8_t> rgba(kSize * kSize * 4);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      uint8_t* p = &rgba[(y * kSize + x) * 4];
      p[0] = p[1] = p[2] = 0;  // a dark pool under the item, so its bright colours stand out
      p[3] = static_cast<uint8_t>(std::lround(255 * falloff(x, y, kSize)));
    }
  }
  rt::Handle image = rt::createImage(rt::kAnyNumber, kSize, kSize, rgba.data());
  if (rt::createSpriteFromImage(kSpriteGlow, image)) rt::createSprite3D(kSpriteGlow, kSpriteGlow);
  rt::freeImage(image);
}
