// The registrations on disk: one SQLite database in WAL mode, so that a kill in the middle of a
// write leaves a database that opens again with every completed write in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace serverlist {

// The six fields a host answers on its information port. Texts stay Windows-1252 as sent.
struct ServerInfo {
  std::string name;
  std::string map;
  int players = 0;
  int playerLimit = 0;
  int rounds = 0;
  int roundTime = 0;  // seconds
  uint32_t mapCrc = 0;
};

struct Entry {
  std::string address;
  int64_t registered = 0;  // first "Flag=add" of this stay on the list
  int64_t refreshed = 0;   // the latest one
  int64_t checked = 0;     // 0: not checked since it (re)appeared
  int64_t answered = 0;    // the latest check it answered; 0: none yet
  int misses = 0;          // checks in a row without an answer since then
  int latencyMs = 0;       // the connect time the latest answer took
  ServerInfo info;
};

class Store {
 public:
  Store() = default;
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  bool open(const std::string& path, std::string* error);
  void close();
  std::vector<Entry> load();
  // Writes go through at once; a failed one is logged, and the entry lives on in memory.
  void put(const std::vector<Entry>& entries);
  void remove(const std::vector<std::string>& addresses);

 private:
  bool exec(const char* sql);
  void fail(const char* what);

  sqlite3* db_ = nullptr;
  sqlite3_stmt* put_ = nullptr;
  sqlite3_stmt* remove_ = nullptr;
};

}  // namespace serverlist
