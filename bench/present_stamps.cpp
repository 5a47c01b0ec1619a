// Preloaded into the game by the measurement scripts (LD_PRELOAD): writes the CLOCK_MONOTONIC
// moment, in microseconds, at which the process started and at which each present returned, one
// line each ("start 123", "present 456"), to the file named by POWDERBOX_PRESENT_STAMPS. The same
// clock stamps the game's own timing lines, so a present can be set beside them.
#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

int out = -1;

uint64_t now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

void stamp(const char* what) {
  if (out < 0) return;
  char line[64];
  int length = snprintf(line, sizeof line, "%s %llu\n", what,
                        static_cast<unsigned long long>(now()));
  if (length > 0 && write(out, line, static_cast<size_t>(length)) < 0) out = -1;
}

__attribute__((constructor)) void openStamps() {
  const char* path = getenv("POWDERBOX_PRESENT_STAMPS");
  if (!path || !*path) return;
  out = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  stamp("start");
}

}  // namespace

extern "C" void SDL_RenderPresent(void* renderer) {
  using Present = void (*)(void*);
  static Present real = reinterpret_cast<Present>(dlsym(RTLD_NEXT, "SDL_RenderPresent"));
  if (real) real(renderer);
  stamp("present");
}
