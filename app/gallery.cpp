// The gallery: every loaded sprite, animation, typeface and widget on a few pages, so that anyone
// can look at the game's content. Left and Right (or a click) turn the pages, Escape ends.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/gallery.h"
#include "data/config.h"
#include "data/language.h"
#include "data/resources.h"
#include "render/animation.h"
#include "render/lights.h"
#include "render/particles.h"
#include "render/typeface.h"
#include "runtime/clock.h"
#include "runtime/containers.h"
#include "runtime/frame.h"
#include "runtime/input.h"
#include "runtime/log.h"
#include "runtime/screen.h"
#include "ui/screenshot.h"
#include "ui/widgets.h"

namespace {

constexpr int kKeyEscape = 1;
constexpr int kKeyLeft = 203;
constexpr int kKeyRight = 205;
constexpr uint32_t kGrey = 0x909090;
constexpr uint32_t kPlayerColours[] = {0x2020E0, 0xF08080, 0x10D010, 0x10D0D0, 0x780287};

struct GalleryPage {
  const char* title;
  void (*draw)(uint32_t elapsed);
  const char* language = nullptr;  // the labels' language; nullptr: the configured one
};

void label(float x, float y, const std::string& text, uint32_t colour = kGrey) {
  DrawText(kFontNormal, x, y, text, 255, colour, 0.75f, 0);
}

// ---- Sprites ---------------------------------------------------------------------------------

struct SpriteShown {
  int32_t number;
  const char* name;
  float size;  // drawn at most this wide and high; 0 = as loaded
  uint32_t tint = 0xFFFFFF;
};

const SpriteShown kShownSprites[] = {
    {kSpriteBox, "Box", 0},
    {kSpriteBarrel, "Barrel", 0},
    {kSpriteBlood, "Blood 001", 0},
    {kSpriteBloodArm, "Blood Arm 001", 0},
    {kSpriteBloodTorso, "Blood Torso 001", 0},
    {kSpriteHair, "Hair", 0},
    {kSpriteBarrelSmall, "Barrel Small", 48},
    {kSpriteBarrelBack, "Barrel Back", 0},
    {kSpriteBarrelGunpowder, "Barrel Gunpowder", 0},
    {kSpriteBarrelFront, "Barrel Front", 0},
    {kSpriteFuse, "Fuse", 0},
    {kSpriteIconFire, "Icon Fire", 0, 0x80FF80},
    {kSpriteIconFuse, "Icon Fuse", 0, 0xFFC080},
    {kSpriteIconBarrel, "Icon Barrel", 0, 0x40C0C0},
    {kSpriteGlow, "Glow (built in)", 96},
    {kSpriteKillsList, "Kills List", 0, 0x2020E0},
    {kSpriteCheckBox0, "CheckBox0", 0, kGrey},
    {kSpriteCheckBox1, "CheckBox1", 0, kGrey},
    {kSpriteButton, "Button", 0, kGrey},
    {kSpriteString, "String", 0, kGrey},
    {kSpriteList, "List", 0, kGrey},
    {kSpriteHead, "Head", 0, kGrey},
    {kSpriteSlider, "Slider", 0, kGrey},
    {kSpriteLine, "Line", 0, kGrey},
    {kSpriteUp, "Up", 0, kGrey},
    {kSpriteDown, "Down", 0, kGrey},
    {kSpriteSelect, "Select", 0, kGrey},
    {kSpriteSpinUp, "SpinUp", 0, kGrey},
    {kSpriteSpinDown, "SpinDown", 0, kGrey},
    {kSpriteToolTip, "ToolTip", 0, kGrey},
    {kSpriteTitle, "Title", 256, 0x808080},
    {kSpriteBlack, "Black", 64},
};

void drawSprites(uint32_t) {
  float x = 24, y = 64, rowHeight = 0;
  for (const SpriteShown& s : kShownSprites) {
    float w = 0, h = 0;
    if (rt::sprite3DExists(s.number)) {
      w = rt::sprite3DWidth(s.number);
      h = rt::sprite3DHeight(s.number);
    }
    float scale = s.size > 0 && w > 0 ? std::min(s.size / w, s.size / h) : 1;
    float cellWidth = std::max(w * scale, 110.0f) + 16;
    if (x + cellWidth > rt::frame.width - 16) {
      x = 24;
      y += rowHeight + 30;
      rowHeight = 0;
    }
    if (w > 0) {
      rt::sizeSprite3D(s.number, w * scale, h * scale);
      TintSprite3D(s.number, s.tint);
      rt::displaySprite3D(s.number, x, y, 255);
      rt::sizeSprite3D(s.number, w, h);
      TintSprite3D(s.number, 0xFFFFFF);
    }
    std::string text = rt::str(s.number) + " " + s.name;
    label(x, y + h * scale + 2, w > 0 ? text : text + " (missing)", w > 0 ? kGrey : 0x4040E0);
    rowHeight = std::max(rowHeight, h * scale + 16);
    x += cellWidth;
  }
}

// ---- Animations --------------------------------------------------------------------------

std::vector<PlayerBody> bodies;
rt::Handle itemInstances[3];

void drawAnimations(uint32_t elapsed) {
  if (bodies.empty()) {
    for (int i = 0; i < 5; ++i) {
      bodies.push_back(CreatePlayerBody());
      AnimatePlayerBody(bodies.back(), i > 0, true);
    }
    for (int i = 0; i < 3; ++i) {
      itemInstances[i] = CreateAnimationInstance(rt::kAnyNumber, kAnimationFire + i, true);
    }
  }
  // The first player stands still; the others walk round in a circle, each a little later.
  label(40, 60, "Players: standing, then walking in the five player colours");
  for (size_t i = 0; i < bodies.size(); ++i) {
    float x = 110 + 190 * i, y = 200;
    if (i > 0) {
      float turn = elapsed / 1000.0f + i;
      bodies[i].targetAngle = std::fmod(turn * 57.3f, 360.0f);
      float a = (bodies[i].targetAngle + 90) * 3.14159265f / 180;
      x += std::cos(a) * 40;
      y += std::sin(a) * 40;
    }
    DrawPlayerBody(bodies[i], x, y, 0, 0, kPlayerColours[i]);
  }
  label(40, 330, "The walk cycle frame by frame (legs, torso, shoulder)");
  for (int frame = 0; frame < AnimationFrameCount(kAnimationLegs) && frame < 10; ++frame) {
    float x = 30 + 98 * frame, y = 350;
    for (int32_t part : {kAnimationLegs, kAnimationTorso, kAnimationShoulder}) {
      rt::Handle quad = AnimationFrameSprite3D(part, frame);
      if (!quad) continue;
      rt::sizeSprite3D(quad, 96, 96);
      rt::rotateSprite3D(quad, 0, 0);
      TintSprite3D(quad, part == kAnimationShoulder ? kPlayerColours[frame % 5] : 0xFFFFFF);
      rt::displaySprite3D(quad, x, y, 255);
    }
  }
  label(40, 480, "Items: Fire, Time and Amount, tinted and drawn as in a match");
  const uint32_t itemColours[] = {0x80FF80, 0xFFC080, 0x40C0C0};
  for (int i = 0; i < 3; ++i) {
    float x = 120 + 200 * i, y = 560;
    rt::setBlendMode(5, 6);
    rt::sizeSprite3D(kSpriteGlow, 96, 96);
    rt::displaySprite3D(kSpriteGlow, x - 48, y - 48, 64);
    rt::setBlendMode(5, 2);
    DisplayAnimation(itemInstances[i], x - 32, y - 32, 255, itemColours[i]);
    rt::setBlendMode(5, 6);
  }
}

// ---- Text --------------------------------------------------------------------------------

void drawText(uint32_t elapsed) {
  const char* sample = "The quick brown fox jumps over the lazy dog. 0123456789";
  // Windows-1252 bytes: the game's texts are single-byte.
  std::string german = rt::utf8ToCp1252("Zwölf Boxkämpfer jagen Viktor quer über den großen Deich. ÄÖÜ é ß €");
  DrawText(kFontNormal, 40, 60, "Normal (GUI text)", 255, kGrey, 1, 0);
  DrawText(kFontNormal, 40, 90, sample, 255, 0xFFFFFF, 1, 0);
  DrawText(kFontNormal, 40, 115, german, 255, 0xFFFFFF, 1, 0);
  DrawText(kFontNormal, 40, 140, german, 255, 0xC0C0C0, 0.75f, 0);
  DrawText(kFontNormal, 40, 160, "Sheared 15 degrees, scale 1.3", 255, 0x80FF80, 1.3f, 15);

  DrawText(kFontLight, 40, 210, "Light: Barrels, Fuses", 255, kGrey, 1, 0);
  DrawText(kFontLight, 40, 260, german.substr(0, 24), 255, 0xFFFFFF, 1, 0);
  DrawText(kFontBig, 40, 320, "Big: Main Menu", 255, kGrey, 1, 0);
  DrawText(kFontBig, 40, 370, german.substr(0, 24), 255, 0xFFFFFF, 1, 0);

  // The page-title animation: an echo in Light that swings in over the Big title.
  float t = (elapsed % 3000) / 1000.0f;
  float f = t <= 1 ? std::sin(t * 3.14159265f / 2) : 1;
  float swing = 0.8f;
  SetTypefaceSpacing(kFontBig, f);
  SetTypefaceRotation(kFontLight, f * 6 * swing, 0);
  DrawText(kFontLight, 560 - 18 * f, 460 - 12 * f * swing, "Options", std::lround(255 - 192 * f),
           kGrey, 1.4f + 0.5f * f, 0);
  DrawText(kFontBig, 560, 460, "Options", 255, kGrey, 1, 0);
  SetTypefaceSpacing(kFontBig, 0);
  SetTypefaceRotation(kFontLight, 0, 0);
  label(560, 430, "Title animation (repeats)");

  // Clipping cuts glyphs without stretching them.
  int clipX = 40, clipY = 470, clipW = 300, clipH = 30;
  DrawText(kFontNormal, 40, 450, "Clipped to a text field:", 255, kGrey, 0.75f, 0);
  SetTypefaceClip(kFontNormal, true, clipX, clipY, clipW, clipH);
  float scroll = std::fmod(elapsed / 20.0f, 400.0f);
  DrawText(kFontNormal, clipX + 4 - scroll, clipY + 4, german, 255, 0xFFFFFF, 1, 0);
  SetTypefaceClip(kFontNormal, false);

  // Every printable Windows-1252 character.
  std::string row;
  float y = 540;
  for (int c = 32; c < 256; ++c) {
    if (c == 127) continue;
    row += static_cast<char>(c);
    if (row.size() == 56 || c == 255) {
      DrawText(kFontNormal, 40, y, row, 255, 0xC0C0C0, 1, 0);
      y += 26;
      row.clear();
    }
  }
}

// ---- Particles and lights ------------------------------------------------------------------

// A small arena on a paved floor: a barrel burns down and explodes, a box bursts into splinters,
// a player's blood sprays and the built-in type puffs, while the HUD's fuse spark burns; below,
// each light shape flickers, a flash fades, and the ambient colour changes every few seconds.
constexpr int kCell = 96;
constexpr int kFloorTop = 48;
constexpr uint32_t kFuseLightColour = 0xA0F0FF;
constexpr uint32_t kEffectsCycle = 4200;  // ms from one barrel's placing to the next

struct AmbientShown {
  uint32_t colour;
  const char* name;
};
const AmbientShown kAmbients[] = {
    {0x000000, "ambient 000000 (none: the picture is squared)"},
    {0x383838, "ambient 383838 (grey dusk)"},
    {0x402418, "ambient 402418 (blue night)"},
    {0x10284C, "ambient 10284C (warm evening)"},
};

struct EffectsScene {
  bool ready = false;
  rt::Handle floor = 0;
  Light* fuseLight = nullptr;
  ParticleType* fuseSpark = nullptr;
  Light* cone = nullptr;
  uint32_t cycleStart = 0;
  int stage = 0;  // events of the current cycle already run
  uint32_t nextFlash = 0;
  Flash* flash = nullptr;
  int ambient = -1;
};
EffectsScene effects;

int cellCentreX(int column) { return column * kCell + kCell / 2; }
int cellCentreY(int row) { return kFloorTop + row * kCell + kCell / 2; }

// Paving slabs, two by two per cell, in the arena's colours with a little noise.
rt::Handle makeFloorTile() {
  std::vector<uint8_t> rgba(kCell * kCell * 4);
  for (int y = 0; y < kCell; ++y) {
    for (int x = 0; x < kCell; ++x) {
      int lx = x % 48, ly = y % 48;
      uint32_t colour = 0xB9AB94;
      if (lx >= 44 || ly >= 44) colour = 0x8A7F6E;
      if (lx < 4 || ly < 4) colour = 0xD8CCB6;
      if (lx < 2 || ly < 2) colour = 0x6F665A;
      int noise = static_cast<int>((x * 73856093u ^ y * 19349663u) % 13) - 6;
      noise += (x / 48 + y / 48) % 2 ? 5 : -3;
      uint8_t* p = &rgba[(y * kCell + x) * 4];
      for (int c = 0; c < 3; ++c) {
        int channel = static_cast<int>(colour >> (16 - 8 * c) & 0xFF) + noise;
        p[c] = static_cast<uint8_t>(std::clamp(channel, 0, 255));
      }
      p[3] = 255;
    }
  }
  rt::Handle image = rt::createImage(rt::kAnyNumber, kCell, kCell, rgba.data());
  rt::Handle sprite = rt::createSpriteFromImage(rt::kAnyNumber, image);
  rt::freeImage(image);
  return sprite ? rt::createSprite3D(rt::kAnyNumber, sprite) : 0;
}

void setUpEffects() {
  effects.ready = true;
  effects.floor = makeFloorTile();
  effects.cycleStart = rt::frame.now;
  effects.fuseLight = AddLight(kLightPoint, 240, 240, cellCentreX(2), cellCentreY(1),
                               kFuseLightColour, 1.0f, 0);
  effects.fuseSpark = AddEmitter(*ParticleTypeByName("Spark"), cellCentreX(2), cellCentreY(1));
  // The HUD's fuse row: the spark sits at the right end of the last piece.
  AddEmitter(*ParticleTypeByName("Spark HUD"), 40 + 28 * 2 + 32, 700 + 26);

  Light* point = AddLight(kLightPoint, 300, 300, 150, 560, 0x50B0FF, 1.0f, 0);
  point->flicker = 1;
  point->flickerAmount = 0.25f;
  point->flickerInterval = 70;
  effects.cone = AddLight(kLightCone, 300, 300, 420, 560, 0xFFE8D0, 1.0f, 0);
  effects.cone->flicker = 1;
  effects.cone->flickerAmount = 0.08f;
  effects.cone->flickerInterval = 120;
  Light* plane = AddLight(kLightPlane, 220, 150, 680, 560, 0x90FFB0, 0.8f, 0);
  plane->flicker = 1;
  plane->flickerAmount = 0.12f;
  plane->flickerInterval = 200;
}

// What a barrel's blast leaves in one burning cell: fire, smoke and a flash.
void burnCell(int x, int y) {
  auto scatter = [] { return rt::random(kCell / 2) - kCell / 4; };
  const ParticleType& fire = *ParticleTypeByName("Explosion");
  const ParticleType& smoke = *ParticleTypeByName("Explosion Smoke");
  for (int i = 0; i < 5; ++i) SpawnParticle(fire, x + scatter(), y + scatter());
  for (int i = 0; i < 5; ++i) SpawnParticle(smoke, x + scatter(), y + scatter());
  AddFlash(kLightPoint, 320, 320, x, y, 800, kFuseLightColour, 1.0f, 0.02f, 0);
}

void explodeBarrel() {
  effects.fuseLight->active = 0;
  effects.fuseSpark->active = 0;
  const int cells[][2] = {{2, 1}, {2, 2}, {2, 0}, {3, 1}, {1, 1}};
  for (const auto& c : cells) burnCell(cellCentreX(c[0]), cellCentreY(c[1]));
}

void burstBox() {
  const ParticleType& wood = *ParticleTypeByName("Wood 001");
  for (int i = 0; i < 3; ++i) SpawnParticle(wood, cellCentreX(5), cellCentreY(1));
  burnCell(cellCentreX(5), cellCentreY(1));
}

// The built-in type, which stands in for textures a definition names but the data lacks.
void puffDefault() {
  const ParticleType& type = *ParticleTypeByName("Default");
  for (int i = 0; i < 3; ++i) SpawnParticle(type, cellCentreX(9), cellCentreY(1));
}

void sprayBlood() {
  int x = cellCentreX(7), y = cellCentreY(1);
  for (int i = 0; i < 4; ++i) SpawnParticle(*ParticleTypeByName("Blood Cloud 001"), x, y);
  // Every drop flies at its own share of the type's speed.
  for (int i = 0; i < 11; ++i) {
    Particle* drop = SpawnParticle(*ParticleTypeByName("Blood 001"), x, y);
    float factor = 1 - rt::random(50) / 100.0f;
    drop->velocityX *= factor;
    drop->velocityY *= factor;
  }
}

// The staged events of one cycle, run once each as their time comes.
void runEffectsCycle() {
  uint32_t t = rt::frame.now - effects.cycleStart;
  if (t >= kEffectsCycle) {
    effects.cycleStart = rt::frame.now;
    effects.stage = 0;
    effects.fuseLight->active = 1;
    effects.fuseSpark->active = 1;
    t = 0;
  }
  const uint32_t at[] = {1800, 2300, 2900, 3400};
  void (*const events[])() = {explodeBarrel, burstBox, sprayBlood, puffDefault};
  while (effects.stage < 4 && t >= at[effects.stage]) events[effects.stage++]();
}

void drawArena() {
  rt::setSprite3DColour(effects.floor, 0xA0A0A0);
  for (int row = 0; kFloorTop + row * kCell < rt::frame.height; ++row) {
    for (int column = 0; column * kCell < rt::frame.width; ++column) {
      rt::displaySprite3D(effects.floor, column * kCell, kFloorTop + row * kCell, 255);
    }
  }
  if (effects.stage < 1) {
    rt::displaySprite3D(kSpriteBarrel, cellCentreX(2) - 48, cellCentreY(1) - 48, 255);
  }
  if (effects.stage < 2) {
    rt::displaySprite3D(kSpriteBox, cellCentreX(5) - 48, cellCentreY(1) - 48, 255);
  }
  for (int i = 0; i < 3; ++i) rt::displaySprite3D(kSpriteFuse, 40 + 28 * i, 700, 255);
}

void drawEffects(uint32_t elapsed) {
  if (!effects.ready) setUpEffects();
  runEffectsCycle();
  // The barrel's fuse light flickers as in a match: a new strength every frame.
  effects.fuseLight->intensity = 0.25f + rt::random(75) / 100.0f;
  effects.cone->rotation = static_cast<int16_t>(elapsed / 25 % 360);
  if (!rt::timeBefore(rt::frame.now, effects.nextFlash)) {
    effects.flash =
        AddFlash(kLightPoint, 320, 320, 900, 560, 800, kFuseLightColour, 1.0f, 0.02f, 0);
    effects.nextFlash = rt::frame.now + 2500;
  }
  int ambient = static_cast<int>(elapsed / 5000 % std::size(kAmbients));
  if (ambient != effects.ambient) {
    SetAmbientColour(kAmbients[ambient].colour);
    effects.ambient = ambient;
  }

  drawArena();
  ParticleFrame();
  DrawLights();

  label(cellCentreX(2) - 80, 344, "Explosion, Explosion Smoke");
  label(cellCentreX(2) - 80, 362, "Spark (the barrel's fuse)");
  label(cellCentreX(5) - 40, 344, "Wood 001");
  label(cellCentreX(7) - 80, 344, "Blood 001, Blood Cloud 001");
  label(cellCentreX(9) - 50, 344, "Default (built in)");
  label(60, 690, "Spark HUD");
  label(80, 400, "Point, flickering");
  label(350, 400, "Cone, turning");
  label(610, 400, "Plane, flickering");
  bool flashAlive = false;
  for (Flash& f : Flashes()) flashAlive = flashAlive || &f == effects.flash;
  label(860, 400, flashAlive ? "Flash " + rt::strF(effects.flash->intensity, 2) : "Flash");
  label(240, 740, kAmbients[ambient].name, 0xFFFFFF);
  label(640, 740, rt::str(static_cast<int64_t>(Particles().count())) + " particles");
}

// ---- Widgets -------------------------------------------------------------------------------

// Every widget kind in each of its states. The records are the page's own, not the manager's;
// each frame runs a fresh copy of them with the mouse placed where the state needs it, so the
// states hold still: a waiting key widget would otherwise take the next key pressed, and the
// focused field whatever is typed.
enum class Hand { kAway, kOver, kPressing };

struct ShownWidget {
  Widget widget;
  const char* caption = "";    // a grey note above it
  int handX = -1, handY = -1;  // where the mouse is while it runs
  bool pressing = false;
};

// In drawing order: the open combo box's list and the message box last.
using ShownWidgets = std::vector<ShownWidget>;
ShownWidgets widgetPages[2];  // English, German

// A widget made the game's way, then taken out of the manager's list.
Widget keep(Widget* added) {
  Widget w = *added;
  RemoveWidget(added);
  return w;
}

void show(ShownWidgets& page, Widget w, const char* caption = "", Hand hand = Hand::kAway) {
  ShownWidget s{std::move(w), caption};
  if (hand != Hand::kAway) {
    s.handX = s.widget.x + s.widget.width / 2;
    s.handY = s.widget.y + s.widget.height / 2;
    s.pressing = hand == Hand::kPressing;
  }
  page.push_back(std::move(s));
}

void buildWidgets(ShownWidgets& page) {
  show(page, keep(AddTitle(600, 110, Lang("Options"))), "Title, swinging in every 3 s");

  show(page, keep(AddFrame(24, 298, 300, 88)), "Frame with check boxes and texts");
  show(page, keep(AddCheckBox(40, 312, "blood")));
  show(page, keep(AddText(76, 313, Lang("Blood"))));
  Widget checked = keep(AddCheckBox(40, 350, "camera"));
  checked.state = 1;
  show(page, checked);
  show(page, keep(AddText(76, 351, Lang("Free Camera"))));

  show(page, keep(AddText(24, 426, Lang("Control Up"))));
  Widget key = keep(AddKeyWidget(184, 418, 140, 36, "up"));
  key.text = KeyName(config.controlUp);
  show(page, key, "Key widgets: a key, and one waiting");
  show(page, keep(AddText(24, 470, Lang("Control A"))));
  Widget waiting = keep(AddKeyWidget(184, 462, 140, 36, "a"));
  waiting.text = KeyName(config.controlA);
  waiting.state = 1;
  show(page, waiting);

  show(page, keep(AddText(360, 298, Lang("Volume"))));
  Widget volume = keep(AddTrackBar(480, 298, 180, 24, 0, 100, 1, "volume"));
  volume.state = 70;
  show(page, volume, "Track bar");
  show(page, keep(AddText(360, 361, Lang("Name"))));
  Widget name = keep(AddStringWidget(480, 352, 180, 40, "name"));
  SetWidgetText(&name, "Default");
  show(page, name, "Text field");
  show(page, keep(AddText(360, 431, Lang("Server Name"))));
  Widget server = keep(AddStringWidget(480, 422, 180, 40, "server"));
  SetWidgetText(&server, "Default Server");
  server.caret = static_cast<int32_t>(server.text.size());
  server.state = 1;
  show(page, server, "Focused, with its caret");
  show(page, keep(AddText(360, 501, Lang("Rounds"))));
  Widget rounds = keep(AddNumberWidget(480, 492, 180, 40, 1, 20, 1, "rounds"));
  SetWidgetText(&rounds, "3");
  show(page, rounds, "Numeric field");

  show(page, keep(AddText(700, 305, Lang("Language"))));
  Widget language = keep(AddComboBox(830, 298, 170, 36, "language"));
  for (const char* name : {"English", "Deutsch"}) AddListRow(&language, name);
  SetWidgetState(&language, static_cast<int32_t>(&page - widgetPages));
  show(page, language, "Combo box");
  show(page, keep(AddText(700, 375, Lang("Map"))));
  Widget map = keep(AddComboBox(830, 368, 170, 36, "map"));
  for (const char* name : {"Arena", "Market", "Nightfall", "Plains"}) AddListRow(&map, name);
  SetWidgetState(&map, 1);
  map.open = true;
  show(page, map, "Open, the mouse over a map");

  Widget players = keep(AddList(24, 552, 636, 196, "player"));
  const char* heads[] = {"Player", "Points", "Kills", "Latency"};
  for (int c = 0; c < 4; ++c) {
    SetListColumn(&players, c, Lang(heads[c]), c ? 110 : 250, c ? 1.0f : 0.0f);
  }
  const char* names[] = {"Ada", "Brick", "Cinder", "Dusk", "Ember", "Flint",
                         "Gale", "Hazel", "Ivo", "Juno", "Kestrel", "Lumen"};
  for (int i = 0; i < 12; ++i) {
    AddListRow(&players, std::string(names[i]) + "\t" + rt::str(30 - 2 * i) + "\t" +
                             rt::str(12 - i) + "\t" + rt::str(20 + 7 * i) + " ms");
  }
  SetWidgetState(&players, 5);
  players.state = 3;
  show(page, players, "List: heads, 12 rows scrolled to the 4th, the 6th selected");

  const char* states[] = {"Normal", "Hover", "Pressed", "Disabled"};
  const char* labels[] = {"Start", "Connect", "Send", "Back"};
  const Hand hands[] = {Hand::kAway, Hand::kOver, Hand::kPressing, Hand::kOver};
  for (int i = 0; i < 4; ++i) {
    Widget button = keep(AddButton(700 + i % 2 * 160, 570 + i / 2 * 80, 140, 40,
                                   Lang(labels[i]), labels[i]));
    button.disabled = i == 3;
    show(page, button, states[i], hands[i]);
  }

  // The open combo box's list, as the manager's pass draws it over everything else.
  Widget popup = map;
  popup.kind = WidgetKind::kList;
  popup.y += map.height;
  popup.height = map.height * 3;
  ShownWidget popupShown{popup};
  popupShown.handX = popup.x + 50;
  popupShown.handY = popup.y + 4 + 5 * static_cast<int>(TextHeight(kFontNormal, "|", 1)) / 2;
  page.push_back(popupShown);

  show(page, keep(AddMessageBox(Lang("Quit Question"), "quit\tstay")));
}

void drawWidgets(ShownWidgets& page, uint32_t elapsed) {
  if (page.empty()) buildWidgets(page);
  gui.pageEnteredAt = rt::frame.now - elapsed % 3000;
  const MouseState remembered = mouse;
  for (const ShownWidget& s : page) {
    if (*s.caption) label(s.widget.x, s.widget.y - 18, s.caption);
  }
  for (const ShownWidget& s : page) {
    Widget w = s.widget;
    mouse = MouseState{};
    mouse.x = s.handX;
    mouse.y = s.handY;
    mouse.left = s.pressing;
    // The box centres itself and its dimming on the frame: a frame the size of the top left
    // corner keeps both there, so that the widgets beside it stay readable.
    if (w.kind == WidgetKind::kMessageBox) {
      int width = rt::frame.width, height = rt::frame.height;
      rt::frame.width = 520;
      rt::frame.height = 260;
      RunWidget(w);
      rt::frame.width = width;
      rt::frame.height = height;
    } else {
      RunWidget(w);
    }
  }
  mouse = remembered;
}

void drawWidgetsEnglish(uint32_t elapsed) { drawWidgets(widgetPages[0], elapsed); }
void drawWidgetsGerman(uint32_t elapsed) { drawWidgets(widgetPages[1], elapsed); }

// Loads a page's language when it differs from the table's.
void useLanguage(const char* language) {
  static std::string loaded = config.language;
  std::string wanted = language ? language : config.language;
  if (wanted == loaded) return;
  if (!LoadLanguage(LanguagePath(wanted))) LoadLanguage(LanguagePath("English"));
  loaded = wanted;
}

const GalleryPage kPages[] = {
    {"Sprites", drawSprites},
    {"Animations", drawAnimations},
    {"Text", drawText},
    {"Particles and lights", drawEffects},
    {"Widgets", drawWidgetsEnglish, "English"},
    {"Widgets (Deutsch)", drawWidgetsGerman, "Deutsch"},
};

}  // namespace

int GalleryPageCount() { return static_cast<int>(std::size(kPages)); }

void RunGallery(int firstPage) {
  int page = std::clamp(firstPage, 0, GalleryPageCount() - 1);
  uint32_t started = rt::milliseconds();
  rt::logLine("GALLERY", "page %d %s", page + 1, kPages[page].title);
  useLanguage(kPages[page].language);
  for (;;) {
    CollectWindowEvents();
    rt::examineKeyboard();
    int turn = 0;
    if (rt::keyReleased(kKeyRight)) turn = 1;
    if (rt::keyReleased(kKeyLeft)) turn = -1;
    for (const rt::WindowEvent& e : rt::frame.events) {
      if (e.code == rt::kEventLeftDown) turn = e.x < rt::frame.width / 2 ? -1 : 1;
    }
    if (turn) {
      page = (page + turn + GalleryPageCount()) % GalleryPageCount();
      started = rt::frame.now;
      rt::logLine("GALLERY", "page %d %s", page + 1, kPages[page].title);
      useLanguage(kPages[page].language);
    }
    rt::clearScreen(0x283028);
    if (rt::beginDrawing()) {
      rt::setBlendMode(5, 6);
      kPages[page].draw(rt::frame.now - started);
      rt::setBlendMode(5, 6);
      std::string title = std::string("Gallery: ") + kPages[page].title + "   (" +
                          rt::str(page + 1) + "/" + rt::str(GalleryPageCount()) +
                          ", Left/Right to turn, Escape to leave)";
      DrawText(kFontNormal, 24, 20, title, 255, 0xFFFFFF, 1, 0);
      rt::endDrawing();
    }
    CheckScreenshotKey();
    rt::flipScreen();
    if (rt::frame.closeRequested || rt::keyReleased(kKeyEscape)) EndProgram(0);
  }
}
