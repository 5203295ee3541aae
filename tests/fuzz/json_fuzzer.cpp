// Parses arbitrary bytes as request JSON and, when they parse, performs every read operation on
// every member and element found, checking that the reads agree with each other.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/json.h"
#include "base/json_document.h"
#include "base/utf8.h"

namespace {

using kfp::JsonArray;
using kfp::JsonError;
using kfp::JsonObject;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

void walkObject(const JsonObject& object);

void walkArray(const JsonArray& array) {
  const uint32_t size = array.size();
  for (uint32_t i = 0; i <= size; ++i) {
    int succeeded = 0;
    int outOfRange = 0;
    auto attempt = [&](auto&& read) {
      try {
        read();
        ++succeeded;
      } catch (const JsonError& e) {
        check(e.code() == kfp::kJsonWrongType || e.code() == kfp::kJsonIndexOutOfRange);
        if (e.code() == kfp::kJsonIndexOutOfRange) ++outOfRange;
      }
    };
    attempt([&] { walkObject(array.objectAt(i)); });
    const bool isString = array.findStringAt(i).has_value();
    const std::optional<double> number = array.findNumberAt(i);
    check(!number || !std::isnan(*number));
    succeeded += int(isString) + int(number.has_value());
    if (i < size) {
      check(succeeded <= 1 && outOfRange == 0);
    } else {
      check(succeeded == 0 && outOfRange == 1);
    }
  }
}

void readMember(const JsonObject& object, std::u16string_view name, bool present) {
  const double number = object.getNamedNumber(name, NAN);
  const double other = object.getNamedNumber(name, 1.5);
  const bool isNumber = !std::isnan(number);
  check(isNumber ? other == number : other == 1.5);
  object.getNamedString(name);
  const std::optional<JsonArray> array = object.findNamedArray(name);
  if (array) {
    check(present && !isNumber);
    walkArray(*array);
  }
}

void walkObject(const JsonObject& object) {
  const auto& doc = kfp::JsonDocument::documentOf(object);
  const auto& node = doc.node(kfp::JsonDocument::nodeOf(object));
  const auto* members = doc.membersOf(node);
  for (uint32_t i = 0; i < node.count; ++i) readMember(object, doc.memberName(members[i]), true);
  if (node.count == 0) readMember(object, u"fonts", false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::vector<char16_t> units(size + 1);
  check(kfp::utf8ToUtf16(text, units.data()) <= size);

  try {
    const JsonObject root = JsonObject::parse(text);
    const size_t first = text.find_first_not_of(" \t\r\n");
    check(first != std::string_view::npos && text[first] == '{');
    walkObject(root);
  } catch (const JsonError& e) {
    check(e.code() == kfp::kJsonSyntaxError || e.code() == kfp::kJsonNumberTooLarge);
  }
  return 0;
}
