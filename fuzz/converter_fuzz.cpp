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
  for (const fuzz::Output& o : t.outputs) {
    if (o.size == 0) continue;
    fuzz::make_parents(numbered_path(o.path, port));
    fuzz::remove_device_file(numbered_path(o.path, port));
  }
  in.place_all(t.inputs, sequence);
  const int rc = t.run != nullptr ? t.run() : t.run_module(port, sequence);
  if (rc != result::ok) {
    std::fprintf(stderr, "%s returned %d\n", t.name, rc);
    std::abort();
  }
  for (const fuzz::Output& o : t.outputs) {
    if (o.size == 0) continue;
    fuzz::check_output({numbered_path(o.path, port), o.size, o.count});
  }
  return 0;
}
