#pragma once
// A small JSON reader for reply texts. Replies are flat and short, so a plain tree is enough;
// numbers keep their text so that 64-bit identifiers survive beyond 2^53.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kfp::client {

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  Kind kind() const { return kind_; }
  bool isObject() const { return kind_ == Kind::kObject; }
  bool isArray() const { return kind_ == Kind::kArray; }

  // Member lookup on an object; null when absent or when this is not an object.
  const JsonValue* find(std::string_view key) const;
  const std::vector<JsonValue>& elements() const { return elements_; }
  const std::vector<std::pair<std::string, JsonValue>>& members() const { return members_; }

  std::optional<bool> asBool() const;
  std::optional<double> asDouble() const;
  // Only for a number written as plain decimal digits that fits in 64 bits.
  std::optional<uint64_t> asUnsigned() const;
  // UTF-8; \u escapes decoded, a lone surrogate escape becomes U+FFFD.
  std::optional<std::string> asString() const;

  // Typed member reads, empty when the member is absent or of another kind.
  std::optional<bool> boolAt(std::string_view key) const;
  std::optional<double> doubleAt(std::string_view key) const;
  std::optional<uint64_t> unsignedAt(std::string_view key) const;
  std::optional<std::string> stringAt(std::string_view key) const;

 private:
  friend class JsonParser;
  // Empty again, keeping the capacity of its containers for the next value parsed into it.
  void reset();
  Kind kind_ = Kind::kNull;
  bool boolean_ = false;
  std::string text_;  // a string's decoded UTF-8, or a number's literal text
  std::vector<JsonValue> elements_;
  std::vector<std::pair<std::string, JsonValue>> members_;
};

// One complete JSON value, optionally surrounded by whitespace; empty on any syntax error.
std::optional<JsonValue> parseJson(std::string_view text);

// The same for a document whose top-level object holds a large array under `arrayKey`: each of its
// elements is handed to `onElement` as soon as it is parsed and then dropped, so that a reply with
// thousands of elements is decoded without a tree of all of them. The returned object keeps the
// other members and an empty array under `arrayKey`. Empty on a syntax error, or when `onElement`
// returns false.
std::optional<JsonValue> parseJsonStreamingArray(
    std::string_view text, std::string_view arrayKey,
    const std::function<bool(const JsonValue&)>& onElement);

}  // namespace kfp::client
