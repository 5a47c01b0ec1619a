#include "world/messages.h"

#include <utility>

#include "world/barrels.h"
#include "world/decals.h"
#include "world/items.h"

namespace {

RuleMessages& current() {
  static RuleMessages messages;
  return messages;
}

}  // namespace

void setRuleMessages(RuleMessages messages) { current() = std::move(messages); }

RuleMessages directRuleMessages() {
  RuleMessages direct;
  direct.requestBarrel = [](int32_t owner, int32_t strength, float x, float y,
                            int32_t fuseTime) { placeBarrel(owner, strength, x, y, fuseTime); };
  direct.reportDeath = [](int32_t victim, int32_t killer) { applyKill(victim, killer); };
  // The host's own world already holds the item it dropped.
  direct.itemDropped = [](int32_t, int32_t, int32_t, int32_t) {};
  direct.abilityChanged = [](int32_t type, int32_t id, int32_t value) {
    setAbility(type, id, value);
  };
  direct.itemTaken = [](int32_t id) { removeItemById(id); };
  return direct;
}

void sendBarrelRequest(int32_t owner, int32_t strength, float x, float y, int32_t fuseTime) {
  if (current().requestBarrel) current().requestBarrel(owner, strength, x, y, fuseTime);
}

void sendDeathReport(int32_t victim, int32_t killer) {
  if (current().reportDeath) current().reportDeath(victim, killer);
}

void sendItemDropped(int32_t row, int32_t id, int32_t x, int32_t y) {
  if (current().itemDropped) current().itemDropped(row, id, x, y);
}

void sendAbility(int32_t type, int32_t id, int32_t value) {
  if (current().abilityChanged) current().abilityChanged(type, id, value);
}

void sendItemTaken(int32_t id) {
  if (current().itemTaken) current().itemTaken(id);
}
