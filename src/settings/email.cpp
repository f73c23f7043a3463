#include "sav3/container.h"
#include "sav3/convert.h"
#include "sav3/legacy_text.h"
#include "sav3/settings_email.h"

namespace sav3 {

int convert_email_settings() {
  std::uint8_t legacy[legacy_emailcfg::record_size] = {};
  std::uint8_t record[email::record_size] = {};
  read_plain_record(legacy_emailcfg::path, legacy, legacy_emailcfg::record_size, 1);

  Bytes out(record);
  // The short texts move whole, byte for byte; the four bytes after each stay 0,
  // so a text that filled its legacy slot still reads as terminated.
  put_bytes(out, email::short_text_1, legacy, legacy_emailcfg::short_text[0]);
  put_bytes(out, email::short_text_2, legacy, legacy_emailcfg::short_text[1]);
  put_bytes(out, email::short_text_3, legacy, legacy_emailcfg::short_text[2]);
  // Option words keep their low byte, not reduced to 0 or 1.
  put_low_bits(out, email::option_b, read32le(legacy, legacy_emailcfg::option_word_b));
  // The old firmware read the number with strtol: a text without NUL runs on
  // into option word B (bounded by the record), and only the low 16 bits stay.
  put_low_bits(out, email::number,
               static_cast<std::uint32_t>(parse_long32(text_at(legacy, legacy_emailcfg::number_text))));
  put_low_bits(out, email::option_a, read32le(legacy, legacy_emailcfg::option_word_a));
  put(out, email::report_interval,
      report_interval_seconds(read32le(legacy, legacy_emailcfg::report_interval_code)));
  // Only the first 64 of the 120 legacy bytes move; nothing is added or terminated.
  put_bytes(out, email::long_text_1, legacy, legacy_emailcfg::long_text[0]);
  put_bytes(out, email::long_text_2, legacy, legacy_emailcfg::long_text[1]);
  put_bytes(out, email::long_text_3, legacy, legacy_emailcfg::long_text[2]);
  put_bytes(out, email::long_text_4, legacy, legacy_emailcfg::long_text[3]);

  return write_headed_file(email::path, out, email::record_size, 1);
}

}  // namespace sav3
