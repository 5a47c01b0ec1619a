// The local network's probe. A searching client broadcasts a small fixed datagram on the hosts'
// UDP port; every host that hears it answers with the address and the information port it can
// be asked on. Answers are never longer than the probe, each address gets a few a second at
// most, and anything that is not a probe is ignored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/discovery.h"

inline constexpr int kProbeLength = 20;
inline constexpr int kProbeAnswerLength = 18;
// Answers per second to one address, and to everybody together.
inline constexpr int kProbeAnswersPerAddress = 4;
inline constexpr int kProbeAnswersPerSecond = 64;

// "PBOXSEEK", the nonce (u32 little-endian), zeros.
std::vector<uint8_t> buildProbe(uint32_t nonce);

// Where a host said it can be asked.
struct ProbeAnswer {
  std::string address;
  int icpPort = 0;
};
// Reads an answer to the probe with this nonce. A host bound to all addresses names none; the
// datagram's sender stands in for it.
bool readProbeAnswer(const rt::Datagram& datagram, uint32_t nonce, ProbeAnswer* out);

bool isProbe(const uint8_t* data, int length);
// The host's side, open for tests: the answer to a datagram (written into answer, returns its
// length) or 0 for no answer (not a probe, or the sender asks too often). boundAddress "" names
// no address.
int answerProbe(const uint8_t* data, int length, const std::string& from, uint32_t nowMs,
                const std::string& boundAddress, int icpPort, uint8_t* answer);

// Host: answer probes from now on, on the session's position port (beside the position server
// when that is bound to one address, else through it), until the host side closes.
void startProbeAnswers();
