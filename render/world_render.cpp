#include "render/world_render.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "data/config.h"
#include "data/resources.h"
#include "render/animation.h"
#include "render/lights.h"
#include "render/particles.h"
#include "render/typeface.h"
#include "render/world_effects.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/screen.h"
#include "world/map.h"

namespace {

constexpr int kGlowSize = 96;
constexpr int kGlowAlpha = 64;
constexpr int kNameAlphaAlive = 150;
constexpr int kNameAlphaDead = 100;

// World to screen, rounded to whole pixels; false for a position that is not a number, which
// is then not drawn at all.
bool toScreen(float worldX, float worldY, float offsetX, float offsetY, float* screenX,
              float* screenY) {
  float x = std::round(worldX - static_cast<float>(world.camera.x) - offsetX);
  float y = std::round(worldY - static_cast<float>(world.camera.y) - offsetY);
  if (!std::isfinite(x) || !std::isfinite(y)) return false;
  *screenX = x;
  *screenY = y;
  return true;
}

// A camera coordinate from a float world position, safe for any value.
int32_t cameraCoordinate(float value) {
  if (!std::isfinite(value)) return 0;
  return static_cast<int32_t>(std::lround(std::clamp(value, -1e9f, 1e9f)));
}

// Cells need a size; a map without one is not drawn.
bool haveCells() { return world.map.tileWidth > 0 && world.map.tileHeight > 0; }

Player* playerAt(size_t index) {
  size_t i = 0;
  for (Player& player : world.players) {
    if (i++ == index) return &player;
  }
  return nullptr;
}

void moveFreeCamera(const CameraKeys& keys) {
  int step = keys.fast ? kFreeCameraFastStep : kFreeCameraStep;
  if (keys.up) {
    world.camera.y -= step;
  } else if (keys.down) {
    world.camera.y += step;
  }
  if (keys.left) {
    world.camera.x -= step;
  } else if (keys.right) {
    world.camera.x += step;
  }
  if (!keys.recentre) return;
  Player* target = world.localPlayer ? world.localPlayer : playerAt(0);
  if (target) CentreCamera(target->x, target->y);
}

void spectate(const CameraKeys& keys) {
  size_t count = world.players.count();
  if (keys.next) world.camera.spectated += 1;
  // Players come and go: an index past the end starts over at the first.
  if (world.camera.spectated < 0 || static_cast<size_t>(world.camera.spectated) >= count) {
    world.camera.spectated = 0;
  }
  if (Player* target = playerAt(static_cast<size_t>(world.camera.spectated))) {
    CentreCamera(target->x, target->y);
  }
}

}  // namespace

void CentreCamera(float x, float y) {
  world.camera.x = cameraCoordinate(x - static_cast<float>(rt::frame.width) / 2.0f);
  world.camera.y = cameraCoordinate(y - static_cast<float>(rt::frame.height) / 2.0f);
}

void UpdateCamera(const CameraKeys& keys) {
  Player* local = world.localPlayer;
  if (local && !local->dead) {
    CentreCamera(local->x, local->y);
    world.camera.spectated = 0;
  } else if (config.freeCamera == 1) {
    moveFreeCamera(keys);
  } else {
    spectate(keys);
  }
}

void ComputeVisibleRange() {
  Camera& c = world.camera;
  if (!haveCells()) {
    c.firstColumn = c.firstRow = 0;
    c.lastColumn = c.lastRow = -1;
    return;
  }
  int32_t w = world.map.tileWidth, h = world.map.tileHeight;
  c.firstColumn = c.x / w;
  c.lastColumn = c.firstColumn + rt::frame.width / w + 1;
  c.firstRow = c.y / h;
  // Rounded up, so a partly shown last row is drawn whatever the cell height.
  c.lastRow = c.firstRow + (rt::frame.height + h - 1) / h;
  c.firstColumn = std::max(c.firstColumn, 0);
  c.firstRow = std::max(c.firstRow, 0);
  c.lastColumn = std::min(c.lastColumn, mapColumns() - 1);
  c.lastRow = std::min(c.lastRow, mapRows() - 1);
}

void DrawTileLayer(int layer) {
  if (!haveCells() || layer < 0 || layer >= mapLayers()) return;
  const Camera& c = world.camera;
  const std::vector<uint8_t>& opacity = mapHeader().layerOpacity;
  auto index = static_cast<size_t>(layer);
  int alpha = index < opacity.size() ? opacity[index] : 255;
  float w = static_cast<float>(world.map.tileWidth), h = static_cast<float>(world.map.tileHeight);
  for (int32_t row = c.firstRow; row <= c.lastRow; ++row) {
    for (int32_t column = c.firstColumn; column <= c.lastColumn; ++column) {
      const MapCell& cell = mapCell(layer, column, row);
      if (!cell.tile || !cell.tile->picture) continue;
      rt::Handle picture = cell.tile->picture;
      rt::sizeSprite3D(picture, w, h);
      rt::rotateSprite3D(picture, static_cast<float>(cell.rotation), 0);
      rt::displaySprite3D(picture, static_cast<float>(column) * w - static_cast<float>(c.x),
                          static_cast<float>(row) * h - static_cast<float>(c.y), alpha);
    }
  }
}

void DrawDecals() {
  for (auto it = world.round.decals.begin(); it != world.round.decals.end();) {
    Decal& decal = *it;
    float x = 0, y = 0;
    if (toScreen(decal.x, decal.y, static_cast<float>(decal.halfWidth),
                 static_cast<float>(decal.halfHeight), &x, &y)) {
      auto sprite = static_cast<uint32_t>(decal.sprite);
      rt::sizeSprite3D(sprite, 2.0f * static_cast<float>(decal.halfWidth),
                       2.0f * static_cast<float>(decal.halfHeight));
      rt::rotateSprite3D(sprite, static_cast<float>(decal.rotation), 0);
      rt::displaySprite3D(sprite, x, y, decal.alpha);
    }
    // A signed difference, so the clock's wrap does not fade anything early.
    if (rt::timeAfter(rt::frame.now, decal.fadeAt)) decal.alpha -= 1;
    if (decal.alpha < 1) {
      it = world.round.decals.erase(it);
    } else {
      ++it;
    }
  }
}

void DrawItems() {
  for (Item& item : world.round.items) {
    rt::Handle animation = ItemAnimation(item);
    if (!animation) continue;
    float x = 0, y = 0;
    if (toScreen(item.x, item.y, kGlowSize / 2.0f, kGlowSize / 2.0f, &x, &y)) {
      rt::setBlendMode(5, 6);
      rt::sizeSprite3D(kSpriteGlow, kGlowSize, kGlowSize);
      rt::displaySprite3D(kSpriteGlow, x, y, kGlowAlpha);
    }
    if (toScreen(item.x, item.y, item.radius, item.radius, &x, &y)) {
      rt::setBlendMode(item.blendSource, item.blendDestination);
      DisplayAnimation(animation, x, y, item.alpha,
                       static_cast<int32_t>(item.colour & 0xFFFFFF));
    }
  }
  rt::setBlendMode(5, 6);
}

void DrawBoxes() {
  if (!haveCells()) return;
  const Camera& c = world.camera;
  float w = static_cast<float>(world.map.tileWidth), h = static_cast<float>(world.map.tileHeight);
  // A box fills its cell, whatever cell size the map chose.
  rt::sizeSprite3D(kSpriteBox, w, h);
  for (int32_t row = c.firstRow; row <= c.lastRow; ++row) {
    for (int32_t column = c.firstColumn; column <= c.lastColumn; ++column) {
      if (world.round.box.get(column, row) == 0) continue;
      rt::displaySprite3D(kSpriteBox, static_cast<float>(column) * w - static_cast<float>(c.x),
                          static_cast<float>(row) * h - static_cast<float>(c.y), 255);
    }
  }
}

void DrawBarrels() {
  for (const Barrel& barrel : world.round.barrels) {
    float x = 0, y = 0;
    if (toScreen(barrel.x, barrel.y, static_cast<float>(barrel.drawOffsetX),
                 static_cast<float>(barrel.drawOffsetY), &x, &y)) {
      rt::displaySprite3D(kSpriteBarrel, x, y, 255);
    }
    if (Light* light = BarrelLight(barrel)) {
      light->intensity = 0.25f + static_cast<float>(rt::random(75)) / 100.0f;
    }
  }
}

void DrawPlayers() {
  for (Player& player : world.players) {
    if (player.dead) continue;
    if (!std::isfinite(player.x) || !std::isfinite(player.y)) continue;
    // Only the local player's figure swings its shoulder as it walks.
    PlayerBody& body = PlayerFigure(player);
    AnimatePlayerBody(body, player.walking, &player == world.localPlayer);
    // The figure turns its shown angle toward the facing; the record keeps that turned angle
    // as the body's direction.
    body.targetAngle = static_cast<float>(player.direction);
    body.displayedAngle = player.bodyDirection;
    DrawPlayerBody(body, player.x, player.y, world.camera.x, world.camera.y, player.colour);
    player.bodyDirection = body.displayedAngle;
  }
}

void DrawNameTags() {
  for (Player& player : world.players) {
    if (&player == world.localPlayer) continue;
    std::string name = playerName(player);
    if (player.dead) name = "[" + name + "]";
    float centreX = 0, top = 0;
    if (!toScreen(player.x, player.y, 0, static_cast<float>(kNameTagRise), &centreX, &top)) {
      continue;
    }
    float left = std::round(centreX - TextWidth(kFontNormal, name, 1.0f) / 2.0f);
    DrawText(kFontNormal, left, top, name, player.dead ? kNameAlphaDead : kNameAlphaAlive,
             static_cast<uint32_t>(player.colour), 1.0f, 0.0f);
  }
}

void DrawWorldBelowPlayers() {
  ComputeVisibleRange();
  DrawTileLayer(0);
  DrawDecals();
  for (int layer = 1; layer < mapLayers(); ++layer) DrawTileLayer(layer);
  DrawItems();
  DrawBoxes();
  DrawBarrels();
}

void DrawWorldFromPlayers() {
  DrawPlayers();
  ParticleFrame();
  DrawLights();
  DrawNameTags();
}
