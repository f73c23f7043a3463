#include "sav3/settings_user_accounts.h"

#include "scratch_device.h"

namespace sav3::testing {
namespace {

class UserAccounts : public ScratchDevice {
 protected:
  std::vector<std::uint8_t> convert() {
    EXPECT_EQ(convert_user_accounts(), result::ok);
    return headed_payload(user_info::path, user_info::record_size, 1);
  }
};

std::vector<std::uint8_t> slot(const std::vector<std::uint8_t>& rec, const Field& f) {
  return std::vector<std::uint8_t>(rec.begin() + f.offset, rec.begin() + f.offset + f.width);
}

std::vector<std::uint8_t> padded(const std::string& text, std::size_t width) {
  std::vector<std::uint8_t> out(width, 0);
  for (std::size_t i = 0; i < text.size() && i < width; ++i) out[i] = static_cast<std::uint8_t>(text[i]);
  return out;
}

TEST_F(UserAccounts, AllLegacyFilesMissing) {
  EXPECT_EQ(convert(), std::vector<std::uint8_t>(user_info::record_size, 0));
  // The password level alone, low byte of its word.
  put_file(legacy_auth::password_level_path, LegacyRecord(4).u32(0, 0x0103).bytes);
  std::vector<std::uint8_t> expected(user_info::record_size, 0);
  expected[user_info::password_level.offset] = 3;
  EXPECT_EQ(convert(), expected);
}

TEST_F(UserAccounts, OneAccountLine) {
  put_text_file(legacy_auth::path, "# accounts\nWS_USR    : alice s3cr3t! x admin\n");
  put_file(legacy_auth::password_level_path, LegacyRecord(4).u32(0, 2).bytes);
  auto rec = convert();
  std::vector<std::uint8_t> expected(user_info::record_size, 0);
  expected[user_info::role[0].offset] = user_info::role_admin;
  const std::vector<std::uint8_t> name = padded("alice", 64), word = padded("s3cr3t!", 64);
  std::copy(name.begin(), name.end(), expected.begin() + user_info::name[0].offset);
  std::copy(word.begin(), word.end(), expected.begin() + user_info::second_word[0].offset);
  expected[user_info::count.offset] = 1;
  expected[user_info::mask.offset] = 1;
  expected[user_info::password_level.offset] = 2;
  EXPECT_EQ(rec, expected);
}

TEST_F(UserAccounts, LineVariantsAndRoles) {
  put_text_file(legacy_auth::path,
                "WS_USR : m pw x manager\n"         // 0: manager
                "WS_USR : c pw x Admin\n"           // 1: capitalised, another role
                "WS_USR : t pw x\n"                 // 2: three words: empty role
                "Web login settings\n"              // 3: a W line without the key
                "WS_USR:tight pw x admin\n"         // 4: no blanks before the colon
                "WS_USR\t:\ttab\tpw\tx\tadmin\r\n"  // 5: tabs and a carriage return
                " WS_USR : blank pw x admin\n"      //    ignored: first character a blank
                "\n"                                //    ignored
                "ws_usr : lower pw x admin\n"       //    ignored: first character w
                "WS_USRX : k pw x admin\n"          // 6: the key runs on: no words
                "WS_USR : admin2 pw x admin2\n"     // 7: role text must be exact
                "W\n"                               // 8: the bare letter
                "WS_USR : n\n");                    // 9: the name alone
  auto rec = convert();
  struct Entry {
    unsigned role;
    std::string name, second;
  };
  const Entry expected[] = {{1, "m", "pw"},     {2, "c", "pw"},   {2, "t", "pw"}, {2, "", ""},
                            {0, "tight", "pw"}, {0, "tab", "pw"}, {2, "", ""},    {2, "admin2", "pw"},
                            {2, "", ""},        {2, "n", ""}};
  for (std::size_t n = 0; n < std::size(expected); ++n) {
    EXPECT_EQ(get(rec, user_info::role[n]), expected[n].role) << n;
    EXPECT_EQ(slot(rec, user_info::name[n]), padded(expected[n].name, 64)) << n;
    EXPECT_EQ(slot(rec, user_info::second_word[n]), padded(expected[n].second, 64)) << n;
  }
  EXPECT_EQ(get(rec, user_info::count), 10u);
  EXPECT_EQ(get(rec, user_info::mask), 0x3FFu);
  EXPECT_EQ(slot(rec, user_info::name[10]), padded("", 64));
  EXPECT_EQ(get(rec, user_info::role[10]), 0u) << "unused entries stay zero";
}

TEST_F(UserAccounts, LongWordsAreCutAndNeverShiftTheRole) {
  const std::string name70(70, 'n');
  const std::string word200(200, 'p');
  const std::string name200(200, 'q');
  put_text_file(legacy_auth::path, "WS_USR : " + name70 + " short x admin\n" + "WS_USR : bob " + word200 +
                                       " x manager\n" + "WS_USR : " + name200 + " pw x admin\n");
  auto rec = convert();
  EXPECT_EQ(slot(rec, user_info::name[0]), padded(std::string(64, 'n'), 64)) << "no terminator when full";
  EXPECT_EQ(slot(rec, user_info::second_word[0]), padded("short", 64));
  EXPECT_EQ(get(rec, user_info::role[0]), 0u);
  EXPECT_EQ(slot(rec, user_info::second_word[1]), padded(std::string(64, 'p'), 64));
  EXPECT_EQ(get(rec, user_info::role[1]), 1u);
  EXPECT_EQ(slot(rec, user_info::name[2]), padded(std::string(64, 'q'), 64));
  EXPECT_EQ(slot(rec, user_info::second_word[2]), padded("pw", 64)) << "the long name never spills";
  EXPECT_EQ(get(rec, user_info::role[2]), 0u);
  EXPECT_EQ(get(rec, user_info::count), 3u);
}

TEST_F(UserAccounts, SeventeenthAccountIsIgnored) {
  std::string text;
  for (int i = 0; i < 17; ++i) {
    text += "WS_USR : user";
    text += std::to_string(i);
    text += " pw x admin\n";
    text += "# comment\n";
  }
  put_text_file(legacy_auth::path, text);
  put_file(legacy_auth::password_level_path, LegacyRecord(4).u32(0, 5).bytes);
  auto rec = convert();
  EXPECT_EQ(get(rec, user_info::count), 16u);
  EXPECT_EQ(get(rec, user_info::mask), 0xFFFFu);
  EXPECT_EQ(get_text(rec, user_info::name[15]), "user15");
  EXPECT_EQ(get(rec, user_info::password_level), 5u);
  const std::string all(rec.begin(), rec.end());
  EXPECT_EQ(all.find("user16"), std::string::npos);
}

TEST_F(UserAccounts, LinesAreReadAsTheOldFirmwareReadThem) {
  // A line ends at its first NUL.
  put_text_file(legacy_auth::path, std::string("WS_USR : al\0ice pw x admin\n", 27));
  auto rec = convert();
  EXPECT_EQ(slot(rec, user_info::name[0]), padded("al", 64));
  EXPECT_EQ(get(rec, user_info::role[0]), 2u);
  EXPECT_EQ(get(rec, user_info::count), 1u);
  // A physical line longer than 255 characters is read in two pieces, and a
  // piece that begins with W counts as a line of its own.
  const std::string first = "WS_USR : a pw x admin" + std::string(255 - 21, ' ');
  put_text_file(legacy_auth::path, first + "Wtail\n");
  rec = convert();
  EXPECT_EQ(get(rec, user_info::count), 2u);
  EXPECT_EQ(get(rec, user_info::role[0]), 0u);
  EXPECT_EQ(get(rec, user_info::role[1]), 2u);
  // One character fewer and the W falls into the first read: one account.
  put_text_file(legacy_auth::path, first.substr(0, 254) + "Wtail\n");
  EXPECT_EQ(get(convert(), user_info::count), 1u);
}

}  // namespace
}  // namespace sav3::testing
