// The headed and plain readers on any file: never a read past the buffer, and
// the result codes agree with the file's length.
#include "fuzz_device.h"

using namespace sav3;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Splitter in{{data, size}};
  const int record_size = 1 + in.byte() % 64;
  const int count = in.byte() % 8;
  in.place("/usr/sav3/data/device");

  static std::uint8_t buffer[64 * 8];
  const std::size_t want = static_cast<std::size_t>(record_size) * static_cast<std::size_t>(count);
  struct stat st {};
  const bool present = stat(host_path("/usr/sav3/data/device"), &st) == 0;

  const FileResult headed = read_headed_file("/usr/sav3/data/device", buffer, record_size, count);
  const FileResult plain = read_plain_record("/usr/sav3/data/device", buffer, record_size, count);
  if (!present) {
    if (headed != FileResult::open_failed || plain != FileResult::open_failed) std::abort();
    return 0;
  }
  const std::size_t length = static_cast<std::size_t>(st.st_size);
  const FileResult expected = length < header::size                   ? FileResult::header_failed
                              : length - header::size < want && count ? FileResult::payload_failed
                                                                      : FileResult::ok;
  if (headed != expected || plain != FileResult::ok) std::abort();
  return 0;
}
