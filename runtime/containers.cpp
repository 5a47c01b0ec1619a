#include "runtime/containers.h"

#include <charconv>
#include <climits>
#include <cmath>

namespace rt {
namespace {

char foldLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
char foldUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

size_t skipBlanks(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  return i;
}

// Adds one to the decimal digits in text (no sign, at most one '.'), carrying leftwards.
void incrementDigits(std::string* text) {
  for (size_t i = text->size(); i-- > 0;) {
    char& c = (*text)[i];
    if (c == '.') continue;
    if (c != '9') {
      ++c;
      return;
    }
    c = '0';
  }
  text->insert(text->begin(), '1');
}

// Windows-1252 bytes 0x80..0x9F. The five holes map to the C1 controls of the same value so
// that every byte survives a round trip.
constexpr uint16_t kHighTable[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint32_t cp1252CodePoint(uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHighTable[byte - 0x80];
  return byte;
}

// The byte for a code point, or -1 when Windows-1252 has none.
int cp1252Byte(uint32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<int>(codePoint);
  }
  for (int i = 0; i < 32; ++i) {
    if (kHighTable[i] == codePoint) return 0x80 + i;
  }
  return -1;
}

void appendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence at text[*at]; advances past it. Returns -1 for a malformed
// sequence (overlong, surrogate, truncated, out of range), having skipped one byte.
int64_t decodeUtf8(const std::string& text, size_t* at) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  uint8_t lead = byte(*at);
  int extra;
  uint32_t cp;
  uint32_t minimum;
  if (lead < 0x80) {
    ++*at;
    return lead;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, cp = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, cp = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, cp = lead & 0x07, minimum = 0x10000;
  } else {
    ++*at;
    return -1;
  }
  if (*at + extra >= text.size()) {
    ++*at;
    return -1;
  }
  for (int k = 1; k <= extra; ++k) {
    uint8_t b = byte(*at + k);
    if ((b & 0xC0) != 0x80) {
      ++*at;
      return -1;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++*at;
    return -1;
  }
  *at += extra + 1;
  return cp;
}

}  // namespace

// ---- Letter case -------------------------------------------------------------------------

std::string lowerCase(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = foldLower(c);
  return out;
}

std::string upperCase(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = foldUpper(c);
  return out;
}

bool equalNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (foldLower(a[i]) != foldLower(b[i])) return false;
  }
  return true;
}

bool lessNoCase(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<uint8_t>(foldLower(a[i]));
    auto y = static_cast<uint8_t>(foldLower(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

size_t NoCaseHash::operator()(const std::string& s) const {
  uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (char c : s) {
    h ^= static_cast<uint8_t>(foldLower(c));
    h *= 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

// ---- Numbers -----------------------------------------------------------------------------

std::string str(int64_t value) { return std::to_string(value); }

// Rounds half away from zero on the exact value of the double, so 2.5 gives "3" and 0.125 with
// two decimals "0.13", whatever the C library's rounding mode or locale.
std::string strF(double value, int decimals) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  decimals = std::clamp(decimals, 0, 100);
  // A double's exact decimal expansion has at most 1074 fractional and 309 integer digits.
  char buffer[1500];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                              std::chars_format::fixed, 1074);
  std::string exact(buffer, result.ptr);
  size_t point = exact.find('.');
  std::string out = exact.substr(0, point + (decimals > 0 ? decimals + 1 : 0));
  if (exact[point + decimals + 1] >= '5') incrementDigits(&out);
  bool zero = out.find_first_not_of("0.") == std::string::npos;
  if (value < 0 && !zero) out.insert(out.begin(), '-');
  return out;
}

int64_t val(const std::string& text) {
  size_t i = skipBlanks(text);
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  // Accumulated negatively so that INT64_MIN parses; saturates beyond the range.
  int64_t value = 0;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    int digit = text[i] - '0';
    if (value < (INT64_MIN + digit) / 10) {
      value = INT64_MIN;
    } else {
      value = value * 10 - digit;
    }
  }
  if (negative) return value;
  return value == INT64_MIN ? INT64_MAX : -value;
}

double valF(const std::string& text) {
  size_t i = skipBlanks(text);
  if (i < text.size() && text[i] == '+') ++i;
  double value = 0;
  auto result = std::from_chars(text.data() + i, text.data() + text.size(), value);
  if (result.ec != std::errc() || !std::isfinite(value)) return 0.0;
  return value;
}

// ---- Texts -------------------------------------------------------------------------------

std::string_view trimView(std::string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string trim(const std::string& text) { return std::string(trimView(text)); }

std::string stringField(const std::string& text, int index, const std::string& separator) {
  if (index < 1) return "";
  if (separator.empty()) return index == 1 ? text : "";
  size_t begin = 0;
  for (int field = 1; field < index; ++field) {
    size_t at = text.find(separator, begin);
    if (at == std::string::npos) return "";
    begin = at + separator.size();
  }
  size_t end = text.find(separator, begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

int countFields(const std::string& text, const std::string& separator) {
  if (separator.empty()) return 1;
  int count = 1;
  for (size_t at = text.find(separator); at != std::string::npos;
       at = text.find(separator, at + separator.size())) {
    ++count;
  }
  return count;
}

int findString(const std::string& text, const std::string& what, int start) {
  if (what.empty()) return 0;
  if (start < 1) start = 1;
  if (static_cast<size_t>(start) > text.size()) return 0;
  size_t at = text.find(what, static_cast<size_t>(start - 1));
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

std::string mid(const std::string& text, int position, int length) {
  if (position < 1) position = 1;
  size_t from = static_cast<size_t>(position - 1);
  if (from >= text.size()) return "";
  if (length < 0) return text.substr(from);
  return text.substr(from, static_cast<size_t>(length));
}

std::string replaceString(const std::string& text, const std::string& what,
                          const std::string& by) {
  if (what.empty()) return text;
  std::string out;
  size_t begin = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, begin)) {
    out.append(text, begin, at - begin);
    out += by;
    begin = at + what.size();
  }
  out.append(text, begin, std::string::npos);
  return out;
}

std::string getPathPart(const std::string& path) {
  size_t at = path.find_last_of("\\/");
  return at == std::string::npos ? "" : path.substr(0, at + 1);
}

std::string getFilePart(const std::string& path) {
  size_t at = path.find_last_of("\\/");
  return at == std::string::npos ? path : path.substr(at + 1);
}

std::string getExtensionPart(const std::string& path) {
  std::string file = getFilePart(path);
  size_t dot = file.rfind('.');
  return dot == std::string::npos ? "" : file.substr(dot + 1);
}

// ---- Code pages --------------------------------------------------------------------------

std::string cp1252ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) appendUtf8(&out, cp1252CodePoint(static_cast<uint8_t>(c)));
  return out;
}

std::string utf8ToCp1252(const std::string& text, char replacement) {
  std::string out;
  out.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    int64_t cp = decodeUtf8(text, &at);
    int byte = cp < 0 ? -1 : cp1252Byte(static_cast<uint32_t>(cp));
    out += byte < 0 ? replacement : static_cast<char>(byte);
  }
  return out;
}

std::string typedText(const std::string& utf8) {
  std::string out = utf8ToCp1252(utf8, '\0');
  std::erase(out, '\0');
  return out;
}

}  // namespace rt
