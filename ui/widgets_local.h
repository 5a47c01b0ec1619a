// Inside ui/ only: what the pad's focus (focus.cpp) shares with the widget procedures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/widgets.h"

struct WidgetRect {
  int x = 0, y = 0, width = 0, height = 0;
};

// Selects a row as a click does (the bound variable follows) and scrolls it into view.
void SelectListRow(Widget& list, int32_t row);
// A numeric field's new value, when it lies within the field's range.
void SetNumberField(Widget& field, int32_t value);

struct MessageButton {
  WidgetRect place;
  std::string label;
  std::string action;
};
// The frame has an event of this code and parameter (a key or pad button going down).
bool FrameHasEvent(int code, int param);

// A message box's buttons, left to right.
std::vector<MessageButton> MessageButtons(const Widget& box);

// The pad's part of the manager pass: the frame's pad events move the focus and work the focused
// widget before the widgets run; the focus frame is drawn over them afterwards.
void FollowPadFocus();
void DrawPadFocus();
// The same for a message box run outside the menus (the match's questions): the pad chooses and
// presses its buttons, and with a pad connected the choice is framed.
void FollowPadInBox(Widget& box);
void DrawPadInBox(Widget& box);
