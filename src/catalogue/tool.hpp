#pragma once
// One tool of the catalogue: what the client sees, and the command it becomes for the app.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct Tool {
  std::string name;         // as the client calls it, e.g. "list_targets"
  std::string command;      // the path it is posted to, e.g. "targets"
  std::string description;  // published word for word
  nlohmann::json properties = nlohmann::json::object();  // property name -> property schema
  std::vector<std::string> required;
  nlohmann::json fixed = nlohmann::json::object();  // written over the client's arguments
};

// A property schema: "type" and "description", and "enum" when `choices` is not empty.
nlohmann::json property(const char* type, const char* description, std::vector<std::string> choices = {});
