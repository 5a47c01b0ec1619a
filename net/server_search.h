// Finding servers for the two server-list pages. A search collects addresses (a broadcast probe
// on the local network, or the internet server list's web service), then asks every address on
// its information port, all at once, one thread each; every server that answers becomes a row
// with its latency. The search and its queries touch the results only under the lobby lock, and
// a stopped search adds nothing more.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum SearchMode : int32_t { kSearchLocal = 1, kSearchInternet = 2 };

inline constexpr int kQueryTimeoutMs = 5000;
inline constexpr int kListTimeoutMs = 5000;
// How long a local search listens for hosts answering its probe.
inline constexpr int kProbeWaitMs = 1000;
// Addresses taken from one list; a list service cannot make us open more connections at once.
inline constexpr size_t kMaxQueries = 256;
// An information answer is a line of six short fields; anything longer is no server of ours.
inline constexpr size_t kMaxInformation = 4096;

// Where a search looks.
struct SearchPlaces {
  std::string listUrl;  // the internet list's service
  int icpPort = 6500;   // asked on every address from the list
  int probePort = 6502;  // where hosts on the local network hear the probe
};
// From the settings and this run's overrides.
SearchPlaces configuredSearchPlaces(int32_t portBase = 0);

// What the page of the search shows, guarded by the lobby lock. A new search empties it and
// counts up `search`, so that the page knows to empty its list too.
struct SearchResults {
  uint32_t search = 0;
  std::string status;
  // "name TAB map TAB players/limit TAB rounds TAB round time TAB map CRC TAB <n>ms TAB address"
  std::vector<std::string> rows;
};
extern SearchResults searchResults;

// Stops the search that runs, then starts one of the mode (kSearchLocal or kSearchInternet).
void startServerSearch(int32_t mode, const SearchPlaces& places);
// Stops the latest search if it still runs; its threads end in the background.
void stopServerSearch();
// Stops every search and waits for all of their threads (at exit, and in tests).
void endServerSearches();
// Whether the latest search still waits for addresses or answers.
bool serverSearchRunning();

// Open for tests: the addresses of a list body (separated by single blanks; an empty field ends
// the list; at most kMaxQueries), and the row of an information answer ("" for a malformed one).
std::vector<std::string> listAddresses(std::string body);
std::string serverRow(const std::string& answer, uint32_t latencyMs, const std::string& address);
