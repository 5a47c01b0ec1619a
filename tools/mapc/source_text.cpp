#include "source_text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "runtime/containers.h"

namespace mapc {

void Diagnostics::error(const std::string& file, int line, const std::string& message) {
  if (line > 0) {
    fprintf(stderr, "%s:%d: %s\n", file.c_str(), line, message.c_str());
  } else {
    fprintf(stderr, "%s: %s\n", file.c_str(), message.c_str());
  }
  ++errors_;
}

bool readSourceLines(const std::string& path, std::vector<SourceLine>* lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  lines->clear();
  size_t begin = 0;
  int number = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    SourceLine line;
    line.number = ++number;
    line.raw = text.substr(begin, end - begin);
    if (!line.raw.empty() && line.raw.back() == '\r') line.raw.pop_back();
    lines->push_back(std::move(line));
    begin = end + 1;
  }
  return true;
}

bool splitWords(const std::string& text, std::vector<Word>* words, std::string* problem) {
  words->clear();
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    if (text.compare(i, 2, "//") == 0) break;
    Word word;
    // A word may hold a quoted part (key="a b"); the quotes go, the text stays.
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') {
      if (text[i] != '"') {
        word.text += text[i++];
        continue;
      }
      size_t close = text.find('"', i + 1);
      if (close == std::string::npos) {
        *problem = "unclosed quote";
        return false;
      }
      word.text += text.substr(i + 1, close - i - 1);
      word.quoted = true;
      i = close + 1;
    }
    words->push_back(std::move(word));
  }
  return true;
}

bool splitArguments(const SourceLine& line, size_t from, Arguments* out, std::string* problem) {
  *out = Arguments{};
  for (size_t i = from; i < line.words.size(); ++i) {
    const Word& word = line.words[i];
    size_t equals = word.text.find('=');
    // A quoted word that holds "=" is text, unless the quote came after the key.
    if (equals == std::string::npos || equals == 0) {
      out->plain.push_back(word.text);
      continue;
    }
    std::string key = word.text.substr(0, equals);
    if (out->options.count(key)) {
      *problem = "option " + key + " given twice";
      return false;
    }
    out->options[key] = word.text.substr(equals + 1);
  }
  return true;
}

bool parseInt(const std::string& text, int64_t low, int64_t high, int32_t* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

bool parseFloat(const std::string& text, float* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double parsed = strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || std::fabs(parsed) > 1e9) {
    return false;
  }
  *value = static_cast<float>(parsed);
  return true;
}

bool parseIntPair(const std::string& text, char separator, int32_t* a, int32_t* b) {
  size_t at = text.find(separator);
  if (at == std::string::npos) return false;
  return parseInt(text.substr(0, at), INT32_MIN, INT32_MAX, a) &&
         parseInt(text.substr(at + 1), INT32_MIN, INT32_MAX, b);
}

bool parseColour(const std::string& text, uint32_t* colour) {
  if (text.size() != 7 || text[0] != '#') return false;
  uint32_t rgb = 0;
  for (size_t i = 1; i < 7; ++i) {
    char c = text[i];
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (digit < 0) return false;
    rgb = rgb << 4 | static_cast<uint32_t>(digit);
  }
  *colour = (rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
  return true;
}

bool toGameText(const std::string& text, std::string* out) {
  std::string converted = rt::utf8ToCp1252(text);
  if (rt::cp1252ToUtf8(converted) != text) return false;
  *out = converted;
  return true;
}

}  // namespace mapc
