#include "server/json_writer.hpp"

#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "server/utf8.hpp"

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

// The table and the stores below lay bytes out as little-endian machines do, and the server
// is built for x86-64 and arm64 alone.
static_assert(std::endian::native == std::endian::little, "the JSON string writer assumes little-endian words");

using Word = std::uint64_t;
constexpr Word ones = 0x0101010101010101;
constexpr Word lowSevenBits = ones * 0x7F;

// True when one of the eight bytes needs an escape: a control character, '"' or '\'. Bytes of
// 0x80 and above never do: in valid UTF-8 they belong to characters written as they are.
bool needsEscape(Word word) {
  // With each byte's top bit cleared, no sum carries into the next byte. A sum's top bit is set
  // when the byte is at least 0x20, is not '"', is not '\', in turn.
  const Word low = word & lowSevenBits;
  const Word plain = (low + ones * (0x80 - 0x20)) & ((low ^ ones * '"') + lowSevenBits) &
                     ((low ^ ones * '\\') + lowSevenBits);
  return (~(word | plain) & ~lowSevenBits) != 0;
}

// What each byte becomes in a JSON string, exactly as the library writes it: its text in the
// low bytes of a word and its length in the top byte, so that one store writes any of them.
constexpr std::array<Word, 256> written = [] {
  const auto entry = [](std::string_view text) {
    Word word = static_cast<Word>(text.size()) << 56;
    for (std::size_t i = 0; i < text.size(); ++i) {
      word |= static_cast<Word>(static_cast<unsigned char>(text[i])) << (8 * i);
    }
    return word;
  };
  std::array<Word, 256> table{};
  for (std::size_t byte = 0; byte < table.size(); ++byte) table[byte] = (Word{1} << 56) | byte;
  constexpr std::string_view hex = "0123456789abcdef";
  for (std::size_t byte = 0; byte < 0x20; ++byte) {
    const char text[] = {'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 0xF]};
    table[byte] = entry({text, sizeof text});
  }
  table['\b'] = entry("\\b");
  table['\t'] = entry("\\t");
  table['\n'] = entry("\\n");
  table['\f'] = entry("\\f");
  table['\r'] = entry("\\r");
  table['"'] = entry("\\\"");
  table['\\'] = entry("\\\\");
  return table;
}();

// Writes one byte as the table says; the store runs up to eight bytes past `out`, and what
// lies beyond the returned end is overwritten by the next one.
char* put(char* out, char byte) {
  const Word entry = written[static_cast<unsigned char>(byte)];
  std::memcpy(out, &entry, sizeof entry);
  return out + (entry >> 56);
}

// Escaped text gathers in a buffer on the stack and joins the caller's string a few KiB at a
// time: growing the string for every escape and every run between escapes costs more than
// the escaping does.
constexpr std::ptrdiff_t stagingBytes = 4096;
// A step that starts just short of the mark writes up to eight six-byte escapes, and its last
// store runs on past them.
constexpr std::size_t slack = 8 * 6 + 8;

// Moves what is staged onto the end of `text`; returns where staging starts again. `out` is
// passed and returned rather than shared, so that the compiler keeps it in a register: the
// stores through it could otherwise alias it.
char* flush(std::string& text, char* staged, const char* out) {
  text.append(staged, static_cast<std::size_t>(out - staged));
  return staged;
}

template <class Json>
void appendValue(std::string& text, const Json& value) {
  if (value.is_string()) {
    appendJsonString(text, value.template get_ref<const std::string&>());
  } else if (value.is_object()) {
    text.push_back('{');
    for (auto member = value.cbegin(); member != value.cend(); ++member) {
      if (member != value.cbegin()) text.push_back(',');
      appendJsonString(text, member.key());
      text.push_back(':');
      appendValue(text, member.value());
    }
    text.push_back('}');
  } else if (value.is_array()) {
    text.push_back('[');
    for (auto element = value.cbegin(); element != value.cend(); ++element) {
      if (element != value.cbegin()) text.push_back(',');
      appendValue(text, *element);
    }
    text.push_back(']');
  } else {
    // Numbers above all: how a double is written is the library's to decide, and stays so.
    text.append(value.dump());
  }
}

}  // namespace

void appendJsonString(std::string& text, std::string_view value) {
  assert(isValidUtf8(value));
  char staged[stagingBytes + slack];
  char* out = staged;
  const char* in = value.data();
  const char* const end = in + value.size();
  *out++ = '"';
  // Eight bytes a step: most steps in a long text find nothing to escape and copy the word.
  for (; end - in >= 8; in += 8) {
    if (out - staged >= stagingBytes) out = flush(text, staged, out);
    Word word;
    std::memcpy(&word, in, sizeof word);
    if (!needsEscape(word)) {
      std::memcpy(out, &word, sizeof word);
      out += sizeof word;
      continue;
    }
    for (std::size_t i = 0; i < sizeof word; ++i) out = put(out, in[i]);
  }
  if (out - staged >= stagingBytes) out = flush(text, staged, out);
  for (; in != end; ++in) out = put(out, *in);
  *out++ = '"';
  flush(text, staged, out);
}

void appendJson(std::string& text, const json& value) { appendValue(text, value); }

void appendJson(std::string& text, const ordered_json& value) { appendValue(text, value); }
