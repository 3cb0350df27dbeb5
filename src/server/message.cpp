#include "server/message.hpp"

#include <vector>

#include "server/output.hpp"

using nlohmann::json;

namespace {

// Builds the value as nlohmann's own parser would (a repeated key keeps its last value), but
// refuses nesting past the bound as soon as it is reached, and keeps the text of a number
// given as the top-level "id".
class Builder {
 public:
  Builder(json& root, std::string& idText) : root_(root), idText_(idText) {}

  bool null() { return put(nullptr); }
  bool boolean(bool value) { return put(value); }
  bool number_integer(json::number_integer_t value) { return put(value); }
  bool number_unsigned(json::number_unsigned_t value) { return put(value); }
  // Integers beyond 64 bits arrive here too, as the nearest double; `text` is what was written.
  bool number_float(json::number_float_t value, const std::string& text) {
    if (idNext_) idText_ = text;
    return put(value);
  }
  // The parser hands its buffer over to be moved from: a string of many megabytes is not copied.
  bool string(std::string& value) { return put(std::move(value)); }
  bool binary(json::binary_t&) { return false; }
  bool start_object(std::size_t) { return open(json::object()); }
  bool start_array(std::size_t) { return open(json::array()); }
  bool key(std::string& name) {
    idNext_ = open_.size() == 1 && name == "id";
    key_ = std::move(name);
    return true;
  }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool parse_error(std::size_t, const std::string&, const json::exception&) { return false; }

 private:
  json& place(json&& value) {
    if (idNext_) {
      idNext_ = false;
      if (!value.is_number_float()) idText_.clear();  // a later "id" replaced an earlier one
    }
    if (open_.empty()) {
      root_ = std::move(value);
      return root_;
    }
    json& parent = *open_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(value));
      return parent.back();
    }
    json& slot = parent[key_];
    slot = std::move(value);
    return slot;
  }
  bool put(json&& value) {
    place(std::move(value));
    return true;
  }
  // A container's parent only grows once the container is closed, so the pointer stays valid.
  bool open(json&& container) {
    if (open_.size() >= maxNesting) return false;
    open_.push_back(&place(std::move(container)));
    return true;
  }
  bool close() {
    open_.pop_back();
    return true;
  }

  json& root_;
  std::string& idText_;
  std::vector<json*> open_;  // the containers being filled, outermost first
  std::string key_;          // the key the next value of the innermost object goes under
  bool idNext_ = false;      // the next value is the top-level "id"
};

}  // namespace

std::optional<Message> parseMessage(std::string_view line) {
  // JSON text never holds a raw NUL, and the parser would take one for the end of the input,
  // passing "{...}\0anything" as the object alone.
  if (line.find('\0') != std::string_view::npos) return std::nullopt;
  Message message;
  std::string idText;
  Builder builder(message.body, idText);
  if (!json::sax_parse(line.data(), line.data() + line.size(), &builder) || !message.body.is_object()) {
    return std::nullopt;
  }
  const auto id = message.body.find("id");
  if (id != message.body.end()) message.id = idText.empty() ? serialise(*id) : std::move(idText);
  return message;
}
