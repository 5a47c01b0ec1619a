// The game protocol: every message in one table, the senders, and the per-frame polls that
// dispatch what arrives, on the host's server (pollServer) and on every participant's client
// (pollClient).
//
// Everything a player causes (a barrel, a pickup, a death, a chat line) is announced by that
// player's client; the host's server checks that the message speaks for the connection that sent
// it and echoes it unchanged to every player, the sender included, and every client applies it.
// The host plays through its own client over 127.0.0.1 and shares one world with its server: the
// server creates and removes the player records, the host's client only reads them and skips what
// the host already applied (round starts, game over, lobby settings, item drops).
//
// Everything read from the network is untrusted: counts are bounded by the bytes present,
// identifiers that name nobody change nothing, floats that are not numbers become 0.
#pragma once

#include <cstdint>
#include <string>

#include "net/message_buffer.h"
#include "world/messages.h"

// ---- The message table --------------------------------------------------------------------
//
// One row per message: type, name, who sends it, whether the host echoes it to every player, the
// fields after the type, and which field (0-based) must be the sending connection's player id
// (-1: none). Field letters: l long, w word, f float, s string, r raw bytes to the end.
// Message 16 carries a subtype first: clients send only subtype 1 (chat, sender in field 1);
// subtype 2 (a player left: colour, name) comes from the host alone.
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
const MessageSpec* FindMessageSpec(int32_t type);
// Bytes a well-formed message of this row has at least, its type included (a string counts one).
int32_t MinimumMessageLength(const MessageSpec& spec);

inline constexpr int32_t kChatSubtype = 1;
inline constexpr int32_t kPlayerLeftSubtype = 2;
inline constexpr int32_t kWirePlayerSize = 160;

// The position message travels over UDP without a type: long sender id, long the sender's clock,
// float x, y it sent last, float x, y now, word facing.
inline constexpr int32_t kPositionMessageLength = 26;
inline constexpr uint32_t kPositionInterval = 100;  // ms between two position messages

// ---- Senders --------------------------------------------------------------------------------
// Client to host, on this machine's game connection. Each does nothing without one.

void SendJoinRequestMessage(const std::string& name);
void SendAbilityMessage(int32_t type, int32_t id, int32_t value);
void SendKillMessage(int32_t victim, int32_t killer);
void SendBarrelMessage(int32_t owner, int32_t strength, float x, float y, int32_t fuseTime);
void SendItemTakenMessage(int32_t id);
// A chat line of this machine's player; an empty text sends nothing.
void SendChatMessage(const std::string& text);

// Host to one connection or to every player (and to its own client when that takes no part).
void SendIdentifyMessage(uint32_t connection);
void SendRoundRunningMessage(uint32_t connection);
void SendServerDataMessage(uint32_t connection);  // 0: to everybody
void BroadcastPlayerList();
void BroadcastPlayerGone(int32_t id);
void BroadcastPlayerLeft(uint32_t colour, const std::string& name);
void BroadcastRoundStart();
// The round-start message of the round just started: the map's name, the rounds and the round
// time, the box grid a byte a cell row by row, then every player's position in list order. The
// caller frees it.
MessageBuffer* NewRoundStartMessage();
void BroadcastGameOver();
void BroadcastGameCanceled();
void BroadcastItemDropped(int32_t row, int32_t id, int32_t x, int32_t y);

// The rules' messages over the network: barrel requests, death reports, ability changes and
// item pickups go to the host; item drops (the host's) go to every player.
RuleMessages NetworkRuleMessages();

// ---- The per-frame polls --------------------------------------------------------------------

// Host only, before pollClient: new connections (message 1, or 15 while a round runs, or the
// information text on the info port), closed and faulted connections (the player leaves:
// messages 8 and 16), the messages of the game connections and the position relay.
void pollServer();
// Every participant: the messages of the game connection, then the position link. A lost game
// connection ends the session's client side.
void pollClient();
// The network step of a frame: pollServer on the host, pollClient while connected, then the
// queued bytes of every connection.
void PollNetwork();
// Main loop step 11: the local player's position every 100 ms while it exists.
void SendPositionWhenDue();

// ---- Dispatch, open for tests and fuzzing ---------------------------------------------------
// None of them frees the message.

// The host's server: a message from a game connection.
void DispatchServerMessage(uint32_t connection, MessageBuffer* message);
// Any client: a message from the host.
void DispatchClientMessage(MessageBuffer* message);
// The host's server: a position message from a UDP peer, forwarded to the other players.
void RelayPositionMessage(uint32_t peer, MessageBuffer* message);
// Any client: a forwarded position message.
void ApplyPositionMessage(MessageBuffer* message);

// The six TAB-separated fields the information port answers with.
std::string ServerInformationText();
// The host lets a game connection go: its player leaves (messages 8 and 16 to the others).
void DropClient(uint32_t connection);
