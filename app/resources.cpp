// Resource loading at start-up: every data archive opened in turn and its entries loaded under
// the fixed numbers of data/resources.h.
#include "app/resources.h"

#include <vector>

#include "data/archive.h"
#include "data/resources.h"
#include "render/animation.h"
#include "render/particles.h"
#include "render/typeface.h"
#include "runtime/log.h"
#include "runtime/screen.h"

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

// Opens one archive, runs load() on it and closes it; a missing archive is skipped.
template <class Load>
void withArchive(int32_t number, const char* path, Load load) {
  rt::Handle archive = OpenArchive(number, path, kArchivePassword);
  if (!archive) {
    rt::logLine("DATA", "skipped %s: its resources stay missing", path);
    return;
  }
  int loaded = load(archive);
  CloseArchive(archive);
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

}  // namespace

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
  withArchive(kArchiveNumber, "Data\\Particles.qzd", LoadParticleArchive);
  CreateGlowSprite();
}
