#include "sav3/container.h"
#include "sav3/settings_ssl.h"

namespace sav3 {

int convert_ssl_settings() {
  std::uint8_t legacy[legacy_ssl::record_size] = {};
  std::uint8_t record[ssl::record_size] = {};
  read_plain_record(legacy_ssl::path, legacy, legacy_ssl::record_size, 1);

  // Texts and blocks move with their terminators and whatever follows them;
  // each option byte keeps the low 8 bits of its word (256 gives 0).
  Bytes out(record);
  put_bytes(out, ssl::text_1, legacy, legacy_ssl::text_1);
  put_bytes(out, ssl::text_2, legacy, legacy_ssl::text_2);
  put_low_bits(out, ssl::option_1, read32le(legacy, legacy_ssl::option_1));
  put_low_bits(out, ssl::option_2, read32le(legacy, legacy_ssl::option_2));
  put_low_bits(out, ssl::option_3, read32le(legacy, legacy_ssl::option_3));
  put_bytes(out, ssl::block_1, legacy, legacy_ssl::block_1);
  put_bytes(out, ssl::block_2, legacy, legacy_ssl::block_2);
  put_bytes(out, ssl::body, legacy, legacy_ssl::body);
  put_low_bits(out, ssl::option_4, read32le(legacy, legacy_ssl::option_4));
  put_low_bits(out, ssl::option_5, read32le(legacy, legacy_ssl::option_5));

  return write_headed_file(ssl::path, out, ssl::record_size, 1);
}

}  // namespace sav3
