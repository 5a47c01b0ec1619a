#include "tools/serverlist/registry.h"

#include <algorithm>
#include <chrono>

#include "tools/serverlist/addresses.h"

namespace serverlist {

int64_t SystemClock::now() const {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Registry::Registry(Store& store, const Clock& clock, RegistryLimits limits)
    : store_(store), clock_(clock), limits_(limits) {}

size_t Registry::load() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  for (Entry& e : store_.load()) {
    std::string address = e.address;
    entries_[address] = std::move(e);
  }
  ++generation_;
  return entries_.size();
}

size_t Registry::inNetwork(const std::string& network) const {
  size_t count = 0;
  for (const auto& [address, e] : entries_) count += networkOf(address) == network;
  return count;
}

AddResult Registry::add(const std::string& address) {
  std::lock_guard lock(mutex_);
  int64_t now = clock_.now();
  auto found = entries_.find(address);
  ++generation_;
  if (found != entries_.end()) {
    Entry& e = found->second;
    e.refreshed = now;
    // A host that dropped off the list and registers again is looked at right away.
    if (!listed(e)) e.checked = 0;
    store_.put({e});
    return AddResult::kRefreshed;
  }
  if (entries_.size() >= static_cast<size_t>(limits_.maxEntries)) return AddResult::kListFull;
  if (inNetwork(networkOf(address)) >= static_cast<size_t>(limits_.maxPerNetwork)) {
    return AddResult::kNetworkFull;
  }
  Entry& e = entries_[address];
  e.address = address;
  e.registered = e.refreshed = now;
  store_.put({e});
  return AddResult::kAdded;
}

bool Registry::remove(const std::string& address) {
  std::lock_guard lock(mutex_);
  if (!entries_.erase(address)) return false;
  ++generation_;
  store_.remove({address});
  return true;
}

std::vector<std::string> Registry::expire() {
  std::lock_guard lock(mutex_);
  int64_t now = clock_.now();
  std::vector<std::string> gone;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (now - it->second.refreshed >= limits_.expireSeconds) {
      gone.push_back(it->first);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  if (!gone.empty()) ++generation_;
  store_.remove(gone);
  return gone;
}

std::vector<std::string> Registry::addresses(bool uncheckedOnly) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& [address, e] : entries_) {
    if (!uncheckedOnly || e.checked == 0) out.push_back(address);
  }
  return out;
}

CheckChanges Registry::record(const std::vector<CheckResult>& results) {
  std::lock_guard lock(mutex_);
  int64_t now = clock_.now();
  CheckChanges changes;
  std::vector<Entry> changed;
  for (const CheckResult& r : results) {
    auto found = entries_.find(r.address);
    if (found == entries_.end()) continue;  // removed while it was being checked
    Entry& e = found->second;
    bool before = listed(e);
    e.checked = now;
    if (r.answered) {
      e.answered = now;
      e.misses = 0;
      e.latencyMs = r.latencyMs;
      e.info = r.info;
    } else {
      e.misses = std::min(e.misses + 1, 1000000);
    }
    bool after = listed(e);
    if (after && !before) changes.up.push_back(e.address);
    if (before && !after) changes.down.push_back(e.address);
    changed.push_back(e);
  }
  ++generation_;
  store_.put(changed);
  return changes;
}

bool Registry::listed(const Entry& e) const {
  return e.answered != 0 && e.misses < 2 &&
         clock_.now() - e.refreshed < limits_.expireSeconds;
}

std::vector<Entry> Registry::live() const {
  std::lock_guard lock(mutex_);
  std::vector<const Entry*> shown;
  for (const auto& [address, e] : entries_) {
    if (listed(e)) shown.push_back(&e);
  }
  std::stable_sort(shown.begin(), shown.end(), [](const Entry* a, const Entry* b) {
    return a->registered < b->registered;
  });
  std::vector<Entry> out;
  out.reserve(shown.size());
  for (const Entry* e : shown) out.push_back(*e);
  return out;
}

size_t Registry::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

RateLimiter::RateLimiter(const Clock& clock, int perMinute, size_t maxAddresses)
    : clock_(clock), perMinute_(perMinute), maxAddresses_(maxAddresses) {}

void RateLimiter::forgetIdle(int64_t now) {
  // A bucket that has had a minute to refill is as good as a new one.
  for (auto it = buckets_.begin(); it != buckets_.end();) {
    it = now - it->second.at >= 60 ? buckets_.erase(it) : std::next(it);
  }
}

bool RateLimiter::allow(const std::string& address, bool* first) {
  std::lock_guard lock(mutex_);
  int64_t now = clock_.now();
  *first = false;
  auto found = buckets_.find(address);
  if (found == buckets_.end()) {
    if (buckets_.size() >= maxAddresses_) forgetIdle(now);
    if (buckets_.size() >= maxAddresses_) return false;
    found = buckets_.emplace(address, Bucket{perMinute_, now, false}).first;
  }
  Bucket& b = found->second;
  b.tokens = std::min(perMinute_, b.tokens + (now - b.at) * perMinute_ / 60.0);
  b.at = now;
  if (b.tokens < 1) {
    *first = !b.refused;
    b.refused = true;
    return false;
  }
  b.tokens -= 1;
  b.refused = false;
  return true;
}

}  // namespace serverlist
