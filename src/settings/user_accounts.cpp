#include <cstdio>

#include "sav3/container.h"
#include "sav3/device.h"
#include "sav3/legacy_file.h"
#include "sav3/legacy_text.h"
#include "sav3/output_files.h"
#include "sav3/settings_user_accounts.h"

namespace sav3 {

namespace {

constexpr int word_count = 4;
constexpr int name_word = 0;
constexpr int second_word = 1;
constexpr int role_word = 3;  // the third word is read and not used

// Scans an account line as the old firmware did with "WS_USR    : %s %s %s %s":
// the exact key, any white space (none included), a colon, then up to four
// words. Words not matched stay empty; a line that does not begin with the key
// and its colon matches none.
void scan_account_line(std::string_view line, char (&words)[word_count][128]) {
  constexpr std::string_view key = "WS_USR";
  if (line.substr(0, key.size()) != key) return;
  std::string_view rest = line.substr(key.size());
  while (!rest.empty() && (rest.front() == ' ' || (rest.front() >= '\t' && rest.front() <= '\r')))
    rest.remove_prefix(1);
  if (rest.empty() || rest.front() != ':') return;
  rest.remove_prefix(1);
  for (auto& word : words) {
    if (!scan_word(rest, word)) return;
  }
}

std::uint8_t role_code(std::string_view role) {
  if (role == "admin") return user_info::role_admin;
  if (role == "manager") return user_info::role_manager;
  return user_info::role_other;
}

}  // namespace

int convert_user_accounts() {
  std::uint8_t record[user_info::record_size] = {};
  std::uint8_t level[legacy_auth::password_level_size] = {};
  Bytes out(record);
  read_plain_record_if_present(legacy_auth::password_level_path, level, legacy_auth::password_level_size, 1);

  std::FILE* file = open_legacy_file(legacy_auth::path);
  if (file != nullptr) {
    char line[legacy_auth::line_buffer_size];
    char words[word_count][128];
    int n = 0;
    // Every line that begins with "W" is an account entry, whatever follows;
    // the record has room for 16, and later lines are ignored.
    while (n < user_info::max_accounts && read_line(file, line)) {
      const std::string_view text = text_in(line, sizeof line);
      if (text.empty() || text.front() != 'W') continue;
      for (auto& word : words) word[0] = '\0';
      scan_account_line(text, words);
      const auto entry = static_cast<std::size_t>(n);
      put(out, user_info::role[entry], role_code(text_in(words[role_word], sizeof words[role_word])));
      put_text(out, user_info::name[entry], text_in(words[name_word], sizeof words[name_word]));
      put_text(out, user_info::second_word[entry], text_in(words[second_word], sizeof words[second_word]));
      set_bit_if(out, user_info::mask, static_cast<unsigned>(n), true);
      ++n;
      put(out, user_info::count, static_cast<std::uint32_t>(n));
    }
    close_legacy_file(file, legacy_auth::path);
  }

  put(out, user_info::password_level, read8(level, legacy_auth::password_level));
  return code(write_output(Output::user_info, 0, out));
}

}  // namespace sav3
