#include "sav3/settings_tcpip.h"

#include "scratch_device.h"

namespace sav3::testing {
namespace {

using TcpIp = ScratchDevice;

std::vector<std::uint8_t> field_bytes(const std::vector<std::uint8_t>& rec, const Field& f) {
  return std::vector<std::uint8_t>(rec.begin() + f.offset, rec.begin() + f.offset + f.width);
}

// The field's exact bytes: the text, then zeros up to the width.
std::vector<std::uint8_t> padded(const std::string& text, std::size_t width) {
  std::vector<std::uint8_t> out(width, 0);
  for (std::size_t i = 0; i < text.size() && i < width; ++i) out[i] = static_cast<std::uint8_t>(text[i]);
  return out;
}

// ipcfg with the given physical lines, each ended by a newline.
std::string ipcfg_of(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) {
    text += l;
    text += '\n';
  }
  return text;
}

std::vector<std::string> numbered_lines() {
  std::vector<std::string> lines;
  for (int i = 1; i <= 18; ++i) lines.push_back(std::string("L").append(std::to_string(i)));
  return lines;
}

TEST_F(TcpIp, AllLegacyFilesMissing) {
  ASSERT_EQ(convert_tcpip_settings(), result::ok);
  std::vector<std::uint8_t> expected(tcpip::record_size, 0);
  // An all-zero msm record still gives its three numbers as the text 0.
  expected[tcpip::msm_number_a.offset] = '0';
  expected[tcpip::msm_number_b.offset] = '0';
  expected[tcpip::msm_number_c.offset] = '0';
  EXPECT_EQ(headed_payload(tcpip::path, tcpip::record_size, 1), expected);
}

TEST_F(TcpIp, NetworkLinesByPosition) {
  std::vector<std::string> lines = numbered_lines();
  lines[0] = "192.168.100.200/24";  // 18 characters into 16
  lines[5] = std::string(40, 'h');
  lines[7] = "300";
  lines[8] = "abcdefgh";
  lines[9] = "TENTH";
  lines[10] = "ELEVENTH";
  lines[11] = "Enable HTTP";
  lines[13] = "wxyz-fourteen";
  lines[17] = "r\r";  // a carriage return is kept
  put_text_file(legacy_ipcfg::path, ipcfg_of(lines));
  ASSERT_EQ(convert_tcpip_settings(), result::ok);
  auto rec = headed_payload(tcpip::path, tcpip::record_size, 1);
  EXPECT_EQ(field_bytes(rec, tcpip::line1), padded("192.168.100.200/", 16)) << "no terminator when full";
  EXPECT_EQ(field_bytes(rec, tcpip::line2), padded("L2", 16));
  EXPECT_EQ(field_bytes(rec, tcpip::line3), padded("L3", 16));
  EXPECT_EQ(field_bytes(rec, tcpip::line4), padded("L4", 16));
  EXPECT_EQ(field_bytes(rec, tcpip::line5), padded("L5", 16));
  EXPECT_EQ(field_bytes(rec, tcpip::line6), padded(std::string(30, 'h'), 30));
  EXPECT_EQ(field_bytes(rec, tcpip::line7), padded("L7", 60));
  EXPECT_EQ(get(rec, tcpip::line8_number), 44u);
  EXPECT_EQ(field_bytes(rec, tcpip::line9), padded("abcdef", 6));
  EXPECT_EQ(get(rec, tcpip::http_flag), 0u);
  EXPECT_EQ(field_bytes(rec, tcpip::line13), padded("L13", 60));
  EXPECT_EQ(field_bytes(rec, tcpip::line14_head), padded("wxyz", 4));
  EXPECT_EQ(field_bytes(rec, tcpip::line14), padded("wxyz-fourteen", 60));
  EXPECT_EQ(field_bytes(rec, tcpip::line15), padded("L15", 60));
  EXPECT_EQ(field_bytes(rec, tcpip::line16), padded("L16", 60));
  EXPECT_EQ(field_bytes(rec, tcpip::line17), padded("L17", 60));
  EXPECT_EQ(field_bytes(rec, tcpip::line18), padded("r\r", 6));
  const std::string all(rec.begin(), rec.end());
  EXPECT_EQ(all.find("TENTH"), std::string::npos);
  EXPECT_EQ(all.find("ELEVENTH"), std::string::npos);
  for (const Field& f : tcpip::fields) {
    if (f.kind == Kind::reserved) {
      EXPECT_EQ(field_bytes(rec, f), padded("", f.width)) << f.offset;
    }
  }
}

TEST_F(TcpIp, OnlyTheExactEnableHttpClearsTheFlag) {
  struct Case {
    std::string line12;
    unsigned flag;
  };
  for (const Case& c :
       {Case{"Enable HTTP", 0}, Case{"enable http", 1}, Case{"Enable HTTPS", 1}, Case{"Enable HTTP ", 1},
        Case{"Enable HTTP\r", 1}, Case{"", 1}, Case{" Enable HTTP", 1}}) {
    std::vector<std::string> lines = numbered_lines();
    lines[11] = c.line12;
    put_text_file(legacy_ipcfg::path, ipcfg_of(lines));
    convert_tcpip_settings();
    EXPECT_EQ(get(headed_payload(tcpip::path, tcpip::record_size, 1), tcpip::http_flag), c.flag)
        << '"' << c.line12 << '"';
  }
  // The last line of the file may lack its newline.
  put_text_file(legacy_ipcfg::path,
                ipcfg_of({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}) + "Enable HTTP");
  convert_tcpip_settings();
  EXPECT_EQ(get(headed_payload(tcpip::path, tcpip::record_size, 1), tcpip::http_flag), 0u);
  // A file that ends before line 12: the missing line differs.
  put_text_file(legacy_ipcfg::path, ipcfg_of({"a", "b", "c"}));
  convert_tcpip_settings();
  auto rec = headed_payload(tcpip::path, tcpip::record_size, 1);
  EXPECT_EQ(get(rec, tcpip::http_flag), 1u);
  EXPECT_EQ(get_text(rec, tcpip::line3), "c");
  EXPECT_EQ(get_text(rec, tcpip::line4), "");
  // An empty file opens: every line reads empty and the flag is set.
  put_text_file(legacy_ipcfg::path, "");
  convert_tcpip_settings();
  EXPECT_EQ(get(headed_payload(tcpip::path, tcpip::record_size, 1), tcpip::http_flag), 1u);
}

TEST_F(TcpIp, LongLinesShiftTheLaterLines) {
  for (std::size_t length : {127u, 130u, 200u}) {
    // Physical line 3 is too long for one read, so its tail becomes line 4
    // and physical line 11 lands on line 12.
    std::vector<std::string> lines = numbered_lines();
    lines[2] = std::string(length, 'x');
    lines[10] = "Enable HTTP";
    lines[11] = "Disable HTTP";
    lines[6] = "7";
    lines[7] = "8";
    put_text_file(legacy_ipcfg::path, ipcfg_of(lines));
    ASSERT_EQ(convert_tcpip_settings(), result::ok);
    auto rec = headed_payload(tcpip::path, tcpip::record_size, 1);
    EXPECT_EQ(field_bytes(rec, tcpip::line3), padded(std::string(16, 'x'), 16)) << length;
    EXPECT_EQ(get_text(rec, tcpip::line4), std::string(std::min<std::size_t>(length - 127, 16), 'x'))
        << length;
    EXPECT_EQ(get_text(rec, tcpip::line5), "L4") << length;
    EXPECT_EQ(get(rec, tcpip::line8_number), 7u) << length;
    EXPECT_EQ(get(rec, tcpip::http_flag), 0u) << length;
    EXPECT_EQ(get_text(rec, tcpip::line18), "L17") << length;
  }
}

TEST_F(TcpIp, NetworkLineNumbersAndEmbeddedNul) {
  struct Case {
    std::string line8;
    unsigned stored;
  };
  for (const Case& c : {Case{"1", 1}, Case{"300", 44}, Case{"", 0}, Case{"-1", 255}, Case{"  12abc", 12},
                        Case{"abc", 0}, Case{"99999999999", 0xFF}, Case{"-99999999999", 0}}) {
    std::vector<std::string> lines = numbered_lines();
    lines[7] = c.line8;
    put_text_file(legacy_ipcfg::path, ipcfg_of(lines));
    convert_tcpip_settings();
    EXPECT_EQ(get(headed_payload(tcpip::path, tcpip::record_size, 1), tcpip::line8_number), c.stored)
        << '"' << c.line8 << '"';
  }
  // A line ends at its first NUL: nothing behind it reaches the field.
  std::vector<std::string> lines = numbered_lines();
  lines[6] = std::string("gate\0junk", 9);
  put_text_file(legacy_ipcfg::path, ipcfg_of(lines));
  convert_tcpip_settings();
  EXPECT_EQ(field_bytes(headed_payload(tcpip::path, tcpip::record_size, 1), tcpip::line7),
            padded("gate", 60));
}

LegacyRecord msm_record(const std::string& short_text, const std::string& long_text) {
  LegacyRecord r(legacy_msm::record_size);
  r.text(legacy_msm::short_server, short_text).text(legacy_msm::long_server, long_text);
  return r;
}

TEST_F(TcpIp, MsmServerTextChoice) {
  struct Case {
    std::string short_text, long_text, stored;
  };
  for (const Case& c : {Case{"a.b.c", "abc", "a.b.c"},
                        Case{"bad name", "host.example.com:80", "host.example.com:80"}, Case{"x", "", "x"},
                        Case{"short", "abcd", "abcd"}, Case{"", "", ""}, Case{"A-z/0:9.", "", "A-z/0:9."}}) {
    put_file(legacy_msm::path, msm_record(c.short_text, c.long_text).bytes);
    put_file(legacy_msm::fallback_path, msm_record("fallback", "").bytes);
    convert_tcpip_settings();
    EXPECT_EQ(get_text(headed_payload(tcpip::path, tcpip::record_size, 1), tcpip::msm_server), c.stored)
        << c.short_text << " / " << c.long_text;
  }
}

TEST_F(TcpIp, MsmFallbackCopy) {
  // A blank, an underscore or a newline makes the text unusable: the copy
  // under /usr/sav is taken, numbers and option byte included.
  for (const std::string bad : {"my host", "my_host", "host\n", "h\xE9te"}) {
    put_file(legacy_msm::path, msm_record(bad, "").u32(legacy_msm::number_a, 1).bytes);
    put_file(legacy_msm::fallback_path,
             msm_record("ok.host", "").u32(legacy_msm::number_a, 2).u8(36, 9).bytes);
    convert_tcpip_settings();
    auto rec = headed_payload(tcpip::path, tcpip::record_size, 1);
    EXPECT_EQ(get_text(rec, tcpip::msm_server), "ok.host") << bad;
    EXPECT_EQ(get_text(rec, tcpip::msm_number_a), "2") << bad;
    EXPECT_EQ(get(rec, tcpip::msm_option), 9u) << bad;
  }
  // The second choice is not validated.
  put_file(legacy_msm::path, msm_record("one bad", "").bytes);
  put_file(legacy_msm::fallback_path, msm_record("", "two bad!").bytes);
  convert_tcpip_settings();
  EXPECT_EQ(get_text(headed_payload(tcpip::path, tcpip::record_size, 1), tcpip::msm_server), "two bad!");

  // A missing fallback keeps the first copy; its newline is still dropped.
  std::filesystem::remove(host(legacy_msm::fallback_path));
  put_file(legacy_msm::path, msm_record("my host\n", "").u32(legacy_msm::number_b, 77).bytes);
  convert_tcpip_settings();
  auto rec = headed_payload(tcpip::path, tcpip::record_size, 1);
  EXPECT_EQ(field_bytes(rec, tcpip::msm_server), padded("my host", 64));
  EXPECT_EQ(get_text(rec, tcpip::msm_number_b), "77");

  // A short fallback overwrites only its own bytes: the rest of the first
  // copy stays (number A here).
  put_file(legacy_msm::path, msm_record("bad_name", "").u32(legacy_msm::number_a, 42).bytes);
  put_file(legacy_msm::fallback_path, {'o', 'k', 0, 0});
  convert_tcpip_settings();
  rec = headed_payload(tcpip::path, tcpip::record_size, 1);
  EXPECT_EQ(get_text(rec, tcpip::msm_server), "ok");
  EXPECT_EQ(get_text(rec, tcpip::msm_number_a), "42");
}

TEST_F(TcpIp, MsmNumbersAsDecimalText) {
  struct Case {
    std::uint32_t value;
    std::string text;
  };
  for (const Case& c : {Case{65535, "65535"}, Case{123456, "12345"}, Case{0xFFFFFFFFu, "-1"}, Case{0, "0"},
                        Case{static_cast<std::uint32_t>(-12345), "-1234"}, Case{0x80000000u, "-2147"}}) {
    put_file(legacy_msm::path, LegacyRecord(legacy_msm::record_size)
                                   .u32(legacy_msm::number_a, c.value)
                                   .u32(legacy_msm::number_b, c.value)
                                   .u32(legacy_msm::number_c, c.value)
                                   .bytes);
    convert_tcpip_settings();
    auto rec = headed_payload(tcpip::path, tcpip::record_size, 1);
    for (const Field& f : {tcpip::msm_number_a, tcpip::msm_number_b, tcpip::msm_number_c})
      EXPECT_EQ(field_bytes(rec, f), padded(c.text, 6)) << f.name << " " << c.value;
  }
}

TEST_F(TcpIp, NtpVpnAndIpv6Records) {
  LegacyRecord ntp(legacy_ntp::record_size);
  ntp.raw(legacy_ntp::server1, std::string(100, 'n')).text(legacy_ntp::server2, "pool.ntp.org\n");
  put_file(legacy_ntp::path, ntp.bytes);
  LegacyRecord vpn(legacy_vpn::record_size);
  vpn.text(legacy_vpn::text1, "vpn.example\n").raw(legacy_vpn::text2, std::string(40, 'u'));
  vpn.text(legacy_vpn::text3, "secret").u32(legacy_vpn::option_word, 0x1234);
  put_file(legacy_vpn::path, vpn.bytes);
  LegacyRecord ipv6(legacy_ipv6::record_size);
  ipv6.u32(legacy_ipv6::word, 0xA1B2C3D4).u8(legacy_ipv6::option, 0x5A);
  for (std::size_t i = 0; i < 3 * legacy_ipv6::block_size; ++i)
    ipv6.u8(legacy_ipv6::block1 + i, static_cast<std::uint8_t>(i % 7 == 0 ? 0 : 0x80 + i));
  put_file(legacy_ipv6::path, ipv6.bytes);
  ASSERT_EQ(convert_tcpip_settings(), result::ok);
  auto rec = headed_payload(tcpip::path, tcpip::record_size, 1);
  EXPECT_EQ(field_bytes(rec, tcpip::ntp_server1), padded(std::string(64, 'n'), 64));
  EXPECT_EQ(field_bytes(rec, tcpip::ntp_server2), padded("pool.ntp.org", 64));
  EXPECT_EQ(field_bytes(rec, tcpip::vpn_text1), padded("vpn.example", 64));
  EXPECT_EQ(field_bytes(rec, tcpip::vpn_text2), padded(std::string(32, 'u'), 32));
  EXPECT_EQ(field_bytes(rec, tcpip::vpn_text3), padded("secret", 32));
  EXPECT_EQ(get(rec, tcpip::vpn_option), 0x34u);
  EXPECT_EQ(get(rec, tcpip::ipv6_option), 0x5Au);
  EXPECT_EQ(get(rec, tcpip::ipv6_word), 0xA1B2C3D4u);
  EXPECT_EQ(rec[857], 0xD4) << "little-endian at an odd offset";
  const Field* blocks[] = {&tcpip::ipv6_block1, &tcpip::ipv6_block2, &tcpip::ipv6_block3};
  for (std::size_t b = 0; b < 3; ++b) {
    const std::size_t from = legacy_ipv6::block1 + b * legacy_ipv6::block_size;
    EXPECT_EQ(field_bytes(rec, *blocks[b]),
              std::vector<std::uint8_t>(ipv6.bytes.begin() + from, ipv6.bytes.begin() + from + 64))
        << b;
  }
}

}  // namespace
}  // namespace sav3::testing
