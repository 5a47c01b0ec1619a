// Turns a score into samples: every hit through its instrument's layers, the room and the echo,
// the loop seam, and the final level.
#pragma once

#include <vector>

#include "tools/synth/score.h"

namespace synth {

struct Rendered {
  int channels = 1;
  int sampleRate = 44100;
  std::vector<float> samples;  // interleaved, -1..1
  bool loop = false;           // the end runs on into the start
  double gainDb = 0;           // the gain that brought the mix to its level
  double limitedDb = 0;        // deepest gain reduction of the limiter
};

// Unlevelled, the mix keeps the gains the score gives it (to weigh instruments against each other).
void renderScore(const Score& score, Rendered* out, bool levelled = true);

}  // namespace synth
