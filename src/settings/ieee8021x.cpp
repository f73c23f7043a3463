#include "sav3/container.h"
#include "sav3/output_files.h"
#include "sav3/settings_ieee8021x.h"

namespace sav3 {

int convert_ieee8021x_settings() {
  std::uint8_t legacy[legacy_ieee8021x::record_size] = {};
  std::uint8_t record[ieee8021x::record_size] = {};
  read_plain_record_if_present(legacy_ieee8021x::path, legacy, legacy_ieee8021x::record_size, 1);

  // Every field moves bit for bit (texts with whatever follows their
  // terminators); only the legacy fill bytes are left behind.
  Bytes out(record);
  put_bytes(out, ieee8021x::text_1, legacy, legacy_ieee8021x::text_1);
  put_bytes(out, ieee8021x::option_1, legacy, legacy_ieee8021x::option_1);
  put_bytes(out, ieee8021x::text_2, legacy, legacy_ieee8021x::text_2);
  put_bytes(out, ieee8021x::option_2, legacy, legacy_ieee8021x::option_2);
  for (std::size_t i = 0; i < ieee8021x::texts_3_to_19.size(); ++i)
    put_bytes(out, ieee8021x::texts_3_to_19[i], legacy,
              legacy_ieee8021x::texts_3_to_19 + legacy_ieee8021x::text_stride * i);
  put_bytes(out, ieee8021x::option_3, legacy, legacy_ieee8021x::option_3);
  put_bytes(out, ieee8021x::option_4, legacy, legacy_ieee8021x::option_4);
  put_bytes(out, ieee8021x::option_5, legacy, legacy_ieee8021x::option_5);
  put_bytes(out, ieee8021x::option_group_1, legacy, legacy_ieee8021x::option_group_1);
  put_bytes(out, ieee8021x::option_6, legacy, legacy_ieee8021x::option_6);
  for (std::size_t i = 0; i < ieee8021x::word_group.size(); ++i)
    put_bytes(out, ieee8021x::word_group[i], legacy, legacy_ieee8021x::word_group + 4 * i);
  put_bytes(out, ieee8021x::option_group_2, legacy, legacy_ieee8021x::option_group_2);
  put_bytes(out, ieee8021x::word, legacy, legacy_ieee8021x::word);
  put_bytes(out, ieee8021x::option_7, legacy, legacy_ieee8021x::option_7);

  return code(write_output(Output::ieee8021x, 0, out));
}

}  // namespace sav3
