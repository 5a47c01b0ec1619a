// The widget pass on the null screen: one UpdateWidgets() over a busy menu page (a long server
// list, a row of buttons, text fields and an unfolded combo box). Besides the time, the counters
// say how many quads one pass draws and how often consecutive quads change texture or blending,
// which is what a batching screen backend would pay for.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "data/resources.h"
#include "render/typeface.h"
#include "render/typeface_file.h"
#include "runtime/containers.h"
#include "runtime/frame.h"
#include "runtime/screen.h"
#include "ui/widgets.h"

namespace {

// Typeface 1 with every printable ASCII character, rows about as tall as the game's.
std::vector<uint8_t> benchTypeface() {
  rt::Pixels pixels{32, 32, std::vector<uint8_t>(32 * 32 * 4, 255)};
  std::vector<uint8_t> png;
  rt::encodePng(pixels, &png);
  TypefaceFile file;
  for (int c = 32; c < 127; ++c) {
    file.glyphs.push_back({static_cast<uint16_t>(c), 0, 0, 9, 20, 0, 0, 8, 22});
  }
  file.picture = png;
  return WriteTypefaceFile(file);
}

// Each GUI picture its own texture, as the game loads them.
void makeGuiSprites() {
  for (int32_t number = kSpriteCheckBox0; number <= kSpriteToolTip; ++number) {
    rt::Handle image = rt::createImage(rt::kAnyNumber, 64, 64);
    rt::createSpriteFromImage(number, image);
    rt::freeImage(image);
    rt::createSprite3D(number, number);
  }
}

void buildBusyPage() {
  ClearWidgets();
  Widget* servers = AddList(24, 80, 640, 500, "server");
  const char* heads[] = {"Server Name", "Map", "Players", "Latency"};
  const int widths[] = {280, 140, 90, 90};
  for (int c = 0; c < 4; ++c) SetListColumn(servers, c, heads[c], widths[c], c < 2 ? 0 : 1);
  for (int i = 0; i < 200; ++i) {
    AddListRow(servers, "Server " + rt::str(i) + "\tNightfall\t" + rt::str(i % 8) + "/8\t" +
                            rt::str(20 + i % 90) + " ms");
  }
  SetWidgetState(servers, 42);
  for (int i = 0; i < 10; ++i) {
    AddButton(24 + i % 5 * 200, 600 + i / 5 * 60, 180, 40, "Button " + rt::str(i), "b");
  }
  Widget* name = AddStringWidget(700, 80, 300, 40, "name");
  SetWidgetText(name, "Default Player");
  Widget* address = AddStringWidget(700, 140, 300, 40, "address");
  SetWidgetText(address, "127.0.0.1");
  SetWidgetState(address, 1);  // focused: the caret is drawn too
  Widget* maps = AddComboBox(700, 200, 300, 36, "map");
  for (const char* map : {"Arena", "Market", "Nightfall", "Plains"}) AddListRow(maps, map);
  SetWidgetState(maps, 2);
  maps->open = true;
  gui.popup = maps;
  // The mouse rests on a row of the list, as while a player looks down it.
  mouse = MouseState{};
  mouse.x = 200;
  mouse.y = 300;
}

void BM_WidgetPass(benchmark::State& state) {
  rt::initScreenSystem(rt::Backend::Null);
  rt::frame = rt::Frame{};
  rt::frame.now = 10000;
  makeGuiSprites();
  std::vector<uint8_t> typeface = benchTypeface();
  LoadTypefaceFromMemory(kFontNormal, typeface);
  buildBusyPage();

  // The counts come from a recorded pass; the timed passes record nothing.
  std::vector<rt::DrawnQuad> quads;
  rt::setDrawRecorder(&quads);
  rt::beginDrawing();
  UpdateWidgets();
  rt::endDrawing();
  rt::setDrawRecorder(nullptr);
  int textureSwitches = 0, blendSwitches = 0;
  for (size_t i = 1; i < quads.size(); ++i) {
    textureSwitches += quads[i].texture != quads[i - 1].texture;
    blendSwitches += quads[i].sourceBlend != quads[i - 1].sourceBlend ||
                     quads[i].destinationBlend != quads[i - 1].destinationBlend;
  }

  for (auto _ : state) {
    rt::beginDrawing();
    UpdateWidgets();
    rt::endDrawing();
  }
  state.counters["quads"] = static_cast<double>(quads.size());
  state.counters["texture_switches"] = textureSwitches;
  state.counters["blend_switches"] = blendSwitches;

  ClearWidgets();
  FreeTypeface(kFontNormal);
  rt::shutdownScreenSystem();
}
BENCHMARK(BM_WidgetPass)->Unit(benchmark::kMicrosecond);

}  // namespace
