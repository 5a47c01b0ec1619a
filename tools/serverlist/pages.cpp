#include "tools/serverlist/pages.h"

#include <cstdio>
#include <ctime>

#include "runtime/containers.h"

namespace serverlist {
namespace {

const char* kHead =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<meta http-equiv=\"refresh\" content=\"30\">\n"
    "<title>Powderbox servers</title>\n<style>\n"
    "body{font:16px/1.4 sans-serif;margin:0 auto;max-width:60em;padding:1em;color:#222;"
    "background:#f4f1ea}\n"
    "h1{font-size:1.5em;margin:0 0 .3em}\n"
    "table{border-collapse:collapse;width:100%;background:#fff}\n"
    "th,td{padding:.45em .6em;text-align:left;border-bottom:1px solid #ddd}\n"
    "th{background:#7a2e12;color:#fff;font-weight:600}\n"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}\n"
    "th,td:not(:first-child){white-space:nowrap}\n"
    "div.wide{overflow-x:auto}\n"
    "p.note{color:#666;font-size:.85em}\n"
    // On a phone every server becomes a card of labelled lines.
    "@media (max-width:40em){thead{display:none}table,tbody,tr,td{display:block}"
    "tr{margin:0 0 .8em;border:1px solid #ddd}td{border:0;padding:.2em .6em}"
    "td.n{text-align:left}td::before{content:attr(data-label) \": \";color:#666}"
    "td:first-child{font-weight:600;background:#efe6da}td:first-child::before{content:none}}\n"
    "</style></head>\n<body>\n<h1>Powderbox servers</h1>\n";

const char* kColumns[] = {"Name", "Map", "Players", "Rounds", "Round time", "Latency", "Since"};

std::string utcTime(int64_t seconds, const char* format) {
  time_t t = static_cast<time_t>(seconds);
  tm parts{};
  gmtime_r(&t, &parts);
  char text[64];
  strftime(text, sizeof text, format, &parts);
  return text;
}

std::string minutesSeconds(int seconds) {
  char text[32];
  snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
  return text;
}

std::string latencyText(int ms) { return ms < 1 ? "&lt;1 ms" : std::to_string(ms) + " ms"; }

void cell(std::string* out, int column, const std::string& html, bool number = false) {
  *out += std::string("<td") + (number ? " class=\"n\"" : "") + " data-label=\"" +
          kColumns[column] + "\">" + html + "</td>";
}

}  // namespace

std::string htmlEscape(const std::string& utf8) {
  std::string out;
  for (char c : utf8) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string jsonString(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F || c == '<' || c == '>' || c == '&') {
      // The markup characters too, so that the text is harmless if pasted into a page.
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string listText(const std::vector<Entry>& live) {
  std::string out;
  for (const Entry& e : live) {
    if (!out.empty()) out += ' ';
    out += e.address;
  }
  return out;
}

std::string statusPage(const std::vector<Entry>& live, int64_t now) {
  std::string out = kHead;
  if (live.empty()) {
    out += "<p>No server is online right now.</p>\n";
  } else {
    out += "<p>" + std::to_string(live.size()) +
           (live.size() == 1 ? " server is" : " servers are") + " online.</p>\n";
    out += "<div class=\"wide\"><table>\n<thead><tr>";
    for (const char* column : kColumns) out += std::string("<th>") + column + "</th>";
    out += "</tr></thead>\n<tbody>\n";
    for (const Entry& e : live) {
      const ServerInfo& s = e.info;
      out += "<tr>";
      cell(&out, 0, htmlEscape(rt::cp1252ToUtf8(s.name)));
      cell(&out, 1, htmlEscape(rt::cp1252ToUtf8(s.map)));
      cell(&out, 2, std::to_string(s.players) + " / " + std::to_string(s.playerLimit), true);
      cell(&out, 3, std::to_string(s.rounds), true);
      cell(&out, 4, minutesSeconds(s.roundTime), true);
      cell(&out, 5, latencyText(e.latencyMs), true);
      cell(&out, 6, utcTime(e.registered, "%Y-%m-%d %H:%M UTC"));
      out += "</tr>\n";
    }
    out += "</tbody>\n</table></div>\n";
  }
  out += "<p class=\"note\">As of " + utcTime(now, "%Y-%m-%d %H:%M:%S UTC") +
         "; this page refreshes every 30 seconds. Latency is what this list saw. "
         "<a href=\"servers.json\">JSON</a></p>\n</body></html>\n";
  return out;
}

std::string statusJson(const std::vector<Entry>& live, int64_t now) {
  std::string out = "{\"updated\":" + jsonString(utcTime(now, "%Y-%m-%dT%H:%M:%SZ")) +
                    ",\"servers\":[";
  for (size_t i = 0; i < live.size(); ++i) {
    const Entry& e = live[i];
    const ServerInfo& s = e.info;
    out += std::string(i ? "," : "") + "\n{\"address\":" + jsonString(e.address) +
           ",\"name\":" + jsonString(rt::cp1252ToUtf8(s.name)) +
           ",\"map\":" + jsonString(rt::cp1252ToUtf8(s.map)) +
           ",\"players\":" + std::to_string(s.players) +
           ",\"player_limit\":" + std::to_string(s.playerLimit) +
           ",\"rounds\":" + std::to_string(s.rounds) +
           ",\"round_time\":" + std::to_string(s.roundTime) +
           ",\"map_crc\":" + std::to_string(s.mapCrc) +
           ",\"latency_ms\":" + std::to_string(e.latencyMs) +
           ",\"since\":" + jsonString(utcTime(e.registered, "%Y-%m-%dT%H:%M:%SZ")) + "}";
  }
  return out + "\n]}\n";
}

}  // namespace serverlist
