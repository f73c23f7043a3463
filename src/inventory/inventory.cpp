#include "sav3/inventory.h"

#include "sav3/container.h"
#include "sav3/device.h"
#include "sav3/legacy_text.h"
#include "sav3/lq_zrt.h"
#include "sav3/output_files.h"

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
  read_plain_record_if_present(numbered_path(test.path_format, n), buffer, test.record_size, 1);
  return answer_is(buffer, test.answer_offset, "No");
}

}  // namespace

void fill_device_inventory(Bytes out) {
  std::uint8_t display[legacy_display::record_size] = {};
  read_plain_record_if_present(path::device_display, display, legacy_display::record_size, 1);

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
      if (port >= 1 && port <= port_count) out[port] = g.code;
    }
  }

  put(out, inventory::option_flag, 1);
  // Each kind counted apart: the n-th LQ board and the n-th ZRT module read
  // their own n-th item record, and the last numbers are the counts.
  for (const PlannedModule& m : plan_ports(out, numbering_by_kind)) {
    switch (m.kind) {
      case module_code::lq:
        put(out, inventory::lq_count, m.sequence);
        if (item_record_says_no(lq_item, m.sequence)) put(out, inventory::option_flag, 0);
        break;
      case module_code::zrt:
        put(out, inventory::zrt_count, m.sequence);
        if (item_record_says_no(zrt_item, m.sequence)) put(out, inventory::option_flag, 0);
        break;
      case module_code::k3: put(out, inventory::k3_count, m.sequence); break;
      case module_code::fifth: put(out, inventory::fifth_count, m.sequence); break;
      default: break;
    }
  }
}

int build_device_inventory() {
  std::uint8_t record[inventory::record_size] = {};
  fill_device_inventory(record);
  return code(write_output(Output::inventory, 0, record));
}

namespace {
// The next number of a counter: 1-based, kept in 8 bits.
std::uint8_t next(std::uint8_t& counter) { return counter = static_cast<std::uint8_t>(counter + 1); }
}  // namespace

std::uint8_t shared_supply_numbering(std::uint8_t kind, SequenceCounters& counters) {
  switch (kind) {
    case module_code::lq:
    case module_code::zrt: return next(counters.supply);
    case module_code::k3: return next(counters.k3);
    default: return 0;
  }
}

std::uint8_t numbering_by_kind(std::uint8_t kind, SequenceCounters& counters) {
  switch (kind) {
    case module_code::lq: return next(counters.lq);
    case module_code::zrt: return next(counters.zrt);
    case module_code::k3: return next(counters.k3);
    case module_code::fifth: return next(counters.fifth);
    default: return 0;
  }
}

PortPlan plan_ports(ConstBytes inventory_record, CountingRule rule) {
  PortPlan plan{};
  SequenceCounters counters{};
  for (unsigned p = 1; p <= port_count; ++p) {
    const auto kind = static_cast<std::uint8_t>(get(inventory_record, inventory::port_code[p]));
    const std::uint8_t sequence = rule(kind, counters);
    if (sequence != 0) plan.modules[plan.count++] = {static_cast<std::uint8_t>(p), kind, sequence};
  }
  return plan;
}

PortPlan read_port_plan() {
  std::uint8_t record[inventory::record_size] = {};
  read_headed_file_if_present(path::inventory, record, inventory::record_size, 1);
  return plan_ports(record, shared_supply_numbering);
}

int dispatch_ports(const ModuleConverters& converters) {
  int first_failure = 0;
  for (const PlannedModule& m : read_port_plan()) {
    const PortConverter convert = m.kind == module_code::lq    ? converters.lq
                                  : m.kind == module_code::zrt ? converters.zrt
                                                               : converters.k3;
    const int rc = convert(m.port, m.sequence);
    if (first_failure == 0) first_failure = rc;
  }
  return first_failure;
}

int dispatch_live_data_ports() { return dispatch_ports(live_data_converters); }
int dispatch_config_ports() { return dispatch_ports(config_converters); }
int dispatch_history_ports() { return dispatch_ports(history_converters); }

}  // namespace sav3
