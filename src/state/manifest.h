// The manifest of the staging tree, and the exact check of a tree against it.
#pragma once

#include <cstddef>
#include <cstdio>

namespace sav3 {

// Writes the manifest of the staging tree to `out`, flushing every file and
// folder of it to the medium as it goes. On failure `failed` names the entry.
[[nodiscard]] bool write_staging_manifest(std::FILE* out, char* failed, std::size_t failed_size);

// Which entries of a tree the manifest describes exactly.
enum class TreeRule {
  staging,  // all but the top-level dot entries (the state files)
  live,     // /usr/sav: all but the top-level dot entries (rm -rf /usr/sav/* keeps them)
  live2,    // /usr/sav2: top-level entries with "update" in their name may hold more
};
// The tree holds exactly the manifest's entries with the same kinds and bytes;
// with `flush`, every file and folder checked is flushed to the medium.
[[nodiscard]] bool tree_matches_manifest(const char* tree, TreeRule rule, bool flush, char* failed,
                                         std::size_t failed_size);

}  // namespace sav3
