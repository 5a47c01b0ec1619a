#include "runtime/frame.h"

namespace rt {

Frame frame;

}  // namespace rt
