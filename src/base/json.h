#pragma once
// Strict reader for request JSON.
//
// The whole text is validated and decoded into one flat document before any field is read. Strings
// are UTF-16 (malformed UTF-8 becomes U+FFFD; \u escapes of lone surrogates are kept as they are).
// Only an object is accepted at the root. Read operations follow two styles: named number and named
// string reads never raise and fall back to a default; named array and element reads raise
// JsonError when the member is missing or has another type.
//
// Beyond RFC 8259, which is otherwise followed to the letter (no comments, no trailing commas, no
// byte order mark, no raw control characters in strings, nothing after the root):
// - Duplicate member names are accepted; the last one wins.
// - A number whose magnitude rounds to infinity fails the parse; one that underflows reads as the
//   nearest double (a subnormal or a zero of the same sign). Conversion is correctly rounded.
// - Containers nest at most kJsonMaxDepth deep (the root counts); deeper text fails the parse.
//   Parsing does not recurse, the limit only bounds what readers that walk the tree must handle.
// - A non-ASCII byte outside a string fails the parse (it could only decode to a character that
//   JSON does not allow there). An empty text fails like any other non-object.

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kfp {

constexpr uint32_t kJsonMaxDepth = 512;

// The reader's one way to fail: it raises JsonError with one of these codes, and the message loop
// answers any of them with INVALID_JSON. Running out of memory raises std::bad_alloc instead.
using HResult = int32_t;
constexpr HResult kJsonSyntaxError = static_cast<HResult>(0x83750007u);     // not one JSON object
constexpr HResult kJsonNumberTooLarge = static_cast<HResult>(0x83750008u);  // rounds to infinity
constexpr HResult kJsonTextTooLong = static_cast<HResult>(0x80070057u);     // 4 GiB or more
constexpr HResult kJsonWrongType = static_cast<HResult>(0x8000000Eu);
constexpr HResult kJsonIndexOutOfRange = static_cast<HResult>(0x8000000Bu);

class JsonError : public std::exception {
 public:
  explicit JsonError(HResult code) : code_(code) {}
  HResult code() const noexcept { return code_; }
  const char* what() const noexcept override { return "invalid JSON"; }

 private:
  HResult code_;
};

class JsonDocument;
class JsonArray;

// A handle to an object inside a document. Cheap to copy; valid while its document lives.
class JsonObject {
 public:
  // Parses UTF-8 text whose root must be an object; raises JsonError otherwise.
  static JsonObject parse(std::string_view utf8);
  // An object without members.
  static JsonObject empty();

  // The member's number, or `fallback` when it is missing or not a number.
  double getNamedNumber(std::u16string_view name, double fallback) const noexcept;
  // The member's string, or the empty string when it is missing or not a string.
  std::u16string getNamedString(std::u16string_view name) const;
  // The member's array, or nothing when it is missing or not an array.
  std::optional<JsonArray> findNamedArray(std::u16string_view name) const noexcept;

 private:
  friend class JsonArray;
  friend class JsonDocument;
  JsonObject(std::shared_ptr<const JsonDocument> doc, uint32_t node)
      : doc_(std::move(doc)), node_(node) {}
  std::shared_ptr<const JsonDocument> doc_;
  uint32_t node_ = 0;
};

// A handle to an array inside a document.
class JsonArray {
 public:
  uint32_t size() const noexcept;
  // Element i as an object; raises JsonError for another type or an index out of range.
  JsonObject objectAt(uint32_t index) const;
  // Element i as an object, string or number, or nothing for another type or an index out of
  // range: readers skip such elements, hostile input may hold millions of them, and a raised read
  // costs microseconds.
  std::optional<JsonObject> findObjectAt(uint32_t index) const noexcept;
  std::optional<std::u16string> findStringAt(uint32_t index) const;
  std::optional<double> findNumberAt(uint32_t index) const noexcept;

 private:
  friend class JsonObject;
  JsonArray(std::shared_ptr<const JsonDocument> doc, uint32_t node)
      : doc_(std::move(doc)), node_(node) {}
  std::shared_ptr<const JsonDocument> doc_;
  uint32_t node_ = 0;
};

}  // namespace kfp
