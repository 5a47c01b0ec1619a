#include "net/server_search.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

#include "data/config.h"
#include "data/language.h"
#include "net/discovery.h"
#include "net/session.h"
#include "net/web.h"
#include "runtime/clock.h"
#include "runtime/discovery.h"
#include "runtime/log.h"
#include "runtime/network.h"

SearchResults searchResults;

namespace {

struct Target {
  std::string address;
  int port = 0;
  bool operator==(const Target&) const = default;
};

struct Query {
  Target target;
};

// Everything but `running` is guarded by the lobby lock.
struct Search {
  int32_t mode = kSearchLocal;
  SearchPlaces places;
  std::atomic<bool> running{true};
  bool listed = false;  // the addresses are known and their queries started
  rt::Handle thread = 0;
  std::vector<std::shared_ptr<Query>> queries;  // those still asking
  std::vector<rt::Handle> queryThreads;         // all of them, for the clean-up to wait for
};

// Guarded by the lobby lock.
std::vector<std::shared_ptr<Search>> searches;
std::vector<rt::Handle> cleanUps;
uint32_t searchesStarted = 0;

std::string countText(const char* key, const std::string& count) {
  return Lang(key) + " (" + count + ")";
}

// The status once a query ended; pending counts the queries still asking, this one included.
void showProgress(size_t pending) {
  size_t rows = searchResults.rows.size();
  searchResults.status =
      pending == 1 ? countText("Finish", std::to_string(rows) + " Server")
                   : countText("Connect Server",
                               std::to_string(rows) + "/" + std::to_string(rows + pending - 1));
}

bool addressCharacter(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         c == '.' || c == '-';
}

// Asks one server for its information: the answer is complete when the server closes.
std::string askServer(const Search& search, const Target& target) {
  uint32_t start = rt::milliseconds();
  rt::Handle c = rt::openConnection(rt::kAnyNumber, target.address, target.port, rt::kTcp,
                                    kQueryTimeoutMs);
  if (!c) return "";
  uint32_t connected = rt::milliseconds();
  std::string text;
  bool complete = false;
  char buffer[kMaxInformation];
  while (search.running && rt::milliseconds() - start <= kQueryTimeoutMs) {
    if (rt::pollConnection(c) != rt::kNetData) {
      rt::delay(10);
      continue;
    }
    int got = rt::receiveBytes(c, buffer, sizeof buffer);
    if (got < 0) {
      complete = true;
      break;
    }
    text.append(buffer, static_cast<size_t>(got));
    if (text.size() > kMaxInformation) break;
  }
  rt::closeConnection(c);
  if (!complete || text.empty()) return "";
  return serverRow(text, (rt::milliseconds() - connected) / 2, target.address);
}

void runQuery(const std::shared_ptr<Search>& search, const std::shared_ptr<Query>& query) {
  std::string row = askServer(*search, query->target);
  std::lock_guard lock(lobbyLock());
  if (search->running) {
    if (!row.empty()) searchResults.rows.push_back(row);
    showProgress(search->queries.size());
    rt::logLine("SEARCH", "%s %s: %s", query->target.address.c_str(),
                row.empty() ? "gave no answer" : "answered", searchResults.status.c_str());
  }
  std::erase(search->queries, query);
}

std::vector<Target> internetTargets(const Search& search) {
  int error = kWebOk;
  std::string body = webGet(search.places.listUrl, kListTimeoutMs, &error);
  std::vector<Target> targets;
  for (const std::string& address : listAddresses(body)) {
    targets.push_back({address, search.places.icpPort});
  }
  if (error != kWebOk) {
    rt::logLine("SEARCH", "no server list from %s", search.places.listUrl.c_str());
  }
  return targets;
}

std::vector<Target> localTargets(const Search& search) {
  auto nonce = static_cast<uint32_t>(rt::microseconds() * 2654435761u);
  std::vector<uint8_t> probe = buildProbe(nonce);
  std::vector<rt::Datagram> answers =
      rt::broadcastProbe(probe.data(), kProbeLength, search.places.probePort, kProbeWaitMs,
                         [&search] { return !search.running; });
  std::vector<Target> targets;
  for (const rt::Datagram& datagram : answers) {
    ProbeAnswer answer;
    if (!readProbeAnswer(datagram, nonce, &answer)) continue;
    Target target{answer.address, answer.icpPort};
    if (std::find(targets.begin(), targets.end(), target) == targets.end() &&
        targets.size() < kMaxQueries) {
      targets.push_back(target);
    }
  }
  return targets;
}

void runSearch(const std::shared_ptr<Search>& search) {
  std::vector<Target> targets =
      search->mode == kSearchInternet ? internetTargets(*search) : localTargets(*search);
  std::lock_guard lock(lobbyLock());
  if (!search->running) return;
  search->listed = true;
  // An internet list that brought nothing is finished; an empty local network keeps its count.
  if (targets.empty() && search->mode == kSearchInternet) {
    searchResults.status = countText("Finish", "0 Server");
    return;
  }
  for (const Target& target : targets) {
    auto query = std::make_shared<Query>(Query{target});
    search->queries.push_back(query);
    search->queryThreads.push_back(rt::startThread([search, query] { runQuery(search, query); }));
  }
  searchResults.status = countText("Connect Server", "0/" + std::to_string(targets.size()));
  rt::logLine("SEARCH", "asking %zu servers", targets.size());
}

// Waits for the stopped search's threads, then forgets it.
void cleanUp(const std::shared_ptr<Search>& search) {
  std::vector<rt::Handle> threads;
  {
    std::lock_guard lock(lobbyLock());
    threads = search->queryThreads;
    threads.push_back(search->thread);
  }
  for (rt::Handle thread : threads) rt::waitThread(thread);
  std::lock_guard lock(lobbyLock());
  std::erase(searches, search);
}

void stop(const std::shared_ptr<Search>& search) {
  if (!search->running.exchange(false)) return;
  cleanUps.push_back(rt::startThread([search] { cleanUp(search); }));
}

// Clean-ups that have ended are joined at once.
void forgetEndedCleanUps() {
  std::erase_if(cleanUps, [](rt::Handle thread) {
    if (rt::threadRunning(thread)) return false;
    rt::waitThread(thread);
    return true;
  });
}

}  // namespace

SearchPlaces configuredSearchPlaces(int32_t portBase) {
  NetPorts ports = configuredPorts(portBase);
  return {ServerListUrl(), ports.icp, ports.udp};
}

void startServerSearch(int32_t mode, const SearchPlaces& places) {
  std::lock_guard lock(lobbyLock());
  stopServerSearch();
  forgetEndedCleanUps();
  auto search = std::make_shared<Search>();
  search->mode = mode == kSearchInternet ? kSearchInternet : kSearchLocal;
  search->places = places;
  searchResults = SearchResults{};
  searchResults.search = ++searchesStarted;
  searchResults.status =
      Lang(search->mode == kSearchInternet ? "Download ServerList" : "Examine Local Network");
  searches.push_back(search);
  search->thread = rt::startThread([search] { runSearch(search); });
}

void stopServerSearch() {
  std::lock_guard lock(lobbyLock());
  if (!searches.empty()) stop(searches.back());
}

void endServerSearches() {
  std::vector<rt::Handle> waiting;
  {
    std::lock_guard lock(lobbyLock());
    for (const auto& search : searches) stop(search);
    waiting.swap(cleanUps);
  }
  for (rt::Handle thread : waiting) rt::waitThread(thread);
}

bool serverSearchRunning() {
  std::lock_guard lock(lobbyLock());
  if (searches.empty()) return false;
  const Search& latest = *searches.back();
  return latest.running && (!latest.listed || !latest.queries.empty());
}

std::vector<std::string> listAddresses(std::string body) {
  while (!body.empty() && (body.front() == '\n' || body.front() == '\r')) body.erase(0, 1);
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
  std::vector<std::string> addresses;
  size_t at = 0;
  while (at <= body.size() && addresses.size() < kMaxQueries) {
    size_t end = std::min(body.find(' ', at), body.size());
    std::string field = body.substr(at, end - at);
    while (!field.empty() && (field.back() == '\t' || field.back() == '\r')) field.pop_back();
    if (field.empty()) break;
    bool plausible = field.size() <= 253 && std::all_of(field.begin(), field.end(), addressCharacter);
    if (plausible && std::find(addresses.begin(), addresses.end(), field) == addresses.end()) {
      addresses.push_back(field);
    }
    at = end + 1;
  }
  return addresses;
}

std::string serverRow(const std::string& answer, uint32_t latencyMs, const std::string& address) {
  std::string text = answer;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.size() > kMaxInformation) return "";
  int tabs = 0;
  for (char c : text) {
    if (c == '\t') {
      ++tabs;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return "";
    }
  }
  if (tabs != 5) return "";
  return text + "\t" + std::to_string(latencyMs) + "ms\t" + address;
}
