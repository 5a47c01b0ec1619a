// The bot's frames: the network first, as in the game, then in a match the barrels, the bot's
// decision and its walk with the local player's collisions, its position message, the other
// players' walks and the items it touches; between matches it waits in the lobby.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>

#include "net/protocol.h"
#include "net/session.h"
#include "runtime/clock.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "runtime/network.h"
#include "tools/bot/bot.h"
#include "world/barrels.h"
#include "world/items.h"
#include "world/messages.h"
#include "world/movement.h"
#include "world/world.h"

namespace {

constexpr uint64_t kFrameMicroseconds = 12500;  // 80 frames a second, like the game
constexpr uint32_t kEchoWait = 1000;  // ms a barrel request may take to come back
constexpr int kMaxBlockedFrames = 40;  // a walk that makes no headway is given up
constexpr int kSidestepFrames = 2;     // before another way is tried

std::atomic<bool> leaveRequested{false};

struct Walk {
  bool active = false;
  float x = 0, y = 0;  // the target: the centre of a neighbouring cell
  int blockedFrames = 0;
  int32_t column = 0, row = 0;  // the target's cell
};

struct BarrelRequest {
  bool pending = false;
  int32_t column = 0, row = 0;
  uint32_t until = 0;
};

struct Bot {
  BotOptions options;
  uint32_t joinedAt = 0;
  bool joined = false;  // seen itself in the player list
  bool inMatch = false;
  int32_t roundNumber = 0;  // of the round this bot plays, 0 between rounds
  int32_t roundsPlayed = 0;
  bool chatted = false;
  bool itemSeen = false;  // in this match
  uint32_t lastStep = 0;
  uint32_t firstBarrelAt = 0;  // --play barrels: when this round's first barrel is due
  Walk walk;
  BarrelRequest request;
};

Bot bot;

void say(const char* format, const char* text) {
  if (bot.options.quiet) return;
  printf(format, bot.options.name.c_str(), text);
  fflush(stdout);
}

uint32_t positionInterval() {
  return static_cast<uint32_t>(1000 / std::clamp(bot.options.positionHz, 1, 100));
}

// ---- Walking -----------------------------------------------------------------------------------

void walkTo(Player& player, int32_t column, int32_t row) {
  player.direction =
      botFacing(cellX(player.x), cellY(player.y), column, row, player.direction);
  player.bodyDirection = static_cast<float>(player.direction);
  bot.walk = Walk{true, cellCentreX(column), cellCentreY(row), 0, column, row};
}

// A barrel placed beside the bot's centre bars the way past it (nobody walks closer to a
// barrel), so a bot caught in its cell takes any other open way, the one a blast reaches last.
bool sidestep(Player& player, float step) {
  constexpr int kDx[4] = {0, 0, 1, -1}, kDy[4] = {1, -1, 0, 0};
  constexpr int32_t kFacing[4] = {0, -180, -90, 90};
  int32_t column = cellX(player.x), row = cellY(player.y);
  int best = -1;
  int32_t bestBlast = 0;
  for (int k = 0; k < 4; ++k) {
    int32_t c = column + kDx[k], r = row + kDy[k];
    if (!botWalkable(c, r) || cellBlastIn(c, r) <= bestBlast) continue;
    Player trial = player;
    moveWithCollision(trial, kFacing[k], step);
    if (trial.x == player.x && trial.y == player.y) continue;
    best = k;
    bestBlast = cellBlastIn(c, r);
  }
  if (best < 0) return false;
  rt::logLine("BOT", "at %d,%d barred by a barrel: sidestep to %d,%d", column, row,
              column + kDx[best], row + kDy[best]);
  walkTo(player, column + kDx[best], row + kDy[best]);
  player.direction = kFacing[best];
  moveWithCollision(player, kFacing[best], step);
  return true;
}

// One frame of the walk toward the target, one axis after the other, with the collisions of
// any local player. A step is rounded to whole pixels, so the last fraction is taken at once.
void walkStep(Player& player, float factor) {
  Walk& walk = bot.walk;
  if (!walk.active) return;
  float dx = walk.x - player.x, dy = walk.y - player.y;
  if (std::fabs(dx) < 1.0f && std::fabs(dy) < 1.0f) {
    player.x = walk.x;
    player.y = walk.y;
    walk.active = false;
    return;
  }
  // A walk that turns between two centres first gets back in line with the lanes: the smaller
  // offset goes first, so the bot does not brush a pillar's corner.
  bool alongX = std::fabs(dx) >= 1.0f && (std::fabs(dy) < 1.0f || std::fabs(dx) <= std::fabs(dy));
  float remaining = alongX ? std::fabs(dx) : std::fabs(dy);
  int32_t direction = alongX ? (dx > 0 ? -90 : 90) : (dy > 0 ? 0 : -180);
  float step = std::min(player.speed * factor, remaining);
  if (step < 1.0f) return;
  float beforeX = player.x, beforeY = player.y;
  player.direction = direction;
  moveWithCollision(player, direction, step);
  if (player.x != beforeX || player.y != beforeY) {
    walk.blockedFrames = 0;
    return;
  }
  // Somebody's barrel appeared in the way: another way out, else decide again from here.
  ++walk.blockedFrames;
  if (walk.blockedFrames > kSidestepFrames && sidestep(player, step)) return;
  if (walk.blockedFrames > kMaxBlockedFrames) walk.active = false;
}

// ---- Deciding ----------------------------------------------------------------------------------

BotPlay playNow() {
  if (bot.options.play == BotPlay::kSuicide && bot.options.untilItem && !bot.itemSeen) {
    return BotPlay::kWander;
  }
  return bot.options.play;
}

// A barrel request waits for its echo: until then the bot knows nothing of that barrel and
// would ask again.
bool awaitingEcho() {
  BarrelRequest& r = bot.request;
  if (!r.pending) return false;
  if (world.round.barrelAt.get(r.column, r.row) || rt::timeAfter(rt::frame.now, r.until)) {
    r.pending = false;
  }
  return r.pending;
}

void requestBarrel(const Player& player) {
  int32_t column = cellX(player.x), row = cellY(player.y);
  if (world.round.barrelAt.get(column, row)) return;
  // The monotonic clock lets a measurement line up this request with its arrivals elsewhere.
  uint64_t askedAt = rt::microseconds();
  sendBarrelRequest(player.id, player.strength, player.x, player.y, player.fuseTime);
  bot.request = BarrelRequest{true, column, row, rt::frame.now + kEchoWait};
  rt::logLine("BOT", "barrel asked for at cell %d,%d (clock %llu us)", column, row,
              static_cast<unsigned long long>(askedAt));
}

void think(Player& player) {
  // A barrel put down in the cell it walks to: decide again at once, from where it is.
  if (bot.walk.active && !botWalkable(bot.walk.column, bot.walk.row)) {
    rt::logLine("BOT", "the way to %d,%d is barred", bot.walk.column, bot.walk.row);
    bot.walk.active = false;
  }
  if (bot.walk.active || awaitingEcho()) return;
  if (playNow() == BotPlay::kBarrels && !rt::timeAfter(rt::frame.now, bot.firstBarrelAt)) return;
  BotStyle style;
  style.eager = true;
  style.seeksItems = true;
  style.hunts = bot.options.hunts;
  BotDecision decision = decideBot(player, playNow(), style);
  if (decision.placeBarrel || decision.walk) {
    int32_t column = cellX(player.x), row = cellY(player.y);
    rt::logLine("BOT", "at %d,%d (blast in %d ms): %s%s %d,%d", column, row,
                cellBlastIn(column, row), decision.placeBarrel ? "barrel, " : "",
                decision.walk ? "walk to" : "stay", decision.column, decision.row);
  }
  if (decision.placeBarrel) requestBarrel(player);
  if (decision.walk) walkTo(player, decision.column, decision.row);
}

// ---- Rounds and the script ----------------------------------------------------------------------

void leave(const char* why) {
  rt::logLine("BOT", "leaving: %s", why);
  say("powderbox-bot: %s leaves: %s\n", why);
  leaveSession();
}

// The round just set up by the host. The set-up that follows a match's last round is no round
// to play: game over comes right behind it.
void newRoundSeen() {
  if (bot.roundNumber != 0) ++bot.roundsPlayed;
  bot.roundNumber = world.match.roundNumber;
  bot.walk = Walk{};
  bot.request = BarrelRequest{};
  // Some seconds in, so that the others have met its barrels' reach by then.
  bot.firstBarrelAt = rt::frame.now + 2000 + static_cast<uint32_t>(rt::random(8000));
  if (world.match.roundNumber > world.match.rounds) {
    bot.roundNumber = 0;
    return;
  }
  rt::logLine("BOT", "round %d: playing as %d at cell %d,%d", world.match.roundNumber,
              session.myId, world.localPlayer ? cellX(world.localPlayer->x) : -1,
              world.localPlayer ? cellY(world.localPlayer->y) : -1);
  if (!bot.chatted && !bot.options.chat.empty()) {
    sendChatMessage(bot.options.chat);
    bot.chatted = true;
  }
}

void matchEnded() {
  if (bot.roundNumber != 0) ++bot.roundsPlayed;
  bot.roundNumber = 0;
  bot.inMatch = false;
  bot.itemSeen = false;
}

// True when the script says the bot is done.
bool scriptSaysLeave() {
  if (leaveRequested) {
    leave("asked to stop");
    return true;
  }
  if (bot.options.leaveAfter > 0 &&
      rt::frame.now - bot.joinedAt >= static_cast<uint32_t>(bot.options.leaveAfter) * 1000u) {
    leave("its time is up");
    return true;
  }
  if (bot.options.roundsThenLeave > 0 && bot.roundsPlayed >= bot.options.roundsThenLeave) {
    leave("it has played its rounds");
    return true;
  }
  return false;
}

// ---- Frames ----------------------------------------------------------------------------------

// The game's own schedule, at the bot's rate. The next message is due an interval after the
// last was due, not after it went out, so that the frame's length does not slow the rate down.
void sendPosition() {
  uint32_t due = session.nextPositionAt;
  sendPositionWhenDue();
  if (session.nextPositionAt == due) return;
  uint32_t next = due + positionInterval();
  if (due == 0 || !rt::timeAfter(next, rt::frame.now)) next = rt::frame.now + positionInterval();
  session.nextPositionAt = next == 0 ? 1 : next;
}

void matchFrame() {
  if (!bot.inMatch) {
    bot.inMatch = true;
    bot.roundNumber = 0;
  }
  if (world.match.roundNumber != bot.roundNumber &&
      !(bot.roundNumber == 0 && world.match.roundNumber > world.match.rounds)) {
    newRoundSeen();
  }
  if (!world.round.items.empty()) bot.itemSeen = true;
  // The barrels burn and explode here as on every machine.
  barrelStep();
  float factor = frameFactor(rt::frame.now, &bot.lastStep);
  if (Player* player = world.localPlayer; player && !player->dead) {
    think(*player);
    walkStep(*player, factor);
  }
  if (!world.localPlayer) return;
  sendPosition();
  remoteMovementStep();
  pickUpItems();
}

void frame() {
  if (!bot.joined && world.localPlayer) {
    bot.joined = true;
    rt::logLine("BOT", "joined as player %d", session.myId);
    say("powderbox-bot: %s joined as player %s\n", std::to_string(session.myId).c_str());
  }
  if (world.match.running) {
    matchFrame();
  } else if (bot.inMatch) {
    matchEnded();
  }
}

// Between frames the bot sleeps on its connections and serves what arrives at once, so that a
// relayed message does not wait for its next frame. A connection that keeps reporting data the
// poll does not take (a faulted one) costs a few wake-ups, never a spinning frame.
void serveUntil(uint64_t deadline) {
  constexpr int kMaxServesPerFrame = 16;
  for (int i = 0; i < kMaxServesPerFrame; ++i) {
    if (!session.isConnected || !session.notice.empty()) break;
    const uint32_t links[] = {session.gameConnection, session.positionLink};
    if (!rt::waitForData(links, 2, deadline)) return;
    rt::frame.now = rt::milliseconds();
    pollNetwork();
  }
  rt::delayUntil(deadline);
}

}  // namespace

void RequestBotLeave() { leaveRequested = true; }

int PlayBot(const BotOptions& options) {
  bot = Bot{};
  bot.options = options;
  NetPorts ports = configuredPorts(options.portBase);
  if (options.tcpPort > 0) ports.tcp = options.tcpPort;
  if (options.udpPort > 0) ports.udp = options.udpPort;
  rt::frame.now = rt::milliseconds();
  if (!joinSession(options.address, ports, options.name)) {
    fprintf(stderr, "powderbox-bot: cannot connect to %s on port %d\n", options.address.c_str(),
            ports.tcp);
    return kBotNoSession;
  }
  bot.joinedAt = rt::frame.now;
  bot.lastStep = rt::frame.now;
  uint64_t nextFrame = rt::microseconds();
  for (;;) {
    rt::frame.now = rt::milliseconds();
    pollNetwork();
    if (!session.isConnected || !session.notice.empty()) break;
    frame();
    if (scriptSaysLeave()) return kBotEnded;
    nextFrame += kFrameMicroseconds;
    uint64_t now = rt::microseconds();
    // After a stall the frames go on from now instead of racing to catch up.
    if (nextFrame < now) nextFrame = now;
    serveUntil(nextFrame);
  }
  int code = bot.joined ? kBotEnded : kBotNoSession;
  const char* why = bot.joined ? "the host ended the session" : "the host turned it away";
  if (session.isConnected) {
    leave(why);
  } else {
    rt::logLine("BOT", "leaving: %s", why);
    say("powderbox-bot: %s leaves: %s\n", why);
  }
  return code;
}
