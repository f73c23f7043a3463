#include <cstdio>
#include <string_view>

#include "sav3/container.h"
#include "sav3/device.h"
#include "sav3/legacy_file.h"
#include "sav3/legacy_text.h"
#include "sav3/output_files.h"
#include "sav3/settings_snmp.h"
#include "sav3/settings_tcpip.h"

namespace sav3 {

namespace {

// How many entries each list holds so far; the three lists count apart.
struct ListCounts {
  unsigned sec_name = 0;
  unsigned v3_usr = 0;
  unsigned addr = 0;
};

// Takes the next free entry of a list of at most 16, or returns false when the
// list is full (a 17th line and later are ignored).
bool next_entry(Bytes out, const Field& mask, unsigned& count, unsigned& entry) {
  if (count >= legacy_snmp::list_entries) return false;
  entry = count++;
  set_bit_if(out, mask, entry, true);
  return true;
}

// One read of the agent configuration: "KEY: value". The key is the text
// before the first colon (leading colons skipped) cut at its first blank; the
// value part is everything after that colon up to the newline, further colons
// included. A line without colon or with an empty value part is ignored.
void parse_agent_config_line(Bytes out, std::string_view line, ListCounts& counts) {
  while (!line.empty() && line.front() == ':') line.remove_prefix(1);
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  std::string_view key = line.substr(0, colon);
  std::string_view value_part = line.substr(colon + 1);
  value_part = value_part.substr(0, value_part.find('\n'));
  if (value_part.empty()) return;
  // Only a space ends the key: "COMMUNITY\t:" is not COMMUNITY, and a key part
  // that starts with a blank is empty.
  key = key.substr(0, key.find(' '));

  // A single value always loses the first character after the colon, normally
  // the blank written there, whatever it is.
  const std::string_view value = value_part.substr(1);
  if (key == "COMMUNITY") {
    put_text(out, snmp::community, value);
    return;
  }
  if (key == "LOCATION") {
    put_text(out, snmp::location, value);
    return;
  }
  if (key == "TRAP_TYEP") {  // spelled so by the old firmware
    // Set by an exact "Inform", never cleared by a later line.
    if (value == "Inform") put(out, snmp::inform, 1);
    return;
  }
  if (key == "USER_CONTACT") {
    put_text(out, snmp::contact, value);
    return;
  }
  if (key == "NAME") {
    put_text(out, snmp::name, value);
    return;
  }

  // List lines: two white-space separated words out of the whole value part,
  // each kept to 127 characters; a missing word is empty and the entry still
  // counts. A third word and later are ignored.
  const bool sec_name = key == "SEC_NAME";
  const bool v3_usr = key == "V3_USR";
  const bool addr = key == "Addr_snmp";
  if (!sec_name && !v3_usr && !addr) return;
  unsigned n = 0;
  if (sec_name && !next_entry(out, snmp::sec_name_mask, counts.sec_name, n)) return;
  if (v3_usr && !next_entry(out, snmp::v3_usr_mask, counts.v3_usr, n)) return;
  if (addr && !next_entry(out, snmp::addr_mask, counts.addr, n)) return;
  char first[128] = {};
  char second[128] = {};
  std::string_view rest = value_part;
  scan_word(rest, first);
  scan_word(rest, second);
  const std::string_view word1 = text_in(first, sizeof first);
  const std::string_view word2 = text_in(second, sizeof second);
  if (sec_name) {
    put_text(out, snmp::sec_name_first[n], word1);
    // The short form holds only a word that fits with its terminator.
    if (word2.size() < snmp::sec_name_short[n].width) put_text(out, snmp::sec_name_short[n], word2);
    put_text(out, snmp::sec_name_long[n], word2);
  } else if (v3_usr) {
    put_text(out, snmp::v3_usr_first[n], word1);
    put_text(out, snmp::v3_usr_second[n], word2);
  } else {
    put_text(out, snmp::addr_first[n], word1);
    put_text(out, snmp::addr_second[n], word2);
  }
}

void parse_agent_config(Bytes out) {
  std::FILE* file = open_legacy_file(legacy_snmp::agent_config_path);
  if (file == nullptr) return;
  ListCounts counts;
  char line[legacy_snmp::line_buffer_size];
  // A physical line longer than the buffer is taken as several lines.
  while (read_line(file, line)) parse_agent_config_line(out, text_in(line, sizeof line), counts);
  close_legacy_file(file, legacy_snmp::agent_config_path);
}

// The tenth read of the network text file, without its newline.
void take_network_line(Bytes out) {
  std::FILE* file = open_legacy_file(legacy_ipcfg::path);
  if (file == nullptr) return;
  char line[legacy_snmp::line_buffer_size];
  // Every read clears the buffer first, so a file of fewer than ten lines
  // leaves it empty.
  for (int n = 1; n <= legacy_snmp::network_line; ++n) read_line(file, line);
  close_legacy_file(file, legacy_ipcfg::path);
  put_text(out, snmp::network_line_10, without_newline(text_in(line, sizeof line)));
}

}  // namespace

int convert_snmp_settings() {
  std::uint8_t record[snmp::record_size] = {};
  std::uint8_t trap_version[1] = {};
  std::uint8_t block[legacy_snmp::block_record_size] = {};
  Bytes out(record);

  read_plain_record_if_present(legacy_snmp::trap_version_path, trap_version, 1, 1);
  put(out, snmp::trap_version, trap_version[0]);
  parse_agent_config(out);
  read_plain_record_if_present(legacy_snmp::block_path, block, legacy_snmp::block_record_size, 1);
  put_bytes(out, snmp::block, block, legacy_snmp::block);
  take_network_line(out);

  return code(write_output(Output::snmp, 0, out));
}

}  // namespace sav3
