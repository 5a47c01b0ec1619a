#include "tools/serverlist/store.h"

#include <sqlite3.h>

#include "runtime/log.h"
#include "tools/serverlist/addresses.h"

namespace serverlist {
namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS servers ("
    " address TEXT PRIMARY KEY NOT NULL,"
    " registered INTEGER NOT NULL, refreshed INTEGER NOT NULL,"
    " checked INTEGER NOT NULL, answered INTEGER NOT NULL, misses INTEGER NOT NULL,"
    " latency_ms INTEGER NOT NULL, name BLOB NOT NULL, map BLOB NOT NULL,"
    " players INTEGER NOT NULL, player_limit INTEGER NOT NULL, rounds INTEGER NOT NULL,"
    " round_time INTEGER NOT NULL, map_crc INTEGER NOT NULL) WITHOUT ROWID";

const char* kPut =
    "INSERT OR REPLACE INTO servers VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12,"
    " ?13, ?14)";

std::string blobText(sqlite3_stmt* s, int column) {
  const void* bytes = sqlite3_column_blob(s, column);
  int size = sqlite3_column_bytes(s, column);
  return bytes ? std::string(static_cast<const char*>(bytes), size) : std::string();
}

}  // namespace

Store::~Store() { close(); }

void Store::close() {
  sqlite3_finalize(put_);
  sqlite3_finalize(remove_);
  put_ = remove_ = nullptr;
  if (db_) sqlite3_close(db_);
  db_ = nullptr;
}

bool Store::exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  rt::logLine("ERROR", "database: %s: %s", sql, message ? message : "?");
  sqlite3_free(message);
  return false;
}

void Store::fail(const char* what) {
  rt::logLine("ERROR", "database %s: %s", what, sqlite3_errmsg(db_));
}

bool Store::open(const std::string& path, std::string* error) {
  close();
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    *error = db_ ? sqlite3_errmsg(db_) : "out of memory";
    close();
    return false;
  }
  sqlite3_busy_timeout(db_, 2000);
  // NORMAL is safe with WAL: a crash of the process loses nothing, a power cut at most the
  // last writes, and neither corrupts the file.
  bool ok = exec("PRAGMA journal_mode=WAL") && exec("PRAGMA synchronous=NORMAL") &&
            exec(kSchema) &&
            sqlite3_prepare_v2(db_, kPut, -1, &put_, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db_, "DELETE FROM servers WHERE address = ?1", -1, &remove_,
                               nullptr) == SQLITE_OK;
  if (!ok) {
    *error = sqlite3_errmsg(db_);
    close();
  }
  return ok;
}

std::vector<Entry> Store::load() {
  std::vector<Entry> entries;
  sqlite3_stmt* s = nullptr;
  if (!db_ || sqlite3_prepare_v2(db_, "SELECT * FROM servers", -1, &s, nullptr) != SQLITE_OK) {
    return entries;
  }
  while (sqlite3_step(s) == SQLITE_ROW) {
    Entry e;
    const unsigned char* address = sqlite3_column_text(s, 0);
    e.address = normalizeAddress(address ? reinterpret_cast<const char*>(address) : "");
    if (e.address.empty()) continue;  // the file was edited by hand; nothing to probe there
    e.registered = sqlite3_column_int64(s, 1);
    e.refreshed = sqlite3_column_int64(s, 2);
    e.checked = sqlite3_column_int64(s, 3);
    e.answered = sqlite3_column_int64(s, 4);
    e.misses = sqlite3_column_int(s, 5);
    e.latencyMs = sqlite3_column_int(s, 6);
    e.info.name = blobText(s, 7);
    e.info.map = blobText(s, 8);
    e.info.players = sqlite3_column_int(s, 9);
    e.info.playerLimit = sqlite3_column_int(s, 10);
    e.info.rounds = sqlite3_column_int(s, 11);
    e.info.roundTime = sqlite3_column_int(s, 12);
    e.info.mapCrc = static_cast<uint32_t>(sqlite3_column_int64(s, 13));
    entries.push_back(std::move(e));
  }
  sqlite3_finalize(s);
  return entries;
}

void Store::put(const std::vector<Entry>& entries) {
  if (!db_ || entries.empty()) return;
  bool batch = entries.size() > 1 && exec("BEGIN");
  for (const Entry& e : entries) {
    sqlite3_reset(put_);
    sqlite3_bind_text(put_, 1, e.address.data(), static_cast<int>(e.address.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_int64(put_, 2, e.registered);
    sqlite3_bind_int64(put_, 3, e.refreshed);
    sqlite3_bind_int64(put_, 4, e.checked);
    sqlite3_bind_int64(put_, 5, e.answered);
    sqlite3_bind_int(put_, 6, e.misses);
    sqlite3_bind_int(put_, 7, e.latencyMs);
    sqlite3_bind_blob(put_, 8, e.info.name.data(), static_cast<int>(e.info.name.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_blob(put_, 9, e.info.map.data(), static_cast<int>(e.info.map.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_int(put_, 10, e.info.players);
    sqlite3_bind_int(put_, 11, e.info.playerLimit);
    sqlite3_bind_int(put_, 12, e.info.rounds);
    sqlite3_bind_int(put_, 13, e.info.roundTime);
    sqlite3_bind_int64(put_, 14, e.info.mapCrc);
    if (sqlite3_step(put_) != SQLITE_DONE) fail("write");
  }
  sqlite3_reset(put_);
  if (batch) exec("COMMIT");
}

void Store::remove(const std::vector<std::string>& addresses) {
  if (!db_ || addresses.empty()) return;
  bool batch = addresses.size() > 1 && exec("BEGIN");
  for (const std::string& address : addresses) {
    sqlite3_reset(remove_);
    sqlite3_bind_text(remove_, 1, address.data(), static_cast<int>(address.size()),
                      SQLITE_TRANSIENT);
    if (sqlite3_step(remove_) != SQLITE_DONE) fail("removal");
  }
  sqlite3_reset(remove_);
  if (batch) exec("COMMIT");
}

}  // namespace serverlist
