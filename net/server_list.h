// A host on the internet server list. It registers when its session opens with "Internet" set,
// registers again every few minutes while the session lives (the service lets entries expire)
// and deregisters when it leaves. The requests go out in order on a thread of their own, so a
// slow or unreachable service never holds up the game; their results are only logged.
#pragma once

#include <cstdint>
#include <string>

inline constexpr uint32_t kRegisterAgainMs = 4 * 60 * 1000;
inline constexpr int kRegistrationTimeoutMs = 5000;

// The service's URL with "Flag=<flag>" added as its query.
std::string serverListRequest(const std::string& url, const std::string& flag);

// "?Flag=add" now and again every period until leaveServerList. The requests leave from
// fromAddress when one is given (a host bound to one address registers that address).
void joinServerList(const std::string& url, const std::string& fromAddress,
                    uint32_t periodMs = kRegisterAgainMs);
// "?Flag=del" for the registration in force; nothing when there is none.
void leaveServerList();
// At exit: sends what is still waiting (a last "?Flag=del"), then ends the thread.
void finishServerList();
