#include "sav3/settings_snmp.h"

#include "sav3/settings_tcpip.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

class SnmpSettings : public ScratchDevice {
 protected:
  std::vector<std::uint8_t> convert_with(const std::string& agent_config) {
    put_text_file(legacy_snmp::agent_config_path, agent_config);
    return convert();
  }
  std::vector<std::uint8_t> convert() {
    EXPECT_EQ(convert_snmp_settings(), result::ok);
    return headed_payload(snmp::path, 5385, 1);
  }
};

std::vector<std::uint8_t> field_bytes(const std::vector<std::uint8_t>& rec, const Field& f) {
  return std::vector<std::uint8_t>(rec.begin() + f.offset, rec.begin() + f.offset + f.width);
}

// A text with embedded NULs, whole.
template <std::size_t N>
std::string with_nuls(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// The text followed by zeros up to the field width.
std::vector<std::uint8_t> padded(const std::string& text, std::size_t width) {
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.resize(width, 0);
  return bytes;
}

TEST_F(SnmpSettings, NoLegacyFilesGiveZeros) { EXPECT_EQ(convert(), std::vector<std::uint8_t>(5385, 0)); }

// Without the agent configuration only the three other sources show, at their
// literal offsets.
TEST_F(SnmpSettings, OtherSourcesWithoutTheAgentConfiguration) {
  put_file(legacy_snmp::trap_version_path, {0xC8});
  LegacyRecord block(50);
  for (std::size_t k = 0; k < 50; ++k) block.bytes[k] = static_cast<std::uint8_t>(k + 1);
  put_file(legacy_snmp::block_path, block.bytes);
  put_text_file(legacy_ipcfg::path, "1\n2\n3\n4\n5\n6\n7\n8\n9\n192.168.10.1\n11\n");
  const auto rec = convert();

  std::vector<std::uint8_t> expected(5385, 0);
  for (std::size_t k = 0; k < 32; ++k) expected[32 + k] = static_cast<std::uint8_t>(k + 1);
  const std::string line10 = "192.168.";
  std::copy(line10.begin(), line10.end(), &expected[112]);
  expected[121] = 0xC8;  // zero-extended to 32 bits
  EXPECT_EQ(rec, expected);
}

TEST_F(SnmpSettings, TenthNetworkLine) {
  put_text_file(legacy_ipcfg::path, "1\n2\n3\n4\n5\n6\n7\n8\n9\nlan\n");
  EXPECT_EQ(field_bytes(convert(), snmp::network_line_10), padded("lan", 8)) << "newline removed";
  put_text_file(legacy_ipcfg::path, "1\n2\n3\n4\n5\n6\n7\n8\n9\n");
  EXPECT_EQ(field_bytes(convert(), snmp::network_line_10), padded("", 8)) << "only nine lines";
  // A first line of 300 characters takes two reads of 255 and 45: the ninth
  // physical line is the tenth read.
  put_text_file(legacy_ipcfg::path, std::string(300, 'x') + "\n2\n3\n4\n5\n6\n7\n8\nninth\ntenth\n");
  EXPECT_EQ(field_bytes(convert(), snmp::network_line_10), padded("ninth", 8));
  put_text_file(legacy_ipcfg::path, with_nuls("1\n2\n3\n4\n5\n6\n7\n8\n9\nab\0cdef\n"));
  EXPECT_EQ(field_bytes(convert(), snmp::network_line_10), padded("ab", 8)) << "a line ends at its NUL";
}

// The first character after the colon always goes, whatever it is.
TEST_F(SnmpSettings, SingleValuesLoseTheirFirstCharacter) {
  auto rec = convert_with("COMMUNITY: public\nLOCATION:rack\nNAME:  two\nUSER_CONTACT: ops:24h\n");
  EXPECT_EQ(get_text(rec, snmp::community), "public");
  EXPECT_EQ(get_text(rec, snmp::location), "ack");
  EXPECT_EQ(get_text(rec, snmp::name), " two");
  EXPECT_EQ(get_text(rec, snmp::contact), "ops:24h") << "later colons belong to the value";

  rec = convert_with("COMMUNITY: first\nCOMMUNITY: second\nNAME: kept\nNAME:\nNAME:\n");
  EXPECT_EQ(field_bytes(rec, snmp::community), padded("second", 32)) << "a later line replaces";
  EXPECT_EQ(get_text(rec, snmp::name), "kept") << "an empty value part is no line";
  rec = convert_with("NAME: kept\nNAME: \n");
  EXPECT_EQ(field_bytes(rec, snmp::name), padded("", 16)) << "one blank gives an empty value";
  rec = convert_with("COMMUNITY: last line without newline");
  EXPECT_EQ(get_text(rec, snmp::community), "last line without newline");
}

TEST_F(SnmpSettings, ValuesAreCutAtTheFieldWidth) {
  const std::string c32 = "0123456789abcdef0123456789ABCDEF";
  auto rec = convert_with("COMMUNITY: " + c32 + "\nLOCATION: " + std::string(16, 'L') +
                          "\nNAME: " + std::string(40, 'N') + "\n");
  EXPECT_EQ(field_bytes(rec, snmp::community), std::vector<std::uint8_t>(c32.begin(), c32.end()));
  // The 40-character name, stored after the location, did not spill into it.
  EXPECT_EQ(field_bytes(rec, snmp::location), std::vector<std::uint8_t>(16, 'L'));
  EXPECT_EQ(field_bytes(rec, snmp::name), std::vector<std::uint8_t>(16, 'N'));
  rec = convert_with("COMMUNITY: " + c32 + "xyz\n");
  EXPECT_EQ(field_bytes(rec, snmp::community), std::vector<std::uint8_t>(c32.begin(), c32.end()));
  EXPECT_EQ(rec[snmp::block.offset], 0);
}

TEST_F(SnmpSettings, KeysAreExact) {
  auto rec = convert_with(
      " COMMUNITY: lead\n"       // leading blank: empty key
      "COMMUNITY\t: tab\n"       // a tab does not end the key
      "community: lower\n"       // case matters
      "NAME extra words: yes\n"  // the key is cut at its first blank
      "::LOCATION: colons\n"     // leading colons are skipped
      "no colon at all\n");
  EXPECT_EQ(get_text(rec, snmp::community), "");
  EXPECT_EQ(get_text(rec, snmp::name), "yes");
  EXPECT_EQ(get_text(rec, snmp::location), "colons");
}

TEST_F(SnmpSettings, InformFlagIsSetNeverCleared) {
  EXPECT_EQ(get(convert_with("TRAP_TYEP: Inform\n"), snmp::inform), 1u);
  EXPECT_EQ(get(convert_with("TRAP_TYEP: inform\n"), snmp::inform), 0u);
  EXPECT_EQ(get(convert_with("TRAP_TYEP: Inform \n"), snmp::inform), 0u);
  EXPECT_EQ(get(convert_with("TRAP_TYPE: Inform\n"), snmp::inform), 0u) << "only the old spelling counts";
  EXPECT_EQ(get(convert_with("TRAP_TYEP:Inform\n"), snmp::inform), 0u) << "the I is the dropped character";
  EXPECT_EQ(get(convert_with("TRAP_TYEP: Inform\nTRAP_TYEP: Trap\n"), snmp::inform), 1u);
}

TEST_F(SnmpSettings, SeventeenthListLineIsIgnored) {
  std::string text;
  for (int i = 0; i < 17; ++i) {
    const std::string n = std::to_string(i);
    text.append("SEC_NAME: user").append(n).append(" key").append(n).append("\n");
  }
  text += "V3_USR: admin secret\nV3_USR: guest\n";
  const auto rec = convert_with(text);
  EXPECT_EQ(get(rec, snmp::sec_name_mask), 0xFFFFu);
  EXPECT_EQ(get(rec, snmp::v3_usr_mask), 0x3u) << "each list counts on its own";
  EXPECT_EQ(get(rec, snmp::addr_mask), 0u);
  EXPECT_EQ(get_text(rec, snmp::sec_name_first[0]), "user0");
  EXPECT_EQ(get_text(rec, snmp::sec_name_first[15]), "user15");
  EXPECT_EQ(get_text(rec, snmp::sec_name_short[15]), "key15");
  EXPECT_EQ(get_text(rec, snmp::sec_name_long[15]), "key15");
  EXPECT_EQ(get_text(rec, snmp::v3_usr_first[0]), "admin");
  EXPECT_EQ(get_text(rec, snmp::v3_usr_second[0]), "secret");
  EXPECT_EQ(get_text(rec, snmp::v3_usr_first[1]), "guest");
  EXPECT_EQ(field_bytes(rec, snmp::v3_usr_second[1]), padded("", 32)) << "a missing word is empty";
  // user16 went nowhere: the record holds nothing of it.
  const std::string lost = "user16";
  EXPECT_EQ(std::search(rec.begin(), rec.end(), lost.begin(), lost.end()), rec.end());
}

TEST_F(SnmpSettings, SecNameSecondWordShortAndLongForms) {
  const std::string w31(31, 'a'), w32(32, 'b'), w40(40, 'c'), w70(70, 'd');
  const auto rec = convert_with("SEC_NAME: u " + w31 + "\nSEC_NAME:\tu " + w32 + "\nSEC_NAME: u " + w40 +
                                " third word\nSEC_NAME: u " + w70 + "\nSEC_NAME:  \n");
  EXPECT_EQ(field_bytes(rec, snmp::sec_name_short[0]), padded(w31, 32));
  EXPECT_EQ(field_bytes(rec, snmp::sec_name_long[0]), padded(w31, 64));
  EXPECT_EQ(field_bytes(rec, snmp::sec_name_short[1]), padded("", 32)) << "32 characters do not fit";
  EXPECT_EQ(field_bytes(rec, snmp::sec_name_long[1]), padded(w32, 64));
  EXPECT_EQ(field_bytes(rec, snmp::sec_name_short[2]), padded("", 32));
  EXPECT_EQ(field_bytes(rec, snmp::sec_name_long[2]), padded(w40, 64));
  EXPECT_EQ(field_bytes(rec, snmp::sec_name_long[3]), std::vector<std::uint8_t>(64, 'd'));
  EXPECT_EQ(get_text(rec, snmp::sec_name_first[3]), "u");
  EXPECT_EQ(field_bytes(rec, snmp::sec_name_first[4]), padded("", 32)) << "blank value: empty entry";
  EXPECT_EQ(get(rec, snmp::sec_name_mask), 0x1Fu) << "still counted";
}

TEST_F(SnmpSettings, AddressEntries) {
  const auto rec =
      convert_with("Addr_snmp: fe80::1:2:3 public-community\nAddr_snmp: " + std::string(40, 'h') + " pub\n");
  EXPECT_EQ(get_text(rec, snmp::addr_first[0]), "fe80::1:2:3") << "only the first colon splits";
  EXPECT_EQ(field_bytes(rec, snmp::addr_second[0]), padded("public-c", 8));
  EXPECT_EQ(field_bytes(rec, snmp::addr_first[1]), std::vector<std::uint8_t>(32, 'h'));
  EXPECT_EQ(field_bytes(rec, snmp::addr_first_spare[1]), std::vector<std::uint8_t>(32, 0));
  EXPECT_EQ(get_text(rec, snmp::addr_second[1]), "pub");
  EXPECT_EQ(get(rec, snmp::addr_mask), 0x3u);
}

// Words of 200 characters: each is kept to 127 and then cut at its field; the
// second word is still found after the long first one.
TEST_F(SnmpSettings, LongWordsStayInTheirFields) {
  const std::string w200a(200, 'a'), w200b(200, 'b');
  const auto rec = convert_with("V3_USR: " + w200a + " " + w200b + "\nSEC_NAME: " + w200a + " short\n");
  EXPECT_EQ(field_bytes(rec, snmp::v3_usr_first[0]), std::vector<std::uint8_t>(32, 'a'));
  EXPECT_EQ(field_bytes(rec, snmp::v3_usr_second[0]), std::vector<std::uint8_t>(32, 'b'));
  EXPECT_EQ(get_text(rec, snmp::sec_name_short[0]), "short");
  EXPECT_EQ(rec[snmp::v3_usr_first[1].offset], 0);
  EXPECT_EQ(get(rec, snmp::v3_usr_mask), 0x1u);
}

// A physical line longer than 255 characters is read as several lines: the
// rest of the line is parsed on its own.
TEST_F(SnmpSettings, LongPhysicalLineIsSeveralLines) {
  const std::string head = "LOCATION: ";
  const std::string fill(255 - head.size(), 'x');
  const auto rec = convert_with(head + fill + "NAME: tail\nCOMMUNITY: " + std::string(300, 'c') + "\n");
  EXPECT_EQ(field_bytes(rec, snmp::location), std::vector<std::uint8_t>(16, 'x'));
  EXPECT_EQ(get_text(rec, snmp::name), "tail");
  EXPECT_EQ(field_bytes(rec, snmp::community), std::vector<std::uint8_t>(32, 'c'));
}

TEST_F(SnmpSettings, LineEndsAtItsNul) {
  const auto rec = convert_with(with_nuls("COMMUNITY: ab\0cd\nNAME: n\n"));
  EXPECT_EQ(field_bytes(rec, snmp::community), padded("ab", 32));
  EXPECT_EQ(get_text(rec, snmp::name), "n");
}

}  // namespace
}  // namespace sav3::testing
