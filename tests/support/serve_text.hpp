#pragma once
// Runs the message loop in process over a text, as if it came on standard input.
#include <cstddef>
#include <string>
#include <string_view>

#include "bridge/automation.hpp"

// Everything the loop writes for `input`, which is handed over `piece` bytes at a time so that
// lines straddle reads.
std::string serveCaptured(std::string_view input, std::size_t piece = 4093, const Automation& automation = {});
