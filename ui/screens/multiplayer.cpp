// The multiplayer column and the pages beside it: a direct connection by address, creating a
// server, and the two server lists (filled by the server search).
#include "data/config.h"
#include "data/language.h"
#include "net/session.h"
#include "ui/screens/pages.h"
#include "ui/widgets.h"

namespace {

constexpr int kLabelX = 330;
constexpr int kFieldX = 550;

// The list of the server-list page that is up; the page's widgets own it.
Widget* serverList = nullptr;

void buildServerList(std::string_view title, std::string_view action) {
  AddPageTitle(Text(title));
  AddText(50, 150, "");  // the search's status line
  Widget* list = AddList(50, 200, 924, 300, "");
  // The latency takes what is left beside the scroll arrows.
  const struct {
    const char* key;
    int width;
  } columns[] = {{"Name", 250},    {"Map", 200}, {"Player", 100}, {"Rounds", 100},
                 {"RoundTime", 100}, {"", 0},     {"Latency", 142}, {"", 0}};
  int index = 0;
  for (const auto& column : columns) {
    SetListColumn(list, index++, column.key[0] ? Text(column.key) : "", column.width, 0);
  }
  serverList = list;
  AddColumnButton(550, "Connect", "Client Lobby");
  AddButton(550, 550, 200, 40, Text("Update"), action);
  AddColumnButton(600, "Back", "Multiplayer");
}

}  // namespace

Widget* CurrentServerList() {
  // Only while its page is up: every other page has emptied the widget list since.
  for (Widget& w : gui.widgets) {
    if (&w == serverList) return serverList;
  }
  serverList = nullptr;
  return nullptr;
}

void AddMultiplayerColumn() {
  AddColumnButton(200, "Create Server");
  AddColumnButton(300, "Direct Connection");
  AddColumnButton(350, "Local Network", "Local Connection");
  AddColumnButton(400, "Internet", "Internet Connection");
  AddColumnButton(600, "Back", "Main Menu");
}

// Whatever session there was ends here: this is where "Back" from a lobby lands.
void BuildMultiplayer() {
  leaveSession();
  AddPageTitle(Text("Multiplayer"));
  AddMultiplayerColumn();
}

void BuildDirectConnection() {
  AddMultiplayerColumn();
  AddPageTitle(Text("Direct Connection"));
  AddFrame(300, 200, 600, 200);
  AddFieldLabel(kLabelX, 230, 40, "IP");
  // Return in the address connects, like the button.
  BindWidget(AddStringWidget(kFieldX, 230, 300, 40, "Client Lobby"), &config.ip,
             kConfigTextLength);
  AddButton(kFieldX, 335, 200, 40, Text("Connect"), "Client Lobby");
}

void BuildCreateServer() {
  AddMultiplayerColumn();
  AddPageTitle(Text("Create Server"));
  AddFrame(300, 200, 600, 200);
  AddFieldLabel(kLabelX, 230, 40, "Server Name");
  BindWidget(AddStringWidget(kFieldX, 230, 300, 40, ""), &config.serverName, kConfigTextLength);
  AddFieldLabel(kLabelX, 290, 24, "Internet Server");
  BindWidget(AddCheckBox(kFieldX, 290, ""), &config.internet);
  AddButton(kFieldX, 335, 200, 40, Text("Create"), "Server Lobby");
}

void BuildLocalServerList() { buildServerList("Local Network", "Local Connection"); }

void BuildInternetServerList() { buildServerList("Internet", "Internet Connection"); }
