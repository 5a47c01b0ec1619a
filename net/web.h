// Plain HTTP/1.0 GET requests: hosts register with the internet server list's web service and
// clients fetch the list of addresses from it.
//
// A request blocks until the answer is complete, so it belongs on a background thread; it uses
// connections of its own. Whatever the server sends is read with fixed limits: a broken or
// hostile server costs an empty answer, never a hang or a large allocation.
#pragma once

#include <cstddef>
#include <string>

// The most of a body that is kept; the request ends once it has arrived.
inline constexpr size_t kMaxWebBody = 1u << 20;
// The status line and headers; an answer without a blank line by then has no body.
inline constexpr size_t kMaxWebHeader = 16u << 10;
// After the time-out for the first byte, the longest the rest of an answer may take.
inline constexpr int kWebTransferLimitMs = 20000;

enum WebError : int {
  kWebOk = 0,
  kWebCannotConnect = 1,  // a URL that is not one, a name not found, refused, unreachable
  kWebTimedOut = 2,       // no byte within the time-out, or the answer took far too long
};

// "http://host[:port]/path[?query]" or the same without "http://"; the port defaults to 80.
struct WebUrl {
  std::string host;
  int port = 80;
  std::string target = "/";  // path and query as sent in the request line
};
// False for anything else (another scheme, a bad port, a host with odd characters). Bytes of
// the path that may not stand in a request line are percent-encoded.
bool parseWebUrl(const std::string& url, WebUrl* out);

// An answer as it arrives, open for tests: addWebAnswer keeps the bytes and says whether more
// are wanted (false once the headers run too long, the status is not 200 or the body is full,
// which it then cuts to kMaxWebBody). body is where the body starts, once the headers ended.
struct WebAnswer {
  std::string bytes;
  size_t body = std::string::npos;
};
bool addWebAnswer(WebAnswer* answer, const char* data, size_t size);
// The three-digit code of the status line, 0 when the answer does not start with one.
int webAnswerStatus(const WebAnswer& answer);

// Fetches the URL and returns the body of a 200 answer; "" for any other status, for an answer
// without a blank line after its headers, and on every error. The body ends where the server
// closes the connection, or after kMaxWebBody bytes. timeoutMs bounds the connect and the wait
// for the first byte of the answer. *errorOut (may be null) receives a WebError; an answer that
// is merely unusable is kWebOk with an empty body. fromAddress, when given, is the local address
// the request leaves from.
std::string webGet(const std::string& url, int timeoutMs, int* errorOut,
                   const std::string& fromAddress = "");
