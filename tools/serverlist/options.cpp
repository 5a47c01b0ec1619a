#include "tools/serverlist/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tools/serverlist/addresses.h"

namespace serverlist {
namespace {

const char* kUsage =
    "Usage: powderbox-serverlist [options]\n"
    "\n"
    "The internet server list of Powderbox: game hosts register with it, players fetch the\n"
    "list of live hosts, and people read it on a status page.\n"
    "\n"
    "  --bind ADDRESS         local address to listen on (default 0.0.0.0; :: for IPv6 too)\n"
    "  --port N               HTTP port (default 80; 0 picks a free one)\n"
    "  --path PATH            the game's request path\n"
    "                         (default /Projekte/Powderbox/ServerList.php)\n"
    "  --db FILE              SQLite database of the registrations (default serverlist.db)\n"
    "  --expire SECONDS       how long a registration holds without a new one (default 600)\n"
    "  --check-interval SECONDS  between two checks of every host's information port\n"
    "                         (default 60); a host is listed while it answered one of the\n"
    "                         last two checks\n"
    "  --check-timeout MS     connect and answer time allowed to one host (default 3000)\n"
    "  --info-port N          the hosts' information port (default 6500)\n"
    "  --proxy ADDRESS        a reverse proxy whose X-Forwarded-For header is believed\n"
    "                         (repeatable; no proxy is trusted by default)\n"
    "  --rate N               registrations and removals per address and minute (default 10)\n"
    "  --max-entries N        registrations in all (default 2000)\n"
    "  --max-per-network N    registrations from one /24 or IPv6 /64 network (default 32)\n"
    "  --max-request BYTES    request line, headers and body together (default 8192)\n"
    "  --read-timeout SECONDS time for a whole request (default 5)\n"
    "  --threads N            requests served at once (default 16)\n"
    "  --max-connections N    connections at once from one address, proxies exempt (default 4)\n"
    "  --config FILE          read \"name = value\" lines first (names as above, without --)\n"
    "  --help                 show this text\n"
    "\n"
    "GET PATH?Flag=add registers the requesting address, PATH?Flag=del removes it, PATH alone\n"
    "answers the live addresses separated by blanks. GET / is the status page, GET\n"
    "/servers.json the same as JSON. One log line per notable event goes to standard error.\n"
    "Exit status: 0 after SIGINT or SIGTERM, 1 when the database or the port could not be\n"
    "opened, 2 for bad options.\n";

bool number(const std::string& text, long long low, long long high, int* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long value = strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return false;
  *out = static_cast<int>(value);
  return true;
}

// A request path as the game sends it: absolute, without a query and without blanks.
bool requestPath(const std::string& text) {
  if (text.empty() || text[0] != '/' || text.size() > 1000) return false;
  for (unsigned char c : text) {
    if (c <= ' ' || c >= 0x7F || c == '?' || c == '#') return false;
  }
  return true;
}

struct Setting {
  const char* name;
  bool (*apply)(const std::string& value, Options* o);
};

const Setting kSettings[] = {
    {"bind", [](const std::string& v, Options* o) {
       o->bind = normalizeAddress(v);
       return !o->bind.empty();
     }},
    {"port", [](const std::string& v, Options* o) { return number(v, 0, 65535, &o->port); }},
    {"path", [](const std::string& v, Options* o) {
       o->path = v;
       return requestPath(v);
     }},
    {"db", [](const std::string& v, Options* o) {
       o->db = v;
       return !v.empty();
     }},
    {"expire", [](const std::string& v, Options* o) {
       return number(v, 1, 7 * 86400, &o->expireSeconds);
     }},
    {"check-interval", [](const std::string& v, Options* o) {
       return number(v, 1, 86400, &o->checkSeconds);
     }},
    {"check-timeout", [](const std::string& v, Options* o) {
       return number(v, 10, 60000, &o->checkTimeoutMs);
     }},
    {"info-port", [](const std::string& v, Options* o) {
       return number(v, 1, 65535, &o->infoPort);
     }},
    {"proxy", [](const std::string& v, Options* o) {
       o->proxies.push_back(normalizeAddress(v));
       return !o->proxies.back().empty();
     }},
    {"rate", [](const std::string& v, Options* o) {
       return number(v, 1, 100000, &o->ratePerMinute);
     }},
    {"max-entries", [](const std::string& v, Options* o) {
       return number(v, 1, 1000000, &o->maxEntries);
     }},
    {"max-per-network", [](const std::string& v, Options* o) {
       return number(v, 1, 1000000, &o->maxPerNetwork);
     }},
    {"max-request", [](const std::string& v, Options* o) {
       return number(v, 256, 1 << 20, &o->maxRequestBytes);
     }},
    {"read-timeout", [](const std::string& v, Options* o) {
       return number(v, 1, 300, &o->readTimeoutSeconds);
     }},
    {"threads", [](const std::string& v, Options* o) { return number(v, 1, 256, &o->threads); }},
    {"max-connections", [](const std::string& v, Options* o) {
       return number(v, 1, 10000, &o->maxConnectionsPerAddress);
     }},
};

const Setting* findSetting(const std::string& name) {
  for (const Setting& s : kSettings) {
    if (name == s.name) return &s;
  }
  return nullptr;
}

std::string trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

}  // namespace

bool applyConfigText(const std::string& text, Options* options, std::string* error) {
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = trim(line.substr(0, line.find('#')));
    if (line.empty()) continue;
    size_t equals = line.find('=');
    std::string name = trim(line.substr(0, equals));
    const Setting* setting = equals == std::string::npos ? nullptr : findSetting(name);
    if (!setting) {
      *error = "line " + std::to_string(number) + ": unknown setting \"" + name + "\"";
      return false;
    }
    if (!setting->apply(trim(line.substr(equals + 1)), options)) {
      *error = "line " + std::to_string(number) + ": bad value for " + name;
      return false;
    }
  }
  return true;
}

int parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) != "--config") continue;
    std::ifstream file(argv[i + 1], std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    std::string error;
    if (!file) {
      fprintf(stderr, "powderbox-serverlist: cannot read %s\n", argv[i + 1]);
      return kExitBadOptions;
    }
    if (!applyConfigText(text.str(), options, &error)) {
      fprintf(stderr, "powderbox-serverlist: %s: %s\n", argv[i + 1], error.c_str());
      return kExitBadOptions;
    }
  }
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      fputs(kUsage, stdout);
      return kExitOk;
    }
    const Setting* setting = arg.rfind("--", 0) == 0 ? findSetting(arg.substr(2)) : nullptr;
    bool isConfig = arg == "--config";
    if ((!setting && !isConfig) || i + 1 >= argc) {
      fprintf(stderr, "powderbox-serverlist: %s %s (see --help)\n", arg.c_str(),
              setting || isConfig ? "needs a value" : "is not an option");
      return kExitBadOptions;
    }
    std::string value = argv[++i];
    if (setting && !setting->apply(value, options)) {
      fprintf(stderr, "powderbox-serverlist: bad value for %s: %s\n", arg.c_str(),
              value.c_str());
      return kExitBadOptions;
    }
  }
  return -1;
}

}  // namespace serverlist
