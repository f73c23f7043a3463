// The histories' work area.
//
// A history converter holds 1000 legacy records and 1000 new records at once,
// up to about a megabyte. The histories run one after another, never side by
// side, so they share one static area instead of each keeping its own: the
// tool's peak memory is the largest history's need, not the sum of all of
// them. A converter takes the area at the start of its call, laid out as its
// own struct of buffers, and is done with it when it returns.
//
// Only what the converter builds needs zeros to start from: its legacy
// buffers are filled whole by read_plain_record_filled (the bytes read, then
// zeros). So a converter puts its new records first in its struct and has
// only those zero-filled, rather than the whole megabyte at every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

namespace sav3 {

inline constexpr std::size_t work_area_size = 1024 * 1024;

// The area itself (static storage, suitably aligned for any buffer struct).
std::uint8_t* work_area();

// The area as a `Buffers`, valid until the next call, its first `zeroed`
// bytes zero-filled (all of it by default). The caller fills every byte after
// them itself before it reads them, with reads that fill their whole buffer.
template <typename Buffers>
Buffers& take_work_area(std::size_t zeroed = sizeof(Buffers)) {
  static_assert(sizeof(Buffers) <= work_area_size, "the history buffers outgrew the work area");
  static_assert(std::is_trivial_v<Buffers>);
  Buffers& buffers = *::new (work_area()) Buffers;
  std::memset(&buffers, 0, zeroed < sizeof(Buffers) ? zeroed : sizeof(Buffers));
  return buffers;
}

}  // namespace sav3
