#include "json_value.h"

#include <charconv>
#include <cstdlib>

namespace kfp::client {

// Deep nesting would only come from a broken renderer; the limit keeps the recursion bounded.
constexpr int kMaxDepth = 64;

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}
  JsonParser(std::string_view text, std::string_view arrayKey,
             const std::function<bool(const JsonValue&)>* onElement)
      : text_(text), streamedKey_(arrayKey), onElement_(onElement) {}

  std::optional<JsonValue> parseDocument() {
    JsonValue value;
    skipSpace();
    if (!parseValue(value, 0)) return std::nullopt;
    skipSpace();
    if (pos_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  bool atEnd() const { return pos_ >= text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[pos_]; }

  void skipSpace() {
    while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
      ++pos_;
  }

  bool consume(std::string_view literal) {
    if (text_.substr(pos_, literal.size()) != literal) return false;
    pos_ += literal.size();
    return true;
  }

  bool parseValue(JsonValue& out, int depth) {
    if (depth > kMaxDepth) return false;
    switch (peek()) {
      case '{':
        return parseObject(out, depth);
      case '[':
        return parseArray(out, depth);
      case '"':
        out.kind_ = JsonValue::Kind::kString;
        return parseString(out.text_);
      case 't':
        out.kind_ = JsonValue::Kind::kBool;
        out.boolean_ = true;
        return consume("true");
      case 'f':
        out.kind_ = JsonValue::Kind::kBool;
        out.boolean_ = false;
        return consume("false");
      case 'n':
        out.kind_ = JsonValue::Kind::kNull;
        return consume("null");
      default:
        return parseNumber(out);
    }
  }

  bool parseObject(JsonValue& out, int depth) {
    out.kind_ = JsonValue::Kind::kObject;
    ++pos_;
    skipSpace();
    if (peek() == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      std::string key;
      skipSpace();
      if (peek() != '"' || !parseString(key)) return false;
      skipSpace();
      if (!consume(":")) return false;
      skipSpace();
      JsonValue member;
      const bool streamed = onElement_ && depth == 0 && key == streamedKey_ && peek() == '[';
      if (streamed ? !parseArray(member, depth + 1, true) : !parseValue(member, depth + 1)) {
        return false;
      }
      out.members_.emplace_back(std::move(key), std::move(member));
      skipSpace();
      if (consume("}")) return true;
      if (!consume(",")) return false;
    }
  }

  // With `stream`, each element goes to onElement_ as soon as it is parsed, through one reused
  // value, and is not kept.
  bool parseArray(JsonValue& out, int depth, bool stream = false) {
    out.kind_ = JsonValue::Kind::kArray;
    ++pos_;
    skipSpace();
    if (peek() == ']') {
      ++pos_;
      return true;
    }
    JsonValue element;
    for (;;) {
      skipSpace();
      element.reset();
      if (!parseValue(element, depth + 1)) return false;
      if (!stream) {
        out.elements_.push_back(std::move(element));
      } else if (!(*onElement_)(element)) {
        return false;
      }
      skipSpace();
      if (consume("]")) return true;
      if (!consume(",")) return false;
    }
  }

  bool parseNumber(JsonValue& out) {
    const size_t start = pos_;
    auto digits = [&] {
      const size_t from = pos_;
      while (!atEnd() && peek() >= '0' && peek() <= '9') ++pos_;
      return pos_ - from;
    };
    if (peek() == '-') ++pos_;
    if (peek() == '0') {
      ++pos_;
    } else if (digits() == 0) {
      return false;
    }
    if (peek() == '.') {
      ++pos_;
      if (digits() == 0) return false;
    }
    if (peek() == 'e' || peek() == 'E') {
      ++pos_;
      if (peek() == '+' || peek() == '-') ++pos_;
      if (digits() == 0) return false;
    }
    out.kind_ = JsonValue::Kind::kNumber;
    out.text_.assign(text_.substr(start, pos_ - start));
    return true;
  }

  bool parseHex4(uint32_t& unit) {
    if (pos_ + 4 > text_.size()) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      unit <<= 4;
      if (c >= '0' && c <= '9')
        unit |= uint32_t(c - '0');
      else if (c >= 'a' && c <= 'f')
        unit |= uint32_t(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        unit |= uint32_t(c - 'A' + 10);
      else
        return false;
    }
    return true;
  }

  static void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out.push_back(char(cp));
    } else if (cp < 0x800) {
      out.push_back(char(0xC0 | cp >> 6));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(char(0xE0 | cp >> 12));
      out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(char(0xF0 | cp >> 18));
      out.push_back(char(0x80 | (cp >> 12 & 0x3F)));
      out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    }
  }

  bool parseEscape(std::string& out) {
    const char c = text_[pos_++];
    switch (c) {
      case '"':
        out.push_back('"');
        return true;
      case '\\':
        out.push_back('\\');
        return true;
      case '/':
        out.push_back('/');
        return true;
      case 'b':
        out.push_back('\b');
        return true;
      case 'f':
        out.push_back('\f');
        return true;
      case 'n':
        out.push_back('\n');
        return true;
      case 'r':
        out.push_back('\r');
        return true;
      case 't':
        out.push_back('\t');
        return true;
      case 'u':
        break;
      default:
        return false;
    }
    uint32_t unit = 0;
    if (!parseHex4(unit)) return false;
    if (unit >= 0xD800 && unit < 0xDC00 && consume("\\u")) {
      uint32_t low = 0;
      if (!parseHex4(low)) return false;
      if (low >= 0xDC00 && low < 0xE000) {
        appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        return true;
      }
      appendUtf8(out, 0xFFFD);
      unit = low;
    }
    appendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
    return true;
  }

  bool parseString(std::string& out) {
    ++pos_;  // opening quote
    for (;;) {
      // Plain characters are taken a run at a time.
      const size_t run = pos_;
      while (!atEnd() && text_[pos_] != '"' && text_[pos_] != '\\' &&
             static_cast<unsigned char>(text_[pos_]) >= 0x20) {
        ++pos_;
      }
      out.append(text_.data() + run, pos_ - run);
      if (atEnd()) return false;
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (c != '\\' || atEnd() || !parseEscape(out)) return false;
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string_view streamedKey_;
  const std::function<bool(const JsonValue&)>* onElement_ = nullptr;
};

void JsonValue::reset() {
  kind_ = Kind::kNull;
  boolean_ = false;
  text_.clear();
  elements_.clear();
  members_.clear();
}

const JsonValue* JsonValue::find(std::string_view key) const {
  for (const auto& [name, value] : members_) {
    if (name == key) return &value;
  }
  return nullptr;
}

std::optional<bool> JsonValue::asBool() const {
  if (kind_ != Kind::kBool) return std::nullopt;
  return boolean_;
}

std::optional<double> JsonValue::asDouble() const {
  if (kind_ != Kind::kNumber) return std::nullopt;
  // from_chars reads the JSON number grammar the parser checked, whatever the C locale says;
  // beyond the double range strtod gives the infinity or zero.
  double value = 0;
  const char* end = text_.data() + text_.size();
  if (std::from_chars(text_.data(), end, value).ec == std::errc()) return value;
  return std::strtod(text_.c_str(), nullptr);
}

std::optional<uint64_t> JsonValue::asUnsigned() const {
  if (kind_ != Kind::kNumber) return std::nullopt;
  uint64_t value = 0;
  const char* end = text_.data() + text_.size();
  auto result = std::from_chars(text_.data(), end, value);
  if (result.ec != std::errc() || result.ptr != end) return std::nullopt;
  return value;
}

std::optional<std::string> JsonValue::asString() const {
  if (kind_ != Kind::kString) return std::nullopt;
  return text_;
}

std::optional<bool> JsonValue::boolAt(std::string_view key) const {
  const JsonValue* v = find(key);
  return v ? v->asBool() : std::nullopt;
}

std::optional<double> JsonValue::doubleAt(std::string_view key) const {
  const JsonValue* v = find(key);
  return v ? v->asDouble() : std::nullopt;
}

std::optional<uint64_t> JsonValue::unsignedAt(std::string_view key) const {
  const JsonValue* v = find(key);
  return v ? v->asUnsigned() : std::nullopt;
}

std::optional<std::string> JsonValue::stringAt(std::string_view key) const {
  const JsonValue* v = find(key);
  return v ? v->asString() : std::nullopt;
}

std::optional<JsonValue> parseJson(std::string_view text) {
  return JsonParser(text).parseDocument();
}

std::optional<JsonValue> parseJsonStreamingArray(
    std::string_view text, std::string_view arrayKey,
    const std::function<bool(const JsonValue&)>& onElement) {
  return JsonParser(text, arrayKey, &onElement).parseDocument();
}

}  // namespace kfp::client
