// langbuild: checks the language sources (UTF-8) and writes them as the game reads them
// (Windows-1252, CR LF lines), for the content build.
//
//   langbuild OUT_DIR SOURCE.ini...
//
// Every line is blank, a "; " comment or "key = text" with a non-empty key and text; no group
// lines; no key twice; every file has the same keys as the first; every character has a
// Windows-1252 byte. Nothing is written unless all files pass.

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "runtime/containers.h"
#include "runtime/files.h"

namespace {

struct Source {
  std::string path;
  std::string name;    // file name, kept for the output
  std::string output;  // the converted text
  std::vector<std::string> keys;
  std::map<std::string, int> lineOf;  // lower-case key -> line number
};

int errors = 0;

void complain(const Source& source, int line, const std::string& what) {
  if (line > 0) {
    fprintf(stderr, "%s:%d: %s\n", source.path.c_str(), line, what.c_str());
  } else {
    fprintf(stderr, "%s: %s\n", source.path.c_str(), what.c_str());
  }
  ++errors;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    begin = end + 1;
  }
  return lines;
}

// The Windows-1252 form of a line, or "" with a complaint when a character has none.
std::string toCp1252(const Source& source, int number, const std::string& line) {
  for (unsigned char c : line) {
    if (c < ' ' && c != '\t') {
      complain(source, number, "control character");
      return "";
    }
  }
  std::string converted = rt::utf8ToCp1252(line);
  if (rt::cp1252ToUtf8(converted) != line) {
    complain(source, number, "not UTF-8, or a character that Windows-1252 lacks");
    return "";
  }
  return converted;
}

void checkLine(Source& source, int number, const std::string& raw) {
  std::string line = rt::trim(raw);
  if (line.empty() || line[0] == ';') return;
  if (line[0] == '[') {
    complain(source, number, "group lines end the list the game reads");
    return;
  }
  size_t equals = line.find('=');
  std::string key = equals == std::string::npos ? "" : rt::trim(line.substr(0, equals));
  std::string text = equals == std::string::npos ? "" : rt::trim(line.substr(equals + 1));
  if (key.empty() || text.empty()) {
    complain(source, number, "expected \"key = text\"");
    return;
  }
  auto [at, added] = source.lineOf.emplace(rt::lowerCase(key), number);
  if (!added) {
    complain(source, number,
             "\"" + key + "\" again (first on line " + std::to_string(at->second) + ")");
    return;
  }
  source.keys.push_back(key);
}

bool readSource(Source& source) {
  std::vector<uint8_t> bytes;
  if (!rt::readWholeFile(source.path, &bytes, 1 << 20)) {
    fprintf(stderr, "%s: cannot read\n", source.path.c_str());
    ++errors;
    return false;
  }
  std::string text(bytes.begin(), bytes.end());
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  int number = 0;
  for (const std::string& raw : splitLines(text)) {
    ++number;
    std::string converted = toCp1252(source, number, raw);
    checkLine(source, number, raw);
    source.output += converted + "\r\n";
  }
  return true;
}

// Every file must give a text for the same keys as the first.
void compareKeys(const Source& first, const Source& other) {
  for (const std::string& key : first.keys) {
    if (!other.lineOf.count(rt::lowerCase(key))) {
      complain(other, 0, "lacks \"" + key + "\" (" + first.name + " has it)");
    }
  }
  for (const std::string& key : other.keys) {
    if (!first.lineOf.count(rt::lowerCase(key))) {
      complain(other, 0, "has \"" + key + "\", which " + first.name + " lacks");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: langbuild OUT_DIR SOURCE.ini...\n");
    return 2;
  }
  std::string outDir = argv[1];
  std::vector<Source> sources;
  for (int i = 2; i < argc; ++i) {
    Source source;
    source.path = argv[i];
    source.name = rt::getFilePart(source.path);
    if (readSource(source)) sources.push_back(std::move(source));
  }
  for (size_t i = 1; i < sources.size(); ++i) compareKeys(sources[0], sources[i]);
  if (errors > 0) {
    fprintf(stderr, "langbuild: %d problem%s, nothing written\n", errors, errors == 1 ? "" : "s");
    return 1;
  }
  if (!rt::createDirectory(outDir)) {
    fprintf(stderr, "langbuild: cannot make %s\n", outDir.c_str());
    return 1;
  }
  for (const Source& source : sources) {
    std::string out = outDir + "/" + source.name;
    if (!rt::writeFileAtomically(out, source.output.data(), source.output.size())) {
      fprintf(stderr, "langbuild: cannot write %s\n", out.c_str());
      return 1;
    }
  }
  return 0;
}
