#include "support/serve_text.hpp"

#include <algorithm>
#include <cstring>

#include "server/loop.hpp"

std::string serveCaptured(std::string_view input, std::size_t piece, const Automation& automation) {
  std::size_t offset = 0;
  ReadSome readSome = [&](char* buffer, std::size_t size) {
    const std::size_t count = std::min({size, input.size() - offset, piece});
    std::memcpy(buffer, input.data() + offset, count);
    offset += count;
    return count;
  };
  std::string written;
  Output out{[&](std::string_view line) {
    written.append(line);
    return true;
  }};
  serve(readSome, out, automation);
  return written;
}
