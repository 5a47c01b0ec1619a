// The two lobbies: the host's server lobby (maps, rounds, round time, start) and a client's lobby
// (what the host chose), both with the players and their points and the lobby chat. A lobby
// follows its session every frame; the session itself is net/'s.
#include <string>

#include "data/config.h"
#include "data/language.h"
#include "net/protocol.h"
#include "net/server_search.h"
#include "net/session.h"
#include "runtime/clock.h"
#include "runtime/files.h"
#include "runtime/frame.h"
#include "runtime/log.h"
#include "ui/menu.h"
#include "ui/screens/pages.h"
#include "ui/screens/screens.h"
#include "ui/widgets.h"
#include "world/map.h"
#include "world/world.h"

QuickChoices quickChoices;

namespace {

constexpr size_t kAddressLength = 32;

// The widgets the lobby keeps up to date; they live as long as the lobby's page.
struct Lobby {
  Widget* players = nullptr;
  Widget* chat = nullptr;
  Widget* input = nullptr;
  Widget* maps = nullptr;       // the server lobby's
  Widget* mapName = nullptr;    // the client lobby's texts of the host's choice
  Widget* rounds = nullptr;
  Widget* roundTime = nullptr;
  uint32_t revision = 0;
  uint32_t botsRevision = 0;
  size_t playerCount = 0;
  std::string shownSettings;  // the client lobby's last logged choice of the host
  std::string lastChatRow;
  size_t chatRows = 0;
  std::string listed;  // the names the log last told
  uint32_t startAskedAt = 0;  // "Start" waits for bots still joining; 0 when it does not
};

// A bot just added takes a moment to join; a round that began without it would turn it away.
constexpr uint32_t kBotJoinWait = 5000;

Lobby lobby;

std::string playerName() {
  return quickChoices.playerName.empty() ? config.playerName : quickChoices.playerName;
}

NetPorts ports() { return configuredPorts(quickChoices.portBase); }

// The points take what the names leave of the list beside its scroll arrows.
Widget* addPlayerList() {
  Widget* list = AddList(50, 150, 350, 160, "");
  SetListColumn(list, 0, Text("Player"), 200, 0);
  SetListColumn(list, 1, Text("Points"), 110, 0.5f);
  return list;
}

// The lobby chat: the lines said so far, a field and "Send" (Return in the field sends too).
void addChatArea() {
  int width = rt::frame.width, height = rt::frame.height;
  lobby.chat = AddList(width - 600, height - 240, 570, 170, "");
  lobby.input = AddStringWidget(width - 600, height - 70, 470, 40, "Send Text");
  AddButton(width - 130, height - 70, 100, 40, Text("Send"), "Send Text");
}

void refreshPlayers() {
  if (lobby.revision == session.lobbyRevision && lobby.playerCount == world.players.count() &&
      lobby.botsRevision == PracticeBotsRevision()) {
    return;
  }
  lobby.revision = session.lobbyRevision;
  lobby.playerCount = world.players.count();
  lobby.botsRevision = PracticeBotsRevision();
  // Refilling keeps the selected row (the bot to remove): joins only append.
  int32_t selected = lobby.players->selectedRow;
  ClearListRows(lobby.players);
  std::string names;
  for (const Player& player : world.players) {
    std::string name = playerName(player);
    if (IsPracticeBot(player.id)) name += " " + Text("Bot Marker");
    AddListRow(lobby.players, name + "\t" + std::to_string(player.points));
    names += (names.empty() ? "" : ", ") + name;
  }
  if (names != lobby.listed) rt::logLine("MENU", "lobby lists %s", names.c_str());
  lobby.listed = names;
  if (selected >= 0 && selected < static_cast<int32_t>(lobby.players->rows.size())) {
    lobby.players->selectedRow = selected;
  }
}

void refreshChat() {
  const std::vector<std::string>& rows = session.lobbyChat;
  std::string last = rows.empty() ? "" : rows.back();
  if (rows.size() == lobby.chatRows && last == lobby.lastChatRow) return;
  lobby.chatRows = rows.size();
  lobby.lastChatRow = last;
  ClearListRows(lobby.chat);
  for (const std::string& row : rows) AddListRow(lobby.chat, row);
  // The newest line in sight; the list keeps the first visible row within its rows.
  SetWidgetState(lobby.chat, static_cast<int32_t>(rows.size()));
}

// The host's choice as the client lobby shows it.
void refreshSettings() {
  const RoundSettings& s = session.settings;
  SetWidgetText(lobby.mapName, s.mapSelected ? s.mapName : "");
  SetWidgetText(lobby.rounds, std::to_string(s.rounds));
  SetWidgetText(lobby.roundTime, std::to_string(s.roundTime));
  // The log tells what a player saw of the host's choice, once per change.
  std::string shown = (s.mapSelected ? "map " + s.mapName : std::string("no map")) + ", " +
                      std::to_string(s.rounds) + " rounds, " + std::to_string(s.roundTime) + " s";
  if (shown == lobby.shownSettings) return;
  lobby.shownSettings = shown;
  rt::logLine("MENU", "lobby shows %s", shown.c_str());
}

// The map list of the host: one row per map, the size counted inside the outer walls.
void fillMaps() {
  for (const MapRow& row : listMaps()) {
    std::string size = std::to_string(row.columns - 2) + "x" + std::to_string(row.rows - 2);
    AddListRow(lobby.maps, row.name + "\t" + std::to_string(row.playerLimit) + "\t" + size +
                               "\t" + std::to_string(row.crc));
  }
}

bool selectMapRow(const std::string& name) {
  for (size_t row = 0; row < lobby.maps->rows.size(); ++row) {
    if (lobby.maps->rows[row].front() != name) continue;
    SetWidgetState(lobby.maps, static_cast<int32_t>(row));
    return true;
  }
  return false;
}

void startFromLobby() {
  SaveConfig();
  if (!startMatch()) rt::logLine("MENU", "no match: no map chosen, or it cannot be played");
}

void addSettingLabel(int y, std::string_view key) { AddFieldLabel(570, y, 40, key); }

// The map of a server-list row must be the host's, byte for byte: its fingerprint is the
// file's CRC-32 (0 for a missing file).
bool sameMapAsRow(const Widget* list) {
  std::string map = GetWidgetText(list, 1);
  uint32_t crc = isSafeMapName(map) ? rt::fileCrc32(mapFilePath(map)) : 0;
  return std::to_string(crc) == GetWidgetText(list, 5);
}

// Joins the host of the selected server-list row or of the typed address; false (with what the
// player is told) when it did not work.
bool join() {
  Widget* list = CurrentServerList();
  if (list) {
    if (list->selectedRow < 0) return false;
    stopServerSearch();
    if (!sameMapAsRow(list)) {
      // "OK" goes back to the list it came from, with a new search.
      AddMessageBox(Text("Cant Join"), menu.currentMenu);
      return false;
    }
    // A host that does not answer any more: the list is simply shown on.
    return joinSession(GetWidgetText(list, 7).substr(0, kAddressLength), ports(), playerName());
  }
  std::string address = quickChoices.address.empty() ? config.ip : quickChoices.address;
  if (joinSession(address.substr(0, kAddressLength), ports(), playerName())) return true;
  AddMessageBox(Text("No Connection"), "Direct Connection");
  return false;
}

// Entering the menus after a match empties the widget list before the lobby's page is built
// again, so the lobby's widgets may be gone while the lobby is still the current page.
bool lobbyOnPage() {
  for (const Widget& w : gui.widgets) {
    if (&w == lobby.players) return true;
  }
  lobby = Lobby{};
  return false;
}

}  // namespace

void BuildServerLobby() {
  SaveConfig();
  if (!session.isHost && !createSession(ports(), playerName(), quickChoices.observer)) {
    // A port is taken: back where hosting began, without a word.
    gui.action = "Multiplayer";
    return;
  }
  BeginPage("Server Lobby");
  lobby = Lobby{};
  AddPageTitle(Text("Server Lobby"));
  lobby.maps = AddList(550, 150, 400, 160, "Send ServerData");
  // The map's name takes what the other columns leave beside the scroll arrows.
  SetListColumn(lobby.maps, 0, Text("Map"), 193, 0);
  SetListColumn(lobby.maps, 1, Text("Player"), 75, 0.5f);
  SetListColumn(lobby.maps, 2, Text("Size"), 100, 0.5f);
  SetListColumn(lobby.maps, 3, "", 0, 0);  // the fingerprint
  fillMaps();
  if (session.settings.mapSelected) {
    selectMapRow(session.settings.mapName);
  } else if (!quickChoices.mapName.empty() && selectMapRow(quickChoices.mapName)) {
    gui.action = "Send ServerData";
  }
  lobby.players = addPlayerList();
  // Under the player list, as wide as it.
  AddButton(50, 330, 170, 40, Text("Add Bot"), "Add Bot");
  AddButton(230, 330, 170, 40, Text("Remove Bot"), "Remove Bot");
  AddFrame(550, 350, 400, 150);
  addSettingLabel(380, "Rounds");
  BindWidget(AddNumberWidget(820, 380, 100, 40, 1, 100, 1, "Send ServerData"), &config.rounds);
  addSettingLabel(430, "RoundTime");
  BindWidget(AddNumberWidget(820, 430, 100, 40, 60, 300, 30, "Send ServerData"),
             &config.roundTime);
  AddColumnButton(550, "Start");
  AddColumnButton(600, "Back", "Close Server?");
  addChatArea();
}

void BuildClientLobby() {
  // A session the host ended during a match comes back to its lobby to show why; only a
  // connect joins.
  if (!session.isConnected && session.notice.empty()) {
    if (!join()) return;
    SaveConfig();
  }
  BeginPage("Client Lobby");
  lobby = Lobby{};
  AddPageTitle(Text("Client Lobby"));
  lobby.players = addPlayerList();
  AddFrame(550, 150, 400, 100);
  AddFieldLabel(570, 180, 40, "Map");
  lobby.mapName = AddText(700, 188, "");
  AddFrame(550, 350, 400, 150);
  addSettingLabel(380, "Rounds");
  lobby.rounds = AddText(820, 388, "");
  addSettingLabel(430, "RoundTime");
  lobby.roundTime = AddText(820, 438, "");
  AddColumnButton(600, "Back", "Multiplayer");
  addChatArea();
}

void FollowLobby() {
  if (!lobby.players || !lobbyOnPage()) return;
  if (!session.notice.empty()) {
    // The host closed the session: the lobby stays behind the message, "OK" leaves it.
    AddMessageBox(Text(session.notice), "Multiplayer");
    session.notice.clear();
  }
  refreshPlayers();
  refreshChat();
  if (PracticeBotFailed()) AddMessageBox(Text("Bot Failed"), "No");
  if (lobby.mapName) refreshSettings();
  if (lobby.startAskedAt != 0 &&
      (!PracticeBotsJoining() || rt::timeAfter(rt::frame.now, lobby.startAskedAt + kBotJoinWait))) {
    lobby.startAskedAt = 0;
    if (session.isHost) startFromLobby();
  }
}

void AskCloseServer() { AddMessageBox(Text("Cancel Question"), "Multiplayer\tNo"); }

void SendLobbyText() {
  if (!lobbyOnPage() || !lobby.input) return;
  if (!lobby.input->text.empty() && session.isConnected) sendChatMessage(lobby.input->text);
  SetWidgetText(lobby.input, "");
  lobby.input->caret = 0;
  lobby.input->state = 1;
}

// The host's choice to everybody: the selected map (or none), the rounds and the round time.
void SendServerData() {
  if (!lobbyOnPage() || !lobby.maps || !session.isHost) return;
  selectMap(GetWidgetText(lobby.maps, 0), config.rounds, config.roundTime);
}

void StartMatchFromLobby() {
  if (!session.isHost) return;
  if (PracticeBotsJoining() && lobby.players && lobbyOnPage()) {
    rt::logLine("MENU", "the start waits for the bots still joining");
    if (lobby.startAskedAt == 0) lobby.startAskedAt = rt::frame.now | 1;  // 0 means none
    return;
  }
  startFromLobby();
}

void AddBotFromLobby() {
  if (!lobbyOnPage() || !session.isHost) return;
  if (!AddPracticeBot()) rt::logLine("MENU", "no more bots: all seats or names are taken");
}

void RemoveBotFromLobby() {
  if (!lobbyOnPage() || !session.isHost) return;
  int32_t row = lobby.players->selectedRow;
  int32_t id = 0;
  if (row >= 0 && static_cast<size_t>(row) < world.players.count()) {
    int32_t index = 0;
    for (const Player& player : world.players) {
      if (index++ == row && IsPracticeBot(player.id)) id = player.id;
    }
  }
  RemovePracticeBot(id);
}
