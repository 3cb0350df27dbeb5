#pragma once
// UTF-8 repair for bytes that come from outside: the client's lines and the app's bodies.
#include <string>
#include <string_view>

// True when the bytes are well-formed UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// Replaces each maximal ill-formed subsequence with U+FFFD, as Unicode recommends, in place.
// Leaves well-formed text untouched without copying it.
void repairUtf8(std::string& bytes);
