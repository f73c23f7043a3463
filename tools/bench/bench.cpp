// sav3-bench: times the 16 conversions of a run, in this process, against a
// scratch copy of a device, beside two floors, the least work that moves the
// same bytes:
// - the system-call floor: each legacy file the conversions read, read once
//   with one read; each file they write, written once with one write of as
//   many bytes (its bytes move inside the kernel, which callgrind does not
//   count);
// - the user-space floor: each legacy file read once through the container's
//   plain reader and every byte of it looked at; every output byte built once
//   from them and written through the container's writer with its header and
//   checksums.
//
//   sav3-bench reset ROOT              empty ROOT/usr/sav3 and rebuild it as the
//                                      opening commands of a run do
//   sav3-bench convert ROOT            the 16 conversions once, nothing else
//   sav3-bench floor ROOT PLAN         the system-call floor once
//   sav3-bench floor-user ROOT PLAN    the user-space floor once
//   sav3-bench time ROOT PLAN RUNS     RUNS times: reset, conversions (no
//                                      time remembered from the run before);
//                                      reset, each floor; prints the medians
//                                      and the ratios
//
// ROOT is a scratch copy of a legacy device (never the machine's own "/"). The
// conversions and the floor are kept in functions of their own so that
// callgrind can count them alone (--toggle-collect).
//
// PLAN lists the floor's files, one a line, by device path:
//   in PATH BYTES     a legacy file the conversions read, and how many bytes
//   out PATH BYTES    a file the conversions write, and how many bytes
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "sav3/container.h"
#include "sav3/device.h"
#include "sav3/legacy_time.h"
#include "sav3/migration.h"

namespace fs = std::filesystem;

namespace {

struct PlanFile {
  std::string path;  // host path (device root in front)
  std::size_t bytes;
  std::string device_path;
};

struct Plan {
  std::vector<PlanFile> inputs;
  std::vector<PlanFile> outputs;
  std::vector<unsigned char> buffer;  // holds every input byte at once
  std::vector<unsigned char> output;  // the largest output's payload
  unsigned touched = 0;               // what the user-space floor saw of the inputs
};

[[noreturn]] void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "sav3-bench: %s %s\n", what, detail.c_str());
  std::exit(1);
}

// The opening commands' effect on the staging tree: "rm -rf /usr/sav3/*",
// the four folders, the copies of /mnt/1/cfg/*, /mnt/1/etc/*, update_log and
// userlogindata.txt.
void reset_staging(const std::string& root) {
  const fs::path staging = root + "/usr/sav3";
  std::error_code ec;
  if (!fs::is_directory(staging, ec)) fail("no staging folder", staging.string());
  for (const fs::directory_entry& entry : fs::directory_iterator(staging, ec))
    fs::remove_all(entry.path(), ec);
  for (const char* sub : {"data", "cfg", "etc", "history"}) {
    if (!fs::create_directory(staging / sub, ec)) fail("cannot make", (staging / sub).string());
  }
  auto copy_files = [&](const fs::path& from, const fs::path& to) {
    std::error_code walk;
    for (const fs::directory_entry& entry : fs::directory_iterator(from, walk)) {
      if (entry.is_regular_file(walk))
        fs::copy_file(entry.path(), to / entry.path().filename(), fs::copy_options::overwrite_existing, walk);
    }
  };
  copy_files(root + "/mnt/1/cfg", staging / "cfg");
  copy_files(root + "/mnt/1/etc", staging / "etc");
  fs::copy_file(root + "/usr/sav/update_log", staging / "update_log", ec);
  fs::copy_file(root + "/usr/sav/data/userlogindata.txt", staging / "data/userlogindata.txt", ec);
  ::sync();  // the copies' write-back must not land inside a timed section
}

// The 16 conversions of a run, in run order; the number that failed.
__attribute__((noinline)) int sav3_bench_conversions() {
  int failed = 0;
  for (const sav3::NamedConversion& step : sav3::conversions()) failed += step.convert() != 0 ? 1 : 0;
  return failed;
}

// The floor: every input read with one open, one read and one close; every
// output written with one open, one write and one close, its bytes taken from
// the inputs (cycled when the outputs are larger). Returns the number of
// operations that failed.
__attribute__((noinline)) int sav3_bench_floor(Plan& plan) {
  int failed = 0;
  std::size_t at = 0;
  for (const PlanFile& in : plan.inputs) {
    const int fd = ::open(in.path.c_str(), O_RDONLY);
    if (fd < 0) {
      ++failed;
      continue;
    }
    if (::read(fd, plan.buffer.data() + at, in.bytes) != static_cast<ssize_t>(in.bytes)) ++failed;
    ::close(fd);
    at += in.bytes;
  }
  std::size_t from = 0;
  for (const PlanFile& out : plan.outputs) {
    const int fd = ::open(out.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
      ++failed;
      continue;
    }
    if (out.bytes > plan.buffer.size()) ++failed;
    if (from + out.bytes > plan.buffer.size()) from = 0;
    if (::write(fd, plan.buffer.data() + from, out.bytes) != static_cast<ssize_t>(out.bytes)) ++failed;
    if (::close(fd) != 0) ++failed;
    from += out.bytes;
  }
  return failed;
}

// The user-space floor: every input read once with the plain reader and each
// of its bytes added up; every output payload built once, copied from the
// inputs (cycled), and written with its header and checksums by the
// container's writer. Returns the number of operations that failed.
__attribute__((noinline)) int sav3_bench_floor_user(Plan& plan) {
  int failed = 0;
  std::size_t at = 0;
  unsigned sum = 0;
  for (const PlanFile& in : plan.inputs) {
    const sav3::Bytes bytes(plan.buffer.data() + at, in.bytes);
    if (sav3::read_plain_record(in.device_path.c_str(), bytes, static_cast<int>(in.bytes), 1) !=
        sav3::FileResult::ok)
      ++failed;
    for (const unsigned char b : bytes) sum += b;
    at += in.bytes;
  }
  plan.touched = sum;
  std::size_t from = 0;
  for (const PlanFile& out : plan.outputs) {
    const std::size_t payload = out.bytes - sav3::header::size;
    for (std::size_t i = 0; i < payload;) {
      if (from == plan.buffer.size()) from = 0;
      const std::size_t n = std::min(payload - i, plan.buffer.size() - from);
      std::memcpy(plan.output.data() + i, plan.buffer.data() + from, n);
      i += n;
      from += n;
    }
    if (sav3::write_headed_file(out.device_path.c_str(), sav3::ConstBytes(plan.output.data(), payload),
                                static_cast<int>(payload), 1) != sav3::FileResult::ok)
      ++failed;
  }
  return failed;
}

Plan read_plan(const std::string& root, const char* path) {
  Plan plan;
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) fail("cannot read the plan", path);
  char kind[8];
  char file[512];
  unsigned long long bytes = 0;
  std::size_t total_in = 0;
  while (std::fscanf(f, "%7s %511s %llu", kind, file, &bytes) == 3) {
    PlanFile entry{root + file, static_cast<std::size_t>(bytes), file};
    if (std::strcmp(kind, "in") == 0) {
      plan.inputs.push_back(entry);
      total_in += entry.bytes;
    } else if (std::strcmp(kind, "out") == 0) {
      if (entry.bytes < static_cast<std::size_t>(sav3::header::size))
        fail("output shorter than a header:", file);
      plan.outputs.push_back(entry);
      plan.output.resize(std::max(plan.output.size(), entry.bytes));
    } else {
      fail("unknown plan line kind", kind);
    }
  }
  std::fclose(f);
  if (plan.inputs.empty() || plan.outputs.empty()) fail("empty plan", path);
  plan.buffer.assign(total_in, 0);
  return plan;
}

double now_ms() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string checked_root(const char* arg) {
  std::error_code ec;
  const fs::path root = fs::canonical(arg, ec);
  if (ec || root == "/") fail("refusing device root", arg);
  if (!fs::is_directory(root / "usr/sav3") || !fs::is_directory(root / "mnt/1"))
    fail("not a device copy:", arg);
  return root.string();
}

int usage() {
  std::fprintf(stderr,
               "usage: sav3-bench reset ROOT | convert ROOT | floor ROOT PLAN | floor-user ROOT PLAN |\n"
               "       time ROOT PLAN RUNS\n"
               "  ROOT is a scratch copy of a legacy device; see the top of tools/bench/bench.cpp\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  const std::string mode = argv[1];
  const std::string root = checked_root(argv[2]);
  sav3::set_device_root(root.c_str());

  if (mode == "reset" && argc == 3) {
    reset_staging(root);
    return 0;
  }
  if (mode == "convert" && argc == 3) {
    const int failed = sav3_bench_conversions();
    if (failed != 0) std::fprintf(stderr, "sav3-bench: %d conversions failed\n", failed);
    return failed == 0 ? 0 : 1;
  }
  if (mode == "floor" && argc == 4) {
    Plan plan = read_plan(root, argv[3]);
    const int failed = sav3_bench_floor(plan);
    if (failed != 0) std::fprintf(stderr, "sav3-bench: %d floor operations failed\n", failed);
    return failed == 0 ? 0 : 1;
  }
  if (mode == "floor-user" && argc == 4) {
    Plan plan = read_plan(root, argv[3]);
    const int failed = sav3_bench_floor_user(plan);
    if (failed != 0) std::fprintf(stderr, "sav3-bench: %d user-space floor operations failed\n", failed);
    return failed == 0 ? 0 : 1;
  }
  if (mode == "time" && argc == 5) {
    Plan plan = read_plan(root, argv[3]);
    const int runs = std::atoi(argv[4]);
    if (runs < 1) return usage();
    std::vector<double> conv_ms, floor_ms, user_ms;
    for (int i = 0; i < runs; ++i) {
      // Alternate, so that a noisy moment hits both alike. Every run starts
      // with no time remembered, as a run of the tool does.
      reset_staging(root);
      sav3::forget_legacy_times();
      double start = now_ms();
      if (sav3_bench_conversions() != 0) fail("a conversion failed in run", std::to_string(i + 1));
      conv_ms.push_back(now_ms() - start);
      reset_staging(root);
      start = now_ms();
      if (sav3_bench_floor(plan) != 0) fail("the floor failed in run", std::to_string(i + 1));
      floor_ms.push_back(now_ms() - start);
      reset_staging(root);
      start = now_ms();
      if (sav3_bench_floor_user(plan) != 0) fail("the user-space floor failed in run", std::to_string(i + 1));
      user_ms.push_back(now_ms() - start);
    }
    const double c = median(conv_ms), f = median(floor_ms), u = median(user_ms);
    std::size_t in_bytes = 0, out_bytes = 0;
    for (const PlanFile& p : plan.inputs) in_bytes += p.bytes;
    for (const PlanFile& p : plan.outputs) out_bytes += p.bytes;
    std::printf(
        "runs %d\nconversions_ms %.3f\nfloor_ms %.3f\nratio %.2f\nfloor_user_ms %.3f\nratio_user %.2f\n",
        runs, c, f, c / f, u, c / u);
    std::printf("floor_inputs %zu files %zu bytes\nfloor_outputs %zu files %zu bytes\n", plan.inputs.size(),
                in_bytes, plan.outputs.size(), out_bytes);
    return 0;
  }
  return usage();
}
