// Inside ui/screens only: the pages' procedures, one file per group of pages, gathered in the
// table of screens.cpp, and the few helpers they share.
#pragma once

#include <string>
#include <string_view>

#include "ui/widgets.h"

// ---- Shared ------------------------------------------------------------------------------

// The page's title at the top left, in the language of the key.
Widget* AddPageTitle(std::string_view text);
// A button of the column on the left, 200 x 40, labelled in the language of the key; its action
// is the key unless another is given.
Widget* AddColumnButton(int y, std::string_view key, std::string_view action = {});
// The label of a field: the key's text and a colon, its middle level with the widget's.
Widget* AddFieldLabel(int x, int y, int widgetHeight, std::string_view key);
// The key's text.
std::string Text(std::string_view key);
// An empty widget list under the page key, for an action that builds its page only once it knows
// it can (a lobby after its session opened).
void BeginPage(std::string_view key);
// The server list of the page that is up, or null.
Widget* CurrentServerList();

// ---- main_menu.cpp -------------------------------------------------------------------------

void BuildMainMenu();
void BuildCredits();

// ---- options.cpp -----------------------------------------------------------------------------

void BuildOptions();
void BuildAudioOptions();
void BuildControlOptions();
// The Control page's gamepad line follows the pad plugged in.
void FollowPadName();
void BuildGameOptions();
void BuildProfileOptions();
void ChangeLanguage();

// ---- multiplayer.cpp -----------------------------------------------------------------------

void BuildMultiplayer();
void BuildDirectConnection();
void BuildCreateServer();
void BuildLocalServerList();
void BuildInternetServerList();
// The server list takes what the search found since the last frame.
void FollowServerSearch();
// The multiplayer column without leaving anything: the pages beside it build on it.
void AddMultiplayerColumn();

// ---- lobbies.cpp ---------------------------------------------------------------------------

void BuildServerLobby();
void BuildClientLobby();
void FollowLobby();
void AskCloseServer();
void SendLobbyText();
void SendServerData();
void StartMatchFromLobby();
// A practice bot into the session; out again: the one selected in the player list, else the
// newest.
void AddBotFromLobby();
void RemoveBotFromLobby();
