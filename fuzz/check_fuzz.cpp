// The check before an upgrade on a hostile device: one fuzz input is the state
// file (a damaged state line, attempt count or manifest) and every legacy
// input (the inventory's display record among them, so that the modules
// vary), with or without the marker and a staging file that the manifest may
// name. Never a crash, a status of 0 or 1, the text form ends with its
// verdict, the JSON form is one JSON object of the tools' vocabulary, and the
// state file is as it was.
//
// Input: byte 0 the mode (bit 0 JSON, bit 1 the marker, bit 2 a file
// /usr/sav3/data/device), then the state file and the legacy inputs as
// fuzz_device.h's Splitter places them.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "converter_targets.h"
#include "fuzz_device.h"
#include "json_check.h"
#include "sav3/migration.h"
#include "sav3/migration_state.h"

using namespace sav3;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Splitter in{{data, size}};
  fuzz::scratch_root();
  const std::uint8_t mode = in.byte();
  for (const char* folder : {"/usr/sav", "/usr/sav2", path::staging_data}) fuzz::clear_device_folder(folder);
  in.place(path::state);
  if ((mode & 2) != 0)
    in.place(path::marker);
  else
    fuzz::remove_device_file(path::marker);
  if ((mode & 4) != 0) in.place(path::inventory);
  const fuzz::InputList& inputs = fuzz::all_inputs();
  for (std::size_t i = 0; i < inputs.count; ++i) in.place(inputs.paths[i]);

  auto read_all = [](std::FILE* f) {
    std::string text;
    if (f == nullptr) return text;
    std::rewind(f);
    for (int ch; (ch = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(ch));
    std::fclose(f);
    return text;
  };
  const std::string state = read_all(std::fopen(host_path(path::state), "rb"));
  std::FILE* out = std::tmpfile();
  if (out == nullptr) std::abort();
  const int status = check_migration((mode & 1) != 0, out, nullptr);
  if (status != 0 && status != 1) {
    std::fprintf(stderr, "status %d\n", status);
    std::abort();
  }
  const std::string text = read_all(out);
  const bool sound = read_all(std::fopen(host_path(path::state), "rb")) == state && (mode & 1) != 0
                         ? text.front() == '{' && inspect::vocabulary_problem(text).empty() &&
                               text.find('\n') == text.size() - 1
                         : text.rfind("\nverdict: ") != std::string::npos && text.back() == '\n';
  if (!sound) {
    std::fprintf(stderr, "output:\n%s\n", text.c_str());
    std::abort();
  }
  return 0;
}
