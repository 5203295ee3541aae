// Single-pass, non-recursive JSON parser that builds a JsonDocument.
//
// The UTF-8 text is decoded while it is parsed: structural characters are ASCII, so decoding only
// happens inside strings, and a non-ASCII byte anywhere else is a syntax error whatever it would
// decode to. The result is the same as decoding the whole text first and parsing the UTF-16.

#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

#include "base/json_document.h"
#include "base/utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kfp {

class JsonParser {
 public:
  explicit JsonParser(std::string_view utf8)
      : p_(reinterpret_cast<const unsigned char*>(utf8.data())), end_(p_ + utf8.size()) {}

  std::shared_ptr<const JsonDocument> run();

 private:
  using Kind = JsonDocument::Kind;
  using Node = JsonDocument::Node;

  struct Open {
    uint32_t node;
    uint32_t scratchStart;
    bool isObject;
  };

  [[noreturn]] static void fail() { throw JsonError(kJsonSyntaxError); }

  void skipWhitespace() noexcept {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }
  void expect(unsigned char c) {
    if (p_ == end_ || *p_ != c) fail();
    ++p_;
  }

  void openContainer(bool isObject);
  void closeContainer();
  // Decodes the string whose opening quote has been consumed into the arena; returns its offset
  // and sets `length`.
  uint32_t parseString(uint32_t& length);
  char16_t parseUnicodeEscape();
  double parseNumber();
  void parseLiteral(const char* word, size_t length);

  const unsigned char* p_;
  const unsigned char* const end_;
  std::shared_ptr<JsonDocument> doc_;
  char16_t* arenaEnd_ = nullptr;  // next free unit of the arena
  std::vector<Open> open_;
  std::vector<JsonDocument::Member> memberScratch_;
  std::vector<uint32_t> elementScratch_;
};

std::shared_ptr<const JsonDocument> JsonParser::run() {
  const size_t size = static_cast<size_t>(end_ - p_);
  // Offsets and indices are 32-bit; every byte yields at most one node and one arena unit.
  if (size >= std::numeric_limits<uint32_t>::max()) throw JsonError(kJsonTextTooLong);
  doc_ = std::make_shared<JsonDocument>();
  doc_->arena_.reset(new char16_t[size + 1]);
  arenaEnd_ = doc_->arena_.get();
  doc_->nodes_.reserve(size / 12 + 8);

  skipWhitespace();
  if (p_ == end_ || *p_ != '{') fail();
  ++p_;
  openContainer(true);
  bool justOpened = true;
  while (!open_.empty()) {
    const bool inObject = open_.back().isObject;
    skipWhitespace();
    if (p_ == end_) fail();
    if (*p_ == (inObject ? '}' : ']')) {
      ++p_;
      closeContainer();
      justOpened = false;
      continue;
    }
    if (!justOpened) {
      if (*p_ != ',') fail();
      ++p_;
      skipWhitespace();
    }
    const auto valueIndex = static_cast<uint32_t>(doc_->nodes_.size());
    if (inObject) {
      expect('"');
      uint32_t nameLength;
      const uint32_t nameOffset = parseString(nameLength);
      skipWhitespace();
      expect(':');
      skipWhitespace();
      memberScratch_.push_back({nameOffset, nameLength, valueIndex});
    } else {
      elementScratch_.push_back(valueIndex);
    }
    if (p_ == end_) fail();
    justOpened = false;
    switch (*p_) {
      case '{':
        ++p_;
        openContainer(true);
        justOpened = true;
        break;
      case '[':
        ++p_;
        openContainer(false);
        justOpened = true;
        break;
      case '"': {
        ++p_;
        uint32_t length;
        const uint32_t offset = parseString(length);
        doc_->nodes_.push_back({Kind::kString, length, offset});
        break;
      }
      case 't':
        parseLiteral("true", 4);
        doc_->nodes_.push_back({Kind::kTrue, 0, 0});
        break;
      case 'f':
        parseLiteral("false", 5);
        doc_->nodes_.push_back({Kind::kFalse, 0, 0});
        break;
      case 'n':
        parseLiteral("null", 4);
        doc_->nodes_.push_back({Kind::kNull, 0, 0});
        break;
      default:
        doc_->nodes_.push_back({Kind::kNumber, 0, std::bit_cast<uint64_t>(parseNumber())});
        break;
    }
  }
  skipWhitespace();
  if (p_ != end_) fail();
  return doc_;
}

void JsonParser::openContainer(bool isObject) {
  if (open_.size() >= kJsonMaxDepth) fail();
  const auto index = static_cast<uint32_t>(doc_->nodes_.size());
  doc_->nodes_.push_back({isObject ? Kind::kObject : Kind::kArray, 0, 0});
  const size_t start = isObject ? memberScratch_.size() : elementScratch_.size();
  open_.push_back({index, static_cast<uint32_t>(start), isObject});
}

void JsonParser::closeContainer() {
  const Open open = open_.back();
  open_.pop_back();
  Node& node = doc_->nodes_[open.node];
  if (open.isObject) {
    auto first = memberScratch_.begin() + open.scratchStart;
    node.count = static_cast<uint32_t>(memberScratch_.end() - first);
    node.payload = doc_->members_.size();
    doc_->members_.insert(doc_->members_.end(), first, memberScratch_.end());
    memberScratch_.erase(first, memberScratch_.end());
  } else {
    auto first = elementScratch_.begin() + open.scratchStart;
    node.count = static_cast<uint32_t>(elementScratch_.end() - first);
    node.payload = doc_->elements_.size();
    doc_->elements_.insert(doc_->elements_.end(), first, elementScratch_.end());
    elementScratch_.erase(first, elementScratch_.end());
  }
}

uint32_t JsonParser::parseString(uint32_t& length) {
  char16_t* const arena = doc_->arena_.get();
  char16_t* out = arenaEnd_;
  for (;;) {
#if defined(__SSE2__)
    // Sixteen plain ASCII bytes at a time. The widened units are stored before the check: units
    // written never outnumber bytes read, so the arena (one unit per input byte) has room for them.
    while (end_ - p_ >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_));
      const __m128i zero = _mm_setzero_si128();
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, zero));
      // Signed compare: bytes >= 0x80 are negative, so this catches controls and non-ASCII.
      const __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')),
                                                        _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))),
                                           _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
      if (mask == 0) {
        p_ += 16;
        out += 16;
        continue;
      }
      const int plain = __builtin_ctz(mask);
      p_ += plain;
      out += plain;
      break;
    }
#endif
    if (p_ == end_) fail();
    const unsigned char c = *p_;
    if (c == '"') {
      ++p_;
      break;
    }
    if (c == '\\') {
      ++p_;
      if (p_ == end_) fail();
      switch (*p_++) {
        case '"':
          *out++ = u'"';
          break;
        case '\\':
          *out++ = u'\\';
          break;
        case '/':
          *out++ = u'/';
          break;
        case 'b':
          *out++ = u'\b';
          break;
        case 'f':
          *out++ = u'\f';
          break;
        case 'n':
          *out++ = u'\n';
          break;
        case 'r':
          *out++ = u'\r';
          break;
        case 't':
          *out++ = u'\t';
          break;
        // Each escape is one unit: lone and reversed surrogates stay exactly as written.
        case 'u':
          *out++ = parseUnicodeEscape();
          break;
        default:
          fail();
      }
    } else if (c < 0x20) {
      fail();
    } else if (c < 0x80) {
      *out++ = c;
      ++p_;
    } else {
      p_ = decodeUtf8NonAscii(p_, end_, out);
    }
  }
  const auto offset = static_cast<uint32_t>(arenaEnd_ - arena);
  length = static_cast<uint32_t>(out - arenaEnd_);
  arenaEnd_ = out;
  return offset;
}

char16_t JsonParser::parseUnicodeEscape() {
  if (end_ - p_ < 4) fail();
  unsigned value = 0;
  for (int i = 0; i < 4; ++i) {
    const unsigned c = *p_++;
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
      digit = (c | 0x20) - 'a' + 10;
    } else {
      fail();
    }
    value = value * 16 + digit;
  }
  return static_cast<char16_t>(value);
}

void JsonParser::parseLiteral(const char* word, size_t length) {
  if (static_cast<size_t>(end_ - p_) < length || std::memcmp(p_, word, length) != 0) fail();
  p_ += length;
}

double JsonParser::parseNumber() {
  const unsigned char* const start = p_;
  auto isDigit = [this] { return p_ != end_ && *p_ >= '0' && *p_ <= '9'; };
  const bool negative = p_ != end_ && *p_ == '-';
  if (negative) ++p_;
  if (!isDigit()) fail();
  uint64_t integer = 0;
  const unsigned char* const integerStart = p_;
  if (*p_ == '0') {
    ++p_;
  } else {
    while (isDigit()) integer = integer * 10 + (*p_++ - '0');  // wraps harmlessly when long
  }
  const auto integerDigits = static_cast<size_t>(p_ - integerStart);
  bool plainInteger = true;
  if (p_ != end_ && *p_ == '.') {
    ++p_;
    if (!isDigit()) fail();
    while (isDigit()) ++p_;
    plainInteger = false;
  }
  if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
    ++p_;
    if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
    if (!isDigit()) fail();
    while (isDigit()) ++p_;
    plainInteger = false;
  }
  // Up to 15 digits an integer is exact as a double.
  if (plainInteger && integerDigits <= 15) {
    const auto value = static_cast<double>(integer);
    return negative ? -value : value;
  }

  double value = 0;
  const auto* first = reinterpret_cast<const char*>(start);
  const auto* last = reinterpret_cast<const char*>(p_);
  const auto result = std::from_chars(first, last, value);
  if (result.ec == std::errc() && result.ptr == last) return value;
  if (result.ec != std::errc::result_out_of_range) fail();
  // Out of range: beyond DBL_MAX or closer to zero than half the smallest subnormal. Which one
  // follows from the sign of the decimal exponent of the first significant digit.
  int64_t leading = 0;
  bool found = false;
  bool inFraction = false;
  int64_t fractionDigits = 0;
  const unsigned char* q = start + (negative ? 1 : 0);
  for (; q != p_ && *q != 'e' && *q != 'E'; ++q) {
    if (*q == '.') {
      inFraction = true;
    } else if (inFraction) {
      ++fractionDigits;
      if (!found && *q != '0') {
        found = true;
        leading = -fractionDigits;
      }
    } else if (!found && *q != '0') {
      found = true;
      leading = static_cast<int64_t>(integerDigits) - (q - integerStart) - 1;
    }
  }
  int64_t exponent = 0;
  if (q != p_) {
    ++q;
    const bool negativeExponent = *q == '-';
    if (*q == '+' || *q == '-') ++q;
    for (; q != p_; ++q) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (*q - '0');
    }
    if (negativeExponent) exponent = -exponent;
  }
  if (!found) fail();  // a zero is never out of range
  if (leading + exponent >= 0) throw JsonError(kJsonNumberTooLarge);
  return negative ? -0.0 : 0.0;
}

std::shared_ptr<const JsonDocument> JsonDocument::parse(std::string_view utf8) {
  return JsonParser(utf8).run();
}

}  // namespace kfp
