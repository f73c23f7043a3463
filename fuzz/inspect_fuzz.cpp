// The record inspector on hostile files: one fuzz input is a file's bytes
// under any kind's folder and name (or a name the migration never writes),
// inspected as text and as JSON, with secrets shown or not, one file or the
// whole tree around it, or compared (--diff) with a sound file of its kind.
// Never a crash, a status of 0, 1 or 2, and the JSON is always JSON Lines of
// the tools' vocabulary (docs/json.md).
//
// Input: byte 0 the kind (an index into the inspector's table; beyond it a
// name the migration never writes), byte 1 the port, byte 2 the mode (bit 0
// JSON, bit 1 secrets shown, bit 2 the whole tree, bit 3 the bytes are the
// tree's state file too, bit 4 compared with a sound file), bytes 3 and 4 the record asked for
// (little-endian), then the file's bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_device.h"
#include "inspect.h"
#include "json_check.h"
#include "sav3/container.h"
#include "sav3/migration_state.h"

using namespace sav3;

namespace {

constexpr std::size_t head = 5;

void write_device_file(const char* device_path, const std::uint8_t* data, std::size_t size) {
  fuzz::make_parents(device_path);
  std::FILE* f = std::fopen(host_path(device_path), "wb");
  if (f == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < head) return 0;
  fuzz::scratch_root();
  for (const char* folder : {path::staging_data, path::staging_cfg, path::staging_history})
    fuzz::clear_device_folder(folder);
  const char* state_path = path::state;
  fuzz::remove_device_file(state_path);

  const std::span<const inspect::FileKind> kinds = inspect::file_kinds();
  const unsigned port = data[1] % 6;
  char device_path[96];
  if (data[0] < kinds.size())
    std::snprintf(device_path, sizeof device_path, "%s", output_path(kinds[data[0]], port).text);
  else
    std::snprintf(device_path, sizeof device_path, "%s/data/port%u7", path::staging, port);
  write_device_file(device_path, data + head, size - head);
  if (data[2] & 8) write_device_file(state_path, data + head, size - head);

  inspect::Options options;
  options.json = (data[2] & 1) != 0;
  options.show_secrets = (data[2] & 2) != 0;
  options.record = static_cast<long>(data[3] | (data[4] << 8));
  const bool tree = (data[2] & 4) != 0;
  const bool diff = (data[2] & 16) != 0 && !tree;

  // The sound file to compare with: zero records of the kind, beside the
  // staging tree.
  char sound_path[96] = "";
  if (diff) {
    const OutputFile& k = data[0] < kinds.size() ? kinds[data[0]] : kinds[0];
    static std::vector<std::uint8_t> zeros;
    zeros.assign(std::size_t{k.size} * k.count, 0);
    std::snprintf(sound_path, sizeof sound_path, "/usr/sound%s", device_path + sizeof path::staging - 1);
    fuzz::make_parents(sound_path);
    if (write_headed_file(sound_path, zeros, static_cast<int>(k.size), static_cast<int>(k.count)) !=
        FileResult::ok)
      std::abort();
  }

  static std::FILE* err = std::fopen("/dev/null", "w");
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&text, &length);
  if (out == nullptr || err == nullptr) std::abort();
  char host_a[256];
  std::snprintf(host_a, sizeof host_a, "%s", host_path(device_path).text);
  const int status = tree   ? inspect::inspect_tree(out, err, host_path(path::staging), options)
                     : diff ? inspect::inspect_diff(out, err, host_a, host_path(sound_path), options)
                            : inspect::inspect_file(out, err, host_a, options);
  std::fclose(out);
  if (status < 0 || status > 2) {
    std::fprintf(stderr, "status %d\n", status);
    std::abort();
  }
  if (options.json && !inspect::vocabulary_problem({text, length}).empty()) {
    std::fprintf(stderr, "JSON outside the vocabulary:\n%.*s\n", static_cast<int>(length), text);
    std::abort();
  }
  std::free(text);
  return 0;
}
