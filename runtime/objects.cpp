#include "runtime/objects.h"

#include <atomic>

namespace rt {

Handle newHandle() {
  static std::atomic<uint32_t> next{0x00010000};
  return next.fetch_add(1);
}

}  // namespace rt
