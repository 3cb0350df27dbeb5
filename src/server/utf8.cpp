#include "server/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace {

// The length of the well-formed sequence at `at`, or 0 when none starts there. In the
// latter case `prefix` is set to the number of bytes that form the maximal ill-formed
// subsequence (at least 1), which becomes one U+FFFD.
std::size_t sequenceLength(const unsigned char* at, std::size_t available, std::size_t& prefix) {
  const unsigned char lead = at[0];
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    prefix = 1;
    return 0;
  }
  std::size_t i = 1;
  for (; i < length && i < available; ++i) {
    const unsigned char byte = at[i];
    const bool fits = i == 1 ? (byte >= low && byte <= high) : (byte >= 0x80 && byte <= 0xBF);
    if (!fits) break;
  }
  if (i == length) return length;
  prefix = i;
  return 0;
}

// Skips runs of ASCII eight bytes at a time; most lines are nearly all ASCII.
std::size_t asciiRun(const unsigned char* data, std::size_t size) {
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, 8);
    if (word & 0x8080808080808080ULL) break;
  }
  while (i < size && data[i] < 0x80) ++i;
  return i;
}

// The offset of the first ill-formed byte, or `size` when there is none.
std::size_t firstInvalid(const unsigned char* data, std::size_t size) {
  std::size_t i = 0;
  while (i < size) {
    i += asciiRun(data + i, size - i);
    if (i == size) break;
    std::size_t prefix = 0;
    const std::size_t length = sequenceLength(data + i, size - i, prefix);
    if (length == 0) return i;
    i += length;
  }
  return size;
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  return firstInvalid(data, bytes.size()) == bytes.size();
}

void repairUtf8(std::string& bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  std::size_t i = firstInvalid(data, size);
  if (i == size) return;

  static constexpr std::string_view replacement = "\xEF\xBF\xBD";
  std::string repaired;
  repaired.reserve(size + size / 8 + replacement.size());
  repaired.append(bytes, 0, i);
  while (i < size) {
    std::size_t prefix = 0;
    const std::size_t length = sequenceLength(data + i, size - i, prefix);
    if (length == 0) {
      repaired.append(replacement);
      i += prefix;
    } else {
      repaired.append(bytes, i, length);
      i += length;
    }
  }
  bytes.swap(repaired);
}
