#include "analyze/json_scanner.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace bootcrank {
namespace analyze {

namespace {

const int kMaxDepth = 512;

class Scanner {
 public:
  Scanner(const char* begin, const char* end, nlohmann::json_sax<nlohmann::json>* sax)
      : begin_(begin), p_(begin), end_(end), sax_(sax), skipper_(dynamic_cast<SkippingSax*>(sax)) {}

  bool Run() {
    if (!Value(0)) return false;
    SkipSpace();
    if (p_ != end_) Fail("unexpected content after the JSON value");
    return true;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw JsonSyntaxError(static_cast<size_t>(p_ - begin_), what);
  }

  void SkipSpace() {
    while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
  }

  // The next non-blank byte, which must exist.
  char Peek() {
    SkipSpace();
    if (p_ == end_) Fail("unexpected end of input");
    return *p_;
  }

  bool Value(int depth) {
    switch (Peek()) {
      case '{': return Object(depth + 1);
      case '[': return Array(depth + 1);
      case '"': String(); return sax_->string(text_);
      case 't': Literal("true"); return sax_->boolean(true);
      case 'f': Literal("false"); return sax_->boolean(false);
      case 'n': Literal("null"); return sax_->null();
      default: return Number();
    }
  }

  bool Object(int depth) {
    if (depth > kMaxDepth) Fail("nested deeper than 512 levels");
    ++p_;
    if (!sax_->start_object(static_cast<size_t>(-1))) return false;
    if (Peek() == '}') {
      ++p_;
      return sax_->end_object();
    }
    for (;;) {
      if (Peek() != '"') Fail("expected a member name in double quotes");
      String();
      if (!sax_->key(text_)) return false;
      if (Peek() != ':') Fail("expected ':' after a member name");
      ++p_;
      if (skipper_ != nullptr && skipper_->SkipValue())
        Skip();
      else if (!Value(depth))
        return false;
      char c = Peek();
      ++p_;
      if (c == '}') return sax_->end_object();
      if (c != ',') {
        --p_;
        Fail("expected ',' or '}' in an object");
      }
    }
  }

  bool Array(int depth) {
    if (depth > kMaxDepth) Fail("nested deeper than 512 levels");
    ++p_;
    if (!sax_->start_array(static_cast<size_t>(-1))) return false;
    if (Peek() == ']') {
      ++p_;
      return sax_->end_array();
    }
    for (;;) {
      if (!Value(depth)) return false;
      char c = Peek();
      ++p_;
      if (c == ']') return sax_->end_array();
      if (c != ',') {
        --p_;
        Fail("expected ',' or ']' in an array");
      }
    }
  }

  void Literal(const char* word) {
    size_t n = strlen(word);
    if (static_cast<size_t>(end_ - p_) < n || memcmp(p_, word, n) != 0) Fail("invalid literal");
    p_ += n;
  }

  static int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // Four hex digits after "\u".
  unsigned Code() {
    if (end_ - p_ < 4) Fail("incomplete \\u escape");
    unsigned code = 0;
    for (int i = 0; i < 4; ++i) {
      int h = Hex(*p_++);
      if (h < 0) Fail("invalid \\u escape");
      code = code * 16 + static_cast<unsigned>(h);
    }
    return code;
  }

  void Append(unsigned code) {
    if (code < 0x80) {
      text_ += static_cast<char>(code);
    } else if (code < 0x800) {
      text_ += static_cast<char>(0xC0 | (code >> 6));
      text_ += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      text_ += static_cast<char>(0xE0 | (code >> 12));
      text_ += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      text_ += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      text_ += static_cast<char>(0xF0 | (code >> 18));
      text_ += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      text_ += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      text_ += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // One UTF-8 sequence starting at p_ (a byte of 0x80 or more), validated
  // as RFC 3629 has it: no overlong forms, no surrogates, nothing above
  // U+10FFFF.
  void Utf8() {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(p_);
    size_t left = static_cast<size_t>(end_ - p_);
    unsigned char c = s[0];
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
      n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
      n = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      Fail("invalid UTF-8 in a string");
    }
    if (left < n || s[1] < lo || s[1] > hi) Fail("invalid UTF-8 in a string");
    for (size_t i = 2; i < n; ++i)
      if (s[i] < 0x80 || s[i] > 0xBF) Fail("invalid UTF-8 in a string");
    text_.append(p_, n);
    p_ += n;
  }

  // A string starting at the opening quote, into text_.
  void String() {
    ++p_;
    text_.clear();
    for (;;) {
      const char* run = p_;
      while (p_ != end_) {
        unsigned char c = static_cast<unsigned char>(*p_);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
        ++p_;
      }
      text_.append(run, p_);
      if (p_ == end_) Fail("unterminated string");
      unsigned char c = static_cast<unsigned char>(*p_);
      if (c == '"') {
        ++p_;
        return;
      }
      if (c < 0x20) Fail("control character in a string");
      if (c >= 0x80) {
        Utf8();
        continue;
      }
      ++p_;  // the backslash
      if (p_ == end_) Fail("unterminated string");
      switch (*p_++) {
        case '"': text_ += '"'; break;
        case '\\': text_ += '\\'; break;
        case '/': text_ += '/'; break;
        case 'b': text_ += '\b'; break;
        case 'f': text_ += '\f'; break;
        case 'n': text_ += '\n'; break;
        case 'r': text_ += '\r'; break;
        case 't': text_ += '\t'; break;
        case 'u': {
          unsigned code = Code();
          if (code >= 0xD800 && code <= 0xDBFF) {
            if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u')
              Fail("unpaired surrogate in a \\u escape");
            p_ += 2;
            unsigned low = Code();
            if (low < 0xDC00 || low > 0xDFFF) Fail("unpaired surrogate in a \\u escape");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            Fail("unpaired surrogate in a \\u escape");
          }
          Append(code);
          break;
        }
        default: --p_; Fail("invalid escape in a string");
      }
    }
  }

  // Passes over one value: a string to its closing quote, a container to
  // its matching bracket, anything else to the next delimiter.
  void Skip() {
    Peek();
    const char* start = p_;
    int depth = 0;
    char open[kMaxDepth + 1];  // the closing bracket each open one needs
    for (;;) {
      if (p_ == end_) {
        if (depth > 0) Fail("unexpected end of input");
        break;
      }
      char c = *p_;
      if (c == '"') {
        SkipString();
        if (depth == 0) return;
      } else if (c == '{' || c == '[') {
        if (depth == kMaxDepth) Fail("nested deeper than 512 levels");
        open[depth++] = c == '{' ? '}' : ']';
        ++p_;
      } else if (c == '}' || c == ']') {
        if (depth == 0) break;  // the end of the enclosing object
        if (open[depth - 1] != c) Fail("mismatched bracket");
        ++p_;
        if (--depth == 0) return;
      } else if (depth == 0 && (c == ',' || c == ' ' || c == '\n' || c == '\r' || c == '\t')) {
        break;  // the end of a number or literal
      } else {
        ++p_;
      }
    }
    if (p_ == start) Fail("invalid value");
  }

  // From an opening quote past its closing quote.
  void SkipString() {
    ++p_;
    for (;;) {
      const char* q = static_cast<const char*>(memchr(p_, '"', static_cast<size_t>(end_ - p_)));
      if (q == nullptr) {
        p_ = end_;
        Fail("unterminated string");
      }
      const char* b = q;
      while (b > p_ && b[-1] == '\\') --b;
      p_ = q + 1;
      if ((q - b) % 2 == 0) return;  // an even run of backslashes escapes nothing
    }
  }

  bool Digit() const { return p_ != end_ && *p_ >= '0' && *p_ <= '9'; }

  bool Number() {
    const char* start = p_;
    bool negative = false;
    if (*p_ == '-') {
      negative = true;
      ++p_;
    }
    if (!Digit()) Fail("invalid value");
    uint64_t value = 0;
    bool overflow = false;
    if (*p_ == '0') {
      ++p_;
    } else {
      while (Digit()) {
        unsigned d = static_cast<unsigned>(*p_++ - '0');
        if (value > (UINT64_MAX - d) / 10)
          overflow = true;
        else
          value = value * 10 + d;
      }
    }
    bool real = false;
    if (p_ != end_ && *p_ == '.') {
      real = true;
      ++p_;
      if (!Digit()) Fail("invalid number");
      while (Digit()) ++p_;
    }
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      real = true;
      ++p_;
      if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (!Digit()) Fail("invalid number");
      while (Digit()) ++p_;
    }
    if (!real && !overflow) {
      if (!negative) return sax_->number_unsigned(value);
      if (value <= static_cast<uint64_t>(INT64_MAX) + 1)
        return sax_->number_integer(value == static_cast<uint64_t>(INT64_MAX) + 1
                                        ? INT64_MIN
                                        : -static_cast<int64_t>(value));
    }
    std::string literal(start, p_);
    double number = strtod(literal.c_str(), nullptr);
    if (!std::isfinite(number)) {
      p_ = start;
      Fail("number out of range");
    }
    return sax_->number_float(number, literal);
  }

  const char* begin_;
  const char* p_;
  const char* end_;
  nlohmann::json_sax<nlohmann::json>* sax_;
  SkippingSax* skipper_;  // sax_ when it can skip values, else null
  std::string text_;      // the current string or member name
};

}  // namespace

bool ScanJson(const char* begin, const char* end, nlohmann::json_sax<nlohmann::json>* sax) {
  return Scanner(begin, end, sax).Run();
}

}  // namespace analyze
}  // namespace bootcrank
