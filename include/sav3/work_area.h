// The histories' work area.
//
// A history converter holds 1000 legacy records and 1000 new records at once,
// up to about a megabyte. The histories run one after another, never side by
// side, so they share one static area instead of each keeping its own: the
// tool's peak memory is the largest history's need, not the sum of all of
// them. A converter takes the area at the start of its call, laid out as its
// own struct of buffers and zero-filled, and is done with it when it returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

namespace sav3 {

inline constexpr std::size_t work_area_size = 1024 * 1024;

// The area itself (static storage, suitably aligned for any buffer struct).
std::uint8_t* work_area();

// The area as a zero-filled `Buffers`, valid until the next call.
template <typename Buffers>
Buffers& take_work_area() {
  static_assert(sizeof(Buffers) <= work_area_size, "the history buffers outgrew the work area");
  static_assert(std::is_trivial_v<Buffers>);
  return *::new (work_area()) Buffers{};
}

}  // namespace sav3
