// The headed record file: the one container of every file the tool writes.
//
// A 30-byte header (magic 0x88, payload checksum, record size, record count,
// header checksum) followed by `count` records of `size` bytes. Legacy files
// are headerless and read with read_plain_record into a zero-filled buffer, so
// whatever a missing or short file does not supply stays zero.
#pragma once

#include <cstdint>

#include "sav3/bytes.h"

namespace sav3 {

namespace header {
inline constexpr int size = 30;
inline constexpr std::uint8_t magic_value = 0x88;
inline constexpr std::size_t magic = 0;
inline constexpr std::size_t payload_checksum = 1;
inline constexpr std::size_t record_size = 2;
inline constexpr std::size_t record_count = 6;
inline constexpr std::size_t unchecked = 28;  // zero, not covered by the header checksum
inline constexpr std::size_t header_checksum = 29;
}  // namespace header

// The outcome of a file operation. The numbers are the operations' result
// codes, and a conversion returns the code of its first failed write (the
// driver replaces the live trees only when every conversion returned 0).
enum class [[nodiscard]] FileResult : int{
    ok = 0,
    open_failed = 1,
    header_failed = 2,
    payload_failed = 3,
};

constexpr int code(FileResult r) { return static_cast<int>(r); }

// The first failure of writes made one after the other (ok when none failed).
constexpr FileResult first_failure(FileResult first, FileResult second) {
  return first != FileResult::ok ? first : second;
}

// The result codes that conversions return.
namespace result {
inline constexpr int ok = code(FileResult::ok);
inline constexpr int open_failed = code(FileResult::open_failed);
inline constexpr int header_failed = code(FileResult::header_failed);
inline constexpr int payload_failed = code(FileResult::payload_failed);
}  // namespace result

// The two's complement of the 8-bit sum of the bytes.
std::uint8_t checksum8(ConstBytes bytes);

// Fills a 30-byte header for a payload of `count` records of `size` bytes.
void make_header(std::uint8_t (&out)[header::size], ConstBytes payload, int size, int count);

// ok written; open_failed; header_failed; payload_failed: not written, flushed
// or closed (a full disk often shows only at the close). `data` must hold
// size x count bytes; a smaller view fails and writes nothing past it.
FileResult write_headed_file(const char* path, ConstBytes data, int size, int count);

// ok read; open_failed; header_failed: no full header (buffer untouched);
// payload_failed: fewer than `count` records (the buffer holds what was read).
// The header is not checked (check_header does that).
FileResult read_headed_file(const char* path, Bytes buffer, int size, int count);

// ok: opened and read once, however much that delivered; open_failed. The
// buffer is not cleared: the caller zero-fills it first.
FileResult read_plain_record(const char* path, Bytes buffer, int size, int count);

// read_plain_record that fills the whole buffer: the bytes read, then zeros
// (all zeros when the file cannot be opened). For buffers that are reused
// without being zero-filled first (the histories' work area).
FileResult read_plain_record_filled(const char* path, Bytes buffer, int size, int count);

// The reads of files that may be missing on purpose: a legacy file the old
// firmware did not write, or a short one, leaves zeros, and the conversion
// goes on with them.
void read_plain_record_if_present(const char* path, Bytes buffer, int size, int count);
void read_plain_record_filled_if_present(const char* path, Bytes buffer, int size, int count);
void read_headed_file_if_present(const char* path, Bytes buffer, int size, int count);

// ---------------------------------------------------------------------------
// The check of a whole headed record file, as its reader in the new firmware
// would make it: what the writer guarantees, bit by bit.

namespace header_problem {
inline constexpr std::uint32_t short_header = 1u << 0;      // fewer than 30 bytes
inline constexpr std::uint32_t magic = 1u << 1;             // byte 0 is not 0x88
inline constexpr std::uint32_t header_checksum = 1u << 2;   // bytes 0..27 and 29 do not add up to 0
inline constexpr std::uint32_t byte_28 = 1u << 3;           // byte 28 is not 0
inline constexpr std::uint32_t reserved_header = 1u << 4;   // bytes 10..27 are not all 0
inline constexpr std::uint32_t truncated = 1u << 5;         // shorter than 30 + size x count
inline constexpr std::uint32_t trailing = 1u << 6;          // longer than 30 + size x count
inline constexpr std::uint32_t payload_checksum = 1u << 7;  // payload and byte 1 do not add up to 0
inline constexpr std::uint32_t count = 8;
}  // namespace header_problem

struct HeaderCheck {
  std::uint32_t problems = 0;  // header_problem:: bits
  std::uint64_t length = 0;    // of the whole file
  std::uint32_t size = 0;      // record size as stored
  std::uint32_t count = 0;     // record count as stored
  std::uint8_t magic = 0;
  std::uint8_t header_sum = 0;    // stored byte 29
  std::uint8_t header_need = 0;   // what bytes 0..27 need at 29
  std::uint8_t payload_sum = 0;   // stored byte 1
  std::uint8_t payload_need = 0;  // what the payload present needs at byte 1
  std::uint8_t byte_28 = 0;
  std::uint64_t expected_length() const { return header::size + std::uint64_t{size} * count; }
};

// Checks the bytes of a whole file: magic, both checksums, byte 28, the
// reserved bytes, and the length against the stored size x count.
HeaderCheck check_header(ConstBytes file);

}  // namespace sav3
