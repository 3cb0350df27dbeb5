#pragma once
// What the loop reads while a tool call waits for the app. Lines queue up to be handled in
// their turn, so answers still leave in the order of the requests; a "notifications/cancelled"
// of the per-request revision takes the request it names out of the way, the call in flight or
// one still in line. Requests of the handshake revision are answered whatever comes meanwhile.
#include <cstddef>
#include <deque>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "bridge/automation.hpp"
#include "server/lines.hpp"
#include "server/message.hpp"

// How much may wait unhandled: a client that floods its input while a call waits must not grow
// our memory. Past either bound nothing more is read until the call ends.
inline constexpr std::size_t readAheadBytes = std::size_t{1} << 20;
inline constexpr std::size_t readAheadLines = 1024;

// A line read ahead, kept as text (it is parsed again in its turn, which costs less than
// holding the parsed value) with what a cancellation needs to know of it.
struct Queued {
  std::string line;
  nlohmann::json id;         // the request's id, when it may be cancelled
  bool cancellable = false;
};

struct ReadAhead {
  std::deque<Queued> lines;  // non-empty lines in the order they came
  std::size_t bytes = 0;     // of the lines queued
  // The id of the request being handled, while it is and when it may be cancelled; it points
  // into that request, which the loop holds until it has been answered.
  const nlohmann::json* inFlight = nullptr;
};

// The id that `message` cancels: its params.requestId when it is a "notifications/cancelled"
// notification and that id is a string or a number; nothing otherwise.
std::optional<nlohmann::json> cancelledId(const Message& message);

// True when `message` is a request of the per-request revision, which a cancellation withdraws.
bool cancellable(const Message& message);

// True when `a` and `b` name the same request: the number 45 is not the string "45".
bool sameId(const nlohmann::json& a, const nlohmann::json& b);

// Queues the lines `reader` holds complete, after reading once more when `readable`, and
// applies the cancellations among them. Drop when one named the request in flight;
// StopWatching once the input has ended or the bounds are reached; Nothing otherwise. Never
// throws.
Heard readAhead(LineReader& reader, ReadAhead& ahead, bool readable);
