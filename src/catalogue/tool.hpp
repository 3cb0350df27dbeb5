#pragma once
// One tool of the catalogue: what the client sees, and the command it becomes for the app.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// What a call does to the user's app, as clients of the per-request revision read it to decide
// what an agent may run without asking (read-only tools run in plan mode and in parallel).
struct Hints {
  bool readOnly;     // changes nothing in the app
  bool destructive;  // may override or remove what the user set up
  bool idempotent;   // a repeat with the same arguments changes nothing more
  bool openWorld;    // what it returns comes from beyond the app and this Mac
};

struct Tool {
  std::string name;         // as the client calls it, e.g. "list_targets"
  std::string command;      // the path it is posted to, e.g. "targets"
  std::string title;        // a short name for people, shown by the per-request revision only
  Hints hints;              // likewise
  std::string description;  // published word for word
  nlohmann::ordered_json properties = nlohmann::ordered_json::object();  // name -> schema, in the order shown
  std::vector<std::string> required;
  nlohmann::json fixed = nlohmann::json::object();  // written over the client's arguments
};

// A property schema: "type", then "enum" when `choices` is not empty, then "description".
nlohmann::ordered_json property(const char* type, const char* description, std::vector<std::string> choices = {});
