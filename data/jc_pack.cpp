#include "data/jc_pack.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "runtime/checksum.h"

// The format has fixed bit costs (no entropy coding), so a shortest-path parse over those costs is
// exact apart from the last-distance state, which follows the best path to each position.
//
// Costs in bits:
//   literal               1 + literal width (8 or 9)
//   zero byte, 1-byte     7        (a byte equal to one 1..14 back)
//   short match           12       (distance 1..127, length 2..5)
//   repeat match          4 + gamma(length)
//   long match            2 + gamma((distance >> IW) + 3) + IW + gamma(length - bonus)
//   raw run               8 + 2048 + 1 per 256 bytes (incompressible stretches)
// where gamma(v) costs 2 * floor(log2 v).

namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kInfinite = std::numeric_limits<uint32_t>::max();

// Matches this long are taken at once; longer ones are then extended as far as they go.
constexpr uint32_t kNiceLength = 128;
// Every match stays below this, which bounds how much one bit of a stream can expand to; the
// archive reader relies on that bound to refuse absurd unpacked sizes.
constexpr uint32_t kMaxMatch = 65535;
// The parse runs over windows of this many positions; matches end at a window's edge.
constexpr uint32_t kParseWindow = 1 << 16;
constexpr int kMaxChain = 96;
constexpr int kMinHashBits = 12;
constexpr int kMaxHashBits = 20;
constexpr uint32_t kMaxHistory = 1u << 22;
constexpr uint32_t kRawCost = 8 + 2048 + 1;
constexpr size_t kLiteralChunk = 512;

inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  return v;
}

inline int floorLog2(uint64_t v) { return 63 - __builtin_clzll(v); }
inline uint32_t gammaBits(uint64_t v) { return 2 * uint32_t(floorLog2(v)); }

// ---- Costs ---------------------------------------------------------------------------------

inline uint32_t repeatCost(uint32_t length) { return 4 + gammaBits(length); }

// kInfinite when the match cannot be written as a long match.
inline uint32_t longCost(uint32_t distance, uint32_t length, int indexWidth) {
  int bonus = JcLengthBonus(distance);
  if (length < uint32_t(bonus) + 2) return kInfinite;
  return 2 + gammaBits((uint64_t(distance) >> indexWidth) + 3) + uint32_t(indexWidth) +
         gammaBits(length - uint32_t(bonus));
}

enum class Kind : uint8_t { Literal, Zero, OneByte, Raw, Short, Long, Repeat };

struct Choice {
  uint32_t cost;
  Kind kind;
};

inline Choice matchChoice(uint32_t distance, uint32_t length, uint32_t lastOffset, int indexWidth) {
  if (distance == lastOffset) return {repeatCost(length), Kind::Repeat};
  if (distance <= 127 && length <= 5) return {12, Kind::Short};
  return {longCost(distance, length, indexWidth), Kind::Long};
}

// ---- Match finder --------------------------------------------------------------------------

// A binary tree per 3-byte hash over the recent history, newest position at the root: walking it
// meets ever older candidates, each recorded when it matches longer than any before. Positions
// skipped by the parse are still put into the tree.

struct Match {
  uint32_t length;
  uint32_t distance;
};

struct MatchFinder {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  uint32_t historyMask = 0;
  int hashBits = kMinHashBits;  // about one position per bucket: collisions cost cache misses
  std::vector<uint32_t> head3;
  std::vector<uint32_t> tree;   // two children per history slot: smaller, larger
  std::vector<uint32_t> head2;  // last position of a byte pair, by a hash of the pair
  uint32_t pairMask = 0;
  uint32_t lastByte[256];
};

inline uint32_t hash3(const uint8_t* p, int bits) {
  uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
  return (v * 2654435761u) >> (32 - bits);
}

inline uint32_t pairSlot(const MatchFinder& f, const uint8_t* p) {
  uint32_t pair = uint32_t(p[0]) | uint32_t(p[1]) << 8;
  return f.pairMask == 0xFFFF ? pair : (pair * 2654435761u >> 16) & f.pairMask;
}

void initFinder(MatchFinder& f, const uint8_t* data, uint32_t size) {
  f.data = data;
  f.size = size;
  uint32_t history = 1024;
  while (history < size && history < kMaxHistory) history <<= 1;
  f.historyMask = history - 1;
  while (f.hashBits < kMaxHashBits && (uint32_t(1) << f.hashBits) < size) ++f.hashBits;
  f.head3.assign(size_t(1) << f.hashBits, kNone);
  f.tree.assign(size_t(2) * history, kNone);
  // Small inputs have few pairs; a small table keeps packing them cheap.
  f.pairMask = std::min<uint32_t>(history, 65536) - 1;
  f.head2.assign(size_t(f.pairMask) + 1, kNone);
  std::fill(std::begin(f.lastByte), std::end(f.lastByte), kNone);
}

// Length of the common run of a and b, at most limit; b is after a.
inline uint32_t matchLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  uint32_t n = 0;
  while (n + 8 <= limit) {
    uint64_t diff = load64(a + n) ^ load64(b + n);
    if (diff) return n + uint32_t(__builtin_ctzll(diff) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// Inserts position i into its tree and, when out is given, records the matches met on the way:
// each longer and farther than the one before. lengthLimit <= what is left of the window.
// Returns the number recorded.
size_t walkTree(MatchFinder& f, uint32_t i, uint32_t lengthLimit, Match* out) {
  const uint8_t* here = f.data + i;
  uint32_t h = hash3(here, f.hashBits);
  uint32_t candidate = f.head3[h];
  f.head3[h] = i;
  uint32_t* smaller = &f.tree[2 * (i & f.historyMask)];
  uint32_t* larger = smaller + 1;
  uint32_t smallerLength = 0;
  uint32_t largerLength = 0;
  uint32_t best = 2;
  size_t count = 0;
  for (int depth = 0; depth < kMaxChain && candidate != kNone; ++depth) {
    uint32_t distance = i - candidate;
    if (distance > f.historyMask) break;
    uint32_t* node = &f.tree[2 * (candidate & f.historyMask)];
    const uint8_t* there = f.data + candidate;
    uint32_t length = std::min(smallerLength, largerLength);
    length += matchLength(there + length, here + length, lengthLimit - length);
    if (out && length > best) {
      out[count++] = {length, distance};
      best = length;
    }
    if (length >= lengthLimit) {
      // Equal as far as we look: the candidate's subtrees become ours and it leaves the tree.
      *smaller = node[0];
      *larger = node[1];
      return count;
    }
    if (there[length] < here[length]) {
      *smaller = candidate;
      smaller = &node[1];
      candidate = *smaller;
      smallerLength = length;
    } else {
      *larger = candidate;
      larger = &node[0];
      candidate = *larger;
      largerLength = length;
    }
  }
  *smaller = kNone;
  *larger = kNone;
  return count;
}

inline uint32_t treeLimit(const MatchFinder& f, uint32_t i) {
  return std::min(f.size - i, kNiceLength);
}

// Every position goes into the tree exactly once: by findMatches where the parse departs,
// otherwise by skipPosition. Both come before notePosition.
void skipPosition(MatchFinder& f, uint32_t i) {
  if (i + 2 < f.size) walkTree(f, i, treeLimit(f, i), nullptr);
}

void notePosition(MatchFinder& f, uint32_t i) {
  if (i + 1 < f.size) f.head2[pairSlot(f, f.data + i)] = i;
  f.lastByte[f.data[i]] = i;
}

// Matches at i no longer than available, each longer and farther than the one before.
size_t findMatches(MatchFinder& f, uint32_t i, uint32_t available, Match* out) {
  if (i + 2 >= f.size) return 0;
  size_t found = walkTree(f, i, treeLimit(f, i), out);
  size_t count = 0;
  for (size_t j = 0; j < found; ++j) {
    uint32_t length = std::min(out[j].length, available);
    if (length < 3 || (count > 0 && length <= out[count - 1].length)) break;
    out[count++] = {length, out[j].distance};
  }
  return count;
}

// ---- Parse ---------------------------------------------------------------------------------

struct Node {
  uint32_t price;
  uint32_t lastOffset;
  uint32_t length;
  uint32_t distance;
  Kind kind;
};

struct Token {
  Kind kind;
  uint32_t position;
  uint32_t length;
  uint32_t distance;
};

struct Packer {
  const uint8_t* data;
  uint32_t size;
  MatchFinder finder;
  std::vector<Node> nodes;
  std::vector<Token> tokens;
  std::vector<Match> matches;
  uint32_t lastOffset = 1;
  int indexWidth = 8;
  uint32_t literalCost = 9;
  bool literalsSet = false;
  bool walked = false;  // position already in the match finder
  JcStream stream;
};

inline void relax(Node& to, uint32_t price, uint32_t lastOffset, uint32_t length, uint32_t distance,
                  Kind kind) {
  if (price >= to.price) return;
  to = {price, lastOffset, length, distance, kind};
}

// Gamma costs only change at powers of two, so past the short lengths the longest length of each
// cost step (and the longest of all) stands for the others.
inline bool worthTrying(uint32_t length, uint32_t longest, int bonus) {
  if (length <= 32 || length == longest) return true;
  uint32_t coded = length - uint32_t(bonus);
  return ((coded + 1) & coded) == 0;
}

void relaxByte(Packer& p, uint32_t k, uint32_t i) {
  const Node& from = p.nodes[k];
  uint8_t value = p.data[i];
  uint32_t seen = p.finder.lastByte[value];
  if (value == 0) {
    relax(p.nodes[k + 1], from.price + 7, from.lastOffset, 1, 0, Kind::Zero);
  } else if (seen != kNone && i - seen <= 14) {
    relax(p.nodes[k + 1], from.price + 7, from.lastOffset, 1, i - seen, Kind::OneByte);
  } else {
    relax(p.nodes[k + 1], from.price + p.literalCost, from.lastOffset, 1, 0, Kind::Literal);
  }
}

// Returns the length taken at once (0 when the parse goes on normally).
uint32_t relaxRepeat(Packer& p, uint32_t k, uint32_t i, uint32_t available) {
  const Node from = p.nodes[k];
  uint32_t offset = from.lastOffset;
  if (offset > i || available < 2) return 0;
  const uint8_t* here = p.data + i;
  uint32_t length = matchLength(here - offset, here, std::min(available, kNiceLength));
  if (length >= kNiceLength) {
    length = matchLength(here - offset, here, available);
    relax(p.nodes[k + length], from.price + repeatCost(length), offset, length, offset,
          Kind::Repeat);
    return length;
  }
  for (uint32_t l = 2; l <= length; ++l) {
    if (!worthTrying(l, length, 0)) continue;
    relax(p.nodes[k + l], from.price + repeatCost(l), offset, l, offset, Kind::Repeat);
  }
  return 0;
}

void relaxMatch(Packer& p, uint32_t k, uint32_t distance, uint32_t length) {
  const Node& from = p.nodes[k];
  Choice c = matchChoice(distance, length, from.lastOffset, p.indexWidth);
  if (c.cost == kInfinite) return;
  uint32_t offset = c.kind == Kind::Repeat ? from.lastOffset : distance;
  relax(p.nodes[k + length], from.price + c.cost, offset, length, distance, c.kind);
}

uint32_t relaxMatches(Packer& p, uint32_t k, uint32_t i, uint32_t available) {
  size_t count = findMatches(p.finder, i, available, p.matches.data());
  p.walked = true;
  if (count > 0 && p.matches[count - 1].length >= kNiceLength) {
    Match m = p.matches[count - 1];
    const uint8_t* here = p.data + i;
    uint32_t length = matchLength(here - m.distance, here, available);
    relaxMatch(p, k, m.distance, length);
    return length;
  }
  uint32_t shorter = 1;
  for (size_t j = 0; j < count; ++j) {
    Match m = p.matches[j];
    int bonus = JcLengthBonus(m.distance);
    for (uint32_t l = shorter + 1; l <= m.length; ++l) {
      if (worthTrying(l, m.length, bonus)) relaxMatch(p, k, m.distance, l);
    }
    shorter = m.length;
  }
  // The nearest earlier occurrence of these two bytes.
  if (available >= 2) {
    const uint8_t* here = p.data + i;
    uint32_t seen = p.finder.head2[pairSlot(p.finder, here)];
    if (seen != kNone && i - seen < 0x27F && p.data[seen] == here[0] &&
        p.data[seen + 1] == here[1]) {
      relaxMatch(p, k, i - seen, 2);
    }
  }
  return 0;
}

// Departs from node k (position i); returns how many positions the parse skips.
uint32_t departFrom(Packer& p, uint32_t k, uint32_t i, uint32_t windowEnd) {
  uint32_t available = std::min(windowEnd - i, kMaxMatch);
  relaxByte(p, k, i);
  if (available >= 256) {
    const Node& from = p.nodes[k];
    relax(p.nodes[k + 256], from.price + kRawCost, from.lastOffset, 256, 0, Kind::Raw);
  }
  if (uint32_t taken = relaxRepeat(p, k, i, available)) return taken;
  return relaxMatches(p, k, i, available);
}

void parseWindow(Packer& p, uint32_t start, uint32_t end) {
  uint32_t span = end - start;
  p.nodes.assign(span + 1, Node{kInfinite, 0, 0, 0, Kind::Literal});
  p.nodes[0].price = 0;
  p.nodes[0].lastOffset = p.lastOffset;
  uint32_t skipUntil = 0;
  for (uint32_t k = 0; k < span; ++k) {
    uint32_t i = start + k;
    p.walked = false;
    if (k >= skipUntil && p.nodes[k].price != kInfinite) {
      uint32_t taken = departFrom(p, k, i, end);
      if (taken > 0) skipUntil = k + taken;
    }
    if (!p.walked) skipPosition(p.finder, i);
    notePosition(p.finder, i);
  }
  p.tokens.clear();
  for (uint32_t k = span; k > 0;) {
    const Node& n = p.nodes[k];
    k -= n.length;
    p.tokens.push_back({n.kind, start + k, n.length, n.distance});
  }
  std::reverse(p.tokens.begin(), p.tokens.end());
  p.lastOffset = p.nodes[span].lastOffset;
}

// ---- Literal width ---------------------------------------------------------------------------

struct ByteSet {
  uint64_t words[4] = {0, 0, 0, 0};
  void add(uint8_t v) { words[v >> 6] |= uint64_t(1) << (v & 63); }
  bool has(int v) const { return (words[v >> 6] >> (v & 63)) & 1; }
  void merge(const ByteSet& o) {
    for (int i = 0; i < 4; ++i) words[i] |= o.words[i];
  }
};

// The base of a 128-value window (wrapping at 256) holding every value of the set, or -1.
int windowBase(const ByteSet& set) {
  int first = -1;
  int previous = -1;
  int widestGap = 0;
  int gapEnd = -1;
  for (int v = 0; v < 256; ++v) {
    if (!set.has(v)) continue;
    if (first < 0) first = v;
    if (previous >= 0 && v - previous > widestGap) {
      widestGap = v - previous;
      gapEnd = v;
    }
    previous = v;
  }
  if (first < 0) return 0;
  int wrapGap = first + 256 - previous;
  if (wrapGap > widestGap) {
    widestGap = wrapGap;
    gapEnd = first;
  }
  return widestGap >= 129 ? gapEnd : -1;
}

uint32_t estimateLiteralCost(const uint8_t* data, uint32_t start, uint32_t end) {
  ByteSet set;
  for (uint32_t i = start; i < end; ++i) {
    if (data[i] != 0) set.add(data[i]);
  }
  return windowBase(set) >= 0 ? 8 : 9;
}

struct LiteralMode {
  size_t firstLiteral;  // index among the window's literals where the mode starts
  int width;
  int base;
};

// Chunks of literals are merged while one 128-value window still holds them all; a run that
// needs all 256 values goes out at width 8. A switch costs at most 17 bits and a chunk saves at
// least its length, so every fitting run pays for its switch.
std::vector<LiteralMode> chooseLiteralModes(const std::vector<uint8_t>& literals) {
  std::vector<LiteralMode> modes;
  ByteSet run;
  size_t runStart = 0;
  auto close = [&](size_t at) {
    int base = windowBase(run);
    int width = base >= 0 ? 7 : 8;
    if (modes.empty() || modes.back().width != width || (width == 7 && modes.back().base != base)) {
      modes.push_back({runStart, width, width == 7 ? base : 0});
    }
    runStart = at;
    run = ByteSet();
  };
  for (size_t chunk = 0; chunk < literals.size(); chunk += kLiteralChunk) {
    ByteSet set;
    size_t chunkEnd = std::min(literals.size(), chunk + kLiteralChunk);
    for (size_t j = chunk; j < chunkEnd; ++j) set.add(literals[j]);
    ByteSet joined = run;
    joined.merge(set);
    if (chunk > runStart && windowBase(joined) < 0) close(chunk);
    run.merge(set);
  }
  if (!literals.empty()) close(literals.size());
  return modes;
}

// ---- Emitting ------------------------------------------------------------------------------

// Index widths 4..15 fit the cheapest switch (16 bits); the previous window's distances pick
// the width of the next.
int chooseIndexWidth(const std::vector<Token>& tokens, int current) {
  uint64_t bits[16] = {};
  bool any = false;
  for (const Token& t : tokens) {
    if (t.kind != Kind::Long) continue;
    any = true;
    for (int w = 4; w < 16; ++w) bits[w] += gammaBits((uint64_t(t.distance) >> w) + 3) + w;
  }
  if (!any) return current;
  int best = current;
  for (int w = 4; w < 16; ++w) {
    if (bits[w] < bits[best]) best = w;
  }
  return bits[best] + 16 < bits[current] ? best : current;
}

void emitTokens(Packer& p) {
  std::vector<uint8_t> literals;
  for (const Token& t : p.tokens) {
    if (t.kind == Kind::Literal) literals.push_back(p.data[t.position]);
  }
  std::vector<LiteralMode> modes = chooseLiteralModes(literals);
  size_t nextMode = 0;
  size_t literalIndex = 0;
  JcStream& s = p.stream;
  for (size_t j = 0; j < p.tokens.size(); ++j) {
    const Token& t = p.tokens[j];
    switch (t.kind) {
      case Kind::Literal:
        if (nextMode < modes.size() && modes[nextMode].firstLiteral == literalIndex) {
          const LiteralMode& m = modes[nextMode++];
          if (!p.literalsSet || m.width != s.literalWidth || m.base != s.literalBase) {
            JcSetLiterals(s, m.width, m.base);
            p.literalsSet = true;
          }
        }
        ++literalIndex;
        JcLiteral(s, p.data[t.position]);
        break;
      case Kind::Zero:
        JcZeroByte(s);
        break;
      case Kind::OneByte:
        JcOneByteMatch(s, t.distance);
        break;
      case Kind::Raw: {
        size_t runs = 1;
        while (j + runs < p.tokens.size() && p.tokens[j + runs].kind == Kind::Raw) ++runs;
        JcRawRuns(s, p.data + t.position, runs);
        j += runs - 1;
        break;
      }
      case Kind::Short:
        JcShortMatch(s, t.distance, t.length);
        break;
      case Kind::Long:
        JcLongMatch(s, t.distance, t.length);
        break;
      case Kind::Repeat:
        JcRepeatMatch(s, t.length);
        break;
    }
  }
}

}  // namespace

// ---- Token writer ------------------------------------------------------------------------

int JcLengthBonus(uint64_t distance) {
  if (distance < 0x80) return 4;
  if (distance < 0x27F) return 0;
  if (distance < 0x37FF) return 1;
  if (distance < 0x10000) return 2;
  return 3;
}

void JcBegin(JcStream& s) { s = JcStream(); }

void JcPutBits(JcStream& s, uint32_t value, int count) {
  if (count == 0) return;
  if (count < 32) value &= (uint32_t(1) << count) - 1;
  s.pending = (s.pending << count) | value;
  s.pendingCount += count;
  if (s.pendingCount < 32) return;
  s.pendingCount -= 32;
  uint32_t word = uint32_t(s.pending >> s.pendingCount);
  s.pending &= (uint64_t(1) << s.pendingCount) - 1;
  uint8_t le[4] = {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16), uint8_t(word >> 24)};
  s.bytes.insert(s.bytes.end(), le, le + 4);
}

// Each bit after the leading one, followed by a 1 while more bits follow.
void JcPutGamma(JcStream& s, uint64_t value) {
  for (int bit = floorLog2(value) - 1; bit >= 0; --bit) {
    JcPutBits(s, uint32_t((value >> bit) & 1), 1);
    JcPutBits(s, bit > 0 ? 1 : 0, 1);
  }
}

void JcLiteral(JcStream& s, uint8_t value) {
  JcPutBits(s, 1, 1);
  JcPutBits(s, uint32_t(uint8_t(value - s.literalBase)), s.literalWidth);
}

void JcZeroByte(JcStream& s) { JcPutBits(s, 0b0010001, 7); }

void JcOneByteMatch(JcStream& s, uint32_t distance) {
  JcPutBits(s, 0b001, 3);
  JcPutBits(s, distance + 1, 4);
}

void JcShortMatch(JcStream& s, uint32_t distance, uint32_t length) {
  JcPutBits(s, 0b000, 3);
  JcPutBits(s, distance, 7);
  JcPutBits(s, length - 2, 2);
}

void JcLongMatch(JcStream& s, uint64_t distance, uint64_t length) {
  JcPutBits(s, 0b01, 2);
  JcPutGamma(s, (distance >> s.indexWidth) + 3);
  uint64_t low = distance & ((uint64_t(1) << s.indexWidth) - 1);
  if (s.indexWidth > 32) {
    JcPutBits(s, uint32_t(low >> 32), s.indexWidth - 32);
    JcPutBits(s, uint32_t(low), 32);
  } else {
    JcPutBits(s, uint32_t(low), s.indexWidth);
  }
  JcPutGamma(s, length - uint64_t(JcLengthBonus(distance)));
}

void JcRepeatMatch(JcStream& s, uint64_t length) {
  JcPutBits(s, 0b01, 2);
  JcPutGamma(s, 2);
  JcPutGamma(s, length);
}

void JcRawRuns(JcStream& s, const uint8_t* bytes, size_t runs) {
  JcPutBits(s, 0b00100001, 8);
  for (size_t r = 0; r < runs; ++r) {
    for (size_t i = 0; i < 256; ++i) JcPutBits(s, bytes[r * 256 + i], 8);
    JcPutBits(s, r + 1 < runs ? 1 : 0, 1);
  }
}

void JcSetLiterals(JcStream& s, int width, int base) {
  JcPutBits(s, 0b00100000, 8);
  JcPutBits(s, uint32_t(width - 7), 1);
  if (width == 7) JcPutBits(s, uint32_t(base), 8);
  s.literalWidth = width;
  s.literalBase = width == 7 ? base : 0;
}

// The escape's length field picks how many bits the width takes: 4, 5 or 6.
void JcSetIndexWidth(JcStream& s, int width) {
  int length = width < 16 ? 3 : width < 32 ? 4 : 5;
  JcPutBits(s, 0, 10);
  JcPutBits(s, uint32_t(length - 2), 2);
  JcPutBits(s, uint32_t(width), length + 1);
  s.indexWidth = width;
}

std::vector<uint8_t> JcFinish(JcStream& s, uint32_t plainSize, uint32_t checksum) {
  JcPutBits(s, 0, 12);
  if (s.pendingCount > 0) JcPutBits(s, 0, 32 - s.pendingCount);
  std::vector<uint8_t> out = std::move(s.bytes);
  out[0] = 'J';
  out[1] = 'C';
  for (int b = 0; b < 4; ++b) {
    out[2 + b] = uint8_t(plainSize >> (8 * b));
    out[6 + b] = uint8_t(checksum >> (8 * b));
  }
  JcBegin(s);
  return out;
}

std::vector<uint8_t> JcFinish(JcStream& s, const uint8_t* plain, size_t length) {
  return JcFinish(s, uint32_t(length), rt::jcChecksum(plain, length));
}

// ---- Packer --------------------------------------------------------------------------------

std::vector<uint8_t> JcPack(const uint8_t* data, size_t length) {
  if (!data || length == 0 || length > std::numeric_limits<uint32_t>::max()) return {};
  Packer p;
  p.data = data;
  p.size = uint32_t(length);
  initFinder(p.finder, data, p.size);
  p.matches.resize(kNiceLength + 2);
  JcBegin(p.stream);
  for (uint32_t start = 0; start < p.size;) {
    uint32_t end = start + std::min(p.size - start, kParseWindow);
    p.literalCost = estimateLiteralCost(data, start, end);
    parseWindow(p, start, end);
    emitTokens(p);
    int width = chooseIndexWidth(p.tokens, p.indexWidth);
    if (end < p.size && width != p.indexWidth) {
      JcSetIndexWidth(p.stream, width);
      p.indexWidth = width;
    }
    start = end;
  }
  return JcFinish(p.stream, data, length);
}
