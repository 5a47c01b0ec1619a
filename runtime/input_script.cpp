// Scripted input: timed key, text, mouse and window events read from a file, fed into the same
// paths as the window's own events so that a headless game can be driven like a real one.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/clock.h"
#include "runtime/containers.h"
#include "runtime/input.h"
#include "runtime/input_local.h"
#include "runtime/screen_local.h"

namespace rt {
namespace {

constexpr uint32_t kPressLength = 60;            // a tap or click holds the key this long
constexpr int64_t kLatestTime = 24 * 3600 * 1000;  // a day: far from the clock's wrap
constexpr size_t kMaxScriptBytes = 16u << 20;
constexpr int kMaxCoordinate = 100000;
constexpr int kMaxNotches = 1000;

enum class Action {
  KeyDown,
  KeyUp,
  Text,
  MouseMove,
  MouseDown,
  MouseUp,
  Wheel,
  Close,
  PadDown,
  PadUp,
  PadAxis,
  PadConnect,
};

struct ScriptEvent {
  uint32_t time = 0;
  Action action = Action::Close;
  // key code | x, y | button (0 left, 1 right) | notches | pad button | pad axis, value
  int a = 0, b = 0;
  std::string text;  // Windows-1252; a pad's name ("" unplugged)
};

struct Script {
  std::vector<ScriptEvent> events;  // in time order
  size_t next = 0;
  uint32_t start = 0;
  bool started = false;
};

Script& script() {
  static Script s;
  return s;
}

uint32_t (*scriptClock)() = nullptr;

uint32_t now() { return scriptClock ? scriptClock() : milliseconds(); }

// ---- Parsing -----------------------------------------------------------------------------

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string_view> splitWords(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isBlank(line[i])) ++i;
    size_t start = i;
    while (i < line.size() && !isBlank(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

bool parseNumber(std::string_view word, int64_t lowest, int64_t highest, int64_t* out) {
  int64_t value = 0;
  auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size()) return false;
  if (value < lowest || value > highest) return false;
  *out = value;
  return true;
}

std::string quoted(std::string_view word) { return "\"" + std::string(word) + "\""; }

struct LineParser {
  std::string_view line;
  std::vector<std::string_view> words;
  uint32_t time = 0;
  std::vector<ScriptEvent>* out = nullptr;

  void add(uint32_t at, Action action, int a = 0, int b = 0) {
    ScriptEvent e;
    e.time = at;
    e.action = action;
    e.a = a;
    e.b = b;
    out->push_back(std::move(e));
  }

  std::string expectWords(size_t count, const char* usage) {
    if (words.size() < count) return std::string("expected ") + usage;
    if (words.size() > count) return "unexpected " + quoted(words[count]);
    return "";
  }

  std::string key() {
    if (std::string problem = expectWords(4, "key down|up|tap <code>"); !problem.empty()) {
      return problem;
    }
    int64_t code = 0;
    if (!parseNumber(words[3], 1, 255, &code)) return "bad key code " + quoted(words[3]);
    int k = static_cast<int>(code);
    if (words[2] == "down") {
      add(time, Action::KeyDown, k);
    } else if (words[2] == "up") {
      add(time, Action::KeyUp, k);
    } else if (words[2] == "tap") {
      add(time, Action::KeyDown, k);
      add(time + kPressLength, Action::KeyUp, k);
    } else {
      return "unknown key action " + quoted(words[2]);
    }
    return "";
  }

  std::string text() {
    // Everything after "text" and one blank, blanks included, as typed.
    std::string_view typed = restAfter(1);
    if (typed.empty()) return "expected text <characters>";
    add(time, Action::Text);
    out->back().text = typedText(std::string(typed));
    return "";
  }

  std::string mouseMove() {
    if (std::string problem = expectWords(5, "mouse move <x> <y>"); !problem.empty()) {
      return problem;
    }
    int64_t x = 0, y = 0;
    if (!parseNumber(words[3], -kMaxCoordinate, kMaxCoordinate, &x) ||
        !parseNumber(words[4], -kMaxCoordinate, kMaxCoordinate, &y)) {
      return "bad mouse position";
    }
    add(time, Action::MouseMove, static_cast<int>(x), static_cast<int>(y));
    return "";
  }

  std::string mouse() {
    if (words.size() >= 3 && words[2] == "move") return mouseMove();
    if (std::string problem = expectWords(4, "mouse down|up|click left|right"); !problem.empty()) {
      return problem;
    }
    int button = words[3] == "left" ? 0 : words[3] == "right" ? 1 : -1;
    if (button < 0) return "unknown mouse button " + quoted(words[3]);
    if (words[2] == "down") {
      add(time, Action::MouseDown, 0, button);
    } else if (words[2] == "up") {
      add(time, Action::MouseUp, 0, button);
    } else if (words[2] == "click") {
      add(time, Action::MouseDown, 0, button);
      add(time + kPressLength, Action::MouseUp, 0, button);
    } else {
      return "unknown mouse action " + quoted(words[2]);
    }
    return "";
  }

  std::string wheel() {
    if (std::string problem = expectWords(3, "wheel <notches>"); !problem.empty()) return problem;
    int64_t notches = 0;
    if (!parseNumber(words[2], -kMaxNotches, kMaxNotches, &notches)) {
      return "bad wheel notches " + quoted(words[2]);
    }
    add(time, Action::Wheel, static_cast<int>(notches));
    return "";
  }

  // Everything after the word at index, blanks included; "" when there is nothing.
  std::string_view restAfter(size_t index) {
    size_t at = static_cast<size_t>(words[index].data() - line.data()) + words[index].size();
    std::string_view rest = line.substr(at);
    if (!rest.empty()) rest.remove_prefix(1);
    return rest;
  }

  std::string padButton() {
    if (std::string problem = expectWords(4, "pad down|up|tap <button>"); !problem.empty()) {
      return problem;
    }
    static constexpr std::string_view kNames[kPadButtonCount] = {
        "a", "b", "back", "start", "dpup", "dpdown", "dpleft", "dpright"};
    int button = static_cast<int>(std::find(std::begin(kNames), std::end(kNames), words[3]) -
                                  std::begin(kNames));
    if (button == kPadButtonCount) return "unknown pad button " + quoted(words[3]);
    if (words[2] == "down") {
      add(time, Action::PadDown, button);
    } else if (words[2] == "up") {
      add(time, Action::PadUp, button);
    } else {
      add(time, Action::PadDown, button);
      add(time + kPressLength, Action::PadUp, button);
    }
    return "";
  }

  std::string pad() {
    if (words.size() < 3) return "expected pad down|up|tap|axis|connect|disconnect";
    std::string_view what = words[2];
    if (what == "down" || what == "up" || what == "tap") return padButton();
    if (what == "axis") {
      if (std::string problem = expectWords(5, "pad axis leftx|lefty <value>"); !problem.empty()) {
        return problem;
      }
      int axis = words[3] == "leftx" ? kPadStickX : words[3] == "lefty" ? kPadStickY : -1;
      if (axis < 0) return "unknown pad axis " + quoted(words[3]);
      int64_t value = 0;
      if (!parseNumber(words[4], -32768, 32767, &value)) return "bad axis value " + quoted(words[4]);
      add(time, Action::PadAxis, axis, static_cast<int>(value));
      return "";
    }
    if (what == "connect") {
      std::string_view name = restAfter(2);
      if (name.empty()) return "expected pad connect <name>";
      add(time, Action::PadConnect);
      out->back().text = typedText(std::string(name));
      return "";
    }
    if (what == "disconnect") {
      if (std::string problem = expectWords(3, "pad disconnect"); !problem.empty()) return problem;
      add(time, Action::PadConnect);
      return "";
    }
    return "unknown pad action " + quoted(what);
  }

  std::string close() {
    if (std::string problem = expectWords(2, "close"); !problem.empty()) return problem;
    add(time, Action::Close);
    return "";
  }

  // Appends the line's events (a tap or a click gives two); returns the problem, "" when none.
  std::string parse() {
    words = splitWords(line);
    int64_t ms = 0;
    if (!parseNumber(words[0], 0, kLatestTime, &ms)) return "bad time " + quoted(words[0]);
    time = static_cast<uint32_t>(ms);
    if (words.size() < 2) return "expected an event after the time";
    std::string_view event = words[1];
    if (event == "key") return key();
    if (event == "text") return text();
    if (event == "mouse") return mouse();
    if (event == "wheel") return wheel();
    if (event == "close") return close();
    if (event == "pad") return pad();
    return "unknown event " + quoted(event);
  }
};

bool readScriptFile(const std::string& path, std::string* content) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char buffer[65536];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0 && content->size() <= kMaxScriptBytes) {
    content->append(buffer, got);
  }
  bool ok = !ferror(file) && content->size() <= kMaxScriptBytes;
  fclose(file);
  return ok;
}

bool parseScript(const std::string& content, std::vector<ScriptEvent>* events,
                 std::string* problem) {
  std::string_view rest = content;
  for (int number = 1; !rest.empty(); ++number) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') continue;
    LineParser parser{line, {}, 0, events};
    std::string error = parser.parse();
    if (!error.empty()) {
      *problem = "line " + std::to_string(number) + ": " + error;
      return false;
    }
  }
  // Lines may come in any order; events of the same moment keep the order of the file.
  std::stable_sort(events->begin(), events->end(),
                   [](const ScriptEvent& a, const ScriptEvent& b) { return a.time < b.time; });
  return true;
}

// ---- Injection ---------------------------------------------------------------------------

void pushEvent(int code, int param) {
  WindowEvent event;
  event.code = code;
  event.param = param;
  event.x = mouseX();
  event.y = mouseY();
  pushWindowEvent(event);
}

// The keys whose press also types a character, as a keyboard does.
int characterOfKey(int key) {
  if (key == 14) return 8;               // Backspace
  if (key == 28 || key == 156) return 13;  // Return, keypad Enter
  return 0;
}

void setButton(int button, bool down) {
  bool left = button == 0 ? down : mouseLeft();
  bool right = button == 1 ? down : mouseRight();
  setMouseState(mouseX(), mouseY(), left, right);
}

void inject(const ScriptEvent& e) {
  switch (e.action) {
    case Action::KeyDown:
      setKeyState(e.a, true);
      pushEvent(kEventKeyDown, e.a);
      if (int c = characterOfKey(e.a)) pushEvent(kEventChar, c);
      break;
    case Action::KeyUp:
      setKeyState(e.a, false);
      pushEvent(kEventKeyUp, e.a);
      break;
    case Action::Text:
      for (char c : e.text) pushEvent(kEventChar, static_cast<unsigned char>(c));
      break;
    case Action::MouseMove:
      setMouseState(e.a, e.b, mouseLeft(), mouseRight());
      pushEvent(kEventMouseMove, 0);
      break;
    case Action::MouseDown:
      setButton(e.b, true);
      pushEvent(e.b == 0 ? kEventLeftDown : kEventRightDown, 0);
      break;
    case Action::MouseUp:
      setButton(e.b, false);
      pushEvent(e.b == 0 ? kEventLeftUp : kEventRightUp, 0);
      break;
    case Action::Wheel:
      addMouseWheel(e.a * 120);
      pushEvent(kEventWheel, e.a * 120);
      break;
    case Action::Close:
      pushEvent(kEventClose, 0);
      break;
    case Action::PadDown: setPadButton(e.a, true); break;
    case Action::PadUp: setPadButton(e.a, false); break;
    case Action::PadAxis: setPadStick(e.a, e.b); break;
    case Action::PadConnect: setPadConnected(e.text); break;
  }
}

}  // namespace

void setInputScriptClock(uint32_t (*clock)()) { scriptClock = clock; }

bool loadInputScript(const std::string& path, std::string* error) {
  std::string content;
  std::string problem;
  std::vector<ScriptEvent> events;
  if (!readScriptFile(path, &content)) {
    problem = "cannot read";
  } else if (parseScript(content, &events, &problem)) {
    Script& s = script();
    s = Script();
    s.events = std::move(events);
    return true;
  }
  if (error) *error = "input script " + path + ": " + problem;
  return false;
}

void startInputScript() {
  Script& s = script();
  s.start = now();
  s.next = 0;
  s.started = true;
}

void pumpInputScript() {
  Script& s = script();
  if (!s.started) return;
  uint32_t elapsed = now() - s.start;
  while (s.next < s.events.size() && s.events[s.next].time <= elapsed) {
    inject(s.events[s.next++]);
  }
}

bool inputScriptFinished() {
  Script& s = script();
  return s.next >= s.events.size();
}

}  // namespace rt
