// sav3-sample [--seed N] DIR: writes a legacy device tree under DIR.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sample_device.h"

int main(int argc, char** argv) {
  unsigned long long seed = 1;
  const char* dir = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
      char* end = nullptr;
      seed = std::strtoull(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0') {
        std::fprintf(stderr, "sav3-sample: --seed wants a number, not \"%s\"\n", argv[i]);
        return 2;
      }
    } else if (argv[i][0] == '-' || dir != nullptr) {
      dir = nullptr;
      break;
    } else {
      dir = argv[i];
    }
  }
  if (dir == nullptr) {
    std::fprintf(stderr,
                 "usage: sav3-sample [--seed N] DIR\n"
                 "  writes the legacy files of a sample controller (LQ, ZRT, K3, K3 on ports 1..4)\n"
                 "  under DIR, which stands for \"/\"; the same seed gives the same bytes\n");
    return 2;
  }
  return sav3::sample::write_sample_device(dir, seed);
}
