// The options: a column of sub-pages (sound, keys and gamepad, game, profile), each a frame of
// fields bound straight to the settings. Opening any of them saves the settings first.
#include <string>

#include "audio/audio.h"
#include "data/config.h"
#include "data/language.h"
#include "runtime/input.h"
#include "ui/screens/pages.h"
#include "ui/widgets.h"

namespace {

constexpr int kLabelX = 330;
constexpr int kFieldX = 550;

void addColumn(std::string_view page) {
  SaveConfig();
  AddColumnButton(200, "Audio");
  AddColumnButton(250, "Control");
  AddColumnButton(300, "Game");
  AddColumnButton(350, "Profil");
  AddColumnButton(600, "Back", "Main Menu");
  AddPageTitle(page.empty() ? Text("Options") : Text("Options") + ": " + Text(page));
}

constexpr int32_t kPadLineLength = 64;
std::string padLine;  // the Control page's gamepad line

void playEffects(Widget&) { PlayEffectsTestSound(); }
void playNavigation(Widget&) { PlayNavigationTestSound(); }

// A track bar with its value beside it.
void addVolume(int y, std::string_view key, int32_t* value, WidgetClick click = nullptr) {
  AddFieldLabel(kLabelX, y, 32, key);
  BindWidget(AddTrackBar(kFieldX, y, 200, 32, 0, 100, 1, ""), value, click);
  BindWidget(AddText(775, y + 6, ""), value);
}

void addKey(int y, std::string_view key, int32_t* code) {
  AddFieldLabel(kLabelX, y, 35, key);
  BindWidget(AddKeyWidget(kFieldX, y, 250, 35, ""), code);
}

void addCheckBox(int y, std::string_view key, int32_t* value) {
  AddFieldLabel(kLabelX, y, 24, key);
  BindWidget(AddCheckBox(kFieldX, y, ""), value);
}

}  // namespace

void BuildOptions() { addColumn(""); }

void BuildAudioOptions() {
  addColumn("Audio");
  AddFrame(300, 200, 600, 300);
  addVolume(234, "Volume", &config.volume);
  addVolume(284, "Music", &config.music);
  addVolume(334, "Effects", &config.effects, playEffects);
  BindWidget(AddCheckBox(kFieldX, 378, ""), &config.pan);
  AddText(590, 375, Text("Stereo"));
  addVolume(424, "Navigation", &config.navigation, playNavigation);
}

void BuildControlOptions() {
  addColumn("Control");
  AddFrame(300, 200, 600, 400);
  addKey(230, "Control Up", &config.controlUp);
  addKey(280, "Control Right", &config.controlRight);
  addKey(330, "Control Down", &config.controlDown);
  addKey(380, "Control Left", &config.controlLeft);
  addKey(430, "Control A", &config.controlA);
  addKey(480, "Control B", &config.controlB);
  addKey(530, "Score", &config.controlScore);
  // The pad needs no settings: the page only says which one plays, plugged in or out meanwhile.
  Widget* label = AddFieldLabel(kLabelX, 570, 24, "Gamepad");
  FollowPadName();
  BindWidget(AddText(kFieldX, label->y, ""), &padLine, kPadLineLength);
}

void FollowPadName() {
  std::string name = rt::padName();
  padLine = name.empty() ? Text("No Gamepad") : name;
}

void BuildGameOptions() {
  addColumn("Game");
  AddFrame(300, 200, 600, 300);
  AddFieldLabel(kLabelX, 230, 40, "Language");
  Widget* language = AddComboBox(kFieldX, 230, 200, 40, "Language");
  for (const std::string& name : LanguageNames()) AddListRow(language, name);
  BindWidget(language, &config.language, kConfigTextLength);
  addCheckBox(290, "Blood", &config.blood);
  AddFieldLabel(kLabelX, 330, 40, "DeadBodyTime");
  BindWidget(AddNumberWidget(kFieldX, 330, 100, 40, 0, 900, 30, ""), &config.deadBodyTime);
  addCheckBox(390, "Free Camera", &config.freeCamera);
  AddFieldLabel(kLabelX, 430, 40, "Icon Time");
  BindWidget(AddNumberWidget(kFieldX, 430, 100, 40, 0, 30, 1, ""), &config.iconTime);
}

void BuildProfileOptions() {
  addColumn("Profil");
  AddFrame(300, 200, 600, 100);
  AddFieldLabel(kLabelX, 230, 40, "Name");
  BindWidget(AddStringWidget(kFieldX, 230, 300, 40, ""), &config.playerName, kConfigTextLength);
}

// The new language's texts at once: the page is built again in it.
void ChangeLanguage() {
  if (!LoadLanguage(LanguagePath(config.language))) LoadLanguage(LanguagePath("English"));
  gui.action = "Game";
}
