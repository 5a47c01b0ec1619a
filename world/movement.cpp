#include "world/movement.h"

#include <algorithm>
#include <cmath>

#include "runtime/frame.h"
#include "world/angles.h"
#include "world/rules_local.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kBodyTurnPerStep = 7.0f;  // degrees per 10 ms
constexpr float kBodySnap = 10.0f;        // closer than this, the body simply faces the way
// Speeds travel in the player record; a move longer than this is not taken at face value.
constexpr float kMaxMoveLength = 4096.0f;

int sign(float value) { return value > 0 ? 1 : value < 0 ? -1 : 0; }

// Why a probe stops an axis: a wall or other solid terrain, a box, or a barrel it would come
// closer to than the player is now (so one can leave a fresh barrel but never walk onto one).
// Off the map everything is solid.
bool probeBlocked(const Player& player, float probeX, float probeY) {
  // Cells truncate toward zero, so the strip left of and above the map would count as cell 0.
  if (!(probeX >= 0) || !(probeY >= 0)) return true;
  int32_t column = cellX(probeX), row = cellY(probeY);
  if (!onMap(column, row)) return true;
  if (world.map.solid.get(column, row) != 0 || world.round.box.get(column, row) != 0) return true;
  const Barrel* barrel = world.round.barrelAt.get(column, row);
  if (!barrel) return false;
  return squaredDistance(probeX, probeY, barrel->x, barrel->y) <
         squaredDistance(player.x, player.y, barrel->x, barrel->y);
}

// One piece of a move: both axes tested from the same starting point.
void moveOnce(Player& player, float mx, float my) {
  const float r = static_cast<float>(kPlayerRadius);
  if (mx != 0) {
    float probeX = player.x + mx + static_cast<float>(sign(mx)) * r;
    if (probeBlocked(player, probeX, player.y - r) || probeBlocked(player, probeX, player.y + r)) {
      mx = 0;
    }
  }
  if (my != 0) {
    float probeY = player.y + my + static_cast<float>(sign(my)) * r;
    if (probeBlocked(player, player.x - r, probeY) || probeBlocked(player, player.x + r, probeY)) {
      my = 0;
    }
  }
  player.x += mx;
  player.y += my;
}

// The largest piece that cannot carry a probe over a whole cell.
float pieceLength() {
  int cell = std::min(world.map.tileWidth, world.map.tileHeight);
  return std::max(1.0f, static_cast<float>(cell / 2));
}

void turnUpperBody(Player& player, float factor) {
  float diff = std::round(shortestAngleDifference(player.bodyDirection,
                                                  static_cast<float>(player.direction)));
  if (std::fabs(diff) < kBodySnap) {
    player.bodyDirection = static_cast<float>(player.direction);
    return;
  }
  // Never past the facing, however long the frame was.
  float turn = std::min(factor * kBodyTurnPerStep, std::fabs(diff));
  player.bodyDirection += diff > 0 ? turn : -turn;
  if (!std::isfinite(player.bodyDirection)) {
    player.bodyDirection = static_cast<float>(player.direction);
  }
}

}  // namespace

bool keyDirection(MoveKeys keys, int32_t* direction) {
  int dy = keys.up ? -1 : keys.down ? 1 : 0;
  int dx = keys.left ? -1 : keys.right ? 1 : 0;
  if (dx == 0 && dy == 0) return false;
  double degrees = std::atan2(static_cast<double>(dy), static_cast<double>(dx)) * 180.0 / kPi;
  *direction = static_cast<int32_t>(std::lround(degrees - 90.0));
  return true;
}

float frameFactor(uint32_t now, uint32_t* previous) {
  // Signed, so a clock that seems to run backwards gives no movement instead of a huge one.
  int32_t elapsed = static_cast<int32_t>(now - *previous);
  *previous = now;
  return std::clamp(static_cast<float>(elapsed) / 10.0f, 0.0f, kMaxFrameFactor);
}

void moveWithCollision(Player& player, int32_t direction, float step) {
  if (!std::isfinite(step) || step <= 0) return;
  float length = std::round(std::min(step, kMaxMoveLength));
  double radians = (static_cast<double>(direction) + 90.0) * kPi / 180.0;
  double unitX = std::cos(radians), unitY = std::sin(radians);
  // cos(90) is not quite 0 in floating point; a straight move must have no sideways part.
  if (std::fabs(unitX) < 1e-6) unitX = 0;
  if (std::fabs(unitY) < 1e-6) unitY = 0;
  // Long moves go in pieces, each tested on its own, so no probe jumps over a wall.
  float piece = pieceLength();
  int pieces = static_cast<int>(std::ceil(length / piece));
  float part = length / static_cast<float>(std::max(pieces, 1));
  for (int i = 0; i < pieces; ++i) {
    moveOnce(player, static_cast<float>(unitX * part), static_cast<float>(unitY * part));
  }
  player.cellX = cellX(player.x);
  player.cellY = cellY(player.y);
}

void movePlayer(Player& player, MoveKeys keys, float factor) {
  if (player.dead) return;
  float step = player.speed * factor;
  int32_t direction = 0;
  player.walking = keyDirection(keys, &direction);
  if (!player.walking) return;
  player.direction = direction;
  turnUpperBody(player, factor);
  moveWithCollision(player, direction, step);
}

void localMovementStep(MoveKeys keys) {
  float factor = frameFactor(rt::frame.now, &world.lastLocalStep);
  Player* player = world.localPlayer;
  if (!player || player->dead) return;
  movePlayer(*player, keys, factor);
}

void moveRemotePlayers(float factor) {
  for (Player& player : world.players) {
    if (&player == world.localPlayer) continue;
    float step = player.speed * factor;
    if (!std::isfinite(step)) step = 0;
    // One axis after the other; within a step of the target the two tests cancel out.
    int code = 0;
    if (player.netX > player.x) {
      player.x += step;
      code += 1;
    }
    if (player.netX < player.x) {
      player.x -= step;
      code -= 1;
    }
    if (player.netY > player.y) {
      player.y += step;
      code += 2;
    }
    if (player.netY < player.y) {
      player.y -= step;
      code -= 2;
    }
    player.walking = code != 0;
  }
}

void remoteMovementStep() {
  moveRemotePlayers(frameFactor(rt::frame.now, &world.lastRemoteStep));
}
