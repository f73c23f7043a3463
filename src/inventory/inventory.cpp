#include "sav3/inventory.h"

#include "sav3/container.h"
#include "sav3/device.h"
#include "sav3/legacy_text.h"
#include "sav3/lq_zrt.h"

namespace sav3 {

namespace {

// The second yes/no field of the LQ and ZRT item records: the exact text No
// there clears the option flag.
struct ItemRecordTest {
  const char* path_format;
  int record_size;
  std::size_t answer_offset;
};
constexpr ItemRecordTest lq_item{legacy_lq_item::item_path, legacy_lq_item::record_size,
                                 legacy_lq_item::answer_2};
constexpr ItemRecordTest zrt_item{legacy_zrt_item::item_path, legacy_zrt_item::record_size,
                                  legacy_zrt_item::answer_2};

bool item_record_says_no(const ItemRecordTest& test, unsigned n) {
  std::uint8_t item[legacy_zrt_item::record_size] = {};
  static_assert(legacy_zrt_item::record_size >= legacy_lq_item::record_size);
  Bytes buffer = slice(Bytes(item), 0, static_cast<std::size_t>(test.record_size));
  read_plain_record(numbered_path(test.path_format, n), buffer, test.record_size, 1);
  return answer_is(buffer, test.answer_offset, "No");
}

}  // namespace

int build_device_inventory() {
  std::uint8_t record[inventory::record_size] = {};
  std::uint8_t display[legacy_display::record_size] = {};
  read_plain_record(path::device_display, display, legacy_display::record_size, 1);

  Bytes out(record);
  put(out, inventory::port_code[0], module_code::controller);
  // Later groups overwrite earlier ones on the same port: ZRT wins over all,
  // K3 over the fifth kind and LQ, the fifth kind over LQ.
  struct Group {
    std::size_t first_slot;
    std::uint8_t code;
  };
  constexpr Group groups[] = {{legacy_display::lq_slots, module_code::lq},
                              {legacy_display::fifth_slots, module_code::fifth},
                              {legacy_display::k3_slots, module_code::k3},
                              {legacy_display::zrt_slots, module_code::zrt}};
  for (const Group& g : groups) {
    for (std::size_t slot = g.first_slot; slot < g.first_slot + 3; ++slot) {
      const std::uint8_t port = display[slot];
      if (port >= 1 && port <= port_count) record[port] = g.code;
    }
  }

  put(out, inventory::option_flag, 1);
  // Here LQ boards and ZRT modules are counted apart: the n-th of each kind
  // reads its own n-th item record.
  for (int p = 0; p <= port_count; ++p) {
    switch (record[p]) {
      case module_code::lq: {
        const unsigned n = (get(out, inventory::lq_count) + 1) & 0xFF;
        put(out, inventory::lq_count, n);
        if (item_record_says_no(lq_item, n)) put(out, inventory::option_flag, 0);
        break;
      }
      case module_code::zrt: {
        const unsigned n = (get(out, inventory::zrt_count) + 1) & 0xFF;
        put(out, inventory::zrt_count, n);
        if (item_record_says_no(zrt_item, n)) put(out, inventory::option_flag, 0);
        break;
      }
      case module_code::k3: put(out, inventory::k3_count, get(out, inventory::k3_count) + 1); break;
      case module_code::fifth: put(out, inventory::fifth_count, get(out, inventory::fifth_count) + 1); break;
      default: break;
    }
  }
  return write_headed_file(path::inventory, out, inventory::record_size, 1);
}

int dispatch_ports(const ModuleConverters& converters) {
  std::uint8_t record[inventory::record_size] = {};
  read_headed_file(path::inventory, record, inventory::record_size, 1);

  int first_failure = 0;
  auto call = [&first_failure](PortConverter convert, unsigned port, unsigned sequence) {
    if (convert == nullptr) return;
    const int rc = convert(port, sequence);
    if (first_failure == 0) first_failure = rc;
  };
  unsigned shared_count = 0;  // LQ boards and ZRT modules
  unsigned k3_count = 0;
  for (unsigned p = 1; p <= port_count; ++p) {
    switch (record[p]) {
      case module_code::zrt:
        shared_count = (shared_count + 1) & 0xFF;
        call(converters.zrt, p, shared_count);
        break;
      case module_code::k3:
        k3_count = (k3_count + 1) & 0xFF;
        call(converters.k3, p, k3_count);
        break;
      case module_code::lq:
        shared_count = (shared_count + 1) & 0xFF;
        call(converters.lq, p, shared_count);
        break;
      default: break;
    }
  }
  return first_failure;
}

int dispatch_live_data_ports() { return dispatch_ports(live_data_converters); }
int dispatch_config_ports() { return dispatch_ports(config_converters); }
int dispatch_history_ports() { return dispatch_ports(history_converters); }

}  // namespace sav3
