// The game's own widget set. A page creates its widgets once when it is entered and binds some of
// them to program variables; every frame the manager pass runs each widget's procedure, which
// handles the mouse and keyboard for it and draws it. A widget reports its activation by putting
// its action text into the one action string, which the page's logic reads once per frame.
//
// Everything is drawn with 3D sprites cut from the GUI pictures (data/resources.h) and typeface 1.
// Input comes from the frame record (runtime/frame.h): the mouse state is updated from it once per
// frame, and text fields take the frame's key and character events.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/containers.h"

enum class WidgetKind : uint8_t {
  kButton,
  kCheckBox,
  kFrame,
  kText,
  kTitle,
  kKeyWidget,
  kTrackBar,
  kString,  // a text field, or with kNumericField a number with spin arrows
  kComboBox,
  kList,
  kMessageBox,
};

inline constexpr uint32_t kNumericField = 1;  // mode bit of a string widget

// What a widget mirrors: a 32-bit integer or a text of fixed length.
enum BindType : int32_t { kBoundNothing = 0, kBoundInteger = 2, kBoundText = 5 };

struct ListColumn {
  std::string title;  // "" for a hidden column
  int32_t width = 0;
  float alignment = 0;  // 0 left, 0.5 centred, 1 right
};

struct Widget;
using WidgetClick = void (*)(Widget& widget);

struct Widget {
  WidgetKind kind = WidgetKind::kFrame;
  int32_t x = 0, y = 0, width = 0, height = 0;
  std::string text;    // label, current text, or key name
  int32_t keyCode = 0;  // key widget: the captured key code 0..255
  std::string action;
  // Check box: checked; string widget: has the focus; key widget: waiting for a key; list: the
  // first visible row; track bar: its value.
  int32_t state = 0;
  uint32_t mode = 0;
  std::vector<ListColumn> columns;  // list and combo box
  std::vector<std::vector<std::string>> rows;  // their cells
  int32_t selectedRow = -1;  // -1: none
  int32_t minimum = 0, maximum = 0, step = 1;  // track bar and numeric field
  BindType boundType = kBoundNothing;
  void* boundAddress = nullptr;  // int32_t or std::string
  int32_t boundLength = 0;       // of a bound text, in bytes
  WidgetClick clickProcedure = nullptr;  // track bar: called when it is clicked
  int32_t caret = 0;       // string widget: the caret's index in the text
  bool open = false;       // combo box: its list is unfolded
  int32_t frameAlpha = 255;  // string widget
  int32_t scroll = 0;      // string widget: horizontal text scroll in pixels
  bool disabled = false;   // button: drawn faded and inert
};

// The mouse as the widgets see it this frame.
struct MouseState {
  int32_t x = 0, y = 0;
  int32_t moveX = 0, moveY = 0;           // since the last frame
  bool left = false, right = false;       // held
  bool leftClick = false, rightClick = false;  // went up after having been down, this frame
  bool leftRepeat = false, rightRepeat = false;  // an auto-repeat tick of the held button
  int32_t wheel = 0;                      // notches of this frame
  uint32_t leftDownAt = 0, rightDownAt = 0;
  uint32_t leftTickAt = 0, rightTickAt = 0;
};

// Colours of the widgets' states, 0x00BBGGRR.
inline constexpr uint32_t kWidgetNormal = 0x909090;
inline constexpr uint32_t kWidgetHover = 0xC0C0C0;
inline constexpr uint32_t kWidgetPressed = 0xFFFFFF;  // also focused and selected

// Auto-repeat of a held button: the first tick after this long, then one per interval.
inline constexpr uint32_t kRepeatDelay = 250;
inline constexpr uint32_t kRepeatInterval = 100;

struct Gui {
  rt::List<Widget> widgets;  // in creation order
  std::string action;        // "" when nothing was activated this frame
  Widget* modal = nullptr;   // a message box: the others see no mouse buttons
  Widget* popup = nullptr;   // an unfolded combo box, drawn last
  uint32_t colours[3] = {kWidgetNormal, kWidgetHover, kWidgetPressed};
  uint32_t pageEnteredAt = 0;  // the title's swing runs in the page's first second
  float swing = 1.0f;
  bool textFocus = false;      // a text field had the focus in this frame's pass
  // The gamepad's focus, framed on the screen while a pad is in use; null without one. A
  // message box keeps its own, in its state: the index of its chosen button.
  Widget* focus = nullptr;
};

extern Gui gui;
extern MouseState mouse;

// Once per frame, before the widgets: position, buttons, clicks, auto-repeat and wheel from the
// frame's events and the window's mouse position. A position outside the window releases both
// buttons.
void UpdateMouse();

// A 3D sprite as a nine-slice box over the rectangle: the corners unscaled, the edges stretched
// along one axis, the middle along both. Borders are in picture pixels.
void DrawFrame(uint32_t sprite3D, float x, float y, float width, float height, int left, int top,
               int right, int bottom, int alpha);

// Hit tests of a rectangle. The colour is the pressed one while the left button is held over it,
// the hover one while the mouse is over it, else the normal one; pressed and hover tell which.
bool WidgetClicked(int x, int y, int width, int height, uint32_t* colour = nullptr,
                   bool* pressed = nullptr, bool* hover = nullptr);
// Also true on every auto-repeat tick of the held left button.
bool WidgetClickedOrRepeated(int x, int y, int width, int height, uint32_t* colour = nullptr,
                             bool* pressed = nullptr, bool* hover = nullptr);
// True in every frame in which the left button is held over the rectangle.
bool WidgetHeld(int x, int y, int width, int height, uint32_t* colour = nullptr,
                bool* pressed = nullptr, bool* hover = nullptr);

// ---- Making widgets (each appended to the list) ---------------------------------------------

Widget* AddButton(int x, int y, int width, int height, std::string_view label,
                  std::string_view action);
Widget* AddCheckBox(int x, int y, std::string_view action);
Widget* AddFrame(int x, int y, int width, int height);
Widget* AddKeyWidget(int x, int y, int width, int height, std::string_view action);
Widget* AddList(int x, int y, int width, int height, std::string_view action);
// Becomes the modal widget. The text's TAB-separated fields are its lines; actions holds one
// action (an "OK" button) or two separated by a TAB ("Yes" and "No").
Widget* AddMessageBox(std::string_view text, std::string_view actions);
Widget* AddComboBox(int x, int y, int width, int height, std::string_view action);
Widget* AddStringWidget(int x, int y, int width, int height, std::string_view action);
Widget* AddNumberWidget(int x, int y, int width, int height, int32_t minimum, int32_t maximum,
                        int32_t step, std::string_view action);
Widget* AddText(int x, int y, std::string_view text);
Widget* AddTitle(int x, int y, std::string_view text);
Widget* AddTrackBar(int x, int y, int width, int height, int32_t minimum, int32_t maximum,
                    int32_t step, std::string_view action);

// A widget record of its own, not in the list (the chat box's input runs this way).
Widget MakeStringWidget(int x, int y, int width, int height, std::string_view action);

// Mirrors a program variable and loads the widget's state from it: an integer, or a text of at
// most length bytes. The click procedure is the track bar's.
void BindWidget(Widget* widget, int32_t* variable, WidgetClick click = nullptr);
void BindWidget(Widget* widget, std::string* variable, int32_t length);

// A column of a list or combo box; the columns grow up to the index.
void SetListColumn(Widget* widget, int index, std::string_view title, int32_t width,
                   float alignment);
// A row whose cells are the TAB-separated fields of the text, at position (-1: the end).
void AddListRow(Widget* widget, std::string_view text, int position = -1);
void ClearListRows(Widget* widget);
// A list's or combo box's field of the selected row ("" without one); other widgets' text.
std::string GetWidgetText(const Widget* widget, int field = 0);
void SetWidgetText(Widget* widget, std::string_view text);
// The state; for a list also the selected row.
void SetWidgetState(Widget* widget, int32_t value);

// Takes a widget out of the list (and from the modal and popup places).
void RemoveWidget(Widget* widget);
// Empties the list, the modal widget and the popup.
void ClearWidgets();

// The manager pass, once per menu frame inside the drawing.
void UpdateWidgets();
// One widget's procedure by itself, for a record outside the list.
void RunWidget(Widget& widget);
