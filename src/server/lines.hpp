#pragma once
// Splits a byte stream into lines: LF ends a line, one CR before it is dropped, and a last
// line without LF still counts. Lines have no length limit.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// Reads up to `size` bytes into `buffer`; returns how many, 0 at the end of input.
using ReadSome = std::function<std::size_t(char* buffer, std::size_t size)>;

// Reads from the descriptor `fd` with read(2), returning whatever has arrived.
ReadSome readFrom(int fd);

class LineReader {
 public:
  explicit LineReader(ReadSome readSome) : readSome_(std::move(readSome)) {}

  // Puts the next line, without its terminator, into `line`, reading as much as it takes.
  // False once the input has ended.
  bool next(std::string& line);

  // Puts the next line already read into `line`, reading nothing: a complete line, or the last
  // one once the input has ended. False when there is none.
  bool take(std::string& line);

  // Reads once, appending what arrived. False once the input has ended.
  bool fill();

  bool ended() const { return ended_; }
  // Bytes read that no line taken so far holds.
  std::size_t held() const { return buffer_.size() - start_; }

 private:
  ReadSome readSome_;
  std::string buffer_;
  std::unique_ptr<char[]> chunk_;  // what read() fills; only what arrived is appended
  std::size_t start_ = 0;    // where the unread part of buffer_ begins
  std::size_t scanned_ = 0;  // up to here buffer_ holds no line feed
  bool ended_ = false;
};
