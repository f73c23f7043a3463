#include <sys/stat.h>

#include "sav3/legacy_file.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

using Container = ScratchDevice;

TEST_F(Container, WorkedExampleTwoOneByteRecords) {
  const std::uint8_t payload[] = {0x01, 0x02};
  ASSERT_EQ(write_headed_file("/usr/sav3/data/x", payload, 1, 2), FileResult::ok);
  std::vector<std::uint8_t> expected(32, 0);
  expected[0] = 0x88;
  expected[1] = 0xFD;
  expected[2] = 0x01;
  expected[6] = 0x02;
  expected[29] = 0x78;
  expected[30] = 0x01;
  expected[31] = 0x02;
  EXPECT_EQ(file_bytes("/usr/sav3/data/x"), expected);
}

TEST_F(Container, EmptyPayloadGivesBareHeader) {
  ASSERT_EQ(write_headed_file("/usr/sav3/data/empty", {}, 38, 0), FileResult::ok);
  auto file = file_bytes("/usr/sav3/data/empty");
  ASSERT_EQ(file.size(), 30u);
  EXPECT_EQ(file[header::payload_checksum], 0);
  EXPECT_EQ(read32le(file, header::record_size), 38u);
  EXPECT_EQ(read32le(file, header::record_count), 0u);
  headed_payload("/usr/sav3/data/empty", 38, 0);
}

TEST_F(Container, ChecksumsHoldForLargePayload) {
  std::vector<std::uint8_t> data(640 * 1000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
  ASSERT_EQ(write_headed_file("/usr/sav3/history/alarm", data, 640, 1000), FileResult::ok);
  EXPECT_EQ(headed_payload("/usr/sav3/history/alarm", 640, 1000), data);
}

TEST_F(Container, MissingDirectoryGivesOpenFailureAndCreatesNothing) {
  const std::uint8_t payload[] = {1};
  EXPECT_EQ(write_headed_file("/usr/nowhere/port0", payload, 1, 1), FileResult::open_failed);
  EXPECT_FALSE(exists("/usr/nowhere"));
}

TEST_F(Container, FullDiskShowsAsPayloadFailure) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  set_device_root(nullptr);
  std::vector<std::uint8_t> data(100, 1);
  // The header fits the stdio buffer; the failure surfaces at flush or close.
  EXPECT_EQ(write_headed_file("/dev/full", data, 10, 10), FileResult::payload_failed);
}

TEST_F(Container, PayloadViewTooSmallIsAFailureNotAnOverread) {
  const std::uint8_t payload[] = {1, 2, 3};
  EXPECT_EQ(write_headed_file("/usr/sav3/data/short", payload, 2, 2), FileResult::payload_failed);
}

TEST_F(Container, HeadedReaderResults) {
  std::uint8_t buf[4] = {9, 9, 9, 9};
  EXPECT_EQ(read_headed_file("/usr/sav3/data/none", buf, 4, 1), FileResult::open_failed);

  put_file("/usr/sav3/data/tiny", std::vector<std::uint8_t>(29, 0x88));
  EXPECT_EQ(read_headed_file("/usr/sav3/data/tiny", buf, 4, 1), FileResult::header_failed);
  EXPECT_EQ(buf[0], 9) << "a short header leaves the buffer untouched";

  // Wrong magic and checksums, but full length: read without complaint.
  std::vector<std::uint8_t> damaged(34, 0x55);
  damaged[30] = 1;
  damaged[33] = 4;
  put_file("/usr/sav3/data/damaged", damaged);
  EXPECT_EQ(read_headed_file("/usr/sav3/data/damaged", buf, 4, 1), FileResult::ok);
  EXPECT_EQ(buf[3], 4);

  std::vector<std::uint8_t> shorter(35, 7);  // one record of 4 and one byte of the next
  put_file("/usr/sav3/data/shorter", shorter);
  std::uint8_t two[8] = {};
  EXPECT_EQ(read_headed_file("/usr/sav3/data/shorter", two, 4, 2), FileResult::payload_failed);
  EXPECT_EQ(two[0], 7);
}

TEST_F(Container, PlainReaderKeepsCallersZeros) {
  std::uint8_t buf[6] = {};
  EXPECT_EQ(read_plain_record("/mnt/1/cfg/missing", buf, 6, 1), FileResult::open_failed);
  EXPECT_EQ(buf[0], 0);

  put_file("/mnt/1/cfg/short", {1, 2, 3});
  EXPECT_EQ(read_plain_record("/mnt/1/cfg/short", buf, 6, 1), FileResult::ok);
  EXPECT_EQ((std::vector<std::uint8_t>(buf, buf + 6)), (std::vector<std::uint8_t>{1, 2, 3, 0, 0, 0}));

  std::uint8_t exact[4] = {};
  put_file("/mnt/1/cfg/long", {1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(read_plain_record("/mnt/1/cfg/long", exact, 2, 2), FileResult::ok);
  EXPECT_EQ(exact[3], 4);

  // What exists but is no regular file is never opened (a FIFO would block
  // the boot) and is a read failure of the run; a missing file is not.
  forget_read_failures();
  EXPECT_EQ(read_plain_record("/mnt/1/cfg/missing", buf, 6, 1), FileResult::open_failed);
  EXPECT_EQ(first_read_failure().error, 0);
  ASSERT_EQ(mkfifo(host("/mnt/1/cfg/fifo").c_str(), 0600), 0);
  std::uint8_t dir_buf[4] = {};
  for (const char* odd : {"/mnt/1/cfg", "/mnt/1/cfg/fifo"}) {
    EXPECT_EQ(read_plain_record(odd, dir_buf, 4, 1), FileResult::open_failed) << odd;
    EXPECT_EQ(dir_buf[0], 0);
  }
  EXPECT_STREQ(first_read_failure().path, "/mnt/1/cfg");
  EXPECT_EQ(first_read_failure().error, EISDIR);
  forget_read_failures();
}

// What the writer makes passes the check; each kind of damage to it is named
// by its own bit, and only by it (the header checksum covers bytes 0..27).
TEST_F(Container, HeaderCheckNamesEachDamage) {
  const std::uint8_t payload[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  ASSERT_EQ(write_headed_file("/usr/sav3/data/x", payload, 3, 2), FileResult::ok);
  const std::vector<std::uint8_t> good = file_bytes("/usr/sav3/data/x");
  const HeaderCheck check = check_header(good);
  EXPECT_EQ(check.problems, 0u);
  EXPECT_EQ(check.size, 3u);
  EXPECT_EQ(check.count, 2u);
  EXPECT_EQ(check.expected_length(), good.size());

  namespace p = header_problem;
  struct Case {
    const char* what;
    std::size_t at;  // the byte changed, or the new length when `resize`
    bool resize;
    std::uint32_t problems;
  } cases[] = {
      {"payload byte", 33, false, p::payload_checksum},
      {"wrong magic", 0, false, p::magic | p::header_checksum},
      {"payload checksum byte", 1, false, p::header_checksum | p::payload_checksum},
      {"record size", 2, false, p::header_checksum | p::trailing},
      {"record count", 6, false, p::header_checksum | p::truncated},
      {"reserved byte", 27, false, p::header_checksum | p::reserved_header},
      {"byte 28", 28, false, p::byte_28},
      {"header checksum byte", 29, false, p::header_checksum},
      {"one byte short", 35, true, p::truncated},
      {"one byte over", 37, true, p::trailing},
      {"no whole header", 29, true, p::short_header},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> b = good;
    if (c.resize)
      b.resize(c.at);
    else
      b[c.at] ^= 0x01;
    EXPECT_EQ(check_header(b).problems, c.problems) << c.what;
  }
}

// The filling reader leaves nothing of what the buffer held: the bytes read,
// then zeros.
TEST_F(Container, FillingPlainReaderZeroesWhatItDoesNotRead) {
  put_file("/mnt/1/cfg/long", {1, 2, 3, 4, 5, 6, 7, 8});
  struct Case {
    const char* path;
    int size, count;
    FileResult result;
    std::vector<std::uint8_t> expected;
  } cases[] = {
      {"/mnt/1/cfg/missing", 2, 2, FileResult::open_failed, {0, 0, 0, 0, 0}},
      {"/mnt/1/cfg/long", 2, 2, FileResult::ok, {1, 2, 3, 4, 0}},
      {"/mnt/1/cfg/long", 2, 3, FileResult::ok, {1, 2, 3, 4, 0}},  // the buffer holds two records
      {"/mnt/1/cfg/long", 5, 1, FileResult::ok, {1, 2, 3, 4, 5}},
      {"/mnt/1/cfg", 1, 5, FileResult::open_failed, {0, 0, 0, 0, 0}},  // a folder is never opened
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> buf(5, 0xEE);
    EXPECT_EQ(read_plain_record_filled(c.path, buf, c.size, c.count), c.result) << c.path;
    EXPECT_EQ(buf, c.expected) << c.path << " " << c.size << " x " << c.count;
  }
}

}  // namespace
}  // namespace sav3::testing
