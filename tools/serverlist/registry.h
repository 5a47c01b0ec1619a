// The registrations: kept in memory for the requests and written through to the database, so
// that a restart, or a crash, keeps them.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tools/serverlist/store.h"

namespace serverlist {

// Seconds since 1970. Expiry, rate limits and the checks all read this clock, so that tests can
// move it instead of waiting.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t now() const = 0;
};

class SystemClock : public Clock {
 public:
  int64_t now() const override;
};

// Stands still until told to move; for tests and benchmarks.
class ManualClock : public Clock {
 public:
  explicit ManualClock(int64_t start = 1700000000) : now_(start) {}
  int64_t now() const override { return now_; }
  void advance(int64_t seconds) { now_ += seconds; }

 private:
  std::atomic<int64_t> now_;
};

// What one check of a host's information port found.
struct CheckResult {
  std::string address;
  bool answered = false;
  int latencyMs = 0;
  ServerInfo info;
};

struct RegistryLimits {
  int expireSeconds = 600;
  int maxEntries = 2000;
  int maxPerNetwork = 32;
};

enum class AddResult { kAdded, kRefreshed, kNetworkFull, kListFull };

// What changed in a round of checks, for the log.
struct CheckChanges {
  std::vector<std::string> up;    // answered, after not being listed
  std::vector<std::string> down;  // listed before, not any more
};

class Registry {
 public:
  Registry(Store& store, const Clock& clock, RegistryLimits limits);

  // Reads what the database holds; returns how many registrations that was.
  size_t load();

  AddResult add(const std::string& address);
  bool remove(const std::string& address);
  // Drops registrations that were not renewed in time; returns their addresses.
  std::vector<std::string> expire();

  // Every address, or those never checked since they (re)appeared.
  std::vector<std::string> addresses(bool uncheckedOnly) const;
  CheckChanges record(const std::vector<CheckResult>& results);

  // The entries a player is shown, oldest registration first.
  std::vector<Entry> live() const;
  size_t size() const;
  // Moves on with every change, so that answers can be kept while it and the clock stand.
  uint64_t generation() const { return generation_; }

 private:
  bool listed(const Entry& e) const;
  size_t inNetwork(const std::string& network) const;

  Store& store_;
  const Clock& clock_;
  RegistryLimits limits_;
  mutable std::mutex mutex_;
  std::map<std::string, Entry> entries_;
  std::atomic<uint64_t> generation_{0};
};

// Registrations and removals per address and minute, as a bucket of tokens that refills
// steadily. Its memory is bounded: idle addresses are forgotten, and while it is full of busy
// ones a new address is refused.
class RateLimiter {
 public:
  RateLimiter(const Clock& clock, int perMinute, size_t maxAddresses = 100000);
  // False when the address has used up its allowance; *first is set when this is the first
  // refusal since it last had one, so that the log gets one line per burst.
  bool allow(const std::string& address, bool* first);

 private:
  struct Bucket {
    double tokens = 0;
    int64_t at = 0;
    bool refused = false;
  };
  void forgetIdle(int64_t now);

  const Clock& clock_;
  double perMinute_;
  size_t maxAddresses_;
  std::mutex mutex_;
  std::map<std::string, Bucket> buckets_;
};

}  // namespace serverlist
