#pragma once
// The message loop: one JSON-RPC message per line, each answered (or not) before the next.
#include <cstddef>
#include <string>
#include <string_view>

#include "server/lines.hpp"
#include "server/output.hpp"

// Deeper nesting is refused with the parse error: the serialiser and the destructors of the
// JSON values recurse, and a client's line must not be able to exhaust the stack.
inline constexpr std::size_t maxNesting = 512;

// True when arrays and objects in this JSON text nest deeper than `limit` (strings are skipped).
bool nestsDeeperThan(std::string_view text, std::size_t limit);

// Handles one non-empty line: the parse-error answer unless it is exactly one JSON object,
// which goes to handle(). Repairs invalid UTF-8 in `line` first, and empties a line of a
// megabyte or more once parsed. Never throws.
void handleLine(std::string& line, Output& out);

// Reads and handles lines until the input ends or the output is closed.
void serve(ReadSome readSome, Output& out);
