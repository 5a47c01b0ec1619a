// The game's messages in one table: each type with its name, who sends it, whether the host
// echoes it to every player, its fields and which field must name the sender. Sending, the
// sender-identity check, logging and fuzzing all read the same rows.
#pragma once

#include <cstdint>

// One row per message: type, name, who sends it, whether the host echoes it to every player, the
// fields after the type, and which field (0-based) must be the sending connection's player id
// (-1: none). Field letters: l long, w word, f float, s string, r raw bytes to the end.
// The text line carries a subtype first: clients send only the chat subtype (sender in field 1);
// the player-left subtype (colour, name) and the notice subtype (language key, map name) come
// from the host alone.
//
//   type name          sent by  echoed fields    sender
#define POWDERBOX_MESSAGES(X)                                      \
  X(1, Identify, kFromServer, false, "l", -1)                      \
  X(2, JoinRequest, kFromClient, false, "s", -1)                   \
  X(3, PlayerList, kFromServer, false, "lr", -1)                   \
  X(4, Strength, kFromClient, true, "lw", 0)                       \
  X(5, FuseTime, kFromClient, true, "lw", 0)                       \
  X(6, Capacity, kFromClient, true, "lw", 0)                       \
  X(7, Kill, kFromClient, true, "ll", 0)                           \
  X(8, PlayerGone, kFromServer, false, "l", -1)                    \
  X(11, RoundStart, kFromServer, false, "sllr", -1)                \
  X(12, GameOver, kFromServer, false, "", -1)                      \
  X(13, ServerData, kFromServer, false, "sll", -1)                 \
  X(14, GameCanceled, kFromServer, false, "", -1)                  \
  X(15, RoundRunning, kFromServer, false, "", -1)                  \
  X(16, TextLine, kFromClient, true, "lls", 1)                     \
  X(17, Barrel, kFromClient, true, "llffl", 0)                     \
  X(18, ItemDropped, kFromServer, false, "wlll", -1)               \
  X(19, ItemTaken, kFromClient, true, "l", -1)

enum MessageType : int32_t {
#define POWDERBOX_MESSAGE_ENUM(type, name, from, echoed, fields, sender) kMsg##name = type,
  POWDERBOX_MESSAGES(POWDERBOX_MESSAGE_ENUM)
#undef POWDERBOX_MESSAGE_ENUM
};

enum MessageSource : uint8_t { kFromServer, kFromClient };

struct MessageSpec {
  int32_t type;
  const char* name;
  MessageSource from;
  bool echoed;
  const char* fields;
  int senderField;
};

inline constexpr MessageSpec kMessageTable[] = {
#define POWDERBOX_MESSAGE_ROW(type, name, from, echoed, fields, sender) \
  {type, #name, from, echoed, fields, sender},
    POWDERBOX_MESSAGES(POWDERBOX_MESSAGE_ROW)
#undef POWDERBOX_MESSAGE_ROW
};

// The row of a type, or null for a type the game does not know.
const MessageSpec* findMessageSpec(int32_t type);
// Bytes a well-formed message of this row has at least, its type included (a string counts one).
int32_t minimumMessageLength(const MessageSpec& spec);

inline constexpr int32_t kChatSubtype = 1;
inline constexpr int32_t kPlayerLeftSubtype = 2;
inline constexpr int32_t kNoticeSubtype = 3;
// The language keys a notice may name; "~" in their texts stands for the name sent along.
inline constexpr const char* kNoticeKeys[] = {"Map Unplayable"};
inline constexpr int32_t kWirePlayerSize = 160;

// The position message travels over UDP without a type: long sender id, long the sender's clock,
// float x, y it sent last, float x, y now, word facing.
inline constexpr int32_t kPositionMessageLength = 26;
inline constexpr uint32_t kPositionInterval = 100;  // ms between two position messages
