#include "sav3/alarm.h"

#include "sav3/container.h"
#include "sav3/controller_record.h"
#include "sav3/device.h"
#include "sav3/inventory.h"
#include "sav3/legacy_text.h"
#include "sav3/legacy_time.h"
#include "sav3/lq_zrt.h"

namespace sav3 {

namespace {

// 1 when the first condition holds (it wins), else 2 when the second holds.
std::uint32_t alarm_code(bool first, bool second) { return first ? 1u : second ? 2u : 0u; }

bool bit(std::uint8_t flags, unsigned n) { return (flags >> n) & 1u; }

std::uint32_t controller_alarm_word(std::uint8_t a, std::uint8_t b) {
  namespace word = controller_alarm;
  std::uint32_t w = 0;
  w |= alarm_code(bit(b, 0), bit(a, 7)) << word::code_0;
  w |= alarm_code(bit(b, 2), bit(b, 1)) << word::code_2;
  w |= std::uint32_t{bit(a, 0)} << word::flag_4;
  w |= alarm_code(bit(a, 2), bit(a, 1)) << word::code_7;
  w |= alarm_code(bit(a, 4), bit(a, 3)) << word::code_9;
  w |= alarm_code(bit(a, 6), bit(a, 1)) << word::code_11;
  return w;
}

// G: the module's own alarm bits; of the shared bits D the first module owns
// bits 1 and 2, the second bits 3 and 4.
void fill_supply_block(Bytes block, std::uint8_t g, std::uint8_t d, unsigned n) {
  namespace blk = supply_alarm_block;
  const unsigned shared = n == 1 ? 1 : 3;
  std::uint32_t b0 = 0;
  b0 |= std::uint32_t{bit(g, 0)} << 1;
  b0 |= std::uint32_t{bit(g, 1)} << 2;
  b0 |= std::uint32_t{bit(g, 2)} << 3;
  b0 |= alarm_code(bit(g, 4), false) << 4;
  b0 |= std::uint32_t{bit(g, 5)} << 6;
  b0 |= std::uint32_t{bit(g, 6)} << 7;
  std::uint32_t b1 = 0;
  b1 |= std::uint32_t{bit(g, 6)} << 0;
  b1 |= std::uint32_t{bit(g, 3)} << 1;
  b1 |= alarm_code(bit(d, shared), bit(d, shared + 1)) << 3;
  put(block, blk::bits_0, b0);
  put(block, blk::bits_1, b1);
}

// F: the alarm bits of output j of the k-th K3 module.
void fill_k3_block(Bytes block, ConstBytes controller, unsigned k, std::uint8_t configured) {
  namespace blk = k3_alarm_block;
  for (unsigned j = 0; j < 8; ++j) {
    const std::uint8_t f =
        read8(controller, controller_record::alarm_k3 + controller_record::alarm_k3_stride * (k - 1) + j);
    std::uint32_t bits = 0;
    bits |= std::uint32_t{bit(configured, j)} << blk::configured_bit;
    bits |= std::uint32_t{bit(f, 4)} << 1;
    bits |= std::uint32_t{bit(f, 5)} << 2;
    bits |= std::uint32_t{bit(f, 6)} << 3;
    bits |= alarm_code(bit(f, 0), bit(f, 1)) << 6;
    put(block, blk::output_bits[j], bits);
    put(block, blk::output_code[j], alarm_code(bit(f, 2), bit(f, 3)));
  }
}

}  // namespace

K3ConfiguredOutputs read_k3_configured_outputs(ConstBytes inventory_record) {
  K3ConfiguredOutputs k3{};
  for (const PlannedModule& m : plan_ports(inventory_record, shared_supply_numbering)) {
    const unsigned k = m.sequence;
    if (m.kind != module_code::k3 || !has_legacy_k3_files(k)) continue;
    std::uint8_t cfg[legacy_k3_config::record_size] = {};
    read_plain_record(numbered_path(legacy_k3_config::path_format, k), cfg, legacy_k3_config::record_size, 1);
    for (unsigned j = 0; j < 8; ++j)
      if (read32le(cfg, legacy_k3_config::configured_group + 4 * j) != 0)
        k3.configured[k - 1] = static_cast<std::uint8_t>(k3.configured[k - 1] | 1u << j);
  }
  return k3;
}

void build_alarm_state(Bytes state, ConstBytes controller, ConstBytes inventory_record,
                       const K3ConfiguredOutputs& k3) {
  namespace legacy = controller_record;
  const std::uint8_t shared = read8(controller, legacy::alarm_shared);
  put(state, alarm_state::controller_word,
      controller_alarm_word(read8(controller, legacy::alarm_a), read8(controller, legacy::alarm_b)));

  // Numbered as the port dispatches number the modules; modules past the
  // legacy slots keep a zero block.
  for (const PlannedModule& m : plan_ports(inventory_record, shared_supply_numbering)) {
    const Field& field = alarm_state::port_block[m.port - 1];
    const Bytes block = slice(state, field.offset, field.width);
    const unsigned n = m.sequence;
    if (m.kind == module_code::k3) {
      if (has_legacy_k3_files(n)) fill_k3_block(block, controller, n, k3.configured[n - 1]);
    } else if (has_legacy_supply_slots(n)) {
      fill_supply_block(block, read8(controller, legacy::alarm_supply + n - 1), shared, n);
    }
  }

  set_bit_if(state, alarm_state::shared_flag, 0, bit(shared, 0));
  put(state, alarm_state::state_time,
      static_cast<std::uint32_t>(legacy_time_seconds(text_at(controller, legacy::time_text))));
}

int convert_alarm_state() {
  std::uint8_t state[alarm_state::size] = {};
  std::uint8_t inventory_record[inventory::record_size] = {};
  std::uint8_t item[controller_record::size] = {};
  read_plain_record(controller_record::item_path, item, controller_record::size, 1);
  read_headed_file(path::inventory, inventory_record, inventory::record_size, 1);

  build_alarm_state(state, item, inventory_record, read_k3_configured_outputs(inventory_record));
  return write_headed_file(alarm_state::path, state, alarm_state::size, 1);
}

}  // namespace sav3
