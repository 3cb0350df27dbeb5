#pragma once
// The message loop: one JSON-RPC message per line, each answered (or not) before the next.
#include <string>

#include "bridge/automation.hpp"
#include "server/lines.hpp"
#include "server/output.hpp"
#include "server/read_ahead.hpp"

// Handles one non-empty line: the parse-error answer unless it is exactly one JSON object,
// which goes to handle() with `watch`. Repairs invalid UTF-8 in `line` first, and empties a
// line of a megabyte or more once parsed. Notes in `ahead` whether the request may be
// cancelled while it is served. Never throws.
void handleLine(std::string& line, Output& out, const Automation& automation, ReadAhead& ahead, const Watch& watch);

// Reads and handles lines until the input ends or the output is closed. `inputFd`, the
// descriptor `readSome` reads, is watched while a tool call waits, so that what the client
// sends meanwhile is read ahead (-1: nothing is read until the call ends).
void serve(ReadSome readSome, Output& out, const Automation& automation, int inputFd);
