// The text form of a particle definition: "key = value" lines, "#" comments, one type per file.
// content/particles/README.md lists the keys.
#pragma once

#include <string>
#include <vector>

#include "render/particles.h"

struct DefinitionText {
  std::string header;  // Windows-1252, as written into the binary file
  std::string name;
  ParticleType type;
};

// Reads the text (UTF-8). On failure returns false and fills errors with "LINE: message" texts,
// every problem of the file at once.
bool parseDefinitionText(const std::string& text, DefinitionText* out,
                         std::vector<std::string>* errors);

// Writes a definition back as text (UTF-8), every key in the usual order.
std::string printDefinitionText(const DefinitionText& definition);
