// One harness per converter family (FUZZ_FAMILY names the target table): the
// first input byte picks the converter, the next two the port and sequence
// number, the rest fills the legacy files it reads.
#include "converter_targets.h"

#ifndef FUZZ_FAMILY
#error "FUZZ_FAMILY must name a target table"
#endif

using namespace sav3;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Splitter in{{data, size}};
  constexpr std::size_t targets = std::size(fuzz::FUZZ_FAMILY);
  const fuzz::Target& t = fuzz::FUZZ_FAMILY[in.byte() % targets];
  const unsigned port = 1 + in.byte() % port_count;
  const unsigned sequence = 1 + in.byte() % 4;
  fuzz::scratch_root();
  for (const Output o : t.written()) {
    const PathName path = output_path(output_file(o), port);
    fuzz::make_parents(path);
    fuzz::remove_device_file(path);
  }
  in.place_all(t.inputs, sequence);
  const int rc = t.run != nullptr ? t.run() : t.run_module(port, sequence);
  if (rc != result::ok) {
    std::fprintf(stderr, "%s returned %d\n", t.name, rc);
    std::abort();
  }
  for (const Output o : t.written()) fuzz::check_output(output_file(o), port);
  return 0;
}
