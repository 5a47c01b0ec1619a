// Particle engine costs on the null screen backend: one frame with thousands of live particles
// (a chain of barrels), and spawning the particles of one big blast.
#include <benchmark/benchmark.h>

#include <vector>

#include "render/particles.h"
#include "runtime/clock.h"
#include "runtime/screen.h"

namespace {

uint32_t now = 1000;
int32_t cameraX = 0, cameraY = 0;

ParticleType benchType() {
  static rt::Handle texture = 0;
  if (!texture) {
    rt::initScreenSystem(rt::Backend::Null);
    std::vector<uint8_t> white(32 * 32 * 4, 255);
    rt::Handle image = rt::createImage(rt::kAnyNumber, 32, 32, white.data());
    texture = rt::createSprite3D(rt::kAnyNumber, rt::createSpriteFromImage(rt::kAnyNumber, image));
    rt::freeImage(image);
    InitParticles(1024, 768, 10, &now, &cameraX, &cameraY, false);
  }
  ParticleType type;
  type.texture = texture;
  type.lifetime = 1 << 30;  // they live through the whole run
  type.startSize = 48;
  type.sizeChange = 0.01f;
  type.speed = 0;  // and stay on screen
  type.maxAngle = 359;
  type.sourceBlend = 5;
  type.destinationBlend = 2;
  type.startAlpha = 255;
  type.alphaLoss = 5;
  return type;
}

// Every frame is due, so each one draws and updates every particle.
void BM_ParticleFrame(benchmark::State& state) {
  ParticleType type = benchType();
  ClearParticles();
  for (int64_t i = 0; i < state.range(0); ++i) {
    SpawnParticle(type, rt::random(1024), rt::random(768));
  }
  for (auto _ : state) {
    now += 11;
    ParticleFrame();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  ClearParticles();
}
BENCHMARK(BM_ParticleFrame)->Arg(500)->Arg(5000)->Unit(benchmark::kMicrosecond);

// A barrel of strength 12 burning 49 cells, ten particles each.
void BM_SpawnBlast(benchmark::State& state) {
  ParticleType type = benchType();
  for (auto _ : state) {
    for (int i = 0; i < 490; ++i) SpawnParticle(type, 500, 400);
    ClearParticles();
  }
  state.SetItemsProcessed(state.iterations() * 490);
}
BENCHMARK(BM_SpawnBlast)->Unit(benchmark::kMicrosecond);

}  // namespace
