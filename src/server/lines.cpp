#include "server/lines.hpp"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr std::size_t readChunk = 64 * 1024;
// Lines longer than this are handed over by moving the buffer instead of copying it, so a
// line of many megabytes costs no second copy.
constexpr std::size_t moveThreshold = 256 * 1024;

}  // namespace

ReadSome readFrom(int fd) {
  return [fd](char* buffer, std::size_t size) -> std::size_t {
    for (;;) {
      const ssize_t got = ::read(fd, buffer, size);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd ready{fd, POLLIN, 0};
        ::poll(&ready, 1, -1);
        continue;
      }
      return 0;  // an input we cannot read any more has ended, as far as we can tell
    }
  };
}

bool LineReader::next(std::string& line) {
  while (!take(line)) {
    if (!fill()) return take(line);
  }
  return true;
}

bool LineReader::take(std::string& line) {
  const char* from = buffer_.data() + scanned_;
  const auto* feed = static_cast<const char*>(std::memchr(from, '\n', buffer_.size() - scanned_));
  if (feed == nullptr && !(ended_ && start_ < buffer_.size())) {
    scanned_ = buffer_.size();
    return false;
  }
  const std::size_t end = feed ? static_cast<std::size_t>(feed - buffer_.data()) : buffer_.size();
  const std::size_t next = feed ? end + 1 : end;
  std::size_t length = end - start_;
  if (length > 0 && buffer_[end - 1] == '\r') --length;
  if (length >= moveThreshold) {
    std::string rest = buffer_.substr(next);
    buffer_.resize(start_ + length);
    buffer_.erase(0, start_);
    line.swap(buffer_);
    buffer_ = std::move(rest);
    start_ = scanned_ = 0;
  } else {
    line.assign(buffer_, start_, length);
    start_ = scanned_ = next;
  }
  return true;
}

bool LineReader::fill() {
  if (ended_) return false;
  // Keep only the unread part, then read more behind it.
  if (start_ > 0) {
    scanned_ -= start_;
    buffer_.erase(0, start_);
    start_ = 0;
  }
  if (!chunk_) chunk_ = std::make_unique<char[]>(readChunk);
  const std::size_t got = readSome_(chunk_.get(), readChunk);
  buffer_.append(chunk_.get(), got);
  if (got == 0) ended_ = true;
  return !ended_;
}
