#include "definition_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <sstream>

#include "runtime/containers.h"

namespace {

constexpr const char* kDefaultHeader = "Powderbox particle definition";
constexpr int32_t kMaxMilliseconds = 600000;  // ten minutes: anything longer is a slip
constexpr int32_t kMaxArea = 4096;
constexpr int32_t kMaxAngle = 3600;

// The Direct3D blend factors by the names designers use.
const char* const kBlendNames[] = {
    "zero",
    "one",
    "source colour",
    "inverse source colour",
    "source alpha",
    "inverse source alpha",
    "destination alpha",
    "inverse destination alpha",
    "destination colour",
    "inverse destination colour",
};

std::string lower(std::string text) { return rt::lowerCase(text); }

bool parseInteger(const std::string& text, int32_t* out) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  auto [end, error] = std::from_chars(first, last, *out);
  return first != last && error == std::errc() && end == last;
}

bool parseReal(const std::string& text, float* out) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  auto [end, error] = std::from_chars(first, last, *out);
  return first != last && error == std::errc() && end == last && std::isfinite(*out);
}

// Splits "a <separator> b" into its two trimmed halves.
bool splitPair(const std::string& text, const std::string& separator, std::string* a,
               std::string* b) {
  size_t at = lower(text).find(separator);
  if (at == std::string::npos) return false;
  *a = rt::trim(text.substr(0, at));
  *b = rt::trim(text.substr(at + separator.size()));
  return !a->empty() && !b->empty();
}

bool parseBlend(const std::string& text, int32_t* out) {
  std::string name = rt::replaceString(lower(text), "color", "colour");
  for (int i = 0; i < 10; ++i) {
    if (name == kBlendNames[i]) {
      *out = i + 1;
      return true;
    }
  }
  return parseInteger(text, out) && *out >= 1 && *out <= 10;
}

std::string blendText(int32_t factor) {
  if (factor >= 1 && factor <= 10) return kBlendNames[factor - 1];
  return rt::str(factor);
}

std::string realText(float value) {
  char buffer[32];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc() ? std::string(buffer, end) : "0";
}

// Text fields go into the binary file as Windows-1252 lines: no control characters, and every
// character must have a place in that code page.
bool parseText(const std::string& text, std::string* out) {
  std::string bytes = rt::utf8ToCp1252(text);
  if (rt::cp1252ToUtf8(bytes) != text) return false;
  for (unsigned char c : bytes) {
    if (c < 32 || c == 127) return false;
  }
  *out = bytes;
  return true;
}

struct Field {
  const char* key;
  bool required;
  // Takes the value; returns an empty string or what is wrong with it.
  std::function<std::string(const std::string&, DefinitionText&)> take;
};

std::string milliseconds(const std::string& value, int32_t* out) {
  if (!parseInteger(value, out)) return "expected a whole number of milliseconds";
  if (*out < 0 || *out > kMaxMilliseconds) {
    return "expected 0 to " + rt::str(kMaxMilliseconds) + " milliseconds";
  }
  return {};
}

std::string real(const std::string& value, float* out, float low = -1e6f, float high = 1e6f) {
  if (!parseReal(value, out)) return "expected a number";
  if (*out < low || *out > high) return "expected " + realText(low) + " to " + realText(high);
  return {};
}

const std::vector<Field>& fields() {
  static const std::vector<Field> table = {
      {"header", false,
       [](const std::string& v, DefinitionText& d) {
         return parseText(v, &d.header) ? "" : "the header must be one line of Windows-1252 text";
       }},
      {"name", true,
       [](const std::string& v, DefinitionText& d) -> std::string {
         if (!parseText(v, &d.name)) return "the name must be one line of Windows-1252 text";
         return d.name.empty() ? "the name must not be empty" : "";
       }},
      {"texture", true,
       [](const std::string& v, DefinitionText& d) {
         return parseText(v, &d.type.textureKey) ? "" : "the texture must be a picture's name";
       }},
      {"emitting", true,
       [](const std::string& v, DefinitionText& d) -> std::string {
         std::string word = lower(v);
         if (word == "yes" || word == "1") d.type.active = 1;
         else if (word == "no" || word == "0") d.type.active = 0;
         else return "expected yes or no";
         return {};
       }},
      {"area", true,
       [](const std::string& v, DefinitionText& d) -> std::string {
         std::string w, h;
         if (!splitPair(v, "x", &w, &h) || !parseInteger(w, &d.type.areaWidth) ||
             !parseInteger(h, &d.type.areaHeight)) {
           return "expected WIDTH x HEIGHT in whole pixels";
         }
         if (d.type.areaWidth < 0 || d.type.areaHeight < 0 || d.type.areaWidth > kMaxArea ||
             d.type.areaHeight > kMaxArea) {
           return "the area must be 0 to " + rt::str(kMaxArea) + " pixels each way";
         }
         return {};
       }},
      {"interval", true,
       [](const std::string& v, DefinitionText& d) { return milliseconds(v, &d.type.interval); }},
      {"lifetime", true,
       [](const std::string& v, DefinitionText& d) { return milliseconds(v, &d.type.lifetime); }},
      {"extra lifetime", true,
       [](const std::string& v, DefinitionText& d) {
         return milliseconds(v, &d.type.extraLifetime);
       }},
      {"start size", true,
       [](const std::string& v, DefinitionText& d) {
         return real(v, &d.type.startSize, 0, 4096);
       }},
      {"size change", true,
       [](const std::string& v, DefinitionText& d) {
         return real(v, &d.type.sizeChange, -256, 256);
       }},
      {"speed", true,
       [](const std::string& v, DefinitionText& d) { return real(v, &d.type.speed, -256, 256); }},
      {"angles", true,
       [](const std::string& v, DefinitionText& d) -> std::string {
         std::string a, b;
         if (!splitPair(v, "to", &a, &b) || !parseInteger(a, &d.type.minAngle) ||
             !parseInteger(b, &d.type.maxAngle)) {
           return "expected FROM to TO in whole degrees";
         }
         if (d.type.minAngle > d.type.maxAngle) return "the first angle must not be the larger";
         if (std::abs(d.type.minAngle) > kMaxAngle || std::abs(d.type.maxAngle) > kMaxAngle) {
           return "angles must lie within -" + rt::str(kMaxAngle) + " to " + rt::str(kMaxAngle);
         }
         return {};
       }},
      {"drift", true,
       [](const std::string& v, DefinitionText& d) {
         return real(v, &d.type.driftFactor, -100, 100);
       }},
      {"blend", true,
       [](const std::string& v, DefinitionText& d) -> std::string {
         std::string s, t;
         if (!splitPair(v, ",", &s, &t) || !parseBlend(s, &d.type.sourceBlend) ||
             !parseBlend(t, &d.type.destinationBlend)) {
           return "expected SOURCE, DESTINATION: blend names or 1 to 10";
         }
         return {};
       }},
      {"start alpha", true,
       [](const std::string& v, DefinitionText& d) {
         return real(v, &d.type.startAlpha, 0, 255);
       }},
      {"alpha loss", true,
       [](const std::string& v, DefinitionText& d) {
         return real(v, &d.type.alphaLoss, 0, 255);
       }},
  };
  return table;
}

const Field* findField(const std::string& key) {
  for (const Field& field : fields()) {
    if (key == field.key) return &field;
  }
  return nullptr;
}

std::string lineError(int line, const std::string& message) {
  return rt::str(line) + ": " + message;
}

}  // namespace

bool parseDefinitionText(const std::string& text, DefinitionText* out,
                         std::vector<std::string>* errors) {
  DefinitionText definition;
  definition.header = kDefaultHeader;
  std::map<std::string, int> seen;  // key -> line
  std::istringstream lines(text);
  std::string raw;
  size_t errorsBefore = errors->size();
  for (int number = 1; std::getline(lines, raw); ++number) {
    std::string line = raw.substr(0, raw.find('#'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = rt::trim(line);
    if (line.empty()) continue;
    size_t equals = line.find('=');
    if (equals == std::string::npos) {
      errors->push_back(lineError(number, "expected \"key = value\""));
      continue;
    }
    std::string key = lower(rt::trim(line.substr(0, equals)));
    std::string value = rt::trim(line.substr(equals + 1));
    const Field* field = findField(key);
    if (!field) {
      errors->push_back(lineError(number, "unknown key \"" + key + "\""));
      continue;
    }
    if (seen.count(key)) {
      errors->push_back(lineError(number, "\"" + key + "\" was given already on line " +
                                              rt::str(seen[key])));
      continue;
    }
    seen[key] = number;
    std::string problem = field->take(value, definition);
    if (!problem.empty()) errors->push_back(lineError(number, key + ": " + problem));
  }
  for (const Field& field : fields()) {
    if (field.required && !seen.count(field.key)) {
      errors->push_back("missing \"" + std::string(field.key) + "\"");
    }
  }
  if (errors->size() != errorsBefore) return false;
  definition.type.halfAreaWidth = definition.type.areaWidth / 2;
  definition.type.halfAreaHeight = definition.type.areaHeight / 2;
  *out = definition;
  return true;
}

std::string printDefinitionText(const DefinitionText& d) {
  const ParticleType& t = d.type;
  std::string out;
  auto put = [&out](const char* key, const std::string& value) {
    out += key;
    out += " = ";
    out += value;
    out += '\n';
  };
  put("header", rt::cp1252ToUtf8(d.header));
  put("name", rt::cp1252ToUtf8(d.name));
  put("texture", rt::cp1252ToUtf8(t.textureKey));
  put("emitting", t.active ? "yes" : "no");
  put("area", rt::str(t.areaWidth) + " x " + rt::str(t.areaHeight));
  put("interval", rt::str(t.interval));
  put("lifetime", rt::str(t.lifetime));
  put("extra lifetime", rt::str(t.extraLifetime));
  put("start size", realText(t.startSize));
  put("size change", realText(t.sizeChange));
  put("speed", realText(t.speed));
  put("angles", rt::str(t.minAngle) + " to " + rt::str(t.maxAngle));
  put("drift", realText(t.driftFactor));
  put("blend", blendText(t.sourceBlend) + ", " + blendText(t.destinationBlend));
  put("start alpha", realText(t.startAlpha));
  put("alpha loss", realText(t.alphaLoss));
  return out;
}
