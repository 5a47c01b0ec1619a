// Inside net/ only: what the message table, the host's side and the clients' side share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/message_buffer.h"
#include "net/messages.h"
#include "net/transport.h"

inline constexpr int32_t kMessageCapacity = 2048;
// Texts from the wire that the lobby shows are cut to this many bytes.
inline constexpr size_t kLobbyTextLimit = 512;
// Positions beyond this are nonsense from the wire; they become 0 before anything draws them.
inline constexpr float kFarPosition = 1e7f;

// ---- Logging: a budget of lines per second, beyond it the lines are only counted -----------

bool mayLog();
const char* messageName(int32_t type);
void logSent(int32_t type, const char* to);
void logReceived(int32_t type, uint32_t from, int32_t length);
void logDropped(int32_t type, uint32_t from, const char* why);
// A message whose reads ran past its end (its missing fields were taken as 0).
void logCutShort(int32_t type, uint32_t from);

// Positions come ten times a second from every player: a count now and then is enough.
struct PositionCounts {
  uint32_t since = 0;
  int sent = 0, applied = 0, relayed = 0, dropped = 0;
};
extern PositionCounts positionCounts;
void logPositionCounts();

// ---- The host's guards ---------------------------------------------------------------------

// Whether a datagram from a sender that is not yet a peer of the position server may make it
// one (-1) or is dropped (0): only a checked frame of a position from the address of the player
// it names, or a checked header alone from a player's address (how older senders split them).
int admitPositionDatagram(const uint8_t* data, int length, const std::string& from);

// ---- Building and reading ----------------------------------------------------------------

// A fault after which a connection is given up (a failed send is tried again).
bool faultSticks(LinkFault fault);
// A player's identifier is the host's handle of its game connection.
inline int32_t idOf(uint32_t connection) { return static_cast<int32_t>(connection); }
inline uint32_t connectionOf(int32_t id) { return static_cast<uint32_t>(id); }
// The type of a built or received message, 0 when it is too short to have one.
int32_t messageTypeOf(const MessageBuffer* message);
// A new buffer with the type written; null when it cannot be made.
MessageBuffer* newMessage(int32_t type);
std::string cutText(const std::string& text, size_t length);
// Field `index` of a message as a long, walking the fields before it by the table's kinds. The
// message is rewound before and after.
int32_t longField(MessageBuffer* message, const MessageSpec& spec, int index);
