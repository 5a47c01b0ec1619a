#include "net/web.h"

#include <chrono>
#include <string>
#include <utility>

#include "runtime/clock.h"
#include "runtime/containers.h"
#include "runtime/log.h"
#include "runtime/network.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 10;
constexpr size_t kReadPiece = 4096;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool hostCharacter(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
         c == '-' || c == '_';
}

// Spaces, control bytes and bytes above ASCII would break the request line or smuggle in a
// header line; encoded, they reach the server as the characters they stand for.
std::string encodeTarget(const std::string& target) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : target) {
    auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7f) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

bool parsePort(const std::string& text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (!isDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

std::string hostHeader(const WebUrl& url) {
  return url.port == 80 ? url.host : url.host + ":" + std::to_string(url.port);
}

std::string requestText(const WebUrl& url) {
  return "GET " + url.target + " HTTP/1.0\r\n" + "Host: " + hostHeader(url) + "\r\n" +
         "User-Agent: Powderbox/" POWDERBOX_VERSION "\r\n" + "Connection: close\r\n\r\n";
}

// Where the body starts: after the first empty line, whether lines end in CR LF or in LF alone.
size_t bodyStart(const std::string& response) {
  for (size_t i = response.find('\n'); i != std::string::npos; i = response.find('\n', i + 1)) {
    size_t next = i + 1;
    if (next < response.size() && response[next] == '\r') ++next;
    if (next < response.size() && response[next] == '\n') return next + 1;
  }
  return std::string::npos;
}

// The three-digit code of "HTTP/x.y NNN reason", or 0 when the first line is not a status line.
int statusCode(const std::string& response) {
  if (response.compare(0, 5, "HTTP/") != 0) return 0;
  size_t i = 5;
  while (i < response.size() && response[i] != ' ' && response[i] != '\n') ++i;
  while (i < response.size() && response[i] == ' ') ++i;
  if (i + 3 > response.size()) return 0;
  int code = 0;
  for (size_t end = i + 3; i < end; ++i) {
    if (!isDigit(response[i])) return 0;
    code = code * 10 + (response[i] - '0');
  }
  if (i < response.size() && isDigit(response[i])) return 0;
  return code;
}

struct Exchange {
  WebAnswer answer;
  bool answered = false;  // a first byte arrived
  bool timedOut = false;
};

// Sends the request and reads until the server closes, the answer is complete or time is up.
void exchange(rt::Handle connection, const std::string& request, Clock::time_point start,
              int timeoutMs, Exchange* x) {
  const auto firstByteBy = start + std::chrono::milliseconds(timeoutMs);
  const auto allBy = firstByteBy + std::chrono::milliseconds(kWebTransferLimitMs);
  size_t sent = 0;
  char piece[kReadPiece];
  for (;;) {
    auto now = Clock::now();
    if (now >= (x->answered ? allBy : firstByteBy)) {
      x->timedOut = true;
      return;
    }
    if (sent < request.size()) {
      int n = rt::sendBytes(connection, request.data() + sent,
                            static_cast<int>(request.size() - sent));
      // A failed send may still leave an answer to read; the read reports the closed connection.
      sent = n < 0 ? request.size() : sent + static_cast<size_t>(n);
    }
    if (rt::pollConnection(connection) != rt::kNetData) {
      rt::delay(kPollMs);
      continue;
    }
    int n = rt::receiveBytes(connection, piece, static_cast<int>(sizeof piece));
    if (n < 0) return;
    if (n == 0) {
      rt::delay(kPollMs);
      continue;
    }
    x->answered = true;
    if (!addWebAnswer(&x->answer, piece, static_cast<size_t>(n))) return;
  }
}

}  // namespace

bool addWebAnswer(WebAnswer* answer, const char* data, size_t size) {
  answer->bytes.append(data, size);
  if (answer->body == std::string::npos) {
    answer->body = bodyStart(answer->bytes);
    if (answer->body == std::string::npos) return answer->bytes.size() <= kMaxWebHeader;
    // Only a 200 answer has a body we use.
    if (statusCode(answer->bytes) != 200) return false;
  }
  if (answer->bytes.size() - answer->body < kMaxWebBody) return true;
  answer->bytes.resize(answer->body + kMaxWebBody);
  return false;
}

int webAnswerStatus(const WebAnswer& answer) { return statusCode(answer.bytes); }

bool parseWebUrl(const std::string& url, WebUrl* out) {
  std::string rest = url;
  size_t scheme = rest.find("://");
  if (scheme != std::string::npos && scheme < rest.find_first_of("/?#")) {
    if (!rt::equalNoCase(rest.substr(0, scheme), "http")) return false;
    rest.erase(0, scheme + 3);
  }
  rest = rest.substr(0, rest.find('#'));
  size_t end = rest.find_first_of("/?");
  std::string authority = rest.substr(0, end);
  std::string target = end == std::string::npos ? "/" : rest.substr(end);
  if (target[0] == '?') target.insert(0, "/");

  WebUrl result;
  size_t colon = authority.find(':');
  if (colon != std::string::npos && !parsePort(authority.substr(colon + 1), &result.port)) {
    return false;
  }
  result.host = authority.substr(0, colon);
  if (result.host.empty()) return false;
  for (char c : result.host) {
    if (!hostCharacter(c)) return false;
  }
  result.target = encodeTarget(target);
  *out = result;
  return true;
}

std::string webGet(const std::string& url, int timeoutMs, int* errorOut,
                   const std::string& fromAddress) {
  int ignored = 0;
  int& error = errorOut ? *errorOut : ignored;
  error = kWebCannotConnect;
  WebUrl where;
  if (!parseWebUrl(url, &where)) {
    rt::logLine("WEB", "not a web address: %.200s", url.c_str());
    return "";
  }
  if (timeoutMs <= 0) timeoutMs = rt::kConnectTimeoutMs;
  auto start = Clock::now();
  rt::Handle connection = rt::openConnection(rt::kAnyNumber, where.host, where.port, rt::kTcp,
                                             timeoutMs, fromAddress);
  std::string name = hostHeader(where) + where.target;
  if (!connection) {
    rt::logLine("WEB", "%.300s: no connection", name.c_str());
    return "";
  }
  Exchange x;
  exchange(connection, requestText(where), start, timeoutMs, &x);
  rt::closeConnection(connection);
  if (x.timedOut) {
    error = kWebTimedOut;
    rt::logLine("WEB", "%.300s: %s", name.c_str(),
                x.answered ? "answer too slow" : "no answer");
    return "";
  }
  error = kWebOk;
  std::string& response = x.answer.bytes;
  int status = statusCode(response);
  if (x.answer.body == std::string::npos || status != 200) {
    std::string why = !x.answered     ? "closed without an answer"
                      : status == 0   ? "not an HTTP answer"
                      : status != 200 ? "status " + std::to_string(status)
                                      : "no end of the headers";
    rt::logLine("WEB", "%.300s: %s", name.c_str(), why.c_str());
    return "";
  }
  rt::logLine("WEB", "%.300s: %zu bytes", name.c_str(), response.size() - x.answer.body);
  response.erase(0, x.answer.body);
  return std::move(response);
}
