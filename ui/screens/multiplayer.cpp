// The multiplayer column and the pages beside it: a direct connection by address, creating a
// server, and the two server lists (filled by the server search).
#include "data/config.h"
#include "data/language.h"
#include "net/server_search.h"
#include "net/session.h"
#include "ui/screens/pages.h"
#include "ui/screens/screens.h"
#include "ui/widgets.h"

namespace {

constexpr int kLabelX = 330;
constexpr int kFieldX = 550;

// The server-list page that is up; the page's widgets own them.
struct ServerListPage {
  Widget* list = nullptr;
  Widget* status = nullptr;
  uint32_t search = 0;  // whose rows the list shows
  size_t rows = 0;      // how many of them
};
ServerListPage page;

// Entering the page, and "Update" (which enters it again), starts a new search.
void buildServerList(std::string_view title, std::string_view action, int32_t mode) {
  AddPageTitle(Text(title));
  page = ServerListPage{};
  page.status = AddText(50, 150, "");
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
  page.list = list;
  AddColumnButton(550, "Connect", "Client Lobby");
  AddButton(550, 550, 200, 40, Text("Update"), action);
  AddColumnButton(600, "Back", "Multiplayer");
  startServerSearch(mode, configuredSearchPlaces(quickChoices.portBase));
}

}  // namespace

Widget* CurrentServerList() {
  // Only while its page is up: every other page has emptied the widget list since.
  for (Widget& w : gui.widgets) {
    if (&w == page.list) return page.list;
  }
  page = ServerListPage{};
  return nullptr;
}

// The menu frame holds the lobby lock, so the search's results stand still while they are read.
void FollowServerSearch() {
  if (!CurrentServerList()) return;
  if (page.search != searchResults.search) {
    ClearListRows(page.list);
    page.search = searchResults.search;
    page.rows = 0;
  }
  for (; page.rows < searchResults.rows.size(); ++page.rows) {
    AddListRow(page.list, searchResults.rows[page.rows]);
  }
  if (page.status->text != searchResults.status) SetWidgetText(page.status, searchResults.status);
}

void AddMultiplayerColumn() {
  AddColumnButton(200, "Create Server");
  AddColumnButton(300, "Direct Connection");
  AddColumnButton(350, "Local Network", "Local Connection");
  AddColumnButton(400, "Internet", "Internet Connection");
  AddColumnButton(600, "Back", "Main Menu");
}

// Whatever session or search there was ends here: this is where "Back" from a lobby or a server
// list lands.
void BuildMultiplayer() {
  stopServerSearch();
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

void BuildLocalServerList() {
  buildServerList("Local Network", "Local Connection", kSearchLocal);
}

void BuildInternetServerList() {
  buildServerList("Internet", "Internet Connection", kSearchInternet);
}
