// The whole run of conversions on a fuzzed device: one fuzz input fills every
// legacy file that any converter reads (the display record first, so that the
// input steers which modules sit on the ports), then every conversion of the
// driver runs in order, and every file the migration writes for the inventory
// it made is checked: present, 30 + size x count bytes, both checksums.
#include <cstring>

#include "converter_targets.h"
#include "inspect.h"
#include "sav3/migration.h"

using namespace sav3;

namespace {

// Whether the conversions write the file: a module port file when the
// dispatches convert the module kind, any other file when a target lists it
// as an output.
bool written_by_the_conversions(const OutputFile& file, std::uint8_t module) {
  if (file.per_port())
    return module == module_code::lq || module == module_code::zrt || module == module_code::k3;
  for (const fuzz::Family& family : fuzz::families)
    for (const fuzz::Target& t : family.targets)
      for (const Output o : t.written())
        if (o == file.id) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Splitter in{{data, size}};
  fuzz::scratch_root();
  for (const char* folder : {path::staging_data, path::staging_cfg, path::staging_etc, path::staging_history})
    fuzz::clear_device_folder(folder);
  const fuzz::InputList& inputs = fuzz::all_inputs();
  for (std::size_t i = 0; i < inputs.count; ++i) in.place(inputs.paths[i]);

  int step = 0;
  for (const NamedConversion& each : conversions()) {
    ++step;
    const int rc = each.convert();
    if (rc != result::ok) {
      std::fprintf(stderr, "conversion %d returned %d\n", step, rc);
      std::abort();
    }
  }

  std::uint8_t inventory_record[inventory::record_size] = {};
  if (read_headed_file(path::inventory, inventory_record, inventory::record_size, 1) != FileResult::ok)
    std::abort();
  inspect::ExpectedFile files[64];
  const std::size_t n = inspect::expected_files(inventory_record, files);
  for (std::size_t i = 0; i < n; ++i) {
    const OutputFile& file = *files[i].kind;
    const unsigned port = files[i].port;
    const std::uint8_t module = file.per_port() ? inventory_record[port] : 0;
    if (!device_file_exists(output_path(file, port)) && !written_by_the_conversions(file, module)) continue;
    fuzz::check_output(file, port);
  }
  return 0;
}
