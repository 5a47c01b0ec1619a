// The game protocol: the senders, and the per-frame polls that dispatch what arrives, on the
// host's server (net/host.cpp) and on every participant's client (net/client.cpp). The messages
// themselves are the table of net/messages.h.
//
// Everything a player causes (a barrel, a pickup, a death, a chat line) is announced by that
// player's client; the host's server checks that the message speaks for the connection that sent
// it and echoes it unchanged to every player, the sender included, and every client applies it.
// The host plays through its own client over 127.0.0.1 and shares one world with its server: the
// server creates and removes the player records, and the host's own client handles only what the
// server has not applied already (it learns who it is and applies what the players announce, but
// never a round start, game over, lobby settings or item drop).
//
// Everything read from the network is untrusted: counts are bounded by the bytes present,
// identifiers that name nobody change nothing, floats that are not numbers become 0.
#pragma once

#include <cstdint>
#include <string>

#include "net/message_buffer.h"
#include "net/messages.h"
#include "world/messages.h"

// ---- Senders --------------------------------------------------------------------------------
// Client to host, on this machine's game connection. Each does nothing without one.

void sendJoinRequestMessage(const std::string& name);
void sendAbilityMessage(int32_t type, int32_t id, int32_t value);
void sendKillMessage(int32_t victim, int32_t killer);
void sendBarrelMessage(int32_t owner, int32_t strength, float x, float y, int32_t fuseTime);
void sendItemTakenMessage(int32_t id);
// A chat line of this machine's player; an empty text sends nothing.
void sendChatMessage(const std::string& text);

// Host to one connection or to every player (and to its own client when that takes no part).
void sendIdentifyMessage(uint32_t connection);
void sendRoundRunningMessage(uint32_t connection);
void sendServerDataMessage(uint32_t connection);  // 0: to everybody
void broadcastPlayerList();
void broadcastPlayerGone(int32_t id);
void broadcastPlayerLeft(uint32_t colour, const std::string& name);
// A line for every lobby: the text of a notice key, "~" replaced by name.
void broadcastNotice(const std::string& key, const std::string& name);
void broadcastRoundStart();
// The round-start message of the round just started: the map's name, the rounds and the round
// time, the box grid a byte a cell row by row, then every player's position in list order. The
// caller frees it.
MessageBuffer* newRoundStartMessage();
void broadcastGameOver();
void broadcastGameCanceled();
void broadcastItemDropped(int32_t row, int32_t id, int32_t x, int32_t y);

// The rules' messages over the network: barrel requests, death reports, ability changes and
// item pickups go to the host; item drops (the host's) go to every player.
RuleMessages networkRuleMessages();

// ---- The per-frame polls --------------------------------------------------------------------

// Host only, before pollClient: new connections (identified, or told that a round runs, or the
// information text on the info port), closed and faulted connections (the player leaves:
// player-gone and player-left messages), the messages of the game connections and the position
// relay.
void pollServer();
// Every participant: the messages of the game connection, then the position link. A lost game
// connection ends the session's client side.
void pollClient();
// The network step of a frame: pollServer on the host, pollClient while connected, then the
// queued bytes of every connection.
void pollNetwork();
// Every game frame: the local player's position every 100 ms while it exists.
void sendPositionWhenDue();

// ---- Dispatch, open for tests and fuzzing ---------------------------------------------------
// None of them frees the message.

// The host's server: a message from a game connection.
void dispatchServerMessage(uint32_t connection, MessageBuffer* message);
// Any client: a message from the host.
void dispatchClientMessage(MessageBuffer* message);
// The host's server: a position message from a UDP peer, forwarded to the other players.
void relayPositionMessage(uint32_t peer, MessageBuffer* message);
// Any client: a forwarded position message.
void applyPositionMessage(MessageBuffer* message);

// The six TAB-separated fields the information port answers with.
std::string serverInformationText();
// The host lets a game connection go: its player leaves (player-gone and player-left to the
// others).
void dropClient(uint32_t connection);
