// The main menu and the credits.
#include "data/language.h"
#include "ui/screens/pages.h"
#include "ui/widgets.h"

namespace {

// The roles and who filled them; the web address is the packager's.
constexpr const char* kWebAddress = POWDERBOX_WEBSITE;
constexpr const char* kTitleLine = "Powderbox " POWDERBOX_VERSION " - barrels, fuses, friends";

struct CreditRow {
  const char* role;  // a language key
  int y;
  const char* who;
};

constexpr CreditRow kCredits[] = {
    {"Programer", 200, "The Powderbox developers"},
    {"Graphic", 270, "The Powderbox developers, from our own drawings"},
    {"Music", 310, "The Powderbox developers, from our own scores"},
};

}  // namespace

void BuildMainMenu() {
  AddPageTitle(Text("Main Menu"));
  // There is no game against the computer: the button stays, faded and inert.
  AddColumnButton(200, "Singleplayer", "212")->disabled = true;
  AddColumnButton(250, "Multiplayer");
  AddColumnButton(350, "Options");
  AddColumnButton(500, "Credits");
  AddColumnButton(600, "Quit", "Quit ?");
}

void BuildCredits() {
  AddPageTitle(Text("Credits"));
  AddText(100, 150, kTitleLine);
  for (const CreditRow& row : kCredits) {
    AddText(100, row.y, Text(row.role));
    AddText(300, row.y, row.who);
  }
  AddText(100, 360, kWebAddress);
  AddColumnButton(600, "Back", "Main Menu");
}
