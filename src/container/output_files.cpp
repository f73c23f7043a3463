#include "sav3/output_files.h"

#include <cstdio>

namespace sav3 {

PathName output_path(const OutputFile& file, unsigned port) {
  if (file.per_port()) return numbered_path(file.path, port);
  PathName fixed;
  std::snprintf(fixed.text, sizeof fixed.text, "%s", file.path);
  return fixed;
}

FileResult write_output(Output id, unsigned port, ConstBytes records) {
  const OutputFile& file = output_file(id);
  return write_headed_file(output_path(file, port), records, static_cast<int>(file.size),
                           static_cast<int>(file.count));
}

}  // namespace sav3
