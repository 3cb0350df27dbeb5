#pragma once
// The message loop: one JSON-RPC message per line, each answered (or not) before the next.
#include <string>

#include "bridge/automation.hpp"
#include "server/lines.hpp"
#include "server/output.hpp"

// Handles one non-empty line: the parse-error answer unless it is exactly one JSON object,
// which goes to handle(). Repairs invalid UTF-8 in `line` first, and empties a line of a
// megabyte or more once parsed. Never throws.
void handleLine(std::string& line, Output& out, const Automation& automation);

// Reads and handles lines until the input ends or the output is closed.
void serve(ReadSome readSome, Output& out, const Automation& automation);
