#include "sav3/container.h"
#include "sav3/convert.h"
#include "sav3/settings_web.h"

namespace sav3 {

namespace {

// One event bit: set when the legacy word at `source` is non-zero. The bit
// order of the new firmware does not follow the legacy offsets.
struct EventBit {
  const Field* field;
  unsigned bit;
  bool from_report;  // the one switch kept in the report settings
  std::size_t source;
};
constexpr EventBit event_bits[] = {
    {&web::event_bits1, 0, false, legacy_emailcfg::event_a[3]},
    {&web::event_bits1, 1, false, legacy_emailcfg::event_b[0]},
    {&web::event_bits1, 2, false, legacy_emailcfg::event_b[3]},
    {&web::event_bits1, 3, false, legacy_emailcfg::event_b[4]},
    {&web::event_bits1, 4, false, legacy_emailcfg::event_b[1]},
    {&web::event_bits1, 5, false, legacy_emailcfg::event_b[2]},
    {&web::event_bits2, 0, false, legacy_emailcfg::event_a[1]},
    {&web::event_bits2, 1, false, legacy_emailcfg::event_a[2]},
    {&web::event_bits2, 2, false, legacy_emailcfg::event_a[0]},
    {&web::event_bits2, 3, false, legacy_emailcfg::event_a[5]},
    {&web::event_bits2, 4, false, legacy_emailcfg::event_a[4]},
    {&web::event_bits2, 5, false, legacy_emailcfg::event_b[6]},
    {&web::event_bits2, 6, false, legacy_emailcfg::event_a[6]},
    {&web::event_bits2, 7, true, legacy_reportcfg::event_word},
    {&web::event_bits3, 0, false, legacy_emailcfg::event_b[7]},
};

}  // namespace

int convert_web_settings() {
  std::uint8_t record[web::record_size] = {};
  std::uint8_t assign[legacy_mcuassign::record_size] = {};
  std::uint8_t battery[legacy_battery_warning::record_size] = {};
  std::uint8_t lock[legacy_lock::record_size] = {};
  std::uint8_t pwm[legacy_pwmcfg::record_size] = {};
  std::uint8_t email[legacy_emailcfg::record_size] = {};
  std::uint8_t report[legacy_reportcfg::record_size] = {};
  std::uint8_t remember[legacy_remember_user::record_size] = {};
  Bytes out(record);

  read_plain_record(legacy_mcuassign::path, assign, legacy_mcuassign::record_size, 1);
  read_plain_record(legacy_battery_warning::lq_path, battery, legacy_battery_warning::record_size, 1);
  read_plain_record(legacy_lock::path, lock, legacy_lock::record_size, 1);
  read_plain_record(legacy_pwmcfg::path, pwm, legacy_pwmcfg::record_size, 1);
  read_plain_record(legacy_emailcfg::path, email, legacy_emailcfg::record_size, 1);
  read_plain_record(legacy_reportcfg::path, report, legacy_reportcfg::record_size, 1);
  read_plain_record(legacy_remember_user::path, remember, legacy_remember_user::record_size, 1);

  copy_bytes(out, web::assignment_block.offset, assign, legacy_mcuassign::block, web::assignment_block.width);
  copy_bytes(out, web::assignment_text.offset, assign, legacy_mcuassign::first_text,
             web::assignment_text.width);
  copy_bytes(out, web::battery_warning_block.offset, battery, legacy_battery_warning::block,
             web::battery_warning_block.width);
  put_scaled(out, web::duration, read_f32le(assign, legacy_mcuassign::duration_hours));
  put(out, web::lock_word, read32le(lock, legacy_lock::word));
  put(out, web::pwm_word, read32le(pwm, legacy_pwmcfg::web_word));
  put(out, web::battery_warning_word, read32le(battery, legacy_battery_warning::word));
  for (const EventBit& e : event_bits)
    set_bit_if(out, *e.field, e.bit,
               read32le(e.from_report ? ConstBytes(report) : ConstBytes(email), e.source) != 0);
  const std::int32_t count = read32le_signed(report, legacy_reportcfg::count);
  put(out, web::capped_count, static_cast<std::uint32_t>(count >= web::count_cap ? web::count_cap : count));
  put(out, web::report_interval,
      report_interval_seconds(read32le(email, legacy_emailcfg::report_interval_code)));
  put(out, web::remember_user, read8(remember, legacy_remember_user::word));
  put(out, web::report_word, read32le(report, legacy_reportcfg::word));
  put(out, web::report_byte, read8(report, legacy_reportcfg::byte));

  return write_headed_file(web::path, out, web::record_size, 1);
}

}  // namespace sav3
