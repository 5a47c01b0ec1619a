// Whole archive files as a player might download them: open, list every folder, read every
// entry. Damage must end in error codes and empty results.
#include <string>
#include <vector>

#include "data/archive.h"

namespace {

void walk(const std::string& folder, int depth) {
  if (depth > 8 || !ExamineArchiveFolder(0, folder)) return;
  std::vector<std::string> files, folders;
  while (NextArchiveFile(0)) files.push_back(ArchiveFileName(0));
  while (NextArchiveFolder(0)) folders.push_back(ArchiveFolderName(0));
  for (const std::string& name : files) ReadArchiveEntry(0, folder + "\\" + name);
  for (const std::string& name : folders) walk(folder + "\\" + name, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!OpenArchiveMemory(0, data, size, kArchivePassword)) return 0;
  walk("", 0);
  ReadArchiveEntry(0, "Player\\..\\Box.png");
  CloseArchive(0);
  return 0;
}
