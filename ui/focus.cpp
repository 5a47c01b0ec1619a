// The menus from a gamepad. A focus stands on one widget of the page, framed so the player sees
// it; the D-pad (or the stick) moves it to the nearest widget in that direction, south works the
// widget as a click would, and east is "Back" (the menu handles that, as it does Escape). Left and
// right change the value of a track bar, a numeric field or a combo box instead, and up and down
// walk a list's rows before they leave it. A page starts with the focus on its first widget in
// reading order, top to bottom, left to right.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "runtime/frame.h"
#include "runtime/input.h"
#include "runtime/screen.h"
#include "ui/widgets.h"
#include "ui/widgets_local.h"

namespace {

constexpr uint32_t kFocusColour = 0xF0B030;  // amber, 0x00RRGGBB as fillRect takes it
constexpr int kFocusGap = 4, kFocusLine = 3;

// The message box's chosen button; a new box starts on its last, the answer that changes least.
struct BoxChoice {
  const Widget* box = nullptr;
  int index = 0;
};
BoxChoice choice;
bool padWasConnected = false;

// Where the focus stood, so that a page built again (a new language, the next options page
// beside the same column) keeps it on the same widget.
struct FocusPlace {
  WidgetKind kind = WidgetKind::kFrame;
  int x = 0, y = 0;
  std::string action;
};
FocusPlace lastPlace;

bool samePlace(const Widget& w, const FocusPlace& place) {
  return w.kind == place.kind && w.x == place.x && w.y == place.y && w.action == place.action;
}

bool focusable(const Widget& w) {
  switch (w.kind) {
    case WidgetKind::kButton: return !w.disabled;
    case WidgetKind::kCheckBox:
    case WidgetKind::kKeyWidget:
    case WidgetKind::kTrackBar:
    case WidgetKind::kString:
    case WidgetKind::kComboBox:
    case WidgetKind::kList: return true;
    default: return false;
  }
}

bool readsBefore(const Widget* a, const Widget* b) {
  return a->y != b->y ? a->y < b->y : a->x < b->x;
}

std::vector<Widget*> focusables() {
  std::vector<Widget*> found;
  for (Widget& w : gui.widgets) {
    if (focusable(w)) found.push_back(&w);
  }
  std::stable_sort(found.begin(), found.end(), readsBefore);
  return found;
}

// The nearest widget whose middle lies that way, a step aside counting double; null when none.
// Widgets level with this one come first, so that right from a tall list reaches the list beside
// it rather than a button just below and a little to the right.
Widget* neighbour(const Widget& from, int direction, const std::vector<Widget*>& candidates) {
  int fromX = from.x + from.width / 2, fromY = from.y + from.height / 2;
  bool vertical = direction == rt::kPadUp || direction == rt::kPadDown;
  Widget* best = nullptr;
  long bestScore = std::numeric_limits<long>::max();
  for (Widget* w : candidates) {
    if (w == &from) continue;
    long dx = w->x + w->width / 2 - fromX, dy = w->y + w->height / 2 - fromY;
    long along = vertical ? dy : dx;
    if (direction == rt::kPadUp || direction == rt::kPadLeft) along = -along;
    if (along <= 0) continue;
    bool level = vertical ? w->x < from.x + from.width && from.x < w->x + w->width
                          : w->y < from.y + from.height && from.y < w->y + w->height;
    long score = (level ? 0 : 1L << 30) + along + 2 * std::labs(vertical ? dx : dy);
    if (score < bestScore) {
      bestScore = score;
      best = w;
    }
  }
  return best;
}

void moveFocus(int direction) {
  std::vector<Widget*> candidates = focusables();
  if (candidates.empty()) return;
  if (!gui.focus) {
    auto same = std::find_if(candidates.begin(), candidates.end(),
                             [](const Widget* w) { return samePlace(*w, lastPlace); });
    gui.focus = same != candidates.end() ? *same : candidates.front();
    return;
  }
  if (Widget* next = neighbour(*gui.focus, direction, candidates)) {
    gui.focus = next;
  } else if (direction == rt::kPadDown) {
    gui.focus = candidates.front();  // round again from the top
  } else if (direction == rt::kPadUp) {
    gui.focus = candidates.back();
  }
}

int32_t steppedValue(const Widget& w, int32_t from, int sign) {
  // A track bar of a hundred single steps would take a hundred presses: twenty do.
  int32_t step = w.kind == WidgetKind::kTrackBar
                     ? std::max(w.step, (w.maximum - w.minimum) / 20)
                     : std::max(w.step, 1);
  return from + sign * step;
}

// Left and right on a widget with a value; false when the widget has none to change.
bool changeValue(Widget& w, int sign) {
  switch (w.kind) {
    case WidgetKind::kTrackBar: {
      w.state = std::clamp(steppedValue(w, w.state, sign), w.minimum, w.maximum);
      if (w.boundType == kBoundInteger) *static_cast<int32_t*>(w.boundAddress) = w.state;
      gui.action = w.action;
      if (w.clickProcedure) w.clickProcedure(w);
      return true;
    }
    case WidgetKind::kString:
      if (!(w.mode & kNumericField)) return false;
      SetNumberField(w, steppedValue(w, std::atoi(w.text.c_str()), sign));
      return true;
    case WidgetKind::kComboBox: {
      int32_t rows = static_cast<int32_t>(w.rows.size());
      int32_t row = std::clamp(w.selectedRow + sign, 0, rows - 1);
      if (rows == 0 || row == w.selectedRow) return true;
      SelectListRow(w, row);
      gui.action = w.action;
      return true;
    }
    default: return false;
  }
}

// Up and down inside a list; false at its end, where the focus leaves it.
bool walkRows(Widget& w, int sign) {
  int32_t row = w.selectedRow + sign;
  if (w.selectedRow < 0 && sign > 0) row = 0;
  if (row < 0 || row >= static_cast<int32_t>(w.rows.size())) return false;
  SelectListRow(w, row);
  gui.action = w.action;
  return true;
}

void activate(Widget& w) {
  switch (w.kind) {
    case WidgetKind::kButton: gui.action = w.action; break;
    case WidgetKind::kCheckBox:
      w.state = w.state ? 0 : 1;
      if (w.boundType == kBoundInteger) *static_cast<int32_t*>(w.boundAddress) = w.state;
      gui.action = w.action;
      break;
    case WidgetKind::kKeyWidget: w.state = w.state ? 0 : 1; break;  // the next key is bound
    case WidgetKind::kString:
      if (!(w.mode & kNumericField)) w.state = 1;  // a keyboard types into it
      break;
    case WidgetKind::kList:
      if (w.selectedRow >= 0) gui.action = w.action;
      break;
    default: break;
  }
}

void followBox(Widget& box, int button) {
  std::vector<MessageButton> buttons = MessageButtons(box);
  int last = static_cast<int>(buttons.size()) - 1;
  if (choice.box != &box) choice = {&box, last};
  if (button == rt::kPadLeft || button == rt::kPadUp) choice.index = std::max(choice.index - 1, 0);
  if (button == rt::kPadRight || button == rt::kPadDown) {
    choice.index = std::min(choice.index + 1, last);
  }
  if (button == rt::kPadSouth) {
    gui.action = buttons[static_cast<size_t>(std::clamp(choice.index, 0, last))].action;
    gui.modal = nullptr;
  }
}

void followPage(int button) {
  Widget* w = gui.focus;
  bool horizontal = button == rt::kPadLeft || button == rt::kPadRight;
  int sign = button == rt::kPadLeft || button == rt::kPadUp ? -1 : 1;
  if (button == rt::kPadSouth) {
    if (w) activate(*w);
    return;
  }
  if (button != rt::kPadUp && button != rt::kPadDown && !horizontal) return;
  if (w && horizontal && changeValue(*w, sign)) return;
  if (w && !horizontal && w->kind == WidgetKind::kList && walkRows(*w, sign)) return;
  // A field left behind stops taking the keys.
  if (w && (w->kind == WidgetKind::kString || w->kind == WidgetKind::kKeyWidget)) w->state = 0;
  moveFocus(button);
}

void drawBorder(const WidgetRect& r) {
  float x = static_cast<float>(r.x - kFocusGap), y = static_cast<float>(r.y - kFocusGap);
  float width = static_cast<float>(r.width + 2 * kFocusGap);
  float height = static_cast<float>(r.height + 2 * kFocusGap);
  rt::fillRect(x, y, width, kFocusLine, kFocusColour);
  rt::fillRect(x, y + height - kFocusLine, width, kFocusLine, kFocusColour);
  rt::fillRect(x, y, kFocusLine, height, kFocusColour);
  rt::fillRect(x + width - kFocusLine, y, kFocusLine, height, kFocusColour);
}

void drawBoxChoice(Widget& box) {
  std::vector<MessageButton> buttons = MessageButtons(box);
  if (choice.box != &box) choice = {&box, static_cast<int>(buttons.size()) - 1};
  drawBorder(buttons[static_cast<size_t>(
                         std::clamp<int>(choice.index, 0, static_cast<int>(buttons.size()) - 1))]
                 .place);
}

}  // namespace

void FollowPadInBox(Widget& box) {
  for (const rt::WindowEvent& e : rt::frame.events) {
    if (e.code == rt::kEventPadDown) followBox(box, e.param);
  }
}

void DrawPadInBox(Widget& box) {
  if (!rt::padName().empty()) drawBoxChoice(box);
}

void FollowPadFocus() {
  bool connected = !rt::padName().empty();
  // A pad plugged in shows the focus at once; one pulled out takes it away.
  if (connected && !gui.focus) moveFocus(rt::kPadDown);
  if (!connected && padWasConnected) gui.focus = nullptr;
  padWasConnected = connected;
  for (const rt::WindowEvent& e : rt::frame.events) {
    if (e.code != rt::kEventPadDown) continue;
    if (gui.modal) {
      followBox(*gui.modal, e.param);
    } else if (!gui.focus && e.param != rt::kPadEast) {
      moveFocus(e.param);  // the first press only shows where the focus stands
    } else {
      followPage(e.param);
    }
  }
  if (const Widget* w = gui.focus) lastPlace = {w->kind, w->x, w->y, w->action};
}

void DrawPadFocus() {
  if (gui.modal && (gui.focus || padWasConnected)) {
    drawBoxChoice(*gui.modal);
    return;
  }
  if (!gui.focus) return;
  const Widget& w = *gui.focus;
  drawBorder({w.x, w.y, w.width, w.height});
}
