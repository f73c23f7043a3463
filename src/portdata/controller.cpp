#include "sav3/controller.h"

#include "sav3/container.h"
#include "sav3/controller_record.h"
#include "sav3/convert.h"
#include "sav3/device.h"
#include "sav3/legacy_text.h"
#include "sav3/legacy_time.h"

namespace sav3 {

void build_controller_live_record(Bytes record, ConstBytes controller, ConstBytes pwmcfg) {
  namespace live = controller_live;
  namespace legacy = controller_record;
  put(record, live::module_type, module_code::controller);
  put_scaled(record, live::tenths, read_f32le(controller, legacy::tenths));
  set_bit_if(record, live::state_flags, live::active_bit,
             text_at(controller, legacy::state_word) == "Active");
  set_bit_if(record, live::state_flags, live::switch_1_bit, answer_is(controller, legacy::switch_1, "ON"));
  set_bit_if(record, live::state_flags, live::switch_2_bit, answer_is(controller, legacy::switch_2, "ON"));
  put_scaled(record, live::reading_a, read_f32le(controller, legacy::reading_a));
  put_scaled(record, live::reading_d, read_f32le(controller, legacy::reading_d));
  put_scaled(record, live::reading_e, read_f32le(controller, legacy::reading_e));
  put_scaled(record, live::reading_f, read_f32le(controller, legacy::reading_f));
  put_scaled(record, live::reading_b, read_f32le(controller, legacy::reading_b));
  put_scaled(record, live::reading_c, read_f32le(controller, legacy::reading_c));
  put(record, live::pwm_word_1, read16le(pwmcfg, legacy_pwmcfg::pwm_word_1));
  put(record, live::pwm_word_2, read16le(pwmcfg, legacy_pwmcfg::pwm_word_2));
  put(record, live::reading_time,
      static_cast<std::uint32_t>(legacy_time_seconds(text_at(controller, legacy::time_text))));
}

int convert_controller_live_data() {
  std::uint8_t record[controller_live::size] = {};
  std::uint8_t item[controller_record::size] = {};
  std::uint8_t pwmcfg[legacy_pwmcfg::record_size] = {};
  read_plain_record(controller_record::item_path, item, controller_record::size, 1);
  read_plain_record(legacy_pwmcfg::path, pwmcfg, legacy_pwmcfg::record_size, 1);

  build_controller_live_record(record, item, pwmcfg);
  return write_headed_file(controller_live::path, record, controller_live::size, 1);
}

}  // namespace sav3
