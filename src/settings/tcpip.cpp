#include <cstdio>

#include "sav3/container.h"
#include "sav3/convert.h"
#include "sav3/device.h"
#include "sav3/legacy_file.h"
#include "sav3/legacy_text.h"
#include "sav3/output_files.h"
#include "sav3/settings_tcpip.h"

namespace sav3 {

namespace {

// The text lines of ipcfg and where they go; line 14 is stored twice. Line 8
// (a number) and line 12 (the HTTP switch) are handled apart; lines 10 and 11
// are not used here.
struct LineText {
  int line;
  const Field* field;
};
constexpr LineText line_texts[] = {
    {1, &tcpip::line1},   {2, &tcpip::line2},   {3, &tcpip::line3},        {4, &tcpip::line4},
    {5, &tcpip::line5},   {6, &tcpip::line6},   {7, &tcpip::line7},        {9, &tcpip::line9},
    {13, &tcpip::line13}, {14, &tcpip::line14}, {14, &tcpip::line14_head}, {15, &tcpip::line15},
    {16, &tcpip::line16}, {17, &tcpip::line17}, {18, &tcpip::line18},
};
constexpr int number_line = 8;
constexpr int http_line = 12;

// The file is positional: every read counts as the next line, so a line longer
// than the buffer takes two reads and moves every later setting down by one,
// exactly as the old firmware saw it.
void store_network_lines(Bytes out) {
  std::FILE* file = open_legacy_file(legacy_ipcfg::path);
  if (file == nullptr) return;  // every line field, the HTTP flag included, stays 0
  char line[legacy_ipcfg::line_buffer_size];
  for (int n = 1; n <= legacy_ipcfg::lines_read; ++n) {
    read_line(file, line);  // past the end of the file the line is empty
    const std::string_view text = without_newline(text_in(line, sizeof line));
    if (n == number_line)
      put_low_bits(out, tcpip::line8_number, static_cast<std::uint32_t>(parse_long32(text)));
    if (n == http_line) put(out, tcpip::http_flag, text == "Enable HTTP" ? 0 : 1);
    for (const LineText& t : line_texts) {
      if (t.line == n) put_text(out, *t.field, text);
    }
  }
  close_legacy_file(file, legacy_ipcfg::path);
}

// The long server text wins when it has at least 4 characters.
std::string_view chosen_server_text(ConstBytes msm) {
  const std::string_view long_text = text_at(msm, legacy_msm::long_server);
  return long_text.size() >= 4 ? long_text : text_at(msm, legacy_msm::short_server);
}

// A usable server text holds only ASCII letters, digits and "-./:" (a newline
// does not pass); the empty text passes.
bool server_text_valid(std::string_view text) {
  for (char c : text) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '.' || c == '/' || c == ':';
    if (!ok) return false;
  }
  return true;
}

// A signed number as decimal text in a small field: at most width - 1
// characters (the first ones of a longer number) and always a terminator.
void put_decimal(Bytes out, const Field& f, std::int32_t value) {
  char digits[16] = {};
  std::snprintf(digits, sizeof digits, "%ld", static_cast<long>(value));
  std::string_view text = text_in(digits, sizeof digits);
  if (text.size() >= f.width) text = text.substr(0, f.width - 1u);
  put_text(out, f, text);
}

}  // namespace

int convert_tcpip_settings() {
  std::uint8_t record[tcpip::record_size] = {};
  std::uint8_t ntp[legacy_ntp::record_size] = {};
  std::uint8_t msm[legacy_msm::record_size] = {};
  std::uint8_t vpn[legacy_vpn::record_size] = {};
  std::uint8_t ipv6[legacy_ipv6::record_size] = {};
  Bytes out(record);

  store_network_lines(out);

  read_plain_record_if_present(legacy_ntp::path, ntp, legacy_ntp::record_size, 1);
  put_text(out, tcpip::ntp_server1, without_newline(text_at(ntp, legacy_ntp::server1)));
  put_text(out, tcpip::ntp_server2, without_newline(text_at(ntp, legacy_ntp::server2)));

  // The fallback copy is read over the first one without clearing it: what a
  // missing or short fallback file does not supply keeps the first copy's
  // bytes. The second choice is taken as it is.
  read_plain_record_if_present(legacy_msm::path, msm, legacy_msm::record_size, 1);
  if (!server_text_valid(chosen_server_text(msm)))
    read_plain_record_if_present(legacy_msm::fallback_path, msm, legacy_msm::record_size, 1);
  put_text(out, tcpip::msm_server, without_newline(chosen_server_text(msm)));
  put_decimal(out, tcpip::msm_number_a, read32le_signed(msm, legacy_msm::number_a));

  read_plain_record_if_present(legacy_vpn::path, vpn, legacy_vpn::record_size, 1);
  put_low_bits(out, tcpip::vpn_option, read32le(vpn, legacy_vpn::option_word));
  put_text(out, tcpip::vpn_text1, without_newline(text_at(vpn, legacy_vpn::text1)));
  put_text(out, tcpip::vpn_text2, without_newline(text_at(vpn, legacy_vpn::text2)));
  put_text(out, tcpip::vpn_text3, without_newline(text_at(vpn, legacy_vpn::text3)));

  read_plain_record_if_present(legacy_ipv6::path, ipv6, legacy_ipv6::record_size, 1);
  put(out, tcpip::ipv6_option, read8(ipv6, legacy_ipv6::option));
  put(out, tcpip::ipv6_word, read32le(ipv6, legacy_ipv6::word));
  copy_bytes(out, tcpip::ipv6_block1.offset, ipv6, legacy_ipv6::block1, tcpip::ipv6_block1.width);
  copy_bytes(out, tcpip::ipv6_block2.offset, ipv6, legacy_ipv6::block2, tcpip::ipv6_block2.width);
  copy_bytes(out, tcpip::ipv6_block3.offset, ipv6, legacy_ipv6::block3, tcpip::ipv6_block3.width);

  put(out, tcpip::msm_option, read8(msm, legacy_msm::option));
  put_decimal(out, tcpip::msm_number_b, read32le_signed(msm, legacy_msm::number_b));
  put_decimal(out, tcpip::msm_number_c, read32le_signed(msm, legacy_msm::number_c));

  return code(write_output(Output::tcpip, 0, out));
}

}  // namespace sav3
