#include "net/messages.h"

#include <cstring>

#include "net/protocol_local.h"
#include "runtime/frame.h"
#include "runtime/log.h"

PositionCounts positionCounts;

namespace {

constexpr int kLogBudget = 200;  // message log lines per second
constexpr uint32_t kPositionLogPeriod = 5000;

struct MessageLog {
  uint32_t second = 0;
  int lines = 0;
  int suppressed = 0;
};

MessageLog messageLog;

}  // namespace

// ---- The table -------------------------------------------------------------------------------

const MessageSpec* findMessageSpec(int32_t type) {
  for (const MessageSpec& spec : kMessageTable) {
    if (spec.type == type) return &spec;
  }
  return nullptr;
}

int32_t minimumMessageLength(const MessageSpec& spec) {
  int32_t length = 4;
  for (const char* field = spec.fields; *field; ++field) {
    switch (*field) {
      case 'l': case 'f': length += 4; break;
      case 'w': length += 2; break;
      case 's': length += 1; break;
      default: break;
    }
  }
  return length;
}

// ---- Logging ---------------------------------------------------------------------------------

const char* messageName(int32_t type) {
  const MessageSpec* spec = findMessageSpec(type);
  return spec ? spec->name : "unknown";
}

bool mayLog() {
  uint32_t second = rt::frame.now / 1000;
  if (second != messageLog.second) {
    if (messageLog.suppressed > 0) {
      rt::logLine("MSG", "%d message lines left out", messageLog.suppressed);
    }
    messageLog = MessageLog{second, 0, 0};
  }
  if (messageLog.lines >= kLogBudget) {
    ++messageLog.suppressed;
    return false;
  }
  ++messageLog.lines;
  return true;
}

void logSent(int32_t type, const char* to) {
  if (mayLog()) rt::logLine("MSG", "send %s(%d) to %s", messageName(type), type, to);
}

void logReceived(int32_t type, uint32_t from, int32_t length) {
  if (!mayLog()) return;
  if (from) {
    rt::logLine("MSG", "recv %s(%d) from %u, %d bytes", messageName(type), type, from, length);
  } else {
    rt::logLine("MSG", "recv %s(%d), %d bytes", messageName(type), type, length);
  }
}

void logDropped(int32_t type, uint32_t from, const char* why) {
  if (mayLog()) rt::logLine("MSG", "drop %s(%d) from %u: %s", messageName(type), type, from, why);
}

void logCutShort(int32_t type, uint32_t from) {
  if (mayLog()) rt::logLine("MSG", "recv %s(%d) from %u cut short", messageName(type), type, from);
}

void logPositionCounts() {
  PositionCounts& c = positionCounts;
  if (rt::frame.now - c.since < kPositionLogPeriod) return;
  if (c.sent + c.applied + c.relayed + c.dropped > 0) {
    rt::logLine("MSG", "positions: %d sent, %d applied, %d relayed, %d dropped", c.sent, c.applied,
                c.relayed, c.dropped);
  }
  c = PositionCounts{rt::frame.now};
}

// ---- Building and reading ----------------------------------------------------------------

bool faultSticks(LinkFault fault) {
  return fault != LinkFault::kNone && fault != LinkFault::kSendFailed;
}

int32_t messageTypeOf(const MessageBuffer* message) {
  int32_t type = 0;
  if (message->length >= 4) memcpy(&type, message->data, 4);
  return type;
}

MessageBuffer* newMessage(int32_t type) {
  MessageBuffer* buffer = createBuffer(rt::kAnyNumber, kMessageCapacity, 0);
  if (buffer) putLong(buffer, type);
  return buffer;
}

std::string cutText(const std::string& text, size_t length) {
  return text.size() <= length ? text : text.substr(0, length);
}

int32_t longField(MessageBuffer* message, const MessageSpec& spec, int index) {
  rewindBuffer(message);
  getLong(message);
  for (int i = 0; i < index && spec.fields[i]; ++i) {
    switch (spec.fields[i]) {
      case 'l': getLong(message); break;
      case 'w': getWord(message); break;
      case 'f': getFloat(message); break;
      case 's': getString(message); break;
      default: break;
    }
  }
  int32_t value = getLong(message);
  rewindBuffer(message);
  return value;
}
