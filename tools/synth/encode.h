// Writing rendered sound: Ogg Vorbis for the game, 16-bit WAV for looking at it with other tools.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/synth/render.h"

namespace synth {

// Quality -0.1..1 as the Vorbis encoder takes it. The stream serial number is fixed, so the
// same sound always encodes to the same bytes.
bool encodeOgg(const Rendered& sound, double quality, std::vector<uint8_t>* out);
std::vector<uint8_t> encodeWav(const Rendered& sound);

// Writes to a temporary file beside path and renames it into place, creating the folder, so an
// interrupted build never leaves half a file that looks finished.
bool writeFileSafely(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace synth
