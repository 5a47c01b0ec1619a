#include "render/hud.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>

#include "data/language.h"
#include "data/resources.h"
#include "render/typeface.h"
#include "render/world_effects.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/screen.h"
#include "world/rounds.h"
#include "world/world.h"

namespace {

constexpr uint32_t kFont = kFontNormal;

constexpr int kFuseStep = 28;         // one fuse piece per second of fuse time
constexpr int kFuseLeft = 32;         // first piece, right of the screen's middle
constexpr int kFuseTop = 38;          // above the bottom edge
constexpr int kSparkRight = 64;       // the spark sits at the far end of the last piece
constexpr int kSparkRise = 12;
constexpr int kFuseTextRight = 74;    // centre of the seconds, right of the middle
constexpr int kFuseTextTop = 48;

constexpr int kBarrelSize = 128;      // back, gunpowder and front share this square
constexpr int kFullStrength = 12;     // the strength that fills the barrel to the brim
constexpr int kStrengthTextTop = 80;

constexpr int kSmallBarrelStep = 16;
constexpr int kSmallBarrelRight = 64;
constexpr int kSmallBarrelTop = 32;

constexpr int kNoticeStep = 48;
constexpr int kNoticeIconLeft = 64;   // from the right edge
constexpr int kNoticeIconRise = 24;
constexpr int kNoticeTextRight = 68;  // from the right edge
constexpr int kNoticeTextRise = 12;

constexpr int kClockTop = 36;  // below the title bar
constexpr int kClockWarning = 10000;  // ms left when the clock turns red
constexpr uint32_t kClockWarningColour = 0x4040FF;  // 0xBBGGRR

constexpr int kTableMargin = 32;
constexpr int kHeadTop = 140;
constexpr int kRowStep = 30;
constexpr int kRowBarTop = 128;
constexpr int kRowTextTop = 130;
constexpr int kRowBarLeft = 256;
constexpr int kRowBarAlpha = 200;
constexpr int kCellInset = 10;        // row texts sit this far right of their column head

struct Column {
  const char* key;
  int x;
};
constexpr Column kColumns[] = {
    {"Name", 256}, {"Kills", 480}, {"SelfKills", 544}, {"Death", 608}, {"Points", 704}};

int32_t clampToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

float pixel(int64_t value) { return static_cast<float>(value); }

void drawCentred(const std::string& text, float centreX, float top) {
  DrawText(kFont, centreX - TextWidth(kFont, text) / 2, top, text);
}

// ---- The fuse row ----------------------------------------------------------------------------

void placeSpark(int64_t screenX, int64_t screenY) {
  PlaceHudSpark(clampToInt32(screenX + world.camera.x), clampToInt32(screenY + world.camera.y));
}

void drawFuseRow(Player& player, int width, int height) {
  const int64_t last = int64_t{player.fuseTime} / 1000 - 1;
  placeSpark(width / 2 + last * kFuseStep + kSparkRight, height - kSparkRise);
  // Fuse times arrive from the network; pieces past the right edge are not drawn at all.
  for (int64_t i = 0; i <= last; ++i) {
    const int64_t x = width / 2 + i * kFuseStep + kFuseLeft;
    if (x >= width) break;
    rt::displaySprite3D(kSpriteFuse, pixel(x), pixel(height - kFuseTop), 255);
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", player.fuseTime / 1000.0);
  drawCentred(seconds, pixel(width / 2 + kFuseTextRight), pixel(height - kFuseTextTop));
}

// ---- The gunpowder barrel --------------------------------------------------------------------

void drawGunpowder(int32_t strength, int width, int height) {
  const float left = pixel(width / 2 - kBarrelSize / 2);
  const float top = pixel(height - kBarrelSize);
  // Above full strength the powder rises out of the barrel; beyond the screen's height there
  // is nothing more to see.
  const int64_t fill =
      std::clamp<int64_t>(int64_t{strength} * kBarrelSize / kFullStrength, 0, height);
  rt::displaySprite3D(kSpriteBarrelBack, left, top, 255);
  if (fill > 0) {
    const float h = pixel(fill);
    rt::clipSprite3D(kSpriteBarrelGunpowder, 0, pixel(kBarrelSize - fill), kBarrelSize, h);
    rt::sizeSprite3D(kSpriteBarrelGunpowder, kBarrelSize, h);
    rt::displaySprite3D(kSpriteBarrelGunpowder, left, pixel(height - fill), 255);
  }
  drawCentred(std::to_string(strength), pixel(width / 2), pixel(height - kStrengthTextTop));
  rt::displaySprite3D(kSpriteBarrelFront, left, top, 255);
}

// ---- Barrels left ----------------------------------------------------------------------------

void drawBarrelsLeft(Player& player, int width) {
  const int64_t left =
      int64_t{player.barrelCapacity} - burningBarrels(player);
  const float spriteWidth = rt::sprite3DWidth(kSpriteBarrelSmall);
  for (int64_t i = 1; i <= left; ++i) {
    const int64_t x = width - i * kSmallBarrelStep - kSmallBarrelRight;
    if (pixel(x) + spriteWidth <= 0) break;  // the rest lies beyond the left edge
    rt::displaySprite3D(kSpriteBarrelSmall, pixel(x), kSmallBarrelTop, 255);
  }
}

// ---- Pickup notices --------------------------------------------------------------------------

void drawNotice(const ItemNotice& notice, int width, int64_t baseline) {
  const int alpha = std::clamp(notice.alpha, 0, 255);
  const uint32_t icon = static_cast<uint32_t>(notice.iconSprite);
  if (icon && rt::sprite3DExists(icon)) {
    TintSprite3D(icon, notice.colour);
    rt::displaySprite3D(icon, pixel(width - kNoticeIconLeft),
                        pixel(baseline - kNoticeIconRise), alpha);
  }
  const std::string text = Lang(notice.name);
  DrawText(kFont, pixel(width - kNoticeTextRight) - TextWidth(kFont, text),
           pixel(baseline - kNoticeTextRise), text, alpha, notice.colour & 0xFFFFFF);
}

// The newest notice is lowest, one step above the bottom edge; older ones stack upward.
void drawNotices(int width, int height) {
  const int64_t count = static_cast<int64_t>(world.round.notices.count());
  int64_t index = 0;
  for (auto it = world.round.notices.begin(); it != world.round.notices.end(); ++index) {
    ItemNotice& notice = *it;
    drawNotice(notice, width, height + (index - count) * kNoticeStep);
    if (rt::timeBefore(notice.expiry, rt::frame.now)) notice.alpha -= 1;
    it = notice.alpha < 0 ? world.round.notices.erase(it) : std::next(it);
  }
}

// ---- Round clock -----------------------------------------------------------------------------

void drawRoundClock(int width) {
  const int32_t left = roundTimeLeft(rt::frame.now);
  if (left < 0) return;
  const int32_t seconds = (left + 999) / 1000;  // 0:00 only once the time is up
  char text[32];
  std::snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
  const uint32_t colour = left <= kClockWarning ? kClockWarningColour : kTypefaceKeepColour;
  DrawText(kFont, pixel(width / 2) - TextWidth(kFont, text) / 2, kClockTop, text, 255, colour);
}

// ---- Score table -----------------------------------------------------------------------------

void drawScoreRow(const Player& player, int row) {
  const float bar = pixel(kRowBarTop + int64_t{row} * kRowStep);
  TintSprite3D(kSpriteKillsList, static_cast<uint32_t>(player.colour));
  rt::displaySprite3D(kSpriteKillsList, kRowBarLeft, bar, kRowBarAlpha);
  const float top = pixel(kRowTextTop + int64_t{row} * kRowStep);
  const std::string cells[] = {playerName(player), std::to_string(player.kills),
                               std::to_string(player.selfKills), std::to_string(player.deaths),
                               std::to_string(player.points)};
  for (size_t c = 0; c < std::size(kColumns); ++c) {
    DrawText(kFont, pixel(kColumns[c].x + kCellInset), top, cells[c]);
  }
}

}  // namespace

void DrawScoreTable() {
  const std::string round = Lang("Round") + ": " + std::to_string(world.match.roundNumber) +
                            " / " + std::to_string(world.match.rounds);
  DrawText(kFont, kTableMargin, kTableMargin, round);
  for (const Column& column : kColumns) {
    DrawText(kFont, pixel(column.x), kHeadTop, Lang(column.key));
  }
  int row = 1;
  for (const Player& player : world.players) {
    if (kRowBarTop + int64_t{row} * kRowStep >= rt::frame.height) break;  // no room below
    drawScoreRow(player, row);
    ++row;
  }
}

void DrawHud(bool scoreKeyHeld) {
  Player* player = world.localPlayer;
  if (!player) return;
  const int width = rt::frame.width, height = rt::frame.height;
  drawFuseRow(*player, width, height);
  drawGunpowder(player->strength, width, height);
  drawBarrelsLeft(*player, width);
  drawNotices(width, height);
  drawRoundClock(width);
  if (scoreKeyHeld) DrawScoreTable();
}
