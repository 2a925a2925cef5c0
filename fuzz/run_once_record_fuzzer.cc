// Feeds arbitrary bytes to the run-once record reader, both as decompressed
// record text and as gzip data through the same decompressor the program
// uses, and checks what every accepted key must look like.
#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/filter/gzip.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "runcontrol/run_once_record.h"

// White space as the C locale classifies it (a NUL byte is not).
static bool IsSpace(char c) { return std::memchr(" \t\n\r\v\f", c, 6) != nullptr; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace io = boost::iostreams;
  const char* bytes = reinterpret_cast<const char*>(data);
  std::istringstream text(std::string(bytes, size));
  io::filtering_istream gzip;
  gzip.push(io::gzip_decompressor(io::gzip::default_window_bits, 4096), 4096);
  gzip.push(io::array_source(bytes, size), 4096);
  for (std::istream* in : {static_cast<std::istream*>(&text), static_cast<std::istream*>(&gzip)}) {
    std::set<std::string> keys;
    bootcrank::ReadRunOnceRecord(*in, keys);
    for (const std::string& key : keys) {
      if (key.empty() || key.find(',') != std::string::npos || IsSpace(key.front()) ||
          IsSpace(key.back())) {
        abort();
      }
    }
  }
  return 0;
}
