// The language table: every visible text of the game, looked up by an English key.
//
// Language files are "Data\Language\<name>.ini": "key = text" lines in Windows-1252, read as one
// flat list up to the first group line. Texts are Windows-1252 bytes, as everything drawn is.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Replaces the table with the keys of a language file; every key of the English file that it
// lacks or leaves empty takes its English text. When the file cannot be read (missing, not a
// file, far too large) the table keeps what it held and the result is false.
bool LoadLanguage(const std::string& path);
// How many texts the last LoadLanguage took from English.
size_t LanguageTextsFromEnglish();
// "Data\Language\" + name + ".ini".
std::string LanguagePath(const std::string& name);
// The text of a key. A key the file lacks is added with an empty text, so it shows as empty.
// Safe to call from the server-search threads.
std::string Lang(const std::string& key);
// True when the table holds a non-empty text for the key (for checks of the language files).
bool LanguageHasText(const std::string& key);
// The names of the files "*.ini" in "Data\Language", without extension, in name order.
std::vector<std::string> LanguageNames();

// Keys that reach Lang through a variable rather than as a literal: page keys and labels of the
// menus, message-box texts, score-table heads, search status lines and the names of the items.
// Every language file must give a text for each of them and for every literal key given to Lang.
inline constexpr const char* kLanguageKeys[] = {
    // Main menu, credits, quitting
    "Main Menu", "Singleplayer", "Multiplayer", "Options", "Credits", "Quit", "Quit Question", "Leave Question",
    "Programer", "Graphic", "Music", "Back",
    // Options
    "Audio", "Control", "Game", "Profil", "Language", "Blood", "DeadBodyTime", "Free Camera",
    "Icon Time", "Control Up", "Control Right", "Control Down", "Control Left", "Control A",
    "Control B", "Score", "Volume", "Effects", "Navigation", "Stereo", "Name",
    // Multiplayer pages, server lists and lobbies
    "Create Server", "Direct Connection", "Local Network", "Internet", "Map", "Player", "Rounds",
    "RoundTime", "Latency", "Connect", "Update", "Client Lobby", "Points", "IP", "Server Name",
    "Internet Server", "Create", "Server Lobby", "Size", "Fingerprint", "Start", "Send",
    // Message boxes
    "OK", "Yes", "No", "Cant Join", "No Connection", "Cancel Question", "Game Canceled",
    // Lobby notices; "~" stands for the map's name
    "Map Unplayable", "Map Not Loaded",
    // Server search status
    "Examine Local Network", "Download ServerList", "Finish", "Connect Server",
    // Score table
    "Round", "Kills", "SelfKills", "Death",
    // Message lines; "Message Kill" holds a "~" where the killer's name goes
    "Message Kill", "Message SelfKill", "Message Disconnect",
    // Item names, shown when an item is picked up
    "Explosion Strength Increase", "Explosion Strength Decrease", "Bomb Time Increase",
    "Bomb Time Decrease", "Bomb Increase", "Bomb Decrease",
    // Practice bots in the server lobby
    "Add Bot", "Remove Bot", "Bot Marker", "Bot Failed",
    // The Control page's gamepad line
    "Gamepad", "No Gamepad",
};
