// sav3-sample [--seed N] [--from YYYY-MM-DD] [--plant-secrets] DIR: writes a
// legacy device tree under DIR.
#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "sample_device.h"

namespace {

constexpr char usage_text[] =
    "usage: sav3-sample [--seed N] [--from YYYY-MM-DD] [--plant-secrets] DIR\n"
    "  writes the legacy files of a sample controller (LQ, ZRT, K3, K3 on ports 1..4)\n"
    "  under DIR, which stands for \"/\"; the same options give the same bytes\n"
    "  --seed N          picks the readings and the hour of the first report (default 1)\n"
    "  --from DATE       the 1000 hourly reports start at 07:00 of DATE (wall clock)\n"
    "  --plant-secrets   a distinct made-up secret in every credential field\n";

// Midnight of a calendar date as wall-clock seconds (the sample's texts are
// zone-free).
bool parse_date(const char* text, std::int64_t& seconds) {
  int year = 0, month = 0, day = 0;
  char end = 0;
  if (std::sscanf(text, "%4d-%2d-%2d%c", &year, &month, &day, &end) != 3 || month < 1 || month > 12 ||
      day < 1 || day > 31 || year < 1970)
    return false;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  seconds = static_cast<std::int64_t>(timegm(&tm));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  static constexpr option long_options[] = {
      {"seed", required_argument, nullptr, 's'},
      {"from", required_argument, nullptr, 'f'},
      {"plant-secrets", no_argument, nullptr, 'p'},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  sav3::sample::Options options;
  for (int c; (c = getopt_long(argc, argv, "h", long_options, nullptr)) != -1;) {
    switch (c) {
      case 's': {
        char* end = nullptr;
        options.seed = std::strtoull(optarg, &end, 10);
        if (end == optarg || *end != '\0') {
          std::fprintf(stderr, "sav3-sample: --seed wants a number, not \"%s\"\n", optarg);
          return 2;
        }
        break;
      }
      case 'f':
        if (!parse_date(optarg, options.first_report)) {
          std::fprintf(stderr, "sav3-sample: --from wants a date YYYY-MM-DD, not \"%s\"\n", optarg);
          return 2;
        }
        options.first_report += 7 * 3600;
        break;
      case 'p': options.plant_secrets = true; break;
      case 'h': std::fputs(usage_text, stdout); return 0;
      default: std::fputs(usage_text, stderr); return 2;
    }
  }
  if (optind != argc - 1) {
    std::fputs(usage_text, stderr);
    return 2;
  }
  return sav3::sample::write_sample_device(argv[optind], options);
}
