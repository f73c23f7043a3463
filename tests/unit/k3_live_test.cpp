#include "sav3/controller_record.h"
#include "sav3/k3.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

using K3Live = ScratchDevice;
namespace live = k3_live;
namespace readings = k3_readings;
namespace item = legacy_k3_item;

std::size_t word(std::size_t group, unsigned i) { return group + item::word_stride * i; }

// The readings part of a record with no legacy data at all.
std::vector<std::uint8_t> empty_record(std::size_t size) {
  std::vector<std::uint8_t> r(size, 0);
  r[0] = 0x04;
  for (int b = 2; b <= 25; ++b) r[b] = 2;
  for (int b = 26; b <= 33; ++b) r[b] = 1;
  return r;
}

TEST_F(K3Live, NoLegacyFiles) {
  ASSERT_EQ(convert_k3_live_data(3, 1), result::ok);
  EXPECT_EQ(headed_payload("/usr/sav3/data/port3", live::record_size, 1), empty_record(live::record_size));
}

TEST_F(K3Live, StateConditionAndAnswerWords) {
  LegacyRecord k3(item::record_size);
  // State word 2 decides bytes 2..9, state word 1 bytes 10..17.
  const char* states[8] = {"Inactive", "Active", "active", "Active ", "", "ACTIVE", "Inactiv", "Activ"};
  const std::uint8_t state_codes[8] = {0, 1, 2, 2, 2, 2, 2, 2};
  for (unsigned i = 0; i < 8; ++i) k3.text(word(item::state_word_2, i), states[i]);
  for (unsigned i = 0; i < 8; ++i) k3.text(word(item::state_word_1, i), states[7 - i]);
  const char* conditions[8] = {"Fault", "Normal", "normal", "fault", "Normal ", "", "Faul", "Alarm"};
  const std::uint8_t condition_codes[8] = {0, 1, 2, 2, 2, 2, 2, 2};
  for (unsigned i = 0; i < 8; ++i) k3.text(word(item::condition_word, i), conditions[i]);
  const char* answers[8] = {"No", "Yes", "No ", "no", "", "Nope", "N", "No"};
  const std::uint8_t answer_codes[8] = {0, 1, 1, 1, 1, 1, 1, 0};
  for (unsigned i = 0; i < 8; ++i) k3.text(word(item::answer_word, i), answers[i]);
  // A word that fills its 10 bytes runs into the next word: it is not "Active".
  k3.raw(word(item::state_word_1, 7), "ActiveXXXX");
  put_file("/mnt/1/cfg/K3DataItemTmp_1", k3.bytes);

  ASSERT_EQ(convert_k3_live_data(1, 1), result::ok);
  auto rec = headed_payload("/usr/sav3/data/port1", live::record_size, 1);
  ASSERT_EQ(rec.size(), std::size_t{live::record_size});
  for (unsigned i = 0; i < 8; ++i) {
    EXPECT_EQ(get(rec, readings::state_2[i]), state_codes[i]) << "output " << i;
    const std::uint8_t state_1 = i == 7 ? 2 : state_codes[7 - i];  // output 7: the unterminated word
    EXPECT_EQ(get(rec, readings::state_1[i]), state_1) << "output " << i;
    EXPECT_EQ(get(rec, readings::condition[i]), condition_codes[i]) << "output " << i;
    EXPECT_EQ(get(rec, readings::answer[i]), answer_codes[i]) << "output " << i;
  }
}

TEST_F(K3Live, ReadingsSettingsFlagsExtensionAndTime) {
  ZoneScope zone("UTC0");
  LegacyRecord k3(item::record_size);
  k3.f32(item::reading_a + 4 * 0, -0.5f)
      .f32(item::reading_a + 4 * 1, 12.34f)
      .f32(item::reading_b + 4 * 2, 655.36f)
      .f32(item::reading_b + 4 * 3, 655.35f)
      .f32(item::reading_c + 4 * 7, 1.0f)
      .f32(item::tenths_quantity, 30.0f);  // 300: its low 8 bits
  put_file("/mnt/1/cfg/K3DataItemTmp_2", k3.bytes);

  LegacyRecord settings(legacy_k3_settings::record_size);
  settings.u32(legacy_k3_settings::enable_mask, 0x185);
  for (std::size_t b = 0; b < 8 * legacy_k3_settings::block_stride; ++b)
    settings.u8(legacy_k3_settings::block + b, static_cast<std::uint8_t>(b * 7));
  put_file("/mnt/1/cfg/K3Enablecfg_2", settings.bytes);

  using namespace legacy_k3_config;
  LegacyRecord config(record_size);
  for (unsigned j = 0; j < small_setting_count; ++j) config.u32(small_settings + 4 * j, 0x300 + j);
  config.f32(setting_a + 4 * 0, 1.5f)
      .f32(setting_b + 4 * 1, -3.0f)
      .f32(setting_c + 4 * 6, 2.25f)
      .f32(setting_d + 4 * 7, 655.35f);
  put_file("/mnt/1/cfg/K3cfg_2", config.bytes);

  LegacyRecord ext(legacy_k3_extension::record_size);
  for (std::size_t b = 0; b < ext.bytes.size(); ++b) ext.u8(b, static_cast<std::uint8_t>(b));
  put_file(legacy_k3_extension::path, ext.bytes);
  put_file(controller_record::item_path, LegacyRecord(controller_record::size)
                                             .text(controller_record::time_text, "Thu Jan 01 2015 00:00:00")
                                             .bytes);

  ASSERT_EQ(convert_k3_live_data(1, 2), result::ok);
  auto rec = headed_payload("/usr/sav3/data/port1", live::record_size, 1);
  ASSERT_EQ(rec.size(), std::size_t{live::record_size});

  EXPECT_EQ(get(rec, readings::module_type), 4u);
  EXPECT_EQ(get(rec, readings::tenths_quantity), 44u);
  EXPECT_EQ(get(rec, readings::reading_a[0]), 0u);
  EXPECT_EQ(get(rec, readings::reading_a[1]), 1234u);
  EXPECT_EQ(get(rec, readings::reading_b[2]), 0u) << "65536 keeps its low 16 bits";
  EXPECT_EQ(get(rec, readings::reading_b[3]), 65534u);
  EXPECT_EQ(get(rec, readings::reading_c[7]), 100u);

  for (unsigned i = 0; i < 8; ++i) {
    const std::size_t from = legacy_k3_settings::block + legacy_k3_settings::block_stride * i;
    for (unsigned b = 0; b < 32; ++b)
      ASSERT_EQ(rec[live::settings_block[i].offset + b], settings.bytes[from + b])
          << "output " << i << " byte " << b;
  }
  for (unsigned j = 0; j < 40; ++j) EXPECT_EQ(get(rec, live::small_setting[j]), j) << "small setting " << j;
  EXPECT_EQ(get(rec, k3_settings::setting(live::settings, 0, 0)), 150u);
  EXPECT_EQ(get(rec, k3_settings::setting(live::settings, 1, 1)), 0u);
  EXPECT_EQ(get(rec, k3_settings::setting(live::settings, 2, 6)), 225u);
  EXPECT_EQ(get(rec, k3_settings::setting(live::settings, 3, 7)), 65534u);

  // Mask 0x185: outputs 0, 2 and 7; bit 8 belongs to no output.
  const std::uint8_t enabled[8] = {1, 0, 1, 0, 0, 0, 0, 1};
  for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(get(rec, live::enabled[i]), enabled[i]) << "output " << i;
  EXPECT_EQ(rec[443], 1);
  EXPECT_EQ(rec[450], 1);

  // The second module's block of the second table: bytes 128 to 159.
  for (unsigned i = 0; i < 8; ++i)
    EXPECT_EQ(get(rec, live::extension_2[i]), read32le(ext.bytes, 128 + 4 * i)) << "output " << i;
  EXPECT_EQ(get_signed(rec, live::reading_time), 1420070400);
  EXPECT_EQ(get(rec, live::reserved_1), 0u);
  EXPECT_EQ(get(rec, live::reserved_2), 0u);
}

TEST_F(K3Live, MaskOf0x85) {
  put_file("/mnt/1/cfg/K3Enablecfg_3", LegacyRecord(legacy_k3_settings::record_size).u32(0, 0x85).bytes);
  ASSERT_EQ(convert_k3_live_data(2, 3), result::ok);
  auto rec = headed_payload("/usr/sav3/data/port2", live::record_size, 1);
  ASSERT_EQ(rec.size(), std::size_t{live::record_size});
  const std::vector<std::uint8_t> flags(rec.begin() + 443, rec.begin() + 451);
  EXPECT_EQ(flags, (std::vector<std::uint8_t>{1, 0, 1, 0, 0, 0, 0, 1}));
}

TEST_F(K3Live, FourthModuleReadsOnlyItsExtensionBlock) {
  for (int n = 1; n <= 4; ++n) {
    put_file(numbered_path(item::item_path_format, n).text,
             LegacyRecord(item::record_size).text(176, "Active").bytes);
    put_file(numbered_path(legacy_k3_settings::path_format, n).text,
             LegacyRecord(legacy_k3_settings::record_size).u32(0, 0xFF).bytes);
    put_file(numbered_path(legacy_k3_config::path_format, n).text,
             LegacyRecord(legacy_k3_config::record_size).u32(0, 5).bytes);
  }
  LegacyRecord ext(legacy_k3_extension::record_size);
  for (std::size_t b = 0; b < ext.bytes.size(); ++b) ext.u8(b, static_cast<std::uint8_t>(b));
  put_file(legacy_k3_extension::path, ext.bytes);

  ASSERT_EQ(convert_k3_live_data(4, 4), result::ok);
  auto rec = headed_payload("/usr/sav3/data/port4", live::record_size, 1);
  auto expected = empty_record(live::record_size);
  for (unsigned b = 0; b < 32; ++b)
    expected[live::extension_2[0].offset + b] = static_cast<std::uint8_t>(192 + b);
  EXPECT_EQ(rec, expected);
}

}  // namespace
}  // namespace sav3::testing
