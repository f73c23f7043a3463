// The legacy inputs of a device, and reading one as its converters read it.
#include "sav3/legacy_inputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "sav3/legacy_time.h"

namespace sav3 {

namespace {

struct InputList {
  std::span<NamedLegacyInput> out;
  std::size_t count = 0;

  void add(const char* path, const LegacyInput& input) {
    for (std::size_t i = 0; i < count; ++i)
      if (std::strcmp(out[i].path, path) == 0) return;
    if (count == out.size()) return;
    NamedLegacyInput& named = out[count++];
    std::snprintf(named.path, sizeof named.path, "%s", path);
    named.input = &input;
  }
};

// A supply module numbered past 2 has no legacy files.
bool has_files(const PlannedModule& m) {
  return (m.kind != module_code::lq && m.kind != module_code::zrt) || has_legacy_supply_slots(m.sequence);
}

}  // namespace

std::size_t legacy_inputs_of(ConstBytes inventory, std::span<NamedLegacyInput> out) {
  InputList list{out};
  const PortPlan dispatched = plan_ports(inventory, shared_supply_numbering);
  const PortPlan by_kind = plan_ports(inventory, numbering_by_kind);
  for (const LegacyInput& input : legacy_inputs) {
    if (input.modules == legacy_inputs_table::always) {
      list.add(input.path, input);
      continue;
    }
    const bool numbered = std::strstr(input.path, "%d") != nullptr;
    for (const PlannedModule& m : dispatched) {
      if ((input.modules & module_bit(m.kind)) == 0 || !has_files(m)) continue;
      list.add(numbered ? numbered_path(input.path, m.sequence).text : input.path, input);
    }
    if (!input.numbered_by_kind) continue;
    for (const PlannedModule& m : by_kind)
      if ((input.modules & module_bit(m.kind)) != 0)
        list.add(numbered_path(input.path, m.sequence).text, input);
  }
  return list.count;
}

InputReading read_legacy_input(const char* path, const LegacyInput& input) {
  InputReading r{};
  r.look = look_at_legacy_file(path, r.error);
  if (r.look != LegacyLook::regular) return r;
  const int fd = open(host_path(path), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    r.error = errno;
    r.look = LegacyLook::unreadable;
    return r;
  }
  // Record by record, as far as the converters read (a text file to its
  // end): a huge or sparse file costs no more than its records.
  const std::uint64_t wanted = input.size == 0 ? UINT64_MAX : input.bytes();
  std::uint8_t chunk[4096];
  char time_text[controller_record::size + 1];
  std::uint64_t record_start = 0;
  while (r.read < wanted) {
    const std::size_t asked = static_cast<std::size_t>(std::min<std::uint64_t>(
        input.time_texts ? record_start + input.size - r.read : sizeof chunk, wanted - r.read));
    const ssize_t n = read(fd, chunk, std::min(asked, sizeof chunk));
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      r.error = errno;
      r.look = LegacyLook::unreadable;
      break;
    }
    if (input.time_texts) {
      // The text bounded to its record, as the converters take it.
      const std::size_t at = static_cast<std::size_t>(r.read - record_start);
      if (at < sizeof time_text - 1)
        std::memcpy(time_text + at, chunk, std::min(static_cast<std::size_t>(n), sizeof time_text - 1 - at));
    }
    r.read += static_cast<std::uint64_t>(n);
    if (input.time_texts && r.read == record_start + input.size) {
      time_text[sizeof time_text - 1] = '\0';
      std::tm tm;
      if (parse_legacy_time(time_text, tm) == nullptr) ++r.bad_times;
      record_start = r.read;
    }
  }
  if (input.time_texts && r.look == LegacyLook::regular && r.read > record_start) {
    // A record cut short: its bytes, then zeros.
    const std::size_t got = static_cast<std::size_t>(r.read - record_start);
    std::memset(time_text + got, 0, sizeof time_text - got);
    std::tm tm;
    if (parse_legacy_time(time_text, tm) == nullptr) ++r.bad_times;
  }
  close(fd);
  return r;
}

}  // namespace sav3
