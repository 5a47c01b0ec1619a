// Fuzzes the particle definition reader, then spawns, emits, draws and ages what it accepts on
// the null screen over a clock the input moves.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "data/resources.h"
#include "render/particles.h"
#include "runtime/screen.h"

namespace {

uint32_t fuzzNow = 0;
int32_t cameraX = 0, cameraY = 0;

// Every run starts its camera afresh, or the moves of millions of runs would add up past the
// range of an int32. Starts near either end of the range still reach far-away screen positions:
// one run moves the camera by at most 40 * 128 pixels.
constexpr int32_t kCameraStarts[3] = {0, INT32_MAX - 8192, INT32_MIN + 8192};

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A definition the reader accepted reads back the same after writing.
void checkRoundTrip(const ParticleType& type, const std::string& name) {
  std::vector<uint8_t> bytes = EncodeParticleDefinition(type, name, "Fuzz");
  ParticleType again;
  std::string nameAgain;
  if (!ParseParticleDefinition(bytes, &again, &nameAgain)) __builtin_trap();
  bool same = nameAgain == name && again.unused == type.unused && again.active == type.active &&
              again.areaWidth == type.areaWidth && again.areaHeight == type.areaHeight &&
              again.interval == type.interval && again.textureKey == type.textureKey &&
              again.lifetime == type.lifetime && again.extraLifetime == type.extraLifetime &&
              sameBits(again.startSize, type.startSize) &&
              sameBits(again.sizeChange, type.sizeChange) && sameBits(again.speed, type.speed) &&
              again.minAngle == type.minAngle && again.maxAngle == type.maxAngle &&
              sameBits(again.driftFactor, type.driftFactor) &&
              again.sourceBlend == type.sourceBlend &&
              again.destinationBlend == type.destinationBlend &&
              sameBits(again.startAlpha, type.startAlpha) &&
              sameBits(again.alphaLoss, type.alphaLoss);
  if (!same) __builtin_trap();
}

void exercise(const std::string& name, const uint8_t* data, size_t size) {
  const ParticleType& type = *ParticleTypeByName(name);
  SetParticleDrift(size % 2 == 0, 0.5f, -1.5f);
  cameraX = kCameraStarts[size % 3];
  cameraY = kCameraStarts[(size / 3) % 3];
  for (int i = 0; i < 3; ++i) SpawnParticle(type, 100 * i, 50);
  ParticleType* emitter = AddEmitter(type, 300, 200);
  emitter->active = 1;
  for (size_t i = 0; i < 40; ++i) {
    uint8_t step = i < size ? data[i] : static_cast<uint8_t>(i * 7);
    fuzzNow += step;
    cameraX += static_cast<int8_t>(step);
    ParticleFrame();
  }
  fuzzNow += 0x7FFFFFFF;  // a pause of weeks
  ParticleFrame();
  RemoveEmitter(emitter);
  ClearParticles();
}

void run(const uint8_t* data, size_t size) {
  ParticleType type;
  std::string name;
  if (ParseParticleDefinition({data, size}, &type, &name)) checkRoundTrip(type, name);
  if (!AddParticleDefinition({data, size})) return;
  exercise(name, data, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool screen = rt::initScreenSystem(rt::Backend::Null);
  static std::vector<rt::DrawnQuad> drawn;
  if (!screen) return 0;
  if (!DefaultParticleTexture()) {
    CreateDefaultParticleTexture();
    InitParticles(640, 480, 10, &fuzzNow, &cameraX, &cameraY, true);
  }
  rt::setDrawRecorder(&drawn);
  run(data, size);
  // Random bytes seldom hold two line ends early on; with them the numbers reach the engine.
  std::vector<uint8_t> framed = {'H', '\n', 'F', 'u', 'z', 'z', '\n'};
  framed.insert(framed.end(), data, data + size);
  run(framed.data(), framed.size());
  ParticleTypes().clear();
  drawn.clear();
  return 0;
}
