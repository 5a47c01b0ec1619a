// Rounds and scoring: a match is a series of rounds on one map. The host starts each round (fresh
// map, new boxes, everybody on a spawn point) and tells the clients in the round-start message;
// it ends a round five seconds after fewer than two players are left alive, or at once when the
// round time has run out with no end pending, and the match after the configured number of
// rounds. Scores are applied by every machine from the kill message (world/decals.h) and are never
// reset while a player stays.
#pragma once

#include <cstdint>
#include <string>

#include "world/world.h"

inline constexpr uint32_t kRoundEndDelay = 5000;  // ms after fewer than two are left alive

// Both sides: a fresh round record, the map loaded afresh, the round counter advanced and the
// match running. A map that does not load (or a name that is not a plain map name) starts
// nothing: false, the map that is there stays, the match record is unchanged.
bool beginRound(const std::string& mapName);
// The round is set up: logged and reported.
void roundStarted();

// Host: a whole round start. Boxes generated, every player on the spawn point of its list
// position (more players than spawn points share them in turn), per-round values reset. False,
// with nothing started, when the map does not load.
bool startHostRound(const std::string& mapName, int32_t rounds, int32_t roundTimeMs);
// Puts each player on its spawn point, target equal to position, with its per-round values.
void placePlayersOnSpawnPoints();
// Puts one player where the host says, with its per-round values; a position that is not a
// number becomes 0.
void placePlayerForRound(Player& player, float x, float y);

// Every game frame of a round: true once the end delay after fewer than two living players has
// run out (counting one more while at most one player is there, so a lone player plays on until
// he dies), or once the round time has passed with no such end pending. The delay starts at the
// first frame that sees it.
bool roundEndDue(uint32_t now);
// Milliseconds of round time left as this machine counts from its round start, never below 0;
// -1 when the round has no time limit (a round time of 0).
int32_t roundTimeLeft(uint32_t now);

enum class RoundEvent { kNone, kNextRound, kGameOver };
// Host, every game frame: kGameOver once the round counter has passed the number of rounds;
// kNextRound when the round's end is due.
RoundEvent roundControl(uint32_t now);

// The match is over: no map, no round, the match record cleared; every player alive at 0,0 with
// its start values and its scores.
void endMatchWorld();
