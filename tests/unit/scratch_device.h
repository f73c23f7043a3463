// A scratch device tree for unit tests: a temporary folder that stands for "/"
// while the test runs. Legacy files are put in place by device path and new
// files are read back the same way.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sav3/container.h"
#include "sav3/device.h"
#include "sav3/legacy_time.h"

namespace sav3 {
// gtest shows a file result by its code.
inline void PrintTo(FileResult r, std::ostream* os) { *os << code(r); }
}  // namespace sav3

namespace sav3::testing {

class ScratchDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/sav3-test-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    root_ = templ;
    set_device_root(root_.c_str());
    for (const char* d :
         {"/usr/sav3/data", "/usr/sav3/cfg", "/usr/sav3/etc", "/usr/sav3/history", "/mnt/1/cfg", "/mnt/1/etc",
          "/usr/sav/data", "/usr/sav/cfg", "/usr/sav2", "/mnt/2/tools"})
      std::filesystem::create_directories(root_ + d);
  }
  void TearDown() override {
    set_device_root(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  std::string host(const std::string& device_path) const { return root_ + device_path; }

  // Writes a legacy file (binary record or text) at a device path.
  void put_file(const std::string& device_path, const std::vector<std::uint8_t>& bytes) const {
    std::filesystem::create_directories(std::filesystem::path(host(device_path)).parent_path());
    std::ofstream out(host(device_path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void put_text_file(const std::string& device_path, const std::string& text) const {
    put_file(device_path, std::vector<std::uint8_t>(text.begin(), text.end()));
  }

  bool exists(const std::string& device_path) const { return std::filesystem::exists(host(device_path)); }

  // The whole file at a device path (empty when missing).
  std::vector<std::uint8_t> file_bytes(const std::string& device_path) const {
    std::ifstream in(host(device_path), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // The payload of a headed record file after checking its header: magic,
  // both checksums, record size and count, and the file length.
  std::vector<std::uint8_t> headed_payload(const std::string& device_path, std::uint32_t size,
                                           std::uint32_t count) const {
    std::vector<std::uint8_t> file = file_bytes(device_path);
    EXPECT_EQ(file.size(), header::size + std::size_t{size} * count) << device_path;
    if (file.size() < static_cast<std::size_t>(header::size)) return {};
    EXPECT_EQ(file[header::magic], header::magic_value) << device_path;
    EXPECT_EQ(read32le(file, header::record_size), size) << device_path;
    EXPECT_EQ(read32le(file, header::record_count), count) << device_path;
    EXPECT_EQ(file[header::unchecked], 0) << device_path;
    std::uint8_t head_sum = 0;
    for (int i = 0; i < header::size; ++i) head_sum = static_cast<std::uint8_t>(head_sum + file[i]);
    EXPECT_EQ(head_sum, 0) << device_path << ": header checksum";
    std::uint8_t payload_sum = file[header::payload_checksum];
    for (std::size_t i = header::size; i < file.size(); ++i)
      payload_sum = static_cast<std::uint8_t>(payload_sum + file[i]);
    EXPECT_EQ(payload_sum, 0) << device_path << ": payload checksum";
    return std::vector<std::uint8_t>(file.begin() + header::size, file.end());
  }

  std::string root_;
};

// A legacy record of fixed size with named setters for its fields.
struct LegacyRecord {
  explicit LegacyRecord(std::size_t size) : bytes(size, 0) {}
  LegacyRecord& f32(std::size_t off, float v) {
    write_f32le(bytes, off, v);
    return *this;
  }
  LegacyRecord& u8(std::size_t off, std::uint8_t v) {
    write8(bytes, off, v);
    return *this;
  }
  LegacyRecord& u16(std::size_t off, std::uint16_t v) {
    write16le(bytes, off, v);
    return *this;
  }
  LegacyRecord& u32(std::size_t off, std::uint32_t v) {
    write32le(bytes, off, v);
    return *this;
  }
  // Text with its NUL (when it fits); the bytes after it are left as they are.
  LegacyRecord& text(std::size_t off, const std::string& t) {
    for (std::size_t i = 0; i <= t.size() && off + i < bytes.size(); ++i)
      bytes[off + i] = i < t.size() ? static_cast<std::uint8_t>(t[i]) : 0;
    return *this;
  }
  // Text without terminator (raw bytes).
  LegacyRecord& raw(std::size_t off, const std::string& t) {
    for (std::size_t i = 0; i < t.size() && off + i < bytes.size(); ++i)
      bytes[off + i] = static_cast<std::uint8_t>(t[i]);
    return *this;
  }
  std::vector<std::uint8_t> bytes;
};

// Sets TZ for the length of a scope (timestamps are local times). The
// remembered times belong to the zone, so they are forgotten at both ends.
class ZoneScope {
 public:
  // nullptr: TZ unset.
  explicit ZoneScope(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (zone != nullptr)
      setenv("TZ", zone, 1);
    else
      unsetenv("TZ");
    tzset();
    forget_legacy_times();
  }
  ~ZoneScope() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    forget_legacy_times();
  }

 private:
  bool had_ = false;
  std::string old_;
};

}  // namespace sav3::testing
