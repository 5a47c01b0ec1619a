#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/bot/bot.h"

namespace {

const char* kUsage =
    "Usage: powderbox-bot --connect ADDRESS [options]\n"
    "\n"
    "A player without a window or sound that joins a session and plays by itself.\n"
    "\n"
    "  --connect ADDRESS      the host to join\n"
    "  --port-base N          the host's ports: game N+1, positions N+2 (default: settings)\n"
    "  --tcp-port N           the host's game port (default: from the port base)\n"
    "  --udp-port N           the host's position port (default: from the port base)\n"
    "  --settings DIR         the folder of the settings file (default: the player's)\n"
    "  --name NAME            the player name (default Bot)\n"
    "  --play MODE            wander: walk about, blow up boxes from a safe place, run from\n"
    "                                 blasts and pick up items (default)\n"
    "                         hunt:   wander, and go after the other players with barrels\n"
    "                         still:  stand where the round puts it\n"
    "                         barrels: stand, and place a barrel where it stands a few\n"
    "                                 seconds into the round and whenever it may after\n"
    "                         suicide: place a barrel beside a box and stay in the blast\n"
    "  --until-item           with --play suicide: wander until an item has dropped in this\n"
    "                         match, then go for the suicide\n"
    "  --chat TEXT            say TEXT once, when the first round starts\n"
    "  --leave-after SECONDS  leave the session this long after joining\n"
    "  --rounds-then-leave N  leave once N rounds have been played\n"
    "  --position-hz N        position messages per second (default 10, 1 to 100)\n"
    "  --seed S               fixed random numbers (default: POWDERBOX_SEED or the clock)\n"
    "  --log FILE             write a log line per notable event to FILE (- for stderr)\n"
    "  --data DIR             the folder that holds Data (default: found from the program)\n"
    "  --quiet                nothing on standard output\n"
    "  --help                 show this text\n"
    "\n"
    "Exit status: 0 when the host ended the session or the bot left as told, 1 when it could\n"
    "not connect or the host turned it away, 2 for a bad command line.\n";

// A whole decimal number within [low, high].
bool number(const char* text, long long low, long long high, long long* out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  long long value = strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return false;
  *out = value;
  return true;
}

bool playMode(const char* text, BotOptions* o) {
  BotPlay* play = &o->play;
  o->hunts = !strcmp(text, "hunt");
  if (!strcmp(text, "wander") || o->hunts) {
    *play = BotPlay::kWander;
  } else if (!strcmp(text, "barrels")) {
    *play = BotPlay::kBarrels;
  } else if (!strcmp(text, "still")) {
    *play = BotPlay::kStill;
  } else if (!strcmp(text, "suicide")) {
    *play = BotPlay::kSuicide;
  } else {
    return false;
  }
  return true;
}

int bad(const char* what, const char* value) {
  fprintf(stderr, "powderbox-bot: %s '%s'\n\n%s", what, value ? value : "", kUsage);
  return kBotBadOptions;
}

// One option with its value; false when the option is not known or its value is bad.
bool valueOption(const char* option, const char* value, BotOptions* o) {
  long long n = 0;
  if (!strcmp(option, "--connect")) {
    o->address = value;
  } else if (!strcmp(option, "--port-base")) {
    if (!number(value, 1, 65533, &n)) return false;
    o->portBase = static_cast<int>(n);
  } else if (!strcmp(option, "--tcp-port") || !strcmp(option, "--udp-port")) {
    if (!number(value, 1, 65535, &n)) return false;
    (option[2] == 't' ? o->tcpPort : o->udpPort) = static_cast<int>(n);
  } else if (!strcmp(option, "--settings")) {
    if (!*value) return false;
    o->settingsFolder = value;
  } else if (!strcmp(option, "--name")) {
    if (!*value) return false;
    o->name = value;
  } else if (!strcmp(option, "--play")) {
    return playMode(value, o);
  } else if (!strcmp(option, "--chat")) {
    o->chat = value;
  } else if (!strcmp(option, "--leave-after")) {
    if (!number(value, 1, 86400 * 365, &n)) return false;
    o->leaveAfter = static_cast<int>(n);
  } else if (!strcmp(option, "--rounds-then-leave")) {
    if (!number(value, 1, 1000000, &n)) return false;
    o->roundsThenLeave = static_cast<int>(n);
  } else if (!strcmp(option, "--position-hz")) {
    if (!number(value, 1, 100, &n)) return false;
    o->positionHz = static_cast<int>(n);
  } else if (!strcmp(option, "--seed")) {
    if (!number(value, 0, INT64_MAX, &n)) return false;
    o->seeded = true;
    o->seed = static_cast<uint64_t>(n);
  } else if (!strcmp(option, "--log")) {
    o->logPath = value;
  } else if (!strcmp(option, "--data")) {
    o->dataRoot = value;
  } else {
    return false;
  }
  return true;
}

}  // namespace

int ParseBotOptions(int argc, char** argv, BotOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!strcmp(arg, "--help") || !strcmp(arg, "-h")) {
      fputs(kUsage, stdout);
      return kBotEnded;
    }
    if (!strcmp(arg, "--quiet")) {
      options->quiet = true;
      continue;
    }
    if (!strcmp(arg, "--until-item")) {
      options->untilItem = true;
      continue;
    }
    if (i + 1 >= argc || !valueOption(arg, argv[i + 1], options)) {
      return bad("unknown option or bad value at", arg);
    }
    ++i;
  }
  if (options->address.empty()) return bad("missing", "--connect ADDRESS");
  if (options->untilItem && options->play != BotPlay::kSuicide) {
    return bad("--until-item goes with", "--play suicide");
  }
  return -1;
}
