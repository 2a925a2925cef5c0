// Every event of a JSON parser as a line of text, to compare our scanner with
// nlohmann's parser (the unit tests and the boot_record fuzzer).
#ifndef BOOTCRANK_TESTS_ANALYZE_SAX_LOG_H_
#define BOOTCRANK_TESTS_ANALYZE_SAX_LOG_H_

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "analyze/json_scanner.h"

namespace bootcrank {
namespace analyze {

struct SaxLog : nlohmann::json_sax<nlohmann::json> {
  std::string log;
  bool Add(const std::string& line) { return log += line + '\n', true; }
  bool null() override { return Add("null"); }
  bool boolean(bool b) override { return Add(b ? "true" : "false"); }
  bool number_integer(number_integer_t n) override { return Add("int " + std::to_string(n)); }
  bool number_unsigned(number_unsigned_t n) override { return Add("uint " + std::to_string(n)); }
  bool number_float(number_float_t n, const string_t& s) override {
    char text[64];
    snprintf(text, sizeof text, "%.17g", n);
    return Add("float " + std::string(text) + " " + s);
  }
  bool string(string_t& s) override { return Add("string " + s); }
  bool binary(binary_t&) override { return Add("binary"); }
  bool start_object(std::size_t) override { return Add("{"); }
  bool key(string_t& k) override { return Add("key " + k); }
  bool end_object() override { return Add("}"); }
  bool start_array(std::size_t) override { return Add("["); }
  bool end_array() override { return Add("]"); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return Refuse();
  }
  bool Refuse() { return log.insert(0, "error\n"), false; }
};

// The events of `text`, after a first line "error" where the parser refuses it
// (no event's line is that).
inline std::string NlohmannEvents(const std::string& text) {
  SaxLog sax;
  nlohmann::json::sax_parse(text.begin(), text.end(), &sax);
  return sax.log;
}
inline std::string ScannerEvents(const std::string& text) {
  SaxLog sax;
  try {
    ScanJson(text.data(), text.data() + text.size(), &sax);
  } catch (const JsonSyntaxError&) {
    sax.Refuse();
  }
  return sax.log;
}
inline bool Refused(const std::string& events) { return events.rfind("error\n", 0) == 0; }

}  // namespace analyze
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_ANALYZE_SAX_LOG_H_
