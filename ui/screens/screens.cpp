#include "ui/screens/screens.h"

#include <cmath>

#include "data/language.h"
#include "render/typeface.h"
#include "data/resources.h"
#include "ui/menu.h"
#include "ui/screens/pages.h"
#include "ui/widgets.h"

namespace {

constexpr ScreenAction kActions[] = {
    {"Main Menu", BuildMainMenu},
    {"Credits", BuildCredits},
    {"Options", BuildOptions},
    {"Audio", BuildAudioOptions},
    {"Control", BuildControlOptions, FollowPadName},
    {"Game", BuildGameOptions},
    {"Profil", BuildProfileOptions},
    {"Language", ChangeLanguage, nullptr, false},
    {"Multiplayer", BuildMultiplayer},
    {"Direct Connection", BuildDirectConnection},
    {"Create Server", BuildCreateServer},
    {"Local Connection", BuildLocalServerList, FollowServerSearch},
    {"Internet Connection", BuildInternetServerList, FollowServerSearch},
    // The lobbies build their pages once their sessions are open.
    {"Server Lobby", BuildServerLobby, FollowLobby, false},
    {"Client Lobby", BuildClientLobby, FollowLobby, false},
    {"Close Server?", AskCloseServer, nullptr, false},
    {"Send Text", SendLobbyText, nullptr, false},
    {"Send ServerData", SendServerData, nullptr, false},
    {"Start", StartMatchFromLobby, nullptr, false},
    {"Add Bot", AddBotFromLobby, nullptr, false},
    {"Remove Bot", RemoveBotFromLobby, nullptr, false},
};

}  // namespace

const ScreenAction* FindScreenAction(std::string_view key) {
  for (const ScreenAction& action : kActions) {
    if (key == action.key) return &action;
  }
  return nullptr;
}

std::string Text(std::string_view key) { return Lang(std::string(key)); }

void BeginPage(std::string_view key) {
  ClearWidgets();
  menu.currentMenu = std::string(key);
}

Widget* AddPageTitle(std::string_view text) { return AddTitle(50, 50, text); }

Widget* AddColumnButton(int y, std::string_view key, std::string_view action) {
  return AddButton(50, y, 200, 40, Text(key), action.empty() ? key : action);
}

Widget* AddFieldLabel(int x, int y, int widgetHeight, std::string_view key) {
  std::string text = Text(key) + ":";
  float height = TextHeight(kFontNormal, "X", 1.0f);
  int top = y + static_cast<int>(std::lround((widgetHeight - height) / 2));
  return AddText(x, top, text);
}
