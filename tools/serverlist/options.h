// powderbox-serverlist: the web service where game hosts register so that players find them on
// the "Internet" list. Its settings come from the command line and, optionally, a small file.
#pragma once

#include <string>
#include <vector>

namespace serverlist {

inline constexpr const char* kDefaultPath = "/Projekte/Powderbox/ServerList.php";

struct Options {
  std::string bind = "0.0.0.0";
  int port = 80;                  // 0 picks a free port (tests)
  std::string path = kDefaultPath;
  std::string db = "serverlist.db";
  int expireSeconds = 600;        // how long one "Flag=add" holds
  int checkSeconds = 60;          // between two rounds of information checks
  int checkTimeoutMs = 3000;      // connect plus answer, for one host
  int infoPort = 6500;            // where hosts answer their six fields
  std::vector<std::string> proxies;  // peers whose X-Forwarded-For is believed
  int ratePerMinute = 10;         // adds and dels per address
  int maxEntries = 2000;
  int maxPerNetwork = 32;         // entries from one /24 (IPv4) or /64 (IPv6)
  int maxRequestBytes = 8192;     // request line, headers and body together
  int readTimeoutSeconds = 5;     // for a whole request, and the wait for its first byte
  int threads = 16;
  int maxConnectionsPerAddress = 4;  // at once; proxies are exempt
};

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;      // database or port could not be opened
inline constexpr int kExitBadOptions = 2;

// Parses the command line, reading a --config file first wherever it stands so that the
// command line wins. Returns -1 to go on, or an exit code (after --help or a bad option, with
// the message on the stream it belongs to).
int parseOptions(int argc, char** argv, Options* options);

// Applies "name = value" lines (names as the long options, '#' starts a comment). False with
// *error naming the line for an unknown name or a bad value.
bool applyConfigText(const std::string& text, Options* options, std::string* error);

}  // namespace serverlist
