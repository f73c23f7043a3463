#include <cstdio>
#include <cstring>

#include "sav3/container.h"
#include "sav3/device.h"
#include "sav3/legacy_file.h"

namespace sav3 {

namespace {

// Whole records of `size` bytes that fit in a view, at most `count`.
std::size_t records_that_fit(std::size_t bytes, int size, int count) {
  if (size <= 0 || count <= 0) return 0;
  const std::size_t fit = bytes / static_cast<std::size_t>(size);
  return fit < static_cast<std::size_t>(count) ? fit : static_cast<std::size_t>(count);
}

}  // namespace

std::uint8_t checksum8(ConstBytes bytes) {
  std::uint8_t sum = 0;
  for (std::uint8_t b : bytes) sum = static_cast<std::uint8_t>(sum + b);
  return static_cast<std::uint8_t>(-sum);
}

void make_header(std::uint8_t (&out)[header::size], ConstBytes payload, int size, int count) {
  Bytes h(out);
  for (auto& b : h) b = 0;
  h[header::magic] = header::magic_value;
  h[header::payload_checksum] = checksum8(payload);
  write32le(h, header::record_size, static_cast<std::uint32_t>(size));
  write32le(h, header::record_count, static_cast<std::uint32_t>(count));
  h[header::header_checksum] = checksum8(slice(ConstBytes(h), 0, header::unchecked));
}

FileResult write_headed_file(const char* path, ConstBytes data, int size, int count) {
  const std::size_t records = records_that_fit(data.size(), size, count);
  const bool whole = count <= 0 || records == static_cast<std::size_t>(count);
  const ConstBytes payload = slice(data, 0, records * static_cast<std::size_t>(size > 0 ? size : 0));

  std::uint8_t head[header::size];
  make_header(head, payload, size, count);

  std::FILE* f = open_device_file(path, "w");
  if (f == nullptr) return FileResult::open_failed;
  if (std::fwrite(head, sizeof head, 1, f) != 1) {
    std::fclose(f);
    return FileResult::header_failed;
  }
  std::size_t written = 0;
  if (records != 0) written = std::fwrite(payload.data(), static_cast<std::size_t>(size), records, f);
  // A full disk often shows only when the buffered bytes reach it: a failed
  // flush or close is a failed payload write, never a success.
  const bool flushed = std::fflush(f) == 0;
  const bool closed = std::fclose(f) == 0;
  if (!whole || written != records || !flushed || !closed) return FileResult::payload_failed;
  return FileResult::ok;
}

FileResult read_headed_file(const char* path, Bytes buffer, int size, int count) {
  std::FILE* f = open_legacy_file(path);
  if (f == nullptr) return FileResult::open_failed;
  std::uint8_t head[header::size];
  if (std::fread(head, sizeof head, 1, f) != 1) {
    close_legacy_file(f, path);
    return FileResult::header_failed;
  }
  const std::size_t records = records_that_fit(buffer.size(), size, count);
  std::size_t got = 0;
  if (records != 0) got = std::fread(buffer.data(), static_cast<std::size_t>(size), records, f);
  close_legacy_file(f, path);
  if (count > 0 && got != static_cast<std::size_t>(count)) return FileResult::payload_failed;
  return FileResult::ok;
}

namespace {

// The one plain read: how many bytes it delivered in `got`.
FileResult read_plain(const char* path, Bytes buffer, int size, int count, std::size_t& got) {
  got = 0;
  std::FILE* f = open_legacy_file(path);
  if (f == nullptr) return FileResult::open_failed;
  const std::size_t records = records_that_fit(buffer.size(), size, count);
  // One read; a short file leaves the rest of the buffer as it was.
  if (records != 0) got = std::fread(buffer.data(), 1, records * static_cast<std::size_t>(size), f);
  close_legacy_file(f, path);
  return FileResult::ok;
}

}  // namespace

FileResult read_plain_record(const char* path, Bytes buffer, int size, int count) {
  std::size_t got = 0;
  return read_plain(path, buffer, size, count, got);
}

FileResult read_plain_record_filled(const char* path, Bytes buffer, int size, int count) {
  std::size_t got = 0;
  const FileResult result = read_plain(path, buffer, size, count, got);
  if (got < buffer.size()) std::memset(buffer.data() + got, 0, buffer.size() - got);
  return result;
}

void read_plain_record_if_present(const char* path, Bytes buffer, int size, int count) {
  static_cast<void>(read_plain_record(path, buffer, size, count));
}

void read_plain_record_filled_if_present(const char* path, Bytes buffer, int size, int count) {
  static_cast<void>(read_plain_record_filled(path, buffer, size, count));
}

void read_headed_file_if_present(const char* path, Bytes buffer, int size, int count) {
  static_cast<void>(read_headed_file(path, buffer, size, count));
}

HeaderCheck check_header(ConstBytes file) {
  namespace problem = header_problem;
  HeaderCheck c;
  c.length = file.size();
  if (file.size() < static_cast<std::size_t>(header::size)) {
    c.problems |= problem::short_header;
    return c;
  }
  c.magic = file[header::magic];
  c.payload_sum = file[header::payload_checksum];
  c.size = read32le(file, header::record_size);
  c.count = read32le(file, header::record_count);
  c.byte_28 = file[header::unchecked];
  c.header_sum = file[header::header_checksum];
  c.header_need = checksum8(slice(file, 0, header::unchecked));
  if (c.magic != header::magic_value) c.problems |= problem::magic;
  // Bytes 0..27 and 29 add up to 0 when the header checksum holds.
  if (c.header_sum != c.header_need) c.problems |= problem::header_checksum;
  if (c.byte_28 != 0) c.problems |= problem::byte_28;
  for (std::size_t i = header::record_count + 4; i < header::unchecked; ++i)
    if (file[i] != 0) c.problems |= problem::reserved_header;
  const ConstBytes payload = slice(file, header::size, file.size());
  c.payload_need = checksum8(payload);
  if (c.length < c.expected_length())
    c.problems |= problem::truncated;
  else if (c.length > c.expected_length())
    c.problems |= problem::trailing;
  else if (c.payload_sum != c.payload_need)
    c.problems |= problem::payload_checksum;
  return c;
}

}  // namespace sav3
