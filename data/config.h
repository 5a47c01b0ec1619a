// The player's settings: one record of values that the other folders read as plain globals,
// loaded from and saved to Config.ini in the user folder, and the table of key names that the
// key widgets show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Text settings are shown and edited in fields of this many characters.
constexpr size_t kConfigTextLength = 32;
// Web addresses are longer than a field; they are edited in the file only.
constexpr size_t kConfigUrlLength = 200;

// Every setting, named after its key in Config.ini; the start values are the defaults.
struct Config {
  // [Network]
  int32_t icpPort = 6500;
  int32_t tcpPort = 6501;
  int32_t udpPort = 6502;
  std::string ip = "127.0.0.1";
  // [Server]
  int32_t internet = 0;
  std::string serverName = "Default Server";
  int32_t rounds = 3;
  int32_t roundTime = 180;  // seconds
  // [Sound], volumes 0..100
  int32_t volume = 50;
  int32_t pan = 1;  // stereo panning on
  int32_t music = 25;
  int32_t effects = 100;
  int32_t navigation = 75;
  // [Control], DirectInput key codes
  int32_t controlUp = 200;
  int32_t controlRight = 205;
  int32_t controlDown = 208;
  int32_t controlLeft = 203;
  int32_t controlA = 44;
  int32_t controlB = 45;
  int32_t controlScore = 15;
  // [Others]
  std::string playerName = "Default";
  std::string language = "English";
  int32_t blood = 1;
  int32_t deadBodyTime = 600;  // seconds
  int32_t freeCamera = 1;
  int32_t iconTime = 10;  // seconds
  // [ServerList]
  // The web service hosts register with and clients fetch the list from: host, optional port,
  // path. The placeholder host resolves nowhere; a community running a service sets its own.
  std::string serverListUrl = "serverlist.powderbox.example/Projekte/Powderbox/ServerList.php";
  std::string bindAddress;  // the one local address a host binds its ports to; "" = all
  // [Display]: the game's window on the whole desktop, and its size when not
  int32_t fullscreen = 0;
  int32_t windowWidth = 1024;
  int32_t windowHeight = 768;
};

extern Config config;

// This run's values from the command line (--server-list, --bind): they win over the settings
// and are never saved. "" leaves the setting in force.
struct RunOverrides {
  std::string serverListUrl;
  std::string bindAddress;
};

extern RunOverrides runOverrides;

// The values in force for this run: the override when there is one, else the setting.
std::string ServerListUrl();
std::string BindAddress();

// APPDATA + "\Vantrel\Powderbox\". On Linux APPDATA is $APPDATA when set, else
// $XDG_CONFIG_HOME, else ~/.config.
std::string UserFolder();
// The folder that LoadConfig, SaveConfig and the screenshots use (ends in "\").
void SetConfigFolder(const std::string& folder);
const std::string& ConfigFolder();
// Creates a folder and every missing folder above it; true when it exists afterwards.
bool CreateFolderPath(const std::string& folder);

// "Deutsch" when the user's locale is German, else "English".
std::string DefaultLanguage();

// Sets every value to its default, then reads Config.ini from the configuration folder. A
// missing file or key gives the default; numbers are brought into their ranges.
void LoadConfig();
// Writes every group and key in file order, creating the folders when needed. The previous
// file stays whole when the write fails. Nothing is written while the file on disk could not
// be read at the last LoadConfig, so that a locked file is never replaced by defaults. A file
// that was read is written anew: the values read stay, while comments and keys or groups the
// game does not know are dropped. True when the file was written.
bool SaveConfig();
// True when the last LoadConfig found a Config.ini it could not open or read.
bool ConfigUnreadable();

// A text cut to the length of a settings field.
std::string ConfigText(const std::string& text);

// The key-name table: the keyboard's name of each key code that may be bound, "" for the rest.
void FillKeyNames();
const std::string& KeyName(int code);
