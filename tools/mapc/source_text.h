// Reading the text sources of tile sets and maps: lines of words, "quoted texts", key=value
// options and "// comments", with every complaint naming file and line.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mapc {

// Where complaints go; a source with any error writes nothing.
class Diagnostics {
 public:
  void error(const std::string& file, int line, const std::string& message);
  int errors() const { return errors_; }

 private:
  int errors_ = 0;
};

struct Word {
  std::string text;
  bool quoted = false;
};

struct SourceLine {
  int number = 0;
  std::string raw;  // without the line end
  std::vector<Word> words;
};

// The lines of a file (UTF-8 text, LF or CR LF). False when it cannot be read.
bool readSourceLines(const std::string& path, std::vector<SourceLine>* lines);
// Splits a line into words; false (with a complaint) on an unclosed quote.
bool splitWords(const std::string& text, std::vector<Word>* words, std::string* problem);

// A line's words after the first, split into plain arguments and key=value options.
struct Arguments {
  std::vector<std::string> plain;
  std::map<std::string, std::string> options;
};
bool splitArguments(const SourceLine& line, size_t from, Arguments* out, std::string* problem);

// Number parsing that insists on the whole text.
bool parseInt(const std::string& text, int64_t low, int64_t high, int32_t* value);
bool parseFloat(const std::string& text, float* value);
// "x,y" and "WxH" pairs.
bool parseIntPair(const std::string& text, char separator, int32_t* a, int32_t* b);
// "#RRGGBB" as the game's 0x00BBGGRR.
bool parseColour(const std::string& text, uint32_t* colour);

// UTF-8 text as the game's Windows-1252; false when a character has no byte there.
bool toGameText(const std::string& text, std::string* out);

}  // namespace mapc
