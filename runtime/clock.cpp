#include "runtime/clock.h"

#include <errno.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "runtime/objects.h"

namespace rt {

namespace {

uint64_t systemMicroseconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

void sleepUntil(uint64_t systemDeadline) {
  timespec t;
  t.tv_sec = static_cast<time_t>(systemDeadline / 1000000u);
  t.tv_nsec = static_cast<long>((systemDeadline % 1000000u) * 1000u);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
  }
}

std::atomic<bool> manualClock{false};
std::atomic<uint64_t> manualNow{0};

}  // namespace

uint64_t microseconds() {
  return manualClock.load(std::memory_order_acquire) ? manualNow.load() : systemMicroseconds();
}

uint32_t milliseconds() { return static_cast<uint32_t>(microseconds() / 1000u); }

void delay(int ms) {
  if (ms <= 0) return;
  sleepUntil(systemMicroseconds() + static_cast<uint64_t>(ms) * 1000u);
}

// A deadline on the stepped clock is slept as the real time it is away.
void delayUntil(uint64_t deadline) {
  if (!manualClock.load(std::memory_order_acquire)) {
    sleepUntil(deadline);
    return;
  }
  uint64_t now = manualNow.load();
  if (deadline > now) sleepUntil(systemMicroseconds() + (deadline - now));
}

void setSteppedClock(bool on) {
  if (on) manualNow = systemMicroseconds();
  manualClock.store(on, std::memory_order_release);
}

void stepClock(uint64_t microsecondsLater) { manualNow += microsecondsLater; }

// ---- Random numbers: PCG32, with rejection so that every value is equally likely ----------

namespace {

struct Pcg32 {
  uint64_t state = 0x853c49e6748fea9bULL;
  uint64_t increment = 0xda3e39cb94b95bdbULL;

  void seed(uint64_t value) {
    state = 0;
    increment = (value << 1u) | 1u;
    next();
    state += value;
    next();
  }
  uint32_t next() {
    uint64_t old = state;
    state = old * 6364136223846793005ULL + increment;
    uint32_t shifted = static_cast<uint32_t>(((old >> 18u) ^ old) >> 27u);
    uint32_t rotation = static_cast<uint32_t>(old >> 59u);
    return (shifted >> rotation) | (shifted << ((32 - rotation) & 31));
  }
};

std::mutex randomMutex;

Pcg32& generator() {
  static Pcg32 pcg = [] {
    Pcg32 g;
    const char* fixed = getenv("POWDERBOX_SEED");
    g.seed(fixed ? strtoull(fixed, nullptr, 10) : microseconds() ^ 0x9E3779B97F4A7C15ULL);
    return g;
  }();
  return pcg;
}

}  // namespace

void randomSeed(uint64_t seed) {
  std::lock_guard lock(randomMutex);
  generator().seed(seed);
}

int32_t random(int32_t maximum) {
  if (maximum < 1) return 0;
  std::lock_guard lock(randomMutex);
  uint32_t range = static_cast<uint32_t>(maximum) + 1u;
  // Draws above the largest multiple of range would favour the low values.
  uint32_t limit = UINT32_MAX - (UINT32_MAX % range);
  uint32_t draw;
  do {
    draw = generator().next();
  } while (draw >= limit);
  return static_cast<int32_t>(draw % range);
}

// ---- Threads and mutexes -------------------------------------------------------------------

namespace {

struct Thread {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> running = std::make_shared<std::atomic<bool>>(true);
  ~Thread() {
    if (thread.joinable()) thread.detach();
  }
};

ObjectTable<Thread>& threads() {
  static ObjectTable<Thread> table;
  return table;
}

ObjectTable<std::mutex>& mutexes() {
  static ObjectTable<std::mutex> table;
  return table;
}

}  // namespace

Handle startThread(std::function<void()> procedure) {
  return threads().create(kAnyNumber, [&] {
    auto t = std::make_unique<Thread>();
    auto running = t->running;
    t->thread = std::thread([procedure = std::move(procedure), running] {
      procedure();
      *running = false;
    });
    return t;
  });
}

bool threadRunning(uint32_t thread) {
  Thread* t = threads().find(thread);
  return t && *t->running;
}

void waitThread(uint32_t thread) {
  Thread* t = threads().find(thread);
  if (!t) return;
  if (t->thread.joinable() && t->thread.get_id() != std::this_thread::get_id()) t->thread.join();
  threads().free(thread);
}

Handle createMutex(int32_t number) {
  return mutexes().create(number, [] { return std::make_unique<std::mutex>(); });
}

void lockMutex(uint32_t mutex) {
  if (std::mutex* m = mutexes().find(mutex)) m->lock();
}

void unlockMutex(uint32_t mutex) {
  if (std::mutex* m = mutexes().find(mutex)) m->unlock();
}

void freeMutex(uint32_t mutex) { mutexes().free(mutex); }

}  // namespace rt
