// partbuild: turns the text source of a particle definition into the file the game reads, or
// shows a built file as text.
//
//   partbuild SOURCE.txt OUT        build one definition
//   partbuild --show FILE           print a built definition in the text form
//
// The source's keys are listed in content/particles/README.md. Every problem of a source is
// reported with its line number before anything is written.
// Exit status: 0 done, 1 failure, 2 wrong usage.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "definition_text.h"
#include "render/particles.h"
#include "runtime/files.h"

namespace {

constexpr int64_t kMaxSourceSize = 1 << 20;

int usage() {
  fprintf(stderr,
          "usage: partbuild SOURCE.txt OUT\n"
          "       partbuild --show FILE\n");
  return 2;
}

// The file services take game paths; an absolute native path passes through them unchanged.
std::string absolutePath(const std::string& path) {
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(path, error);
  return error ? path : full.string();
}

bool readFile(const std::string& path, std::vector<uint8_t>* out) {
  if (rt::readWholeFile(absolutePath(path), out, kMaxSourceSize)) return true;
  fprintf(stderr, "partbuild: cannot read %s\n", path.c_str());
  return false;
}

int build(const std::string& sourcePath, const std::string& outPath) {
  std::vector<uint8_t> source;
  if (!readFile(sourcePath, &source)) return 1;
  DefinitionText definition;
  std::vector<std::string> errors;
  if (!parseDefinitionText(std::string(source.begin(), source.end()), &definition, &errors)) {
    for (const std::string& error : errors) {
      fprintf(stderr, "partbuild: %s:%s\n", sourcePath.c_str(), error.c_str());
    }
    return 1;
  }
  std::vector<uint8_t> bytes =
      EncodeParticleDefinition(definition.type, definition.name, definition.header);
  if (!rt::writeFileAtomically(absolutePath(outPath), bytes.data(), bytes.size())) {
    fprintf(stderr, "partbuild: cannot write %s\n", outPath.c_str());
    return 1;
  }
  return 0;
}

int show(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!readFile(path, &bytes)) return 1;
  DefinitionText definition;
  if (!ParseParticleDefinition(bytes, &definition.type, &definition.name)) {
    fprintf(stderr, "partbuild: %s is not a particle definition (it ends too early)\n",
            path.c_str());
    return 1;
  }
  // The header is the first line, whatever ends it.
  size_t end = 0;
  while (end < bytes.size() && bytes[end] != 0 && bytes[end] != '\n' && bytes[end] != '\r') ++end;
  definition.header.assign(bytes.begin(), bytes.begin() + static_cast<long>(end));
  fputs(printDefinitionText(definition).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--show") return show(argv[2]);
  if (argc != 3 || argv[1][0] == '-') return usage();
  return build(argv[1], argv[2]);
}
