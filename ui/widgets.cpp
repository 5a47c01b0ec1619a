#include "ui/widgets.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "data/config.h"
#include "data/language.h"
#include "data/resources.h"
#include "render/typeface.h"
#include "runtime/frame.h"
#include "runtime/input.h"
#include "runtime/screen.h"
#include "ui/widgets_local.h"

Gui gui;
MouseState mouse;

namespace {

constexpr uint32_t kFont = kFontNormal;
constexpr int kBorder = 8;
constexpr int kGrooveBorder = 6;
constexpr int kCheckBoxSize = 24;
constexpr int kKnobWidth = 16;
constexpr int kArrowColumn = 28;  // the scroll and spin arrows sit this far left of the right edge
constexpr int kHeadHeight = 24;
constexpr int kMessageButtonWidth = 160, kMessageButtonHeight = 40;

// DirectInput codes of the editing keys.
constexpr int kKeyReturn = 28, kKeyPadEnter = 156, kKeyHome = 199, kKeyEnd = 207;
constexpr int kKeyLeft = 203, kKeyRight = 205, kKeyDelete = 211;
constexpr int kKeyV = 47, kKeyLeftControl = 29, kKeyRightControl = 157;
constexpr int kKeyCodes = 256;

// ---- Input helpers -----------------------------------------------------------------------

bool mouseOver(int x, int y, int width, int height) {
  return mouse.x >= x && mouse.y >= y && mouse.x < x + width && mouse.y < y + height;
}

// The colours of a rectangle under the mouse; true when the mouse is over it.
bool hitColours(int x, int y, int width, int height, uint32_t* colour, bool* pressed,
                bool* hover) {
  bool over = mouseOver(x, y, width, height);
  bool held = over && mouse.left;
  if (colour) *colour = !over ? gui.colours[0] : held ? gui.colours[2] : gui.colours[1];
  if (pressed) *pressed = held;
  if (hover) *hover = over && !held;
  return over;
}

void clearLeftButton() {
  mouse.left = false;
  mouse.leftClick = false;
  mouse.leftRepeat = false;
}

void updateRepeat(bool held, uint32_t downAt, uint32_t* tickAt, bool* tick) {
  *tick = false;
  uint32_t now = rt::frame.now;
  if (!held || now - downAt <= kRepeatDelay || now - *tickAt <= kRepeatInterval) return;
  *tick = true;
  *tickAt = now;
}

// ---- Drawing helpers ---------------------------------------------------------------------

int roundToInt(float value) { return static_cast<int>(std::lround(value)); }

void drawFramed(uint32_t sprite, uint32_t colour, float x, float y, float width, float height,
                int border, int alpha) {
  TintSprite3D(sprite, colour);
  DrawFrame(sprite, x, y, width, height, border, border, border, border, alpha);
}

// A sprite at a size of its own for this drawing.
void drawSized(uint32_t sprite, uint32_t colour, float x, float y, float width, float height,
               int alpha = 255) {
  if (!rt::sprite3DExists(sprite)) return;
  float oldWidth = rt::sprite3DWidth(sprite), oldHeight = rt::sprite3DHeight(sprite);
  TintSprite3D(sprite, colour);
  rt::sizeSprite3D(sprite, width, height);
  rt::displaySprite3D(sprite, x, y, alpha);
  rt::sizeSprite3D(sprite, oldWidth, oldHeight);
}

void drawCentred(std::string_view text, float x, float y, float width, float height,
                 uint32_t colour, int alpha = 255, float scale = 1.0f) {
  float left = x + (width - TextWidth(kFont, text, scale)) / 2;
  float top = y + (height - TextHeight(kFont, text, scale)) / 2;
  DrawText(kFont, std::round(left), std::round(top), text, alpha, colour, scale, 0);
}

int rowHeight() { return std::max(1, roundToInt(TextHeight(kFont, "|", 1.0f))); }

std::vector<std::string> splitTabs(std::string_view text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = text.find('\t', start);
    fields.emplace_back(text.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

// ---- Bound variables ---------------------------------------------------------------------

int32_t numberOf(std::string_view text) {
  return static_cast<int32_t>(std::strtol(std::string(text).c_str(), nullptr, 10));
}

int32_t* boundInteger(const Widget& w) {
  return w.boundType == kBoundInteger ? static_cast<int32_t*>(w.boundAddress) : nullptr;
}

std::string* boundText(const Widget& w) {
  return w.boundType == kBoundText ? static_cast<std::string*>(w.boundAddress) : nullptr;
}

std::string cutToBound(const Widget& w, std::string_view text) {
  size_t length = static_cast<size_t>(std::max(w.boundLength, 0));
  return std::string(text.substr(0, std::min(text.size(), length)));
}

// The widget's value into its variable: a number, or the text cut to its length.
void writeBound(const Widget& w, int32_t value, std::string_view text) {
  if (int32_t* number = boundInteger(w)) *number = value;
  if (std::string* bound = boundText(w)) *bound = cutToBound(w, text);
}

// ---- Buttons and boxes -------------------------------------------------------------------

void drawButton(int x, int y, int width, int height, std::string_view label, uint32_t colour,
                bool pressed, bool disabled) {
  int shift = pressed ? 1 : 0;
  drawFramed(kSpriteButton, disabled ? kWidgetNormal : colour, x + shift, y + shift, width,
             height, kBorder, disabled ? 96 : 255);
  drawCentred(label, x + shift, y + shift, width, height, disabled ? kWidgetNormal : colour,
              disabled ? 48 : 255);
}

void button(Widget& w) {
  uint32_t colour = kWidgetNormal;
  bool pressed = false;
  bool clicked = WidgetClicked(w.x, w.y, w.width, w.height, &colour, &pressed);
  if (w.disabled) {
    drawButton(w.x, w.y, w.width, w.height, w.text, kWidgetNormal, false, true);
    return;
  }
  if (clicked) gui.action = w.action;
  drawButton(w.x, w.y, w.width, w.height, w.text, colour, pressed, false);
}

void checkBox(Widget& w) {
  uint32_t colour = kWidgetNormal;
  bool pressed = false;
  if (WidgetClicked(w.x, w.y, kCheckBoxSize, kCheckBoxSize, &colour, &pressed)) {
    gui.action = w.action;
    w.state = w.state ? 0 : 1;
    if (int32_t* number = boundInteger(w)) *number = w.state;
  }
  int shift = pressed ? 1 : 0;
  uint32_t sprite = w.state ? kSpriteCheckBox1 : kSpriteCheckBox0;
  drawSized(sprite, colour, w.x + shift, w.y + shift, kCheckBoxSize, kCheckBoxSize);
}

void frame(Widget& w) {
  drawFramed(kSpriteList, kWidgetNormal, w.x, w.y, w.width, w.height, kBorder, 128);
}

void text(Widget& w) {
  if (int32_t* number = boundInteger(w)) w.text = std::to_string(*number);
  if (std::string* bound = boundText(w)) w.text = cutToBound(w, *bound);
  DrawText(kFont, w.x, w.y, w.text, 200, kWidgetNormal, 1.0f, 0);
}

// The page heading swings in during the page's first second: an echo in the light typeface
// turns and fades over the big one, whose letters close up.
void title(Widget& w) {
  float t = static_cast<float>(rt::frame.now - gui.pageEnteredAt) / 1000.0f;
  float f = t <= 1 ? std::sin(t * 3.14159265f / 2) : 1;
  SetTypefaceSpacing(kFontBig, f);
  SetTypefaceRotation(kFontLight, f * 6 * gui.swing, 0);
  DrawText(kFontLight, w.x - 18 * f, w.y - 12 * f * gui.swing, w.text, roundToInt(255 - 192 * f),
           kWidgetNormal, 1.4f + 0.5f * f, 0);
  DrawText(kFontBig, w.x, w.y, w.text, 255, kWidgetNormal, 1.0f, 0);
  SetTypefaceSpacing(kFontBig, 0);
  SetTypefaceRotation(kFontLight, 0, 0);
}

void keyWidget(Widget& w) {
  uint32_t colour = kWidgetNormal;
  if (WidgetClicked(w.x, w.y, w.width, w.height, &colour)) w.state = w.state ? 0 : 1;
  if (w.state) {
    colour = kWidgetPressed;
    for (int code = 0; code < kKeyCodes; ++code) {
      if (!rt::keyPushed(code) || KeyName(code).empty()) continue;
      w.keyCode = code;
      w.state = 0;
      w.text = KeyName(code);
      if (int32_t* number = boundInteger(w)) *number = code;
      break;
    }
  }
  drawFramed(kSpriteString, colour, w.x, w.y, w.width, w.height, kBorder, 255);
  drawCentred(w.text, w.x, w.y, w.width, w.height, colour, 255, w.text.size() < 7 ? 1.0f : 0.75f);
}

void trackBar(Widget& w) {
  int32_t range = std::max(w.maximum - w.minimum, 1);
  uint32_t colour = kWidgetNormal;
  if (w.clickProcedure && WidgetClicked(w.x, w.y, w.width, w.height)) w.clickProcedure(w);
  if (WidgetHeld(w.x, w.y, w.width, w.height, &colour)) {
    gui.action = w.action;
    double place = static_cast<double>(mouse.x - w.x - 8) * range / std::max(w.width - 16, 1);
    int32_t step = std::max(w.step, 1);
    int32_t value = static_cast<int32_t>(std::lround(place / step)) * step + w.minimum;
    w.state = std::clamp(value, w.minimum, w.maximum);
    if (int32_t* number = boundInteger(w)) *number = w.state;
  }
  drawFramed(kSpriteLine, kWidgetNormal, w.x, w.y + (w.height - 12) / 2, w.width, 12,
             kGrooveBorder, 255);
  int64_t offset = int64_t{w.width - kKnobWidth} * (w.state - w.minimum) / range;
  drawFramed(kSpriteButton, colour, w.x + static_cast<float>(offset), w.y, kKnobWidth, w.height,
             kBorder, 255);
}

// ---- Text fields -------------------------------------------------------------------------

bool numeric(const Widget& w) { return (w.mode & kNumericField) != 0; }

float textWidth(std::string_view text) { return TextWidth(kFont, text, 1.0f); }

void setNumber(Widget& w, int32_t value) {
  w.text = std::to_string(value);
  w.caret = static_cast<int32_t>(w.text.size());
  writeBound(w, value, w.text);
  gui.action = w.action;
}

// A character the field takes: an integer field only digits, a text field up to its length.
bool accepts(const Widget& w, unsigned char c) {
  if (c < 32) return false;
  if (boundInteger(w)) return c >= '0' && c <= '9';
  if (boundText(w)) return static_cast<int32_t>(w.text.size()) < w.boundLength;
  return true;
}

bool insert(Widget& w, unsigned char c) {
  if (!accepts(w, c)) return false;
  w.text.insert(static_cast<size_t>(w.caret), 1, static_cast<char>(c));
  ++w.caret;
  return true;
}

bool controlHeld() { return rt::keyPushed(kKeyLeftControl) || rt::keyPushed(kKeyRightControl); }

// The frame's keyboard events, in order. True when the text changed.
bool typeInto(Widget& w) {
  bool changed = false;
  for (const rt::WindowEvent& e : rt::frame.events) {
    if (!w.state) break;
    w.caret = std::clamp(w.caret, 0, static_cast<int32_t>(w.text.size()));
    if (e.code == rt::kEventChar) {
      if (e.param == 8 && w.caret > 0) {
        w.text.erase(static_cast<size_t>(--w.caret), 1);
        changed = true;
      } else if (e.param >= 32 && e.param <= 255) {
        changed |= insert(w, static_cast<unsigned char>(e.param));
      }
      continue;
    }
    if (e.code != rt::kEventKeyDown) continue;
    switch (e.param) {
      case kKeyDelete:
        if (w.caret < static_cast<int32_t>(w.text.size())) {
          w.text.erase(static_cast<size_t>(w.caret), 1);
          changed = true;
        }
        break;
      case kKeyHome: w.caret = 0; break;
      case kKeyEnd: w.caret = static_cast<int32_t>(w.text.size()); break;
      case kKeyLeft: w.caret = std::max(w.caret - 1, 0); break;
      case kKeyRight: w.caret = std::min(w.caret + 1, static_cast<int32_t>(w.text.size())); break;
      case kKeyReturn:
      case kKeyPadEnter:
        w.state = 0;
        gui.action = w.action;
        break;
      case kKeyV:
        if (controlHeld()) {
          for (unsigned char c : rt::clipboardText()) changed |= insert(w, c);
        }
        break;
      default: break;
    }
  }
  return changed;
}

// The caret before the character whose left edge is nearest to the mouse.
int32_t caretAtMouse(const Widget& w, float textLeft) {
  int32_t best = 0;
  float bestDistance = std::fabs(textLeft - static_cast<float>(mouse.x));
  for (size_t i = 1; i <= w.text.size(); ++i) {
    float edge = textLeft + textWidth(std::string_view(w.text).substr(0, i));
    float distance = std::fabs(edge - static_cast<float>(mouse.x));
    if (distance < bestDistance) {
      bestDistance = distance;
      best = static_cast<int32_t>(i);
    }
  }
  return best;
}

// The scroll keeps the caret in the box and lets no room go to waste after the text's end.
void keepCaretInView(Widget& w, float margin) {
  // The text starts a margin in and is clipped 4 pixels before the right edge.
  float visible = std::max(static_cast<float>(w.width) - margin - 4, 1.0f);
  float caretX = textWidth(std::string_view(w.text).substr(0, static_cast<size_t>(w.caret)));
  float scroll = static_cast<float>(w.scroll);
  if (caretX - scroll > visible) scroll = caretX - visible;
  if (caretX < scroll) scroll = caretX;
  float end = textWidth(w.text);
  if (end - scroll < visible) scroll = std::max(end - visible, 0.0f);
  w.scroll = roundToInt(scroll);
}

void spinArrow(Widget& w, uint32_t sprite, int y, int32_t direction) {
  int x = w.x + w.width - kArrowColumn;
  uint32_t colour = kWidgetNormal;
  if (WidgetClickedOrRepeated(x, y, 24, 16, &colour)) {
    int32_t value = numberOf(w.text) + direction * w.step;
    if (value >= w.minimum && value <= w.maximum) setNumber(w, value);
  }
  drawSized(sprite, colour, x, y, 24, 16);
}

void stringWidget(Widget& w) {
  uint32_t colour = kWidgetNormal;
  float margin = static_cast<float>(w.height) - TextHeight(kFont, "|", 1.0f);
  margin = std::round(margin / 2);
  float textLeft = w.x - w.scroll + margin;
  w.caret = std::clamp(w.caret, 0, static_cast<int32_t>(w.text.size()));
  // A click only takes the focus: a text field's action comes with Return, so that clicking
  // into a chat line or an address never sends or connects half of it.
  if (WidgetClicked(w.x, w.y, w.width, w.height, &colour)) {
    w.state = 1;
    w.caret = caretAtMouse(w, textLeft);
  }
  if (w.state && numeric(w) && mouse.wheel != 0) {
    int32_t value = numberOf(w.text) + mouse.wheel * w.step;
    if (value >= w.minimum && value <= w.maximum) setNumber(w, value);
  }
  if (w.state && !numeric(w) && typeInto(w)) {
    writeBound(w, numberOf(w.text), w.text);
  }
  keepCaretInView(w, margin);
  textLeft = w.x - w.scroll + margin;
  bool typing = w.state && !numeric(w);
  gui.textFocus |= typing;

  if (w.state) colour = kWidgetPressed;
  drawFramed(kSpriteString, colour, w.x, w.y, w.width, w.height, kBorder, w.frameAlpha);
  SetTypefaceClip(kFont, true, w.x + 4, w.y + 4, std::max(w.width - 8, 0),
                  std::max(w.height - 8, 0));
  DrawText(kFont, textLeft, w.y + margin, w.text, 255, colour, 1.0f, 0);
  if (typing) {
    float caretX = textLeft + textWidth(std::string_view(w.text).substr(0, w.caret));
    float bar = textWidth("|");
    int alpha = roundToInt(127 * std::sin(static_cast<float>(rt::frame.now) / 100.0f) + 127);
    DrawText(kFont, std::round(caretX - bar / 2), w.y + margin, "|", alpha, colour, 1.0f, 0);
  }
  SetTypefaceClip(kFont, false);
  if (numeric(w)) {
    spinArrow(w, kSpriteSpinUp, w.y + 4, 1);
    spinArrow(w, kSpriteSpinDown, w.y + 20, -1);
  }
}

// ---- Lists and combo boxes -----------------------------------------------------------------

int visibleRows(const Widget& w, int height) {
  return std::max((height - (w.columns.empty() ? 0 : kHeadHeight) - 8) / rowHeight(), 0);
}

void selectRow(Widget& w, int32_t row) {
  w.selectedRow = row;
  const std::string& first = w.rows[static_cast<size_t>(row)].empty()
                                 ? std::string()
                                 : w.rows[static_cast<size_t>(row)].front();
  writeBound(w, numberOf(first), first);
}

void closePopup() {
  if (gui.popup) gui.popup->open = false;
  gui.popup = nullptr;
}

int32_t columnWidth(const Widget& w, size_t column, int width) {
  if (w.columns.empty()) return width - kArrowColumn - 4;
  return column < w.columns.size() ? w.columns[column].width : 0;
}

void drawHeads(const Widget& w, int x, int y) {
  int start = 4;
  for (const ListColumn& column : w.columns) {
    if (column.width > 0 && !column.title.empty()) {
      drawFramed(kSpriteHead, kWidgetNormal, x + start, y + 4, column.width, kHeadHeight, kBorder,
                 255);
      drawCentred(column.title, x + start, y + 4, column.width, kHeadHeight, kWidgetNormal, 255,
                  0.75f);
    }
    start += column.width;
  }
}

void drawRow(const Widget& w, const std::vector<std::string>& cells, int x, int top, int width,
             uint32_t colour) {
  int start = 4;
  size_t count = w.columns.empty() ? std::min<size_t>(cells.size(), 1) : cells.size();
  for (size_t c = 0; c < count; ++c) {
    int32_t columnSpan = columnWidth(w, c, width);
    if (columnSpan > 0) {
      float alignment = w.columns.empty() ? 0 : w.columns[c].alignment;
      float offset = std::round((columnSpan - textWidth(cells[c]) - 8) * alignment);
      DrawText(kFont, x + start + 4 + std::max(offset, 0.0f), top, cells[c], 255, colour, 1.0f,
               0);
    }
    start += columnSpan;
  }
}

// The scroll arrows, the track with its knob, paging and the wheel. first is the widget's
// first visible row.
void scrollControls(Widget& w, int x, int y, int width, int height, int visible) {
  int rows = static_cast<int>(w.rows.size());
  int arrowX = x + width - kArrowColumn;
  uint32_t colour = kWidgetNormal;
  if (mouseOver(x, y, width, height)) w.state -= mouse.wheel;
  if (WidgetClickedOrRepeated(arrowX, y + 4, 24, 24, &colour)) w.state -= 1;
  drawSized(kSpriteUp, colour, arrowX, y + 4, 24, 24);
  if (WidgetClickedOrRepeated(arrowX, y + height - 28, 24, 24, &colour)) w.state += 1;
  drawSized(kSpriteDown, colour, arrowX, y + height - 28, 24, 24);

  int track = std::max(height - 56, 0);
  int64_t knob = track, position = 0;
  int64_t shown = height - 8 - (w.columns.empty() ? 0 : kHeadHeight);  // pixels of rows in view
  int64_t all = int64_t{rows} * rowHeight();
  if (all >= shown && rows > visible) {
    knob = int64_t{track} * shown / all;
    int first = std::clamp(w.state, 0, rows - visible);
    position = (track - knob) * first / (rows - visible);
    knob = std::max<int64_t>(knob, 16);
  }
  int knobTop = y + 28 + static_cast<int>(position);
  int knobLength = static_cast<int>(std::min<int64_t>(knob, track));
  if (WidgetClickedOrRepeated(arrowX, y + 28, 24, knobTop - (y + 28))) w.state -= visible;
  int below = y + 28 + track - (knobTop + knobLength);
  if (WidgetClickedOrRepeated(arrowX, knobTop + knobLength, 24, below)) w.state += visible;
  w.state = std::max(std::min(w.state, rows - visible), 0);
  drawFramed(kSpriteSlider, kWidgetNormal, arrowX, knobTop, 24, knobLength, kBorder, 255);
}

void drawList(Widget& w, int x, int y, int width, int height) {
  drawFramed(kSpriteList, kWidgetPressed, x, y, width, height, kBorder, 255);
  int r = rowHeight();
  bool headed = !w.columns.empty();
  if (headed) drawHeads(w, x, y);
  int visible = visibleRows(w, height);
  scrollControls(w, x, y, width, height, visible);
  int rowsTop = y + 4 + (headed ? kHeadHeight : 0);
  for (int i = 0; i < visible; ++i) {
    int row = w.state + i;
    if (row < 0 || row >= static_cast<int>(w.rows.size())) break;
    int top = rowsTop + i * r;
    uint32_t colour = kWidgetNormal;
    if (WidgetClickedOrRepeated(x + 4, top, width - 32, r, &colour)) {
      selectRow(w, row);
      if (mouse.leftClick) {
        closePopup();
        gui.action = w.action;
      }
    }
    if (row == w.selectedRow) colour = kWidgetPressed;
    drawRow(w, w.rows[static_cast<size_t>(row)], x, top, width, colour);
  }
}

void list(Widget& w) { drawList(w, w.x, w.y, w.width, w.height); }

void comboBox(Widget& w) {
  uint32_t colour = kWidgetNormal;
  if (WidgetClicked(w.x, w.y, w.width, w.height, &colour)) {
    bool open = !w.open;
    closePopup();
    w.open = open;
    gui.popup = open ? &w : nullptr;
  }
  drawFramed(kSpriteString, colour, w.x, w.y, w.width, w.height, kBorder, 255);
  std::string shown = GetWidgetText(&w, 0);
  float top = std::round(w.y + (w.height - TextHeight(kFont, "|", 1.0f)) / 2);
  DrawText(kFont, w.x + 8, top, shown, 255, colour, 1.0f, 0);
  drawSized(kSpriteSelect, colour, w.x + w.width - kArrowColumn, w.y + 4, 24,
            std::max(w.height - 8, 0));
}

// ---- Message boxes -----------------------------------------------------------------------

struct MessageLayout {
  std::vector<std::string> lines;
  int x, y, width, height, lineHeight;
};

MessageLayout messageLayout(const Widget& w) {
  MessageLayout m;
  m.lines = splitTabs(w.text);
  float widest = 320;
  for (const std::string& line : m.lines) widest = std::max(widest, textWidth(line));
  m.lineHeight = rowHeight();
  m.width = roundToInt(widest) + 80;
  m.height = static_cast<int>(m.lines.size()) * m.lineHeight + 100;
  m.x = (rt::frame.width - m.width) / 2;
  m.y = (rt::frame.height - m.height) / 2;
  return m;
}

void messageButton(Widget& w, int x, int y, const std::string& label, const std::string& action) {
  uint32_t colour = kWidgetNormal;
  bool pressed = false;
  if (WidgetClicked(x, y, kMessageButtonWidth, kMessageButtonHeight, &colour, &pressed)) {
    gui.action = action;
    if (gui.modal == &w) gui.modal = nullptr;
  }
  drawButton(x, y, kMessageButtonWidth, kMessageButtonHeight, label, colour, pressed, false);
}

void messageBox(Widget& w) {
  MessageLayout m = messageLayout(w);
  drawSized(kSpriteBlack, 0xFFFFFF, 0, 0, rt::frame.width, rt::frame.height);
  drawFramed(kSpriteList, kWidgetNormal, m.x, m.y, m.width, m.height, kBorder, 255);
  for (size_t i = 0; i < m.lines.size(); ++i) {
    float left = std::round(m.x + (m.width - textWidth(m.lines[i])) / 2);
    DrawText(kFont, left, m.y + 20 + static_cast<int>(i) * m.lineHeight, m.lines[i], 255,
             kWidgetNormal, 1.0f, 0);
  }
  for (const MessageButton& b : MessageButtons(w)) {
    messageButton(w, b.place.x, b.place.y, b.label, b.action);
  }
}

Widget* append(WidgetKind kind, int x, int y, int width, int height, std::string_view action) {
  Widget* w = gui.widgets.append();
  w->kind = kind;
  w->x = x;
  w->y = y;
  w->width = width;
  w->height = height;
  w->action = std::string(action);
  return w;
}

}  // namespace

// ---- Mouse and hit tests -----------------------------------------------------------------

void UpdateMouse() {
  int x = rt::mouseX(), y = rt::mouseY();
  mouse.moveX = x - mouse.x;
  mouse.moveY = y - mouse.y;
  mouse.x = x;
  mouse.y = y;
  mouse.leftClick = mouse.rightClick = false;
  mouse.wheel = 0;
  for (const rt::WindowEvent& e : rt::frame.events) {
    switch (e.code) {
      case rt::kEventLeftDown:
        mouse.left = true;
        mouse.leftDownAt = mouse.leftTickAt = rt::frame.now;
        break;
      case rt::kEventLeftUp:
        mouse.leftClick = mouse.left;
        mouse.left = false;
        break;
      case rt::kEventRightDown:
        mouse.right = true;
        mouse.rightDownAt = mouse.rightTickAt = rt::frame.now;
        break;
      case rt::kEventRightUp:
        mouse.rightClick = mouse.right;
        mouse.right = false;
        break;
      case rt::kEventWheel: mouse.wheel += e.param / 120; break;
      default: break;
    }
  }
  // Outside the window no button can be let go where we would see it.
  if (x < 0 || y < 0) mouse.left = mouse.right = false;
  updateRepeat(mouse.left, mouse.leftDownAt, &mouse.leftTickAt, &mouse.leftRepeat);
  updateRepeat(mouse.right, mouse.rightDownAt, &mouse.rightTickAt, &mouse.rightRepeat);
}

bool WidgetClicked(int x, int y, int width, int height, uint32_t* colour, bool* pressed,
                   bool* hover) {
  return hitColours(x, y, width, height, colour, pressed, hover) && mouse.leftClick;
}

bool WidgetClickedOrRepeated(int x, int y, int width, int height, uint32_t* colour,
                             bool* pressed, bool* hover) {
  bool over = hitColours(x, y, width, height, colour, pressed, hover);
  return over && (mouse.leftClick || mouse.leftRepeat);
}

bool WidgetHeld(int x, int y, int width, int height, uint32_t* colour, bool* pressed,
                bool* hover) {
  return hitColours(x, y, width, height, colour, pressed, hover) && mouse.left;
}

// ---- Drawing -----------------------------------------------------------------------------

void DrawFrame(uint32_t sprite3D, float x, float y, float width, float height, int left, int top,
               int right, int bottom, int alpha) {
  if (!rt::sprite3DExists(sprite3D) || width <= 0 || height <= 0) return;
  uint32_t texture = rt::sprite3DTexture(sprite3D);
  float pictureWidth = static_cast<float>(rt::spriteWidth(texture));
  float pictureHeight = static_cast<float>(rt::spriteHeight(texture));
  if (pictureWidth <= 0 || pictureHeight <= 0) return;
  float oldWidth = rt::sprite3DWidth(sprite3D), oldHeight = rt::sprite3DHeight(sprite3D);
  // A box smaller than its borders gives each side half of it.
  float l = std::min<float>(left, width / 2), r = std::min<float>(right, width / 2);
  float t = std::min<float>(top, height / 2), b = std::min<float>(bottom, height / 2);
  const float sourceX[] = {0, static_cast<float>(left), pictureWidth - right, pictureWidth};
  const float sourceY[] = {0, static_cast<float>(top), pictureHeight - bottom, pictureHeight};
  const float screenX[] = {x, x + l, x + width - r, x + width};
  const float screenY[] = {y, y + t, y + height - b, y + height};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      float w = screenX[column + 1] - screenX[column];
      float h = screenY[row + 1] - screenY[row];
      float sw = sourceX[column + 1] - sourceX[column];
      float sh = sourceY[row + 1] - sourceY[row];
      if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0) continue;
      rt::clipSprite3D(sprite3D, sourceX[column], sourceY[row], sw, sh);
      rt::sizeSprite3D(sprite3D, w, h);
      rt::displaySprite3D(sprite3D, screenX[column], screenY[row], alpha);
    }
  }
  rt::clipSprite3D(sprite3D, 0, 0, pictureWidth, pictureHeight);
  rt::sizeSprite3D(sprite3D, oldWidth, oldHeight);
}

// ---- Making widgets ----------------------------------------------------------------------

Widget* AddButton(int x, int y, int width, int height, std::string_view label,
                  std::string_view action) {
  Widget* w = append(WidgetKind::kButton, x, y, width, height, action);
  w->text = std::string(label);
  return w;
}

Widget* AddCheckBox(int x, int y, std::string_view action) {
  return append(WidgetKind::kCheckBox, x, y, kCheckBoxSize, kCheckBoxSize, action);
}

Widget* AddFrame(int x, int y, int width, int height) {
  return append(WidgetKind::kFrame, x, y, width, height, "");
}

Widget* AddKeyWidget(int x, int y, int width, int height, std::string_view action) {
  return append(WidgetKind::kKeyWidget, x, y, width, height, action);
}

Widget* AddList(int x, int y, int width, int height, std::string_view action) {
  return append(WidgetKind::kList, x, y, width, height, action);
}

Widget* AddMessageBox(std::string_view text, std::string_view actions) {
  Widget* w = append(WidgetKind::kMessageBox, 0, 0, rt::frame.width, rt::frame.height, actions);
  w->text = std::string(text);
  gui.modal = w;
  return w;
}

Widget* AddComboBox(int x, int y, int width, int height, std::string_view action) {
  return append(WidgetKind::kComboBox, x, y, width, height, action);
}

Widget MakeStringWidget(int x, int y, int width, int height, std::string_view action) {
  Widget w;
  w.kind = WidgetKind::kString;
  w.x = x;
  w.y = y;
  w.width = width;
  w.height = height;
  w.action = std::string(action);
  w.frameAlpha = 255;
  return w;
}

Widget* AddStringWidget(int x, int y, int width, int height, std::string_view action) {
  Widget* w = gui.widgets.append();
  *w = MakeStringWidget(x, y, width, height, action);
  return w;
}

Widget* AddNumberWidget(int x, int y, int width, int height, int32_t minimum, int32_t maximum,
                        int32_t step, std::string_view action) {
  Widget* w = AddStringWidget(x, y, width, height, action);
  w->mode = kNumericField;
  w->minimum = minimum;
  w->maximum = std::max(minimum, maximum);
  w->step = std::max(step, 1);
  w->text = std::to_string(minimum);
  return w;
}

Widget* AddText(int x, int y, std::string_view text) {
  Widget* w = append(WidgetKind::kText, x, y, roundToInt(TextWidth(kFont, text, 1.0f)),
                     roundToInt(TextHeight(kFont, text, 1.0f)), "");
  w->text = std::string(text);
  return w;
}

Widget* AddTitle(int x, int y, std::string_view text) {
  Widget* w = append(WidgetKind::kTitle, x, y, roundToInt(TextWidth(kFont, text, 1.5f)),
                     roundToInt(TextHeight(kFont, text, 1.5f)), "");
  w->text = std::string(text);
  return w;
}

Widget* AddTrackBar(int x, int y, int width, int height, int32_t minimum, int32_t maximum,
                    int32_t step, std::string_view action) {
  Widget* w = append(WidgetKind::kTrackBar, x, y, width, height, action);
  w->minimum = minimum;
  w->maximum = std::max(minimum, maximum);
  w->step = std::max(step, 1);
  w->state = minimum;
  return w;
}

// ---- Binding and contents ------------------------------------------------------------------

void BindWidget(Widget* widget, int32_t* variable, WidgetClick click) {
  if (!widget || !variable) return;
  widget->boundType = kBoundInteger;
  widget->boundAddress = variable;
  widget->clickProcedure = click;
  int32_t value = *variable;
  switch (widget->kind) {
    case WidgetKind::kCheckBox: widget->state = value ? 1 : 0; break;
    case WidgetKind::kTrackBar:
      widget->state = std::clamp(value, widget->minimum, widget->maximum);
      break;
    case WidgetKind::kKeyWidget:
      widget->keyCode = value;
      widget->text = KeyName(value);
      break;
    case WidgetKind::kString:
      widget->text = std::to_string(value);
      widget->caret = static_cast<int32_t>(widget->text.size());
      break;
    case WidgetKind::kText: widget->text = std::to_string(value); break;
    case WidgetKind::kList:
    case WidgetKind::kComboBox: SetWidgetState(widget, value); break;
    default: break;
  }
}

void BindWidget(Widget* widget, std::string* variable, int32_t length) {
  if (!widget || !variable) return;
  widget->boundType = kBoundText;
  widget->boundAddress = variable;
  widget->boundLength = std::max(length, 0);
  std::string value = cutToBound(*widget, *variable);
  switch (widget->kind) {
    case WidgetKind::kCheckBox: widget->state = numberOf(value) ? 1 : 0; break;
    case WidgetKind::kString:
    case WidgetKind::kText:
      widget->text = value;
      widget->caret = static_cast<int32_t>(value.size());
      break;
    case WidgetKind::kList:
    case WidgetKind::kComboBox:
      for (size_t row = 0; row < widget->rows.size(); ++row) {
        if (!widget->rows[row].empty() && widget->rows[row].front() == value) {
          widget->selectedRow = static_cast<int32_t>(row);
        }
      }
      break;
    default: break;
  }
}

void SetListColumn(Widget* widget, int index, std::string_view title, int32_t width,
                   float alignment) {
  if (!widget || index < 0) return;
  if (widget->columns.size() <= static_cast<size_t>(index)) {
    widget->columns.resize(static_cast<size_t>(index) + 1);
  }
  widget->columns[static_cast<size_t>(index)] = {std::string(title), std::max(width, 0),
                                                 alignment};
}

void AddListRow(Widget* widget, std::string_view text, int position) {
  if (!widget) return;
  auto& rows = widget->rows;
  size_t at = position < 0 ? rows.size() : std::min(static_cast<size_t>(position), rows.size());
  rows.insert(rows.begin() + static_cast<long>(at), splitTabs(text));
  // A row put in before the selected one keeps the same row selected.
  if (widget->selectedRow >= static_cast<int32_t>(at)) ++widget->selectedRow;
}

void ClearListRows(Widget* widget) {
  if (!widget) return;
  widget->rows.clear();
  widget->selectedRow = -1;
  widget->state = 0;
}

std::string GetWidgetText(const Widget* widget, int field) {
  if (!widget) return "";
  if (widget->kind != WidgetKind::kList && widget->kind != WidgetKind::kComboBox) {
    return widget->text;
  }
  int32_t row = widget->selectedRow;
  if (row < 0 || row >= static_cast<int32_t>(widget->rows.size())) return "";
  const std::vector<std::string>& cells = widget->rows[static_cast<size_t>(row)];
  if (field < 0 || static_cast<size_t>(field) >= cells.size()) return "";
  return cells[static_cast<size_t>(field)];
}

void SetWidgetText(Widget* widget, std::string_view text) {
  if (!widget) return;
  widget->text = std::string(text);
  widget->caret = std::clamp(widget->caret, 0, static_cast<int32_t>(widget->text.size()));
}

void SetWidgetState(Widget* widget, int32_t value) {
  if (!widget) return;
  widget->state = value;
  if (widget->kind != WidgetKind::kList && widget->kind != WidgetKind::kComboBox) return;
  widget->selectedRow =
      value >= 0 && value < static_cast<int32_t>(widget->rows.size()) ? value : -1;
  if (widget->kind == WidgetKind::kComboBox) widget->state = 0;
}

void RemoveWidget(Widget* widget) {
  if (!widget) return;
  if (gui.modal == widget) gui.modal = nullptr;
  if (gui.popup == widget) gui.popup = nullptr;
  if (gui.focus == widget) gui.focus = nullptr;
  gui.widgets.remove(widget);
}

void ClearWidgets() {
  gui.widgets.clear();
  gui.modal = nullptr;
  gui.popup = nullptr;
  gui.focus = nullptr;
}

// ---- For the pad's focus -----------------------------------------------------------------

void SelectListRow(Widget& w, int32_t row) {
  if (row < 0 || row >= static_cast<int32_t>(w.rows.size())) return;
  selectRow(w, row);
  if (w.kind != WidgetKind::kList) return;
  int visible = std::max(visibleRows(w, w.height), 1);
  w.state = std::clamp(w.state, row - visible + 1, row);
}

void SetNumberField(Widget& w, int32_t value) {
  if (value >= w.minimum && value <= w.maximum) setNumber(w, value);
}

bool FrameHasEvent(int code, int param) {
  for (const rt::WindowEvent& e : rt::frame.events) {
    if (e.code == code && e.param == param) return true;
  }
  return false;
}

std::vector<MessageButton> MessageButtons(const Widget& box) {
  MessageLayout m = messageLayout(box);
  std::vector<std::string> actions = splitTabs(box.action);
  int top = m.y + m.height - 60;
  int centre = m.x + m.width / 2;
  if (actions.size() < 2) {
    return {{{centre - kMessageButtonWidth / 2, top, kMessageButtonWidth, kMessageButtonHeight},
             Lang("OK"), actions.front()}};
  }
  return {{{centre - 170, top, kMessageButtonWidth, kMessageButtonHeight}, Lang("Yes"), actions[0]},
          {{centre - 170 + kMessageButtonWidth + 20, top, kMessageButtonWidth,
            kMessageButtonHeight},
           Lang("No"), actions[1]}};
}

// ---- The pass ------------------------------------------------------------------------------

void RunWidget(Widget& widget) {
  switch (widget.kind) {
    case WidgetKind::kButton: button(widget); break;
    case WidgetKind::kCheckBox: checkBox(widget); break;
    case WidgetKind::kFrame: frame(widget); break;
    case WidgetKind::kText: text(widget); break;
    case WidgetKind::kTitle: title(widget); break;
    case WidgetKind::kKeyWidget: keyWidget(widget); break;
    case WidgetKind::kTrackBar: trackBar(widget); break;
    case WidgetKind::kString: stringWidget(widget); break;
    case WidgetKind::kComboBox: comboBox(widget); break;
    case WidgetKind::kList: list(widget); break;
    case WidgetKind::kMessageBox: messageBox(widget); break;
  }
}

void UpdateWidgets() {
  gui.colours[0] = kWidgetNormal;
  gui.colours[1] = kWidgetHover;
  gui.colours[2] = kWidgetPressed;
  gui.textFocus = false;
  const MouseState remembered = mouse;
  // Under a message box nothing else sees the mouse, not even to light up under it. An open
  // popup takes the clicks over it, and a click anywhere but on its box closes it (the box's own
  // click folds it there).
  if (gui.modal) mouse = MouseState{.x = -1, .y = -1};
  if (gui.popup) {
    const Widget& p = *gui.popup;
    if (WidgetClickedOrRepeated(p.x, p.y + p.height, p.width, p.height * 3)) {
      clearLeftButton();
    } else if (mouse.leftClick && !mouseOver(p.x, p.y, p.width, p.height)) {
      closePopup();
    }
  }
  FollowPadFocus();
  const MouseState forOthers = mouse;
  for (auto it = gui.widgets.begin(); it != gui.widgets.end(); ++it) {
    Widget& w = *it;
    mouse = &w == gui.modal ? remembered : forOthers;
    // A press anywhere takes the focus from a field; the field under the mouse takes it back. A
    // message box takes it for good: the keys are not the field's while the box asks.
    bool focusable = w.kind == WidgetKind::kString || w.kind == WidgetKind::kKeyWidget;
    if ((mouse.left || (gui.modal && &w != gui.modal)) && focusable && w.state) w.state = 0;
    RunWidget(w);
  }
  mouse = remembered;
  DrawPadFocus();
  if (Widget* popup = gui.popup) {
    drawList(*popup, popup->x, popup->y + popup->height, popup->width, popup->height * 3);
  }
}
