#include "runcontrol/run_once_record.h"

#include <boost/iostreams/device/back_inserter.hpp>
#include <boost/iostreams/device/file_descriptor.hpp>
#include <boost/iostreams/filter/gzip.hpp>
#include <boost/iostreams/filtering_stream.hpp>
#include <cstring>

#include "host/error_text.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/open_file.h"
#include "host/replace_file.h"

namespace bootcrank {
namespace {

namespace io = boost::iostreams;

const char kPrefix[] = "bootcrank.run-once=";
const size_t kPrefixLength = sizeof kPrefix - 1;  // 19
const std::streamsize kFilterBuffer = 4096;
// White space as the C locale classifies it.
const char kSpace[] = " \t\n\r\v\f";

std::string Trimmed(const std::string& piece) {
  size_t first = piece.find_first_not_of(kSpace);
  if (first == std::string::npos) return std::string();
  size_t last = piece.find_last_not_of(kSpace);
  return piece.substr(first, last - first + 1);
}

}  // namespace

void ReadRunOnceRecord(std::istream& in, std::set<std::string>& runOnceSet) {
  try {
    char head[32] = {0};
    in.read(head, kPrefixLength);
    if (std::memcmp(head, kPrefix, kPrefixLength) != 0) return;
    // The keys count only once the whole record has been read without an
    // error: a gzip stream proves itself intact (check sum, length) only at
    // its end, after every key has already come out of it.
    std::set<std::string> keys;
    std::string piece;
    while (std::getline(in, piece, ',')) {
      std::string key = Trimmed(piece);
      if (!key.empty()) keys.insert(key);
    }
    if (in.bad()) return;
    runOnceSet.insert(keys.begin(), keys.end());
  } catch (...) {
    // A damaged record counts as no record.
  }
}

void ReadRunOnceRecord(std::set<std::string>& runOnceSet) {
  try {
    std::string path = host::HostPath(host::kRunOnceRecordPath);
    int fd = host::OpenRegularFile(path);
    if (fd < 0) return;
    io::filtering_istream in;
    in.push(io::gzip_decompressor(io::gzip::default_window_bits, kFilterBuffer), kFilterBuffer);
    in.push(io::file_descriptor_source(fd, io::close_handle), kFilterBuffer);
    ReadRunOnceRecord(in, runOnceSet);
  } catch (...) {
    // Reading never reports: a record that cannot be read adds nothing.
  }
}

void WriteRunOnceRecord(const std::set<std::string>& runOnceSet) {
  // Compress in memory first: a failure of the compression layer propagates
  // before the old record is touched, and every write to the file is checked
  // here instead of vanishing in a stream destructor.
  std::string compressed;
  {
    io::gzip_params params(io::gzip::default_compression, io::gzip::deflated,
                           io::gzip::default_window_bits, io::gzip::default_mem_level,
                           io::gzip::default_strategy, "", "", 0);
    io::filtering_ostream out;
    out.push(io::gzip_compressor(params, kFilterBuffer), kFilterBuffer);
    out.push(io::back_inserter(compressed), kFilterBuffer);
    out.exceptions(std::ios_base::badbit | std::ios_base::failbit);
    out << kPrefix;
    for (const std::string& key : runOnceSet) out << key << ",";
    out << "\n";
    out.pop();  // closes the compressor, which writes the gzip trailer
  }

  std::string path = host::HostPath(host::kRunOnceRecordPath);
  // A killed run may have left its temporary file; this run is the only one.
  host::RemoveLeftoverTemporaries(path);
  // Written beside the record and renamed over it: a full boot bank or a
  // crash leaves the old record whole. A link at the record's place (ELOOP)
  // or a FIFO nobody reads (ENXIO) is refused like an unusable file.
  host::FileReplacement record;
  host::FileReplacement::Step failed;
  int modeError = 0;
  int error = record.Begin(path, 0666, host::FileReplacement::Destination::kFixedFile);
  if (error == 0) error = record.Write(compressed.data(), compressed.size());
  if (error == 0) error = record.Commit(&failed, &modeError);
  if (error != 0) {
    Log_Level(kLogWarning, "unable to write run-once record (%s): %s.\n", path.c_str(),
              host::ErrorText(error).c_str());
  }
}

}  // namespace bootcrank
