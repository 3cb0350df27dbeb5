#pragma once
// The floor for a tools/call: the same POST the server makes, made by the benchmark itself.

#include <string>

// One POST of `body` to `url` on a fresh connection, with the server's headers. Returns the
// answer body; throws when the exchange fails or the status is not 200.
std::string directPost(const std::string& url, const std::string& body);
