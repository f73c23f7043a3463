#include "sav3/controller.h"

#include "sav3/container.h"
#include "sav3/convert.h"

namespace sav3 {

void put_controller_limits(Bytes record, const Field (&range)[2], const Field (&limit)[10],
                           ConstBytes reportcfg) {
  put(record, range[0], static_cast<std::uint32_t>(controller_range_low));
  put(record, range[1], static_cast<std::uint32_t>(controller_range_high));
  // x100 signed, then the low 16 bits: a limit of 327.68 or more wraps.
  for (std::size_t k = 0; k < std::size(limit); ++k)
    put_scaled(record, limit[k], read_f32le(reportcfg, legacy_reportcfg::limit_source[k]));
}

int convert_controller_config() {
  namespace cfg = controller_config;
  std::uint8_t record[cfg::size] = {};
  std::uint8_t pwmcfg[legacy_pwmcfg::record_size] = {};
  std::uint8_t assign[legacy_mcuassign::record_size] = {};
  std::uint8_t reportcfg[legacy_reportcfg::record_size] = {};
  read_plain_record(legacy_pwmcfg::path, pwmcfg, legacy_pwmcfg::record_size, 1);
  read_plain_record(legacy_mcuassign::path, assign, legacy_mcuassign::record_size, 1);
  read_plain_record(legacy_reportcfg::path, reportcfg, legacy_reportcfg::record_size, 1);

  Bytes out(record);
  set_bit_if(out, cfg::control_flags, cfg::control_1_bit, read32le(pwmcfg, legacy_pwmcfg::control_1) != 0);
  set_bit_if(out, cfg::control_flags, cfg::control_2_bit, read32le(pwmcfg, legacy_pwmcfg::control_2) != 0);
  put_text(out, cfg::name[0], cfg::enclosure_name);
  // The legacy name slots are taken bit for bit: a name of 32 or more
  // characters keeps exactly 32 and no terminator.
  for (std::size_t s = 0; s < std::size(legacy_mcuassign::name_source); ++s)
    put_bytes(out, cfg::name[s + 1], assign, legacy_mcuassign::name_source[s]);
  put_controller_limits(out, cfg::range, cfg::limit, reportcfg);
  put_low_bits(out, cfg::pwm_setting, read32le(pwmcfg, legacy_pwmcfg::setting));
  for (const cfg::ReportBit& flag : cfg::report_bits)
    set_bit_if(out, cfg::report_flags, flag.bit,
               flag.source == cfg::always_set || read8(reportcfg, flag.source) != 0);
  return write_headed_file(cfg::path, out, cfg::size, 1);
}

}  // namespace sav3
