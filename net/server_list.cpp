#include "net/server_list.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "net/web.h"
#include "runtime/clock.h"
#include "runtime/log.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Request {
  std::string url;
  std::string from;
};

struct Registrar {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Request> waiting;
  bool registered = false;
  Request again;  // the "?Flag=add" repeated while registered
  std::chrono::milliseconds period{kRegisterAgainMs};
  Clock::time_point againAt;
  bool quit = false;
  rt::Handle thread = 0;
};

Registrar& registrar() {
  static Registrar r;
  return r;
}

void send(const Request& request) {
  int error = kWebOk;
  webGet(request.url, kRegistrationTimeoutMs, &error, request.from);
  if (error != kWebOk) {
    rt::logLine("LIST", "%s went unanswered (%s)", request.url.c_str(),
                error == kWebTimedOut ? "timed out" : "no connection");
  } else {
    rt::logLine("LIST", "%s sent", request.url.c_str());
  }
}

void work() {
  Registrar& r = registrar();
  std::unique_lock lock(r.mutex);
  for (;;) {
    auto due = [&] { return r.registered && Clock::now() >= r.againAt; };
    if (r.registered) {
      r.wake.wait_until(lock, r.againAt, [&] { return !r.waiting.empty() || r.quit || due(); });
    } else {
      r.wake.wait(lock, [&] { return !r.waiting.empty() || r.quit; });
    }
    Request next;
    if (!r.waiting.empty()) {
      next = std::move(r.waiting.front());
      r.waiting.pop_front();
    } else if (r.quit) {
      return;
    } else if (due()) {
      next = r.again;
      r.againAt = Clock::now() + r.period;
    } else {
      continue;
    }
    lock.unlock();
    send(next);
    lock.lock();
  }
}

void post(Registrar& r, Request request) {
  r.waiting.push_back(std::move(request));
  if (!r.thread) r.thread = rt::startThread(work);
  r.wake.notify_one();
}

}  // namespace

std::string serverListRequest(const std::string& url, const std::string& flag) {
  return url + (url.find('?') == std::string::npos ? "?" : "&") + "Flag=" + flag;
}

void joinServerList(const std::string& url, const std::string& fromAddress, uint32_t periodMs) {
  Registrar& r = registrar();
  std::lock_guard lock(r.mutex);
  r.registered = true;
  r.again = {serverListRequest(url, "add"), fromAddress};
  r.period = std::chrono::milliseconds(periodMs);
  r.againAt = Clock::now() + r.period;
  post(r, r.again);
}

void leaveServerList() {
  Registrar& r = registrar();
  std::lock_guard lock(r.mutex);
  if (!r.registered) return;
  r.registered = false;
  std::string url = r.again.url.substr(0, r.again.url.rfind("Flag=")) + "Flag=del";
  post(r, {url, r.again.from});
}

void finishServerList() {
  Registrar& r = registrar();
  rt::Handle thread;
  {
    std::lock_guard lock(r.mutex);
    r.quit = true;
    r.wake.notify_one();
    thread = r.thread;
    r.thread = 0;
  }
  if (thread) rt::waitThread(thread);
  std::lock_guard lock(r.mutex);
  r.quit = false;
}
