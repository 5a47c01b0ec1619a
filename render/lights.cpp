#include "render/lights.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "data/archive.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/log.h"
#include "runtime/screen.h"

namespace {

constexpr int64_t kMaxShapeFileSize = 16 << 20;
constexpr int kShapeCount = 3;
const char* const kShapeFiles[kShapeCount] = {"Point.png", "Cone.png", "Plane.png"};

// Blend pairs of the light pass: the screen times (1 + light), then the ambient tint.
constexpr int kLightSource = 9, kLightDestination = 7;
constexpr int kAmbientSource = 3, kAmbientDestination = 9;

struct Picture {
  rt::Handle sprite = 0;
  rt::Handle sprite3D = 0;
};

struct LightEngine {
  bool initialised = false;
  bool enabled = false;
  const uint32_t* clock = nullptr;
  const int32_t* cameraX = nullptr;
  const int32_t* cameraY = nullptr;
  int32_t width = 0, height = 0;
  uint32_t ambientColour = 0;
  int32_t overlayColour = 0;  // none below 1
  Picture shapes[kShapeCount];
  rt::List<Light> lights;
  rt::List<Flash> flashes;
};

// Never destroyed: at exit the screen's tables may be gone before this would free its sprites.
LightEngine& engine() {
  static LightEngine* e = new LightEngine;
  return *e;
}

uint32_t now() {
  const uint32_t* clock = engine().clock;
  return clock ? *clock : rt::milliseconds();
}

// Nearest whole number, kept inside 32 bits; not-a-number counts as 0.
int32_t roundToInt(double value) {
  if (!(value == value)) return 0;
  return static_cast<int32_t>(std::clamp(std::round(value), -2147483648.0, 2147483647.0));
}

void freePicture(Picture& picture) {
  rt::freeSprite3D(picture.sprite3D);
  rt::freeSprite(picture.sprite);
  picture = Picture{};
}

Picture pictureFromBytes(const std::vector<uint8_t>& bytes) {
  Picture picture;
  if (bytes.empty()) return picture;
  picture.sprite = rt::createSpriteFromMemory(rt::kAnyNumber, bytes.data(), bytes.size());
  if (picture.sprite) picture.sprite3D = rt::createSprite3D(rt::kAnyNumber, picture.sprite);
  return picture;
}

void loadShapes(const std::string& source) {
  LightEngine& e = engine();
  bool fromArchive = source.size() >= 3 && source.compare(source.size() - 3, 3, "qzd") == 0;
  if (!fromArchive) {
    for (int i = 0; i < kShapeCount; ++i) {
      std::vector<uint8_t> bytes;
      if (rt::readWholeFile(source + kShapeFiles[i], &bytes, kMaxShapeFileSize)) {
        e.shapes[i] = pictureFromBytes(bytes);
      }
    }
    return;
  }
  rt::Handle archive = OpenArchive(rt::kAnyNumber, source, kArchivePassword);
  if (!archive) {
    rt::logLine("DATA", "skipped %s: lights draw nothing", source.c_str());
    return;
  }
  for (int i = 0; i < kShapeCount; ++i) {
    e.shapes[i] = pictureFromBytes(ReadArchiveEntry(archive, kShapeFiles[i]));
  }
  CloseArchive(archive);
}

// Light colours are 0x00BBGGRR; quads take 0x00RRGGBB.
uint32_t quadColour(uint32_t colour) {
  return (colour & 0xFF) << 16 | (colour & 0xFF00) | (colour >> 16 & 0xFF);
}

void fillScreen(uint32_t colour) {
  const LightEngine& e = engine();
  rt::fillRect(0, 0, static_cast<float>(e.width), static_cast<float>(e.height),
               quadColour(colour));
}

uint8_t scaled(uint8_t byte, float intensity) {
  int32_t value = roundToInt(byte * static_cast<double>(intensity));
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// The quad's corner colour, 0x00RRGGBB, of a light's colour at an intensity.
uint32_t lightColour(uint8_t red, uint8_t green, uint8_t blue, float intensity) {
  return uint32_t{scaled(red, intensity)} << 16 | uint32_t{scaled(green, intensity)} << 8 |
         scaled(blue, intensity);
}

bool overlapsScreen(int64_t x, int64_t y, int64_t width, int64_t height) {
  const LightEngine& e = engine();
  return x + width > 0 && x < e.width && y + height > 0 && y < e.height;
}

// A turned light that is not square is drawn shifted by the difference of its halves (up when
// it is wider than high); the maps' lights are placed with that in mind.
int32_t rotatedCorrection(const Light& light) {
  if (light.rotation == 0 || light.width == light.height) return 0;
  return light.halfHeight - light.halfWidth;
}

void newFlicker(Light& light, uint32_t time) {
  light.widthReduction = static_cast<float>(
      rt::random(roundToInt(light.halfWidth * static_cast<double>(light.flickerAmount))));
  light.heightReduction = static_cast<float>(
      rt::random(roundToInt(light.halfHeight * static_cast<double>(light.flickerAmount))));
  light.intensityReduction =
      static_cast<float>(rt::random(roundToInt(static_cast<double>(light.intensity) *
                                               light.flickerAmount * 50))) /
      100.0f;
  light.nextFlicker = time + static_cast<uint32_t>(light.flickerInterval);
}

void drawLight(Light& light, uint32_t time) {
  float width = static_cast<float>(light.width), height = static_cast<float>(light.height);
  float x = static_cast<float>(light.screenX), y = static_cast<float>(light.screenY);
  float intensity = light.intensity;
  if (light.flicker) {
    if (rt::timeBefore(light.nextFlicker, time)) newFlicker(light, time);
    width = static_cast<float>(roundToInt(light.width - light.widthReduction));
    height = static_cast<float>(roundToInt(light.height - light.heightReduction));
    x = static_cast<float>(roundToInt(light.screenX + light.widthReduction / 2));
    y = static_cast<float>(roundToInt(light.screenY + light.heightReduction / 2));
    intensity -= light.intensityReduction;
  }
  y += static_cast<float>(rotatedCorrection(light));
  rt::sizeSprite3D(light.sprite3D, width, height);
  rt::rotateSprite3D(light.sprite3D, light.rotation, 0);
  rt::setSprite3DColour(light.sprite3D,
                        lightColour(light.red, light.green, light.blue, intensity));
  rt::displaySprite3D(light.sprite3D, x, y, 255);
}

void drawLights(uint32_t time, int32_t cameraX, int32_t cameraY) {
  for (Light& light : engine().lights) {
    if (light.active != 1) continue;
    light.screenX = static_cast<int32_t>(int64_t{light.x} - cameraX);
    light.screenY = static_cast<int32_t>(int64_t{light.y} - cameraY);
    if (!light.sprite3D) continue;
    if (!overlapsScreen(light.screenX, light.screenY, light.width, light.height)) continue;
    drawLight(light, time);
  }
}

void drawFlash(const Flash& flash) {
  rt::sizeSprite3D(flash.sprite3D, static_cast<float>(flash.width),
                   static_cast<float>(flash.height));
  rt::rotateSprite3D(flash.sprite3D, flash.rotation, 0);
  rt::setSprite3DColour(flash.sprite3D,
                        lightColour(flash.red, flash.green, flash.blue, flash.intensity));
  rt::displaySprite3D(flash.sprite3D, static_cast<float>(flash.screenX - flash.halfWidth),
                      static_cast<float>(flash.screenY - flash.halfHeight), 255);
}

// Flashes fade whether or not they are on screen, and go once dark.
void drawFlashes(uint32_t time, int32_t cameraX, int32_t cameraY) {
  rt::List<Flash>& flashes = engine().flashes;
  for (auto it = flashes.begin(); it != flashes.end();) {
    Flash& flash = *it;
    flash.screenX = static_cast<int32_t>(int64_t{flash.x} - cameraX);
    flash.screenY = static_cast<int32_t>(int64_t{flash.y} - cameraY);
    // Tested on the rectangle it covers, so a flash centred just past an edge still shows.
    if (flash.sprite3D && overlapsScreen(int64_t{flash.screenX} - flash.halfWidth,
                                         int64_t{flash.screenY} - flash.halfHeight, flash.width,
                                         flash.height)) {
      drawFlash(flash);
    }
    if (rt::timeBefore(flash.fadeAt, time)) flash.intensity -= flash.fadePerFrame;
    if (flash.intensity >= 0) {
      ++it;
    } else {
      it = flashes.erase(it);
    }
  }
}

}  // namespace

void InitLights(const std::string& source, int screenWidth, int screenHeight,
                const uint32_t* clock, const int32_t* cameraX, const int32_t* cameraY) {
  LightEngine& e = engine();
  for (Picture& shape : e.shapes) freePicture(shape);
  e.width = screenWidth;
  e.height = screenHeight;
  e.clock = clock;
  e.cameraX = cameraX;
  e.cameraY = cameraY;
  loadShapes(source);
  e.initialised = true;
  e.enabled = true;
  SetAmbientColour(0);
}

void SetLightCamera(const int32_t* cameraX, const int32_t* cameraY) {
  engine().cameraX = cameraX;
  engine().cameraY = cameraY;
}

void SetLightsEnabled(bool enabled) { engine().enabled = enabled; }

rt::Handle LightShapeSprite(int shape) {
  if (shape < 0 || shape >= kShapeCount) return 0;
  return engine().shapes[shape].sprite3D;
}

void SetAmbientColour(uint32_t colour) {
  LightEngine& e = engine();
  if (e.initialised) e.ambientColour = colour;
}

void SetOverlayColour(int32_t colour) {
  LightEngine& e = engine();
  if (e.initialised) e.overlayColour = colour;
}

uint32_t AmbientColour() { return engine().ambientColour; }

Light* AddLight(int shape, int width, int height, int centreX, int centreY, uint32_t colour,
                float intensity, int rotation) {
  Light* light = engine().lights.append();
  light->sprite3D = LightShapeSprite(shape);
  light->red = static_cast<uint8_t>(colour);
  light->green = static_cast<uint8_t>(colour >> 8);
  light->blue = static_cast<uint8_t>(colour >> 16);
  light->x = centreX - width / 2;
  light->y = centreY - height / 2;
  light->width = width;
  light->height = height;
  light->halfWidth = width / 2;
  light->halfHeight = height / 2;
  light->intensity = intensity;
  light->rotation = static_cast<int16_t>(rotation);
  light->active = 1;
  light->shape = static_cast<int16_t>(shape);
  return light;
}

void RemoveLight(Light* light) {
  if (light) engine().lights.remove(light);
}

Flash* AddFlash(int shape, int width, int height, int centreX, int centreY, uint32_t delayMs,
                uint32_t colour, float intensity, float fadePerFrame, int rotation) {
  Flash* flash = engine().flashes.append();
  flash->sprite3D = LightShapeSprite(shape);
  flash->red = static_cast<uint8_t>(colour);
  flash->green = static_cast<uint8_t>(colour >> 8);
  flash->blue = static_cast<uint8_t>(colour >> 16);
  flash->x = centreX;
  flash->y = centreY;
  flash->width = width;
  flash->height = height;
  flash->halfWidth = width / 2;
  flash->halfHeight = height / 2;
  flash->intensity = intensity;
  flash->rotation = static_cast<int16_t>(rotation);
  flash->fadePerFrame = fadePerFrame;
  flash->fadeAt = now() + delayMs;
  return flash;
}

void ClearLights() {
  engine().lights.clear();
  engine().flashes.clear();
}

rt::List<Light>& Lights() { return engine().lights; }
rt::List<Flash>& Flashes() { return engine().flashes; }

void DrawLights() {
  LightEngine& e = engine();
  if (!e.initialised || !e.enabled) return;
  uint32_t time = now();
  int32_t cameraX = e.cameraX ? *e.cameraX : 0;
  int32_t cameraY = e.cameraY ? *e.cameraY : 0;
  rt::setBlendMode(kLightSource, kLightDestination);
  drawLights(time, cameraX, cameraY);
  drawFlashes(time, cameraX, cameraY);
  if (e.overlayColour >= 1) fillScreen(static_cast<uint32_t>(e.overlayColour));
  rt::setBlendMode(kAmbientSource, kAmbientDestination);
  fillScreen(e.ambientColour);
  rt::setBlendMode(5, 6);
}
