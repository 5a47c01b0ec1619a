#include "tools/serverlist/addresses.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace serverlist {

std::string normalizeAddress(const std::string& text) {
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return "";
  char out[INET6_ADDRSTRLEN];
  in_addr v4;
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    return inet_ntop(AF_INET, &v4, out, sizeof out) ? out : "";
  }
  in6_addr v6;
  if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) return "";
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    memcpy(&v4, v6.s6_addr + 12, 4);
    return inet_ntop(AF_INET, &v4, out, sizeof out) ? out : "";
  }
  return inet_ntop(AF_INET6, &v6, out, sizeof out) ? out : "";
}

std::string networkOf(const std::string& address) {
  in6_addr v6;
  if (address.find(':') != std::string::npos && inet_pton(AF_INET6, address.c_str(), &v6) == 1) {
    memset(v6.s6_addr + 8, 0, 8);
    char out[INET6_ADDRSTRLEN];
    return std::string(inet_ntop(AF_INET6, &v6, out, sizeof out)) + "/64";
  }
  return address.substr(0, address.rfind('.')) + ".0/24";
}

std::string clientAddress(const std::string& peer, const std::vector<std::string>& forwarded,
                          const std::vector<std::string>& proxies) {
  auto trusted = [&](const std::string& a) {
    return std::find(proxies.begin(), proxies.end(), a) != proxies.end();
  };
  if (forwarded.empty() || !trusted(peer)) return peer;
  // Several headers count as one list in their order.
  std::vector<std::string> hops;
  for (const std::string& header : forwarded) {
    size_t at = 0;
    while (at <= header.size()) {
      size_t comma = std::min(header.find(',', at), header.size());
      std::string hop = header.substr(at, comma - at);
      hop.erase(0, hop.find_first_not_of(" \t"));
      hop.erase(hop.find_last_not_of(" \t") + 1);
      hops.push_back(normalizeAddress(hop));
      if (hops.back().empty() || hops.size() > 32) return "";
      at = comma + 1;
    }
  }
  // The rightmost hops were added by our own proxies; the first other one is the client.
  for (size_t i = hops.size(); i-- > 0;) {
    if (i == 0 || !trusted(hops[i])) return hops[i];
  }
  return "";
}

}  // namespace serverlist
