// The check of the opening commands' copies against their sources.
#pragma once

#include <cstddef>

namespace sav3 {

// Every regular file that the opening commands copy (the device's
// copy_sources) is in the staging tree with the same bytes; otherwise false
// with the first source that differs (or cannot be read) in `failed`.
[[nodiscard]] bool copies_match_sources(char* failed, std::size_t capacity);

}  // namespace sav3
