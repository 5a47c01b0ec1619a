// Resource loading at start-up: every data archive opened in turn and its entries loaded under
// the fixed numbers of data/resources.h; then the renderer warmed up with what was loaded.
#include "app/resources.h"

#include <set>
#include <utility>
#include <vector>

#include "data/archive.h"
#include "data/resources.h"
#include "render/animation.h"
#include "render/lights.h"
#include "render/particles.h"
#include "render/typeface.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "runtime/screen.h"
#include "world/world.h"

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

using BlendPair = std::pair<int, int>;

// The 3D sprites of the pictures loaded at start-up that draw under the normal blend pair. Tile
// pictures come with a map, later; samplePictures() stands in for them.
std::vector<rt::Handle> normalPictures() {
  std::vector<rt::Handle> pictures;
  for (const SpriteEntry& e : kGfxSprites) pictures.push_back(e.number);
  for (const SpriteEntry& e : kGuiSprites) pictures.push_back(e.number);
  pictures.push_back(kSpriteGlow);
  for (const auto& a : kAnimations) {
    for (int frame = 0; frame < AnimationFrameCount(a.number); ++frame) {
      pictures.push_back(AnimationFrameSprite3D(a.number, frame));
    }
  }
  std::erase_if(pictures, [](rt::Handle h) { return !rt::sprite3DExists(h); });
  return pictures;
}

// Each picture with the blend pair it is drawn under besides the normal one: the items'
// animations under the items' pair, each particle type's texture under its own.
std::vector<std::pair<rt::Handle, BlendPair>> blendedPictures() {
  std::vector<std::pair<rt::Handle, BlendPair>> pictures;
  Item item;
  BlendPair itemPair = {item.blendSource, item.blendDestination};
  for (int animation : {kAnimationFire, kAnimationTime, kAnimationAmount}) {
    for (int frame = 0; frame < AnimationFrameCount(animation); ++frame) {
      pictures.push_back({AnimationFrameSprite3D(animation, frame), itemPair});
    }
  }
  for (auto& [name, type] : ParticleTypes()) {
    pictures.push_back({type.texture, {type.sourceBlend, type.destinationBlend}});
  }
  std::erase_if(pictures, [](const auto& p) { return !rt::sprite3DExists(p.first); });
  return pictures;
}

// Small pictures of every kind the renderer tells apart: sides a power of two or not, opaque or
// not, so that a tile picture that comes with a map finds its kind ready.
std::vector<rt::Handle> samplePictures() {
  std::vector<rt::Handle> pictures;
  for (int width : {32, 24}) {
    for (int height : {32, 24}) {
      for (uint8_t alpha : {255, 128}) {
        std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4, alpha);
        rt::Handle image = rt::createImage(rt::kAnyNumber, width, height, rgba.data());
        rt::Handle sprite = rt::createSpriteFromImage(rt::kAnyNumber, image);
        rt::freeImage(image);
        if (sprite) pictures.push_back(rt::createSprite3D(rt::kAnyNumber, sprite));
      }
    }
  }
  return pictures;
}

void freeSamplePictures(const std::vector<rt::Handle>& pictures) {
  for (rt::Handle picture : pictures) {
    rt::Handle sprite = rt::sprite3DTexture(picture);
    rt::freeSprite3D(picture);
    rt::freeSprite(sprite);
  }
}

// The ways a frame draws a picture: one texel to a pixel, and scaled (turned pictures go the same
// way) at full alpha and faded. Only the top-left pixel lands on the screen.
void warmPicture(rt::Handle sprite3D, float cornerX, float cornerY) {
  float width = rt::sprite3DWidth(sprite3D), height = rt::sprite3DHeight(sprite3D);
  float angle = rt::sprite3DRotation(sprite3D);
  rt::Handle texture = rt::sprite3DTexture(sprite3D);
  float textureWidth = static_cast<float>(rt::spriteWidth(texture));
  float textureHeight = static_cast<float>(rt::spriteHeight(texture));
  rt::rotateSprite3D(sprite3D, 0, 0);
  rt::sizeSprite3D(sprite3D, textureWidth, textureHeight);
  rt::displaySprite3D(sprite3D, cornerX, cornerY, 255);
  rt::sizeSprite3D(sprite3D, textureWidth * 1.5f, textureHeight * 1.5f);
  rt::displaySprite3D(sprite3D, cornerX, cornerY, 255);
  rt::displaySprite3D(sprite3D, cornerX, cornerY, 128);
  rt::sizeSprite3D(sprite3D, width, height);
  rt::rotateSprite3D(sprite3D, angle, 0);
}

// The light pass with one light of each shape at the screen's corner, the ambient tint included.
// Returns the blend pairs it drew with.
std::set<BlendPair> warmLights() {
  std::vector<rt::DrawnQuad> drawn;
  rt::setDrawRecorder(&drawn);
  std::vector<Light*> lights;
  for (int shape : {kLightPoint, kLightCone, kLightPlane}) {
    lights.push_back(AddLight(shape, 64, 64, world.camera.x + rt::frame.width + 31,
                              world.camera.y + rt::frame.height + 31, 0xFFFFFF, 1.0f, 0));
  }
  DrawLights();
  for (Light* light : lights) RemoveLight(light);
  rt::setDrawRecorder(nullptr);
  std::set<BlendPair> pairs;
  for (const rt::DrawnQuad& quad : drawn) pairs.insert({quad.sourceBlend, quad.destinationBlend});
  return pairs;
}

}  // namespace

void WarmUpRenderer() {
  uint64_t started = rt::microseconds();
  std::vector<rt::Handle> samples = samplePictures();
  std::vector<rt::Handle> pictures = normalPictures();
  pictures.insert(pictures.end(), samples.begin(), samples.end());
  std::vector<std::pair<rt::Handle, BlendPair>> blended = blendedPictures();
  float cornerX = static_cast<float>(rt::frame.width - 1);
  float cornerY = static_cast<float>(rt::frame.height - 1);
  rt::clearScreen(0);
  if (rt::beginDrawing()) {
    // Plain rectangles may come under any pair the game uses.
    std::set<BlendPair> pairs = warmLights();
    pairs.insert({5, 6});
    for (const auto& [picture, pair] : blended) pairs.insert(pair);
    for (const BlendPair& pair : pairs) {
      rt::setBlendMode(pair.first, pair.second);
      rt::fillRect(cornerX, cornerY, 1, 1, 0xFFFFFF);
    }
    for (const auto& [picture, pair] : blended) {
      rt::setBlendMode(pair.first, pair.second);
      warmPicture(picture, cornerX, cornerY);
    }
    rt::setBlendMode(5, 6);
    for (rt::Handle picture : pictures) warmPicture(picture, cornerX, cornerY);
    for (const auto& f : kTypefaces) {
      for (float scale : {1.0f, 1.5f}) {
        DrawText(f.number, cornerX - 1, cornerY - 1, "W", 255, 0xFFFFFF, scale);
      }
    }
    rt::endDrawing();
    // Reading a pixel back waits until everything above has been drawn.
    rt::freeImage(rt::grabScreen(rt::kAnyNumber, 0, 0, 1, 1));
    rt::clearScreen(0);
  }
  freeSamplePictures(samples);
  rt::logLine("START", "renderer warmed with %zu pictures in %llu ms",
              pictures.size() + blended.size(),
              static_cast<unsigned long long>((rt::microseconds() - started) / 1000));
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
  withArchive(kArchiveNumber, "Data\\Particles.qzd", LoadParticleArchive);
  CreateGlowSprite();
}
