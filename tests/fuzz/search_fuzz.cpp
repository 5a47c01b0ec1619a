// What a search reads from strangers: list bodies from a web service, information answers from
// hosts, probe datagrams and their answers, and the URLs a settings file may hold together with
// the web service's whole answers. The first byte picks the reader; the rest is its input.
// Whatever comes in, what comes out keeps its bounds.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "net/discovery.h"
#include "net/server_search.h"
#include "net/web.h"
#include "runtime/network.h"

namespace {

void check(bool condition) {
  if (!condition) abort();
}

size_t count(const std::string& text, char c) {
  size_t n = 0;
  for (char x : text) n += x == c;
  return n;
}

// The answer arrives in pieces of 1, 2, 3... bytes, so that line ends fall across them.
void readAnswer(const std::string& text) {
  WebAnswer answer;
  size_t at = 0;
  for (size_t piece = 1; at < text.size(); ++piece) {
    size_t n = std::min(piece, text.size() - at);
    bool more = addWebAnswer(&answer, text.data() + at, n);
    at += n;
    if (!more) break;
  }
  check(answer.bytes.size() <= at);
  int status = webAnswerStatus(answer);
  check(status >= 0 && status <= 999);
  if (answer.body != std::string::npos) {
    check(answer.body <= answer.bytes.size());
    check(answer.bytes.size() - answer.body <= kMaxWebBody);
  } else {
    check(answer.bytes.size() <= kMaxWebHeader + at);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      for (const std::string& address : listAddresses(text)) {
        check(!address.empty() && address.find_first_of(" \t\r\n") == std::string::npos);
      }
      check(listAddresses(text).size() <= kMaxQueries);
      break;
    case 1: {
      std::string row = serverRow(text, 12, "127.0.0.2");
      check(row.empty() || (count(row, '\t') == 7 && row.ends_with("\t12ms\t127.0.0.2")));
      break;
    }
    case 2: {
      // As a probe to answer, and as an answer to a probe of ours.
      uint8_t answer[kProbeLength];
      int length = static_cast<int>(std::min<size_t>(text.size(), 64));
      int n = answerProbe(data + 1, length, "127.0.0.9", 1000, "", 6500, answer);
      check(n == 0 || (n <= length && n <= kProbeLength));
      rt::Datagram datagram{"127.0.0.9", std::vector<uint8_t>(text.begin(), text.end())};
      ProbeAnswer read;
      if (readProbeAnswer(datagram, 0x12345678, &read)) check(!read.address.empty());
      break;
    }
    default: {
      readAnswer(text);
      WebUrl url;
      if (parseWebUrl(text, &url)) {
        check(!url.host.empty() && url.port > 0 && url.port < 65536);
        check(url.target.starts_with("/"));
        check(url.target.find_first_of(" \r\n") == std::string::npos);
      }
      break;
    }
  }
  return 0;
}
