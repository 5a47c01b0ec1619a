// The service as one object: the database, the HTTP front on a pool of threads, and a checker
// thread that expires registrations and checks the hosts' information ports. Requests never
// wait for a check; they read what the last one found.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/serverlist/options.h"
#include "tools/serverlist/probe.h"
#include "tools/serverlist/registry.h"
#include "tools/serverlist/store.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace serverlist {

class Service {
 public:
  Service(const Options& options, const Clock& clock, Prober& prober);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Opens the database and the port and starts serving. Without the checker thread nothing
  // expires or gets checked unless the caller runs tick(), as tests do to stay in step.
  bool start(std::string* error, bool runChecker = true);
  void stop();
  int port() const { return port_; }

  // Puts the service's pages and the game's list behind the server's routes; start() does it
  // for its own server, fuzzing for one that reads requests from memory.
  void route(httplib::Server& server);

  // One pass of the checker: expiry, then a round of checks when one is due, else a check of
  // the hosts that registered since the last pass. Only one thread may call it.
  void tick();

  Registry& registry() { return registry_; }

  struct Http;

 private:
  // An answer kept while the registrations and the clock's second stand still, so that a
  // crowd fetching the list costs one rendering per second.
  struct Kept {
    std::mutex mutex;
    uint64_t generation = 0;
    int64_t second = -1;
    std::string text;
  };
  using Render = std::string (*)(const std::vector<Entry>& live, int64_t now);
  std::string kept(Kept& answer, Render render);

  void serveGame(const httplib::Request& req, httplib::Response& res);
  void checkerLoop();
  void wakeChecker();

  Options options_;
  const Clock& clock_;
  Prober& prober_;
  Store store_;
  Registry registry_;
  RateLimiter limiter_;
  std::unique_ptr<Http> http_;
  int port_ = -1;
  std::thread httpThread_;
  std::thread checker_;
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  bool woken_ = false;
  bool stopping_ = false;
  int64_t nextRound_ = 0;
  Kept list_;
  Kept page_;
  Kept json_;
};

}  // namespace serverlist
