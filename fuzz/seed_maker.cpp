// seed_maker SAMPLE_DIR CORPUS_DIR: writes the sample device (seed 1) under
// SAMPLE_DIR, then one seed per converter target into
// CORPUS_DIR/<family>_fuzz (per matching port for a module converter), a seed
// of the whole run into CORPUS_DIR/whole_run_fuzz and the sample's inventory
// into CORPUS_DIR/headed_reader_fuzz. A seed is laid out as the harness reads
// it: the selector bytes, then per legacy input a 16-bit length and the bytes
// (0xFFFF for a missing file), each file cut so that the seed fits in the
// harness's -max_len. The inspector's seeds are the files the migration
// writes for the sample, each behind the harness's five selector bytes.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "converter_targets.h"
#include "inspect.h"
#include "sample_device.h"
#include "sav3/migration.h"

using namespace sav3;

namespace {

constexpr std::size_t max_len = 65536;
constexpr std::size_t missing = 0xFFFF;

std::string sample_root;

// The bytes of a sample file, or false when it is missing.
bool read_sample(const char* device_path, std::vector<std::uint8_t>& out) {
  out.clear();
  const std::string p = sample_root + device_path;
  std::FILE* f = std::fopen(p.c_str(), "r");
  if (f == nullptr) return false;
  std::uint8_t chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) != 0) out.insert(out.end(), chunk, chunk + n);
  std::fclose(f);
  return true;
}

// The seed of the selector bytes and the files, each file cut to its fair
// share of what the length limit leaves.
std::vector<std::uint8_t> make_seed(std::vector<std::uint8_t> head, const std::vector<std::string>& paths) {
  std::vector<std::vector<std::uint8_t>> files(paths.size());
  std::vector<bool> present(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) present[i] = read_sample(paths[i].c_str(), files[i]);
  std::size_t budget = max_len - head.size() - 2 * paths.size();
  std::vector<std::size_t> cut(paths.size(), 0);
  std::vector<bool> done(paths.size(), false);
  // Water-filling: small files whole, the large ones share the rest.
  for (bool changed = true; changed;) {
    changed = false;
    std::size_t open = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) open += !done[i];
    if (open == 0) break;
    const std::size_t share = budget / open;
    for (std::size_t i = 0; i < paths.size(); ++i) {
      if (done[i] || files[i].size() > share) continue;
      cut[i] = files[i].size();
      budget -= cut[i];
      done[i] = changed = true;
    }
    if (!changed)
      for (std::size_t i = 0; i < paths.size(); ++i)
        if (!done[i]) cut[i] = share < missing ? share : missing - 1;
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::size_t n = present[i] ? cut[i] : missing;
    head.push_back(static_cast<std::uint8_t>(n & 0xFF));
    head.push_back(static_cast<std::uint8_t>(n >> 8));
    if (present[i]) head.insert(head.end(), files[i].begin(), files[i].begin() + static_cast<long>(cut[i]));
  }
  return head;
}

int write_seed(const std::string& folder, const std::string& name, const std::vector<std::uint8_t>& seed) {
  mkdir(folder.c_str(), 0755);
  const std::string p = folder + "/" + name;
  std::FILE* f = std::fopen(p.c_str(), "w");
  if (f == nullptr || std::fwrite(seed.data(), 1, seed.size(), f) != seed.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "seed_maker: cannot write %s\n", p.c_str());
    return 1;
  }
  return 0;
}

std::string file_name(const char* target) {
  std::string s;
  for (const char* c = target; *c != '\0'; ++c)
    s += (std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_');
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: seed_maker SAMPLE_DIR CORPUS_DIR\n");
    return 2;
  }
  sample_root = argv[1];
  const std::string corpus = argv[2];
  mkdir(sample_root.c_str(), 0755);
  mkdir(corpus.c_str(), 0755);
  if (sample::write_sample_device(sample_root.c_str(), 1) != 0) return 1;

  // The sample's inventory, as the migration makes it, tells which module
  // sits on which port.
  set_device_root(sample_root.c_str());
  mkdir((sample_root + path::staging_data).c_str(), 0755);
  if (build_device_inventory() != result::ok) return 1;
  std::uint8_t inventory_record[inventory::record_size] = {};
  read_headed_file_if_present(path::inventory, inventory_record, inventory::record_size, 1);

  int failed = 0;
  for (const fuzz::Family& family : fuzz::families) {
    const std::string folder = corpus + "/" + family.name + "_fuzz";
    for (std::size_t t = 0; t < family.targets.size(); ++t) {
      const fuzz::Target& target = family.targets[t];
      std::uint8_t sequence_of_port[port_count + 1] = {};
      for (const PlannedModule& m : plan_ports(inventory_record, shared_supply_numbering))
        sequence_of_port[m.port] = m.sequence;
      for (unsigned port = 1; port <= port_count; ++port) {
        const std::uint8_t code = inventory_record[port];
        const unsigned sequence = sequence_of_port[port];
        if (target.module != 0 ? code != target.module : port != 1) continue;
        std::vector<std::string> paths;
        for (const fuzz::Input* in = target.inputs; in->path != nullptr; ++in)
          paths.emplace_back(numbered_path(in->path, target.module != 0 ? sequence : 1).text);
        const std::vector<std::uint8_t> head = {static_cast<std::uint8_t>(t),
                                                static_cast<std::uint8_t>(port - 1),
                                                static_cast<std::uint8_t>(sequence == 0 ? 0 : sequence - 1)};
        const std::string name = target.module != 0 ? file_name(target.name) + "_port" + std::to_string(port)
                                                    : file_name(target.name);
        failed |= write_seed(folder, name, make_seed(head, paths));
      }
    }
  }

  // The whole run: every legacy input once, in the harness's order.
  const fuzz::InputList& inputs = fuzz::all_inputs();
  std::vector<std::string> all;
  for (std::size_t i = 0; i < inputs.count; ++i) all.emplace_back(inputs.paths[i].text);
  failed |= write_seed(corpus + "/whole_run_fuzz", "sample", make_seed({}, all));

  // The headed reader: the sample's inventory as a 38-byte record.
  failed |= write_seed(corpus + "/headed_reader_fuzz", "inventory",
                       make_seed({inventory::record_size - 1, 1}, {path::inventory}));

  // The inspector: every file the migration writes for the sample, as text,
  // as JSON, and the JSON of the tree around it.
  for (const char* folder : {path::staging_cfg, path::staging_history})
    mkdir((sample_root + folder).c_str(), 0755);
  for (const NamedConversion& step : conversions()) step.convert();
  inspect::ExpectedFile files[64];
  const std::size_t n = inspect::expected_files(inventory_record, files);
  const std::span<const inspect::FileKind> kinds = inspect::file_kinds();
  for (std::size_t i = 0; i < n; ++i) {
    const std::string device_path = std::string(path::staging) + "/" + files[i].name;
    std::vector<std::uint8_t> seed;
    if (!read_sample(device_path.c_str(), seed)) continue;
    seed.resize(std::min(seed.size(), max_len - 5));
    const std::uint8_t kind = static_cast<std::uint8_t>(files[i].kind - kinds.data());
    const std::uint8_t mode = static_cast<std::uint8_t>(i % 3 == 0 ? 0 : i % 3 == 1 ? 1 : 5);
    seed.insert(seed.begin(), {kind, static_cast<std::uint8_t>(files[i].port), mode, 0, 0});
    failed |= write_seed(corpus + "/inspect_fuzz", file_name(files[i].name), seed);
  }
  return failed;
}
