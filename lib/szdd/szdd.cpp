#include "szdd/szdd.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace szdd {
namespace {

constexpr uint8_t kMagic[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr size_t kHeaderSize = 14;
constexpr size_t kRingSize = 4096;
constexpr size_t kRingMask = kRingSize - 1;
// The expander writes its first byte at this ring position; everything before
// it reads as blanks.
constexpr size_t kRingStart = kRingSize - 16;
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 18;
// A source 4096 bytes back is the slot about to be overwritten. Expanders that
// read before writing handle it, but nothing requires that order, so stay one
// short of it.
constexpr size_t kMaxDistance = kRingSize - 1;

constexpr uint64_t kLiteralBits = 9;
constexpr uint64_t kMatchBits = 17;

// Exact longest-match finder: a binary search tree per 3-byte hash bucket over
// the positions of the last kMaxDistance bytes (children are always older than
// their parent, so a node beyond the window ends the search of its whole
// subtree). The longest common prefix with any string in a sorted set is the
// one with its predecessor or successor, both of which lie on the search path,
// so the result is the true longest match, which the optimal parse relies on.
// A node whose string equals the new one over kMaxMatch bytes is replaced by
// the new node: nothing later can tell them apart, and the new one is closer.
class MatchFinder {
 public:
  MatchFinder(const uint8_t* buf, size_t size) : buf_(buf), size_(size) {
    head_.fill(kNone);
    son_.fill(kNone);
  }

  // Inserts position pos (all earlier positions must have been inserted) and
  // returns the longest match length (0 when below kMinMatch) and distance.
  size_t Insert(size_t pos, size_t& distance) {
    const size_t limit = std::min(kMaxMatch, size_ - pos);
    if (limit < kMinMatch) return 0;
    const uint8_t* cur = buf_ + pos;
    const uint32_t h = ((uint32_t{cur[0]} << 8) ^ (uint32_t{cur[1]} << 4) ^ cur[2]) & (kHashSize - 1);
    size_t candidate = head_[h];
    head_[h] = pos;

    size_t* smallerSlot = &son_[(pos & kRingMask) * 2];      // gets strings below cur
    size_t* largerSlot = &son_[(pos & kRingMask) * 2 + 1];   // gets strings above cur
    size_t smallerLen = 0, largerLen = 0;
    size_t best = 0;
    for (;;) {
      if (candidate == kNone || pos - candidate > kMaxDistance) {
        *smallerSlot = kNone;
        *largerSlot = kNone;
        break;
      }
      size_t* pair = &son_[(candidate & kRingMask) * 2];
      const uint8_t* old = buf_ + candidate;
      size_t len = std::min(smallerLen, largerLen);
      while (len < limit && old[len] == cur[len]) ++len;
      if (len > best) {
        best = len;
        distance = pos - candidate;
      }
      if (len == limit) {
        *smallerSlot = pair[0];
        *largerSlot = pair[1];
        break;
      }
      if (old[len] < cur[len]) {
        *smallerSlot = candidate;
        smallerSlot = &pair[1];
        candidate = *smallerSlot;
        smallerLen = len;
      } else {
        *largerSlot = candidate;
        largerSlot = &pair[0];
        candidate = *largerSlot;
        largerLen = len;
      }
    }
    return best >= kMinMatch ? best : 0;
  }

 private:
  static constexpr size_t kNone = std::numeric_limits<size_t>::max();
  static constexpr size_t kHashSize = 1u << 12;
  const uint8_t* buf_;
  size_t size_;
  std::array<size_t, kHashSize> head_;
  std::array<size_t, kRingSize * 2> son_;
};

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

bool IsSzdd(const uint8_t* data, size_t size) {
  return size >= sizeof kMagic && std::memcmp(data, kMagic, sizeof kMagic) == 0;
}

std::vector<uint8_t> Compress(const uint8_t* data, size_t size, char lastChar) {
  if (size > std::numeric_limits<uint32_t>::max()) {
    throw std::length_error("szdd: input larger than the 32-bit size field");
  }
  std::vector<uint8_t> out(kMagic, kMagic + sizeof kMagic);
  out.push_back('A');
  out.push_back(static_cast<uint8_t>(lastChar));
  PutLe32(out, static_cast<uint32_t>(size));
  if (size == 0) return out;

  // Work on blanks + data: the ring starts as blanks, so matches may reach
  // back before the first byte. kMaxMatch blanks stand for all of them, since
  // a match never compares more than kMaxMatch bytes and older blanks are
  // farther away.
  constexpr size_t kPad = kMaxMatch;
  std::vector<uint8_t> buf(kPad + size);
  std::fill(buf.begin(), buf.begin() + kPad, ' ');
  std::memcpy(buf.data() + kPad, data, size);

  MatchFinder finder(buf.data(), buf.size());
  size_t ignored = 0;
  for (size_t p = 0; p < kPad; ++p) finder.Insert(p, ignored);

  // Forward shortest path: position i (bytes of data encoded) is reached
  // either by a literal from i-1 or by a match of length l from i-l. Every
  // match length from kMinMatch to the longest found at a position is
  // available at the same distance. Total size in bytes is ceil(bits / 8)
  // (flag bits included in the 9 and 17), so fewest bits means fewest bytes.
  // step[t] records the edge that reached t: 0 = literal, else
  // distance | (length - 3) << 12.
  std::vector<uint16_t> step(size + 1, 0);
  constexpr size_t kCostRing = 32;  // > kMaxMatch, only costs ahead are kept
  constexpr uint64_t kInf = std::numeric_limits<uint64_t>::max();
  std::array<uint64_t, kCostRing> cost;
  cost.fill(kInf);
  cost[0] = 0;
  for (size_t i = 0; i < size; ++i) {
    const uint64_t here = cost[i % kCostRing];
    cost[i % kCostRing] = kInf;  // slot is reused for i + kCostRing
    if (cost[(i + 1) % kCostRing] > here + kLiteralBits) {
      cost[(i + 1) % kCostRing] = here + kLiteralBits;
      step[i + 1] = 0;
    }
    size_t distance = 0;
    const size_t longest = finder.Insert(kPad + i, distance);
    for (size_t len = kMinMatch; len <= longest; ++len) {
      uint64_t& target = cost[(i + len) % kCostRing];
      if (target > here + kMatchBits) {
        target = here + kMatchBits;
        step[i + len] = static_cast<uint16_t>(distance | ((len - kMinMatch) << 12));
      }
    }
  }

  // Walk back from the end to mark where each chosen item starts and how long
  // it is (1 = literal); its distance stays in step[] at its end.
  std::vector<uint8_t> edgeLen(size, 0);
  for (size_t t = size; t > 0;) {
    const uint16_t s = step[t];
    const size_t len = s == 0 ? 1 : (s >> 12) + kMinMatch;
    edgeLen[t - len] = static_cast<uint8_t>(len);
    t -= len;
  }

  out.reserve(out.size() + size + size / 8 + 2);
  size_t flagAt = 0;
  unsigned bit = 8;
  for (size_t i = 0; i < size;) {
    if (bit == 8) {
      flagAt = out.size();
      out.push_back(0);
      bit = 0;
    }
    const size_t len = edgeLen[i];
    if (len == 1) {
      out[flagAt] |= static_cast<uint8_t>(1u << bit);
      out.push_back(data[i]);
    } else {
      const size_t distance = step[i + len] & 0x0FFF;
      const size_t ringPos = (kRingStart + i - distance) & kRingMask;
      out.push_back(static_cast<uint8_t>(ringPos & 0xFF));
      out.push_back(static_cast<uint8_t>(((ringPos >> 4) & 0xF0) | (len - kMinMatch)));
    }
    ++bit;
    i += len;
  }
  return out;
}

ExpandResult Expand(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  out.clear();
  if (!IsSzdd(data, size)) return ExpandResult::NotSzdd;
  if (size < kHeaderSize || data[8] != 'A') return ExpandResult::Corrupt;
  const size_t declared = size_t{data[10]} | size_t{data[11]} << 8 | size_t{data[12]} << 16 |
                          size_t{data[13]} << 24;
  // A forged size must not make us allocate: one flag byte and eight matches
  // (17 bytes) give at most 144 bytes, so reserve no more than the stream can
  // yield.
  const size_t payload = size - kHeaderSize;
  out.reserve(std::min(declared, payload / 17 * 144 + 144));

  std::array<uint8_t, kRingSize> ring;
  ring.fill(' ');
  size_t ringPos = kRingStart;
  size_t in = kHeaderSize;
  while (out.size() < declared) {
    if (in >= size) return ExpandResult::Corrupt;
    const unsigned flags = data[in++];
    for (unsigned bit = 0; bit < 8 && out.size() < declared; ++bit) {
      if (flags & (1u << bit)) {
        if (in >= size) return ExpandResult::Corrupt;
        const uint8_t c = data[in++];
        ring[ringPos] = c;
        ringPos = (ringPos + 1) & kRingMask;
        out.push_back(c);
      } else {
        if (size - in < 2) return ExpandResult::Corrupt;
        const unsigned b0 = data[in], b1 = data[in + 1];
        in += 2;
        size_t from = b0 | ((b1 & 0xF0u) << 4);
        // Byte by byte: the source may overlap what this copy writes.
        for (size_t n = (b1 & 0x0Fu) + kMinMatch; n > 0 && out.size() < declared; --n) {
          const uint8_t c = ring[from];
          from = (from + 1) & kRingMask;
          ring[ringPos] = c;
          ringPos = (ringPos + 1) & kRingMask;
          out.push_back(c);
        }
      }
    }
  }
  return ExpandResult::Ok;
}

}  // namespace szdd
