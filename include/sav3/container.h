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

// Result codes of the three operations.
namespace result {
inline constexpr int ok = 0;
inline constexpr int open_failed = 1;
inline constexpr int header_failed = 2;
inline constexpr int payload_failed = 3;
}  // namespace result

// The two's complement of the 8-bit sum of the bytes.
std::uint8_t checksum8(ConstBytes bytes);

// Fills a 30-byte header for a payload of `count` records of `size` bytes.
void make_header(std::uint8_t (&out)[header::size], ConstBytes payload, int size, int count);

// 0 written; 1 could not open; 2 header not written; 3 payload not written,
// flushed or closed (a full disk often shows only at the close). `data` must
// hold size x count bytes; a smaller view gives 3 and writes nothing past it.
int write_headed_file(const char* path, ConstBytes data, int size, int count);

// 0 read; 1 could not open; 2 no full header (buffer untouched); 3 fewer than
// `count` records (the buffer holds what was read). The header is not checked.
int read_headed_file(const char* path, Bytes buffer, int size, int count);

// 0 opened and read once, however much that delivered; 1 could not open. The
// buffer is not cleared: the caller zero-fills it first.
int read_plain_record(const char* path, Bytes buffer, int size, int count);

// read_plain_record that fills the whole buffer: the bytes read, then zeros
// (all zeros when the file cannot be opened). For buffers that are reused
// without being zero-filled first (the histories' work area).
int read_plain_record_filled(const char* path, Bytes buffer, int size, int count);

}  // namespace sav3
