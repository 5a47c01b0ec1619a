// The messages the rules send, through one narrow set of procedures. Movement, barrels and items
// never talk to the network themselves: they call the senders below, and whoever runs the match
// decides where the messages go. The direct set applies each message to this machine's world at
// once, as the host's echo would (--try-map and the tests); the network brings its own set.
#pragma once

#include <cstdint>
#include <functional>

// The ability messages: which value of a player an item changed.
enum AbilityType : int32_t {
  kAbilityStrength = 4,
  kAbilityFuseTime = 5,
  kAbilityCapacity = 6,
};

struct RuleMessages {
  // The local player asks for a barrel at its position with its current values.
  std::function<void(int32_t owner, int32_t strength, float x, float y, int32_t fuseTime)>
      requestBarrel;
  // The local player stands in a burning cell; killer is the owner of the barrel.
  std::function<void(int32_t victim, int32_t killer)> reportDeath;
  // Host only: a destroyed box left an item (row of the kinds table, 1..6).
  std::function<void(int32_t row, int32_t id, int32_t x, int32_t y)> itemDropped;
  // The local player's strength, fuse time or capacity changed (type 4, 5 or 6).
  std::function<void(int32_t type, int32_t id, int32_t value)> abilityChanged;
  // The local player touched an item.
  std::function<void(int32_t id)> itemTaken;
};

// Replaces the set the rules send through. A missing procedure drops its messages.
void setRuleMessages(RuleMessages messages);
// Applies every message to this machine's world at once, as if the host had echoed it.
RuleMessages directRuleMessages();

// What the rules call.
void sendBarrelRequest(int32_t owner, int32_t strength, float x, float y, int32_t fuseTime);
void sendDeathReport(int32_t victim, int32_t killer);
void sendItemDropped(int32_t row, int32_t id, int32_t x, int32_t y);
void sendAbility(int32_t type, int32_t id, int32_t value);
void sendItemTaken(int32_t id);
