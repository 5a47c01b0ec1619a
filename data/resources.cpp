#include "data/resources.h"

#include <cmath>
#include <memory>
#include <vector>

#include "data/archive.h"
#include "render/animation.h"
#include "render/particles.h"
#include "render/typeface.h"
#include "runtime/log.h"
#include "runtime/screen.h"
#include "runtime/sound.h"

namespace {

constexpr int32_t kArchiveNumber = 0;
constexpr int32_t kGuiArchiveNumber = 16;

struct SpriteEntry {
  int32_t number;
  const char* entry;
  int displaySize;  // 0: the picture's own size
};

const SpriteEntry kGfxSprites[] = {
    {kSpriteBox, "Box.png", 0},
    {kSpriteBarrel, "Barrel.png", 0},
    {kSpriteBlood, "Blood 001.png", 0},
    {kSpriteBloodArm, "Blood Arm 001.png", 0},
    {kSpriteBloodTorso, "Blood Torso 001.png", 0},
    {kSpriteHair, "Hair.png", 32},
    {kSpriteBarrelSmall, "Barrel Small.png", 0},
    {kSpriteBarrelFront, "Barrel Front.png", 0},
    {kSpriteBarrelGunpowder, "Barrel Gunpowder.png", 0},
    {kSpriteBarrelBack, "Barrel Back.png", 0},
    {kSpriteFuse, "Fuse.png", 0},
    {kSpriteKillsList, "Kills List.png", 0},
    {kSpriteIconFire, "Icon Fire.png", 48},
    {kSpriteIconFuse, "Icon Fuse.png", 48},
    {kSpriteIconBarrel, "Icon Barrel.png", 48},
};

const SpriteEntry kGuiSprites[] = {
    {kSpriteBlack, "Black.png", 0},         {kSpriteTitle, "Title.png", 0},
    {kSpriteCheckBox0, "CheckBox0.png", 0}, {kSpriteCheckBox1, "CheckBox1.png", 0},
    {kSpriteButton, "Button.png", 0},       {kSpriteString, "String.png", 0},
    {kSpriteList, "List.png", 0},           {kSpriteUp, "Up.png", 0},
    {kSpriteDown, "Down.png", 0},           {kSpriteSlider, "Slider.png", 0},
    {kSpriteLine, "Line.png", 0},           {kSpriteHead, "Head.png", 0},
    {kSpriteSelect, "Select.png", 0},       {kSpriteSpinUp, "SpinUp.png", 0},
    {kSpriteSpinDown, "SpinDown.png", 0},   {kSpriteToolTip, "ToolTip.png", 0},
    {kSpriteBackground, "Background.jpg", 0},
};

const struct {
  int32_t number;
  const char* entry;
} kAnimations[] = {
    {kAnimationTorso, "Player\\Torso.afs"}, {kAnimationLegs, "Player\\Legs.afs"},
    {kAnimationShoulder, "Player\\Shoulder.afs"}, {kAnimationFire, "Items\\Fire.afs"},
    {kAnimationTime, "Items\\Time.afs"},    {kAnimationAmount, "Items\\Amount.afs"},
};

const struct {
  int32_t number;
  const char* entry;
} kTypefaces[] = {{kFontNormal, "Normal.tf"}, {kFontLight, "Light.tf"}, {kFontBig, "Big.tf"}};

const struct {
  int32_t number;
  const char* entry;
  bool streamed;
} kSounds[] = {
    {kSoundFuse, "Fuze.ogg", false},         {kSoundExplosion, "Explosion.ogg", false},
    {kSoundItem, "Item.ogg", false},         {kSoundStep, "Step.ogg", false},
    {kSoundChat, "Chat.ogg", false},         {kSoundMenuMusic, "Music\\Menu.ogg", true},
    {kSoundGameMusic, "Music\\Game.ogg", true},
};

// A streamed sound decodes from its memory while it plays, so the memory lives with the sound.
std::vector<std::unique_ptr<std::vector<uint8_t>>> streamedSoundMemory;

rt::Handle defaultParticleTexture = 0;

// Opens one archive, runs load() on it and closes it; a missing archive is skipped.
template <class Load>
void withArchive(int32_t number, const char* path, Load load) {
  rt::Handle archive = openArchive(number, path, kArchivePassword);
  if (!archive) {
    rt::logLine("DATA", "skipped %s: its resources stay missing", path);
    return;
  }
  int loaded = load(archive);
  closeArchive(archive);
  rt::logLine("DATA", "loaded %d resources from %s", loaded, path);
}

int loadSprites(uint32_t archive, const SpriteEntry* entries, size_t count) {
  int loaded = 0;
  for (size_t i = 0; i < count; ++i) {
    if (!Load3DSprite(archive, entries[i].number, entries[i].entry)) continue;
    ++loaded;
    if (int size = entries[i].displaySize) rt::sizeSprite3D(entries[i].number, size, size);
  }
  return loaded;
}

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

int32_t Load3DSprite(uint32_t archive, int32_t number, const std::string& entry) {
  std::vector<uint8_t> bytes = readArchiveEntry(archive, entry);
  if (bytes.empty()) return 0;
  if (!rt::createSpriteFromMemory(number, bytes.data(), bytes.size())) return 0;
  if (!rt::createSprite3D(number, number)) return 0;
  return number;
}

rt::Handle LoadSound(uint32_t archive, int32_t number, const std::string& entry, bool streamed) {
  auto bytes = std::make_unique<std::vector<uint8_t>>(readArchiveEntry(archive, entry));
  if (bytes->empty()) return 0;
  rt::Handle sound = rt::createSound(number, bytes->data(), bytes->size(),
                                     streamed ? rt::kSoundStreamed : 0);
  if (sound && streamed) streamedSoundMemory.push_back(std::move(bytes));
  return sound;
}

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
  if (!examineArchiveFolder(archive, folder)) return;
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '\\') prefix += '\\';
  while (nextArchiveFile(archive)) {
    std::string name = archiveFileName(archive);
    std::string extension = rt::getExtensionPart(name);
    if (extension != "png" && extension != "jpg" && extension != "bmp") continue;
    if (name.size() <= 4) continue;
    std::string key = name.substr(0, name.size() - 4);
    if (textures.find(key)) continue;
    ParticleTexture* texture = textures.add(key);
    std::vector<uint8_t> bytes = readArchiveEntry(archive, prefix + name);
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

void LoadResources() {
  CreateDefaultParticleTexture();
  withArchive(kArchiveNumber, "Data\\GFX.qzd", [](uint32_t archive) {
    return loadSprites(archive, kGfxSprites, std::size(kGfxSprites));
  });
  withArchive(kGuiArchiveNumber, "Data\\GUI.qzd", [](uint32_t archive) {
    return loadSprites(archive, kGuiSprites, std::size(kGuiSprites));
  });
  withArchive(kArchiveNumber, "Data\\Animations.qzd", [](uint32_t archive) {
    int loaded = 0;
    for (const auto& a : kAnimations) loaded += LoadAnimation(archive, a.number, a.entry) != 0;
    return loaded;
  });
  withArchive(kArchiveNumber, "Data\\Fonts.qzd", [](uint32_t archive) {
    int loaded = 0;
    for (const auto& f : kTypefaces) loaded += LoadTypeface(archive, f.number, f.entry) != 0;
    return loaded;
  });
  withArchive(kArchiveNumber, "Data\\Sounds.qzd", [](uint32_t archive) {
    int loaded = 0;
    for (const auto& s : kSounds) loaded += LoadSound(archive, s.number, s.entry, s.streamed) != 0;
    return loaded;
  });
  withArchive(kArchiveNumber, "Data\\Particles.qzd", [](uint32_t archive) {
    LoadTextureFolder(archive, "Textures\\");
    int loaded = static_cast<int>(ParticleTextures().count());
    // Every file of the root is one definition; a later one of the same name wins.
    if (!examineArchiveFolder(archive, "\\")) return loaded;
    std::vector<std::string> names;
    while (nextArchiveFile(archive)) names.push_back(archiveFileName(archive));
    for (const std::string& name : names) loaded += LoadParticleDefinition(archive, "\\" + name);
    return loaded;
  });
  CreateGlowSprite();
}
