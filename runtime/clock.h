// Time, threads and random numbers.
#pragma once

#include <cstdint>
#include <functional>

#include "runtime/objects.h"

namespace rt {

// Milliseconds of a monotonic clock; wraps at 2^32 like the system timer the game was made for,
// so compare times by difference, never by absolute value near the wrap.
uint32_t milliseconds();
// Whether time a lies before (after) time b on that wrapping clock: the signed difference
// decides, so the wrap does no harm as long as the two are less than 24 days apart.
inline bool timeBefore(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }
inline bool timeAfter(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) > 0; }
// The same clock with microsecond resolution, for measurements.
uint64_t microseconds();
void delay(int ms);
// Sleeps until an absolute point of microseconds() (no drift, no busy waiting).
void delayUntil(uint64_t microsecondsDeadline);

// A clock that moves only when told to, for replaying a scene frame by frame the same way on any
// machine (the frame-time harness). It starts at the real time; sleeps still take real time.
void setSteppedClock(bool on);
void stepClock(uint64_t microsecondsLater);

// A uniformly drawn integer from 0 to maximum inclusive (0 when maximum < 1). The sequence is
// seeded from the clock, or from POWDERBOX_SEED in the environment so that tests repeat.
int32_t random(int32_t maximum);
void randomSeed(uint64_t seed);

// Threads run a procedure with an argument; waitThread joins. threadRunning tells whether the
// procedure has not yet returned.
Handle startThread(std::function<void()> procedure);
bool threadRunning(uint32_t thread);
void waitThread(uint32_t thread);

// Mutexes as numbered objects, for code that keeps them as plain values.
Handle createMutex(int32_t number);
void lockMutex(uint32_t mutex);
void unlockMutex(uint32_t mutex);
void freeMutex(uint32_t mutex);

}  // namespace rt
