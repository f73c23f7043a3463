#include "sav3/work_area.h"

namespace sav3 {

std::uint8_t* work_area() {
  alignas(16) static std::uint8_t area[work_area_size];
  return area;
}

}  // namespace sav3
