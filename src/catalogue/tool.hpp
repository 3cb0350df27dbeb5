#pragma once
// One tool of the catalogue: what the client sees, and the command it becomes for the app.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct Tool {
  std::string name;         // as the client calls it, e.g. "list_targets"
  std::string command;      // the path it is posted to, e.g. "targets"
  std::string description;  // published word for word
  nlohmann::ordered_json properties = nlohmann::ordered_json::object();  // name -> schema, in the order shown
  std::vector<std::string> required;
  nlohmann::json fixed = nlohmann::json::object();  // written over the client's arguments
};

// A property schema: "type", then "enum" when `choices` is not empty, then "description".
nlohmann::ordered_json property(const char* type, const char* description, std::vector<std::string> choices = {});
