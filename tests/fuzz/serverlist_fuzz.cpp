// The server-list service on what strangers send it, without a socket: HTTP requests to its
// routes (flags, queries, forwarded-for headers) from a few peers, one of them a trusted proxy;
// the information answer of every host that registered, shown on its pages; and, as a settings
// file, the same answer bytes.
//
// Input: [0] picks the peer (low two bits); then the requests, up to a NUL; after it the answer.
#include <httplib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/containers.h"
#include "tools/serverlist/addresses.h"
#include "tools/serverlist/options.h"
#include "tools/serverlist/pages.h"
#include "tools/serverlist/probe.h"
#include "tools/serverlist/registry.h"
#include "tools/serverlist/service.h"

namespace {

const char* const kPeers[4] = {"127.0.0.1", "10.9.8.7", "::ffff:192.0.2.1", "2001:db8::5"};
const char* const kProxy = "10.9.8.7";

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// A connection that reads the requests from memory and keeps what the service writes.
class MemoryStream : public httplib::Stream {
 public:
  MemoryStream(const std::string& in, std::string peer) : in_(in), peer_(std::move(peer)) {}

  bool is_readable() const override { return at_ < in_.size(); }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    size_t n = std::min(size, in_.size() - at_);
    memcpy(ptr, in_.data() + at_, n);
    at_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    out.append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = peer_;
    port = 40000;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = "127.0.0.1";
    port = 80;
  }
  socket_t socket() const override { return INVALID_SOCKET; }
  bool done() const { return at_ >= in_.size(); }

  std::string out;

 private:
  const std::string& in_;
  size_t at_ = 0;
  std::string peer_;
};

class MemoryServer : public httplib::Server {
 public:
  bool serve(MemoryStream& stream) {
    bool closed = false;
    return process_request(stream, false, closed, nullptr) && !closed;
  }
};

// Every registered host answers its information port with the same bytes.
class AnswerProber : public serverlist::Prober {
 public:
  explicit AnswerProber(const std::string& answer) : answer_(answer) {}
  std::vector<serverlist::CheckResult> check(const std::vector<std::string>& addresses) override {
    std::vector<serverlist::CheckResult> results;
    for (const std::string& address : addresses) {
      serverlist::CheckResult r;
      r.address = address;
      r.answered = serverlist::parseServerInfo(answer_, &r.info);
      r.latencyMs = 12;
      results.push_back(r);
    }
    return results;
  }

 private:
  std::string answer_;
};

void checkPages(const std::vector<serverlist::Entry>& live, int64_t now) {
  for (const serverlist::Entry& e : live) {
    for (const std::string* text : {&e.info.name, &e.info.map}) {
      std::string utf8 = rt::cp1252ToUtf8(*text);
      check(serverlist::htmlEscape(utf8).find_first_of("<>\"'") == std::string::npos);
      std::string json = serverlist::jsonString(utf8);
      check(std::none_of(json.begin(), json.end(),
                         [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
    }
  }
  serverlist::statusPage(live, now);
  serverlist::statusJson(live, now);
}

void checkList(const std::string& body) {
  if (body.empty()) return;
  check(body.front() != ' ' && body.back() != ' ' && body.find("  ") == std::string::npos);
  size_t at = 0;
  for (;;) {
    size_t blank = body.find(' ', at);
    std::string address = body.substr(at, blank - at);
    check(serverlist::normalizeAddress(address) == address);
    if (blank == std::string::npos) break;
    at = blank + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t nul = rest.find('\0');
  std::string requests = rest.substr(0, nul);
  std::string answer = nul == std::string::npos ? "" : rest.substr(nul + 1);

  serverlist::Options options;
  options.proxies = {kProxy};
  options.maxEntries = 3;
  options.maxPerNetwork = 2;
  options.ratePerMinute = 4;
  std::string error;
  serverlist::Options edited = options;
  if (!serverlist::applyConfigText(answer, &edited, &error)) check(!error.empty());

  serverlist::ManualClock clock;
  AnswerProber prober(answer);
  serverlist::Service service(options, clock, prober);
  MemoryServer server;
  server.set_payload_max_length(static_cast<size_t>(options.maxRequestBytes));
  service.route(server);

  // As one keep-alive connection: request after request until the bytes or the service end.
  std::string peer = kPeers[data[0] & 3];
  MemoryStream stream(requests, peer);
  for (int i = 0; i < 8 && !stream.done(); ++i) {
    size_t before = stream.out.size();
    bool more = server.serve(stream);
    std::string response = stream.out.substr(before);
    check(response.empty() || response.starts_with("HTTP/1.1 "));
    size_t body = response.find("\r\n\r\n");
    if (response.starts_with("HTTP/1.1 200") && body != std::string::npos &&
        response.find("text/plain") != std::string::npos) {
      checkList(response.substr(body + 4));
    }
    if (!more) break;
    clock.advance(1);
  }
  check(service.registry().size() <= static_cast<size_t>(options.maxEntries));

  service.tick();
  std::vector<serverlist::Entry> live = service.registry().live();
  checkPages(live, clock.now());
  for (const serverlist::Entry& e : live) {
    check(serverlist::normalizeAddress(e.address) == e.address);
    check(!serverlist::networkOf(e.address).empty());
  }
  return 0;
}
