// The check of the opening commands' copies against their sources.
#pragma once

#include <cstddef>

namespace sav3 {

// Every regular file that "cp /mnt/1/cfg/* ...", "cp /mnt/1/etc/* ...",
// "cp /usr/sav/update_log ..." and "cp /usr/sav/data/userlogindata.txt ..."
// copy is in the staging tree with the same bytes; otherwise false with the
// first source that differs (or cannot be read) in `failed`.
[[nodiscard]] bool copies_match_sources(char* failed, std::size_t capacity);

}  // namespace sav3
