// The frame-time harness: a fixed match scene drawn by the real renderer, frame after frame.
// Nightfall at night with four players; every four seconds three barrels beside a player blow up
// one after another, with smoke, blood and lights. The game's clock moves 12.5 ms per frame
// whatever the machine, so every run draws the very same frames; each is measured with the
// pacing switched off. Needs a display (xvfb-run -a -s "-screen 0 1024x768x24" ...).
//
// POWDERBOX_HARNESS_SHOTS=DIR keeps the game's own screenshots of frames 100, 130 and 430 there,
// to compare pictures before and after a change of the renderer.

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app.h"
#include "data/config.h"
#include "runtime/clock.h"
#include "runtime/input.h"
#include "runtime/screen.h"
#include "world/bot_brain.h"
#include "world/map.h"
#include "world/messages.h"
#include "world/world.h"

namespace {

constexpr int kWarmUpFrames = 60;
constexpr int kFrames = 960;
constexpr int kCycleFrames = 320;  // four seconds of game time
constexpr int kShotFrames[] = {100, 130, 430};
constexpr int kF12 = 88;

double cpuMs() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double wallMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

bool freeRun(int column, int row) {
  return botWalkable(column, row) && botWalkable(column + 1, row) && botWalkable(column + 2, row);
}

// Where three barrels in a row fit near a cell, out of its own row and column.
bool chainNear(int column, int row, int* chainColumn, int* chainRow) {
  for (int dr : {-1, 1, -2, 2}) {
    for (int c = column - 5; c <= column + 3; ++c) {
      if ((c <= column && column <= c + 2) || !freeRun(c, row + dr)) continue;
      *chainColumn = c;
      *chainRow = row + dr;
      return true;
    }
  }
  return false;
}

// Three barrels beside the watching player, the first with the shortest fuse, so that each
// blast sets off the next.
void placeChain() {
  const Player* watcher = world.localPlayer;
  int column, row;
  if (!watcher || !chainNear(cellX(watcher->x), cellY(watcher->y), &column, &row)) return;
  for (int i = 0; i < 3; ++i) {
    sendBarrelRequest(watcher->id, 4, cellCentreX(column + i), cellCentreY(row), 1200 * (i + 1));
  }
}

// The watching player stands on the free cell nearest the middle of the map that has room for
// the barrels beside it, so that the map fills the screen.
void placeWatcher() {
  Player* watcher = world.localPlayer;
  int best = 1 << 30, c, r;
  for (int row = 0; row < mapRows(); ++row) {
    for (int column = 0; column < mapColumns(); ++column) {
      int dx = column - mapColumns() / 2, dy = row - mapRows() / 2;
      if (dx * dx + dy * dy >= best || !botWalkable(column, row)) continue;
      if (!chainNear(column, row, &c, &r)) continue;
      best = dx * dx + dy * dy;
      watcher->x = cellCentreX(column);
      watcher->y = cellCentreY(row);
    }
  }
}

void startScene() {
  static bool started = false;
  if (started) return;
  started = true;
  std::string appData = std::filesystem::temp_directory_path() / "powderbox-harness";
  std::filesystem::create_directories(appData);
  setenv("APPDATA", appData.c_str(), 0);
  setenv("POWDERBOX_SEED", "1", 1);
  setenv("ALSOFT_DRIVERS", "null", 0);
  Options options;
  options.dataRoot = POWDERBOX_BINARY_DIR;
  options.tryMap = "Nightfall";
  options.bots = 3;
  if (!StartUp(options) || !StartTryMap(options)) std::exit(1);
  placeWatcher();
  if (const char* shots = getenv("POWDERBOX_HARNESS_SHOTS")) {
    SetConfigFolder(std::string(shots) + "/");
  }
  // Every frame as fast as it can go, on a clock that moves by the frame.
  rt::setFrameRate(0);
  rt::setSteppedClock(true);
}

void BM_MatchScene(benchmark::State& state) {
  startScene();
  std::vector<double> cpu, wall;
  rt::DrawStats sum;
  int frame = 0;
  auto step = [&frame] {
    rt::stepClock(12500);
    if (frame % kCycleFrames == 0) placeChain();
    bool shot = std::find(std::begin(kShotFrames), std::end(kShotFrames), frame) !=
                std::end(kShotFrames);
    if (shot || std::find(std::begin(kShotFrames), std::end(kShotFrames), frame + 1) !=
                    std::end(kShotFrames)) {
      rt::setKeyState(kF12, !shot);  // down the frame before, released on the frame itself
    }
    GamePass();
    ++frame;
  };
  for (int i = 0; i < kWarmUpFrames; ++i) step();
  for (auto _ : state) {
    double c = cpuMs(), w = wallMs();
    step();
    cpu.push_back(cpuMs() - c);
    wall.push_back(wallMs() - w);
    rt::DrawStats drawn = rt::lastFrameStats();
    sum.quads += drawn.quads;
    sum.blendedPixels += drawn.blendedPixels;
    sum.textureSwitches += drawn.textureSwitches;
    sum.blendSwitches += drawn.blendSwitches;
  }
  double frames = static_cast<double>(cpu.size());
  state.counters["cpu_median_ms"] = percentile(cpu, 0.5);
  state.counters["cpu_p99_ms"] = percentile(cpu, 0.99);
  state.counters["wall_median_ms"] = percentile(wall, 0.5);
  state.counters["wall_p99_ms"] = percentile(wall, 0.99);
  state.counters["quads"] = static_cast<double>(sum.quads) / frames;
  state.counters["screens_blended"] = sum.blendedPixels / frames / (1024.0 * 768.0);
  state.counters["texture_switches"] = static_cast<double>(sum.textureSwitches) / frames;
  state.counters["blend_switches"] = static_cast<double>(sum.blendSwitches) / frames;
}
BENCHMARK(BM_MatchScene)->Iterations(kFrames)->Unit(benchmark::kMillisecond);

// What the pixels alone cost: a cleared screen and then N full-screen rectangles under the
// lights' blend, nothing else. The slope is the price of a blended screen on this machine, and
// with the scene's blended screens it gives the floor a frame cannot go below.
void BM_BlendedScreens(benchmark::State& state) {
  startScene();
  std::vector<double> cpu;
  uint32_t shade = 0;
  for (auto _ : state) {
    double c = cpuMs();
    if (rt::beginDrawing()) {
      rt::clearScreen(0x202020 + (++shade & 1));  // never the frame already on screen
      rt::setBlendMode(9, 7);
      for (int i = 0; i < state.range(0); ++i) rt::fillRect(0, 0, 1024, 768, 0x101010);
      rt::setBlendMode(5, 6);
      rt::endDrawing();
    }
    rt::flipScreen();
    cpu.push_back(cpuMs() - c);
  }
  state.counters["cpu_median_ms"] = percentile(cpu, 0.5);
  state.counters["cpu_p99_ms"] = percentile(cpu, 0.99);
}
BENCHMARK(BM_BlendedScreens)->Arg(0)->Arg(1)->Arg(2)->Arg(4)->Arg(6)->Iterations(240)
    ->Unit(benchmark::kMillisecond);

}  // namespace
