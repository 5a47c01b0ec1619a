// For targets whose reader takes a path: the input goes into a file in a folder of this process's
// own, made once in the fastest temporary folder there is and removed at exit.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

inline const std::string& scratchFolder() {
  static const std::string folder = [] {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/powderbox-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) abort();
    static std::string made = pattern;
    atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(made, ignored);
    });
    return pattern + "/";
  }();
  return folder;
}

// Writes the bytes to name in the scratch folder and returns its path.
inline std::string scratchFile(const std::string& name, const void* data, size_t size) {
  std::string path = scratchFolder() + name;
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) abort();
  if (size > 0 && fwrite(data, 1, size, file) != size) abort();
  fclose(file);
  return path;
}

}  // namespace fuzz
