#pragma once
// The parsed form behind JsonObject and JsonArray: one flat, immutable document.
//
// Values are nodes in one vector; strings (member names included) live in one UTF-16 arena;
// container children are index ranges into two vectors, filled when the container closes, so that
// element i of an array and the members of an object are found without walking subtrees.

#include <bit>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "base/json.h"

namespace kfp {

class JsonDocument {
 public:
  enum class Kind : uint8_t { kNull, kFalse, kTrue, kNumber, kString, kArray, kObject };

  struct Node {
    Kind kind;
    // String: length in units. Array: element count. Object: member count.
    uint32_t count;
    // Number: the double's bits. String: arena offset. Array/object: first index in
    // elements/members.
    uint64_t payload;
  };

  struct Member {
    uint32_t nameOffset;
    uint32_t nameLength;
    uint32_t value;
  };

  // Raises JsonError when `utf8` is not one JSON object.
  static std::shared_ptr<const JsonDocument> parse(std::string_view utf8);
  // A document whose root is an object without members (shared; never modified).
  static const std::shared_ptr<const JsonDocument>& emptyObject();

  static constexpr uint32_t kRoot = 0;

  const Node& node(uint32_t index) const noexcept { return nodes_[index]; }
  double number(const Node& n) const noexcept { return std::bit_cast<double>(n.payload); }
  std::u16string_view string(const Node& n) const noexcept {
    return {arena_.get() + n.payload, n.count};
  }
  std::u16string_view memberName(const Member& m) const noexcept {
    return {arena_.get() + m.nameOffset, m.nameLength};
  }
  const Member* membersOf(const Node& object) const noexcept {
    return members_.data() + object.payload;
  }
  uint32_t elementOf(const Node& array, uint32_t index) const noexcept {
    return elements_[array.payload + index];
  }
  // The node of the last member called `name`, or nullptr.
  const Node* findMember(uint32_t object, std::u16string_view name) const noexcept;

  // Access to a handle's position, for tests and the fuzzer that walk every member.
  static const JsonDocument& documentOf(const JsonObject& o) noexcept { return *o.doc_; }
  static uint32_t nodeOf(const JsonObject& o) noexcept { return o.node_; }

 private:
  friend class JsonParser;

  std::vector<Node> nodes_;
  std::vector<Member> members_;
  std::vector<uint32_t> elements_;
  std::unique_ptr<char16_t[]> arena_;
};

}  // namespace kfp
