// The check before an upgrade: what a run now would do, decided by the same
// course, checks and room prediction as the run, with nothing changed. Where
// the run writes (the probe file, the state, a missing live tree), the check
// only looks: mount flags and access() stand for the probe, /proc/locks for
// the lock.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "../look/tree.h"
#include "../plan/plan.h"
#include "../plan/preconditions.h"
#include "../plan/room.h"
#include "../run/sav2_wipe.h"
#include "../run/transitions.h"
#include "../state/manifest.h"
#include "../state/state_file.h"
#include "sav3/device.h"
#include "sav3/inventory.h"
#include "sav3/legacy_inputs.h"
#include "sav3/legacy_time.h"
#include "sav3/migration_state.h"
#include "sav3/replacement.h"
#include "sav3/system_log.h"

namespace sav3 {

namespace {

using Verdict = CheckReport::Verdict;

void conclude(CheckReport& r, Verdict verdict, int exit_status, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void conclude(CheckReport& r, Verdict verdict, int exit_status, const char* format, ...) {
  r.verdict = verdict;
  r.exit_status = exit_status;
  va_list args;
  va_start(args, format);
  std::vsnprintf(r.reason, sizeof r.reason, format, args);
  va_end(args);
}

// A log line that ends a run without doing anything ("already done: nothing
// to do") as the reason of the verdict "nothing" ("already done").
void stopped(CheckReport& r, int exit_status, const char* line, int count) {
  char text[sizeof r.reason];
  std::snprintf(text, sizeof text, line, count);
  if (char* tail = std::strstr(text, ": nothing")) *tail = '\0';
  conclude(r, Verdict::nothing, exit_status, "%s", text);
}

// Another process holds a lock on the folder open at `staging`: an flock
// on its inode in /proc/locks ("1: FLOCK  ADVISORY  WRITE 321 08:01:1234 0
// EOF"; a blocked request is marked "->" and holds nothing).
CheckReport::Lock lock_on(int staging) {
  struct stat st;
  std::FILE* locks = std::fopen("/proc/locks", "r");
  if (locks == nullptr || fstat(staging, &st) != 0) {
    if (locks != nullptr) std::fclose(locks);
    return CheckReport::Lock::cannot_tell;
  }
  char line[256];
  bool held = false;
  while (!held && std::fgets(line, sizeof line, locks) != nullptr) {
    if (std::strstr(line, " FLOCK ") == nullptr || std::strstr(line, "->") != nullptr) continue;
    char* rest = nullptr;
    for (char* word = strtok_r(line, " \n", &rest); word != nullptr; word = strtok_r(nullptr, " \n", &rest)) {
      unsigned major_number = 0, minor_number = 0;
      unsigned long long inode = 0;
      int end = 0;
      if (std::sscanf(word, "%x:%x:%llu%n", &major_number, &minor_number, &inode, &end) == 3 &&
          word[end] == '\0') {
        held = major_number == major(st.st_dev) && minor_number == minor(st.st_dev) && inode == st.st_ino;
        break;
      }
    }
  }
  std::fclose(locks);
  return held ? CheckReport::Lock::held : CheckReport::Lock::free;
}

// The state file's first line as it is, escaped, for the report.
void first_state_line(CheckReport& r) {
  std::FILE* file = open_state_file();
  if (file == nullptr) return;
  char line[160];
  if (std::fgets(line, sizeof line, file) != nullptr) {
    line[std::strcspn(line, "\n")] = '\0';
    std::snprintf(r.state, sizeof r.state, "%s", escaped(line).text);
  }
  std::fclose(file);
}

// Each legacy input of the device's modules read as the converters read it
// (the preconditions read it again and make an unreadable one the
// verdict's reason): what the run would convert as zeros or as time 0.
void add_input(CheckReport& r, const NamedLegacyInput& named) {
  using What = CheckReport::Input::What;
  const LegacyInput& in = *named.input;
  const InputReading got = read_legacy_input(named.path, in);
  const std::uint64_t expected = in.bytes();
  auto add = [&](What what) -> CheckReport::Input* {
    if (r.input_count == std::size(r.inputs)) return nullptr;
    CheckReport::Input& input = r.inputs[r.input_count++];
    input = CheckReport::Input{what, {}, got.error, got.read, expected, 0, 0};
    static_assert(sizeof input.path == sizeof named.path);
    std::memcpy(input.path, named.path, sizeof input.path);
    return &input;
  };
  switch (got.look) {
    case LegacyLook::missing:
      if (!in.fallback) add(What::missing);
      return;
    case LegacyLook::unreadable: add(What::unreadable); return;
    case LegacyLook::regular: break;
  }
  if (got.read == 0)
    add(What::empty);
  else if (in.size != 0 && got.read < expected)
    add(What::short_read);
  if (got.bad_times == 0) return;
  if (CheckReport::Input* input = add(What::bad_times)) {
    input->bad_times = got.bad_times;
    input->records = static_cast<std::uint32_t>((got.read + in.size - 1) / in.size);
  }
}

// What a full run would read: the zone, the modules, the legacy inputs of
// the modules on the ports.
void look_at_inputs(CheckReport& r) {
  const ZoneSource zone = zone_source();
  r.zone_told = true;
  r.tz = zone.tz;
  r.zone_from = zone.from;
  r.zone_read_as_utc = zone.read_as_utc;
  std::uint8_t inventory[inventory::record_size] = {};
  fill_device_inventory(inventory);
  for (unsigned port = 1; port <= port_count; ++port)
    r.ports[port - 1] = inventory[inventory::port_code[port].offset];
  r.ports_told = true;
  NamedLegacyInput inputs[max_legacy_inputs];
  const std::size_t n = legacy_inputs_of(inventory, inputs);
  for (std::size_t i = 0; i < n; ++i) add_input(r, inputs[i]);
}

void precondition_verdict(CheckReport& r, Verdict verdict, const Failure& f) {
  char failed[sizeof f.path + sizeof f.error + 64];
  std::snprintf(failed, sizeof failed, "%s: %s: %s", f.what, f.path, f.error);
  if (verdict == Verdict::keep)
    conclude(r, verdict, 1, kept_reason::precondition, failed);
  else
    conclude(r, verdict, 1, "precondition failed: %s", failed);
}

// The staging folder takes the new state file (the check cannot probe).
int state_write_error() {
  struct statvfs fs;
  const HostPath staging = host_path(path::staging);
  if (statvfs(staging, &fs) != 0) return errno;
  if ((fs.f_flag & ST_RDONLY) != 0) return EROFS;
  return access(staging, W_OK) == 0 ? 0 : errno;
}

// The plan into the report: the same value the run would act on.
bool planned(CheckReport& r, bool holds, const Plan& plan) {
  r.planned = true;
  r.plan_holds = holds;
  r.plan_failure = plan.failure;
  r.plan_counted = plan.counted;
  std::copy(std::begin(plan.commands), std::end(plan.commands), std::begin(r.plan));
  r.kept_in_live2 = plan.kept_in_live2;
  if (plan.kind == RunKind::full) r.room = plan.room;
  r.image_due = plan.image_due;
  r.image_fits = plan.image_fits;
  r.image_entries = plan.image.entries;
  r.image_linked = plan.image.linked;
  r.image_copied = plan.image.copied;
  r.image_copied_bytes = plan.image.copied_bytes;
  r.image_linked_bytes = plan.image.linked_bytes;
  if (plan.image_due && !plan.image_fits)
    std::snprintf(r.image_none, sizeof r.image_none, "%s: %s", plan.image_none.path, plan.image_none.error);
  return holds;
}

// A resume: the checks, the attempt count, the manifest, the room.
void check_resume(CheckReport& r, int attempts) {
  Plan plan;
  if (!planned(r, make_plan(RunKind::resume, false, plan), plan)) {
    precondition_verdict(r, Verdict::nothing, plan.failure);
    return;
  }
  if (attempts >= max_attempts) {
    conclude(r, Verdict::keep, 1, "%s ", state_word::abandoned);
    std::snprintf(r.reason + std::strlen(r.reason), sizeof r.reason - std::strlen(r.reason), abandoned_reason,
                  attempts);
    return;
  }
  live2_shell_trouble(r.live2_by_hand, sizeof r.live2_by_hand);
  char failed[sizeof TreePath{}.text + 64];
  const bool staging_ok =
      tree_matches_manifest(path::staging, TreeRule::staging, false, failed, sizeof failed);
  char why[sizeof failed + 64] = {};
  if (!staging_ok) std::snprintf(why, sizeof why, log_line::manifest_mismatch, escaped(failed).text);
  if (const int error = state_write_error(); error != 0) {
    // The run cannot count: it refills only a live tree that lacks a listed
    // entry, and the state stays pending whatever it does.
    const bool refills = staging_ok && (lacks_listed_entry(path::live) || lacks_listed_entry(path::live2));
    conclude(r, refills ? Verdict::replace : Verdict::nothing, 1, log_line::state_not_writable,
             error_text(error).text);
    return;
  }
  Failure unknown{};
  if (staging_ok && !enough_room(failed, sizeof failed, nullptr, 0, &r.room, unknown)) {
    const RoomTally& t = r.room;
    if (unknown.what == nullptr && t.count > 0 && !t.seen[t.count - 1].enough)
      std::snprintf(why, sizeof why, log_line::no_room, t.seen[t.count - 1].tree,
                    static_cast<unsigned long long>(t.seen[t.count - 1].need_kib),
                    static_cast<unsigned long long>(t.seen[t.count - 1].free_kib));
    else
      std::snprintf(why, sizeof why, log_line::room_unknown, escaped(failed).text, unknown.path,
                    unknown.error);
  }
  if (why[0] == '\0') {
    conclude(r, Verdict::replace, 0, log_line::resumed, attempts + 1);
  } else if (attempts + 1 >= max_attempts) {
    conclude(r, Verdict::keep, 1, "%s ", state_word::abandoned);
    std::snprintf(r.reason + std::strlen(r.reason), sizeof r.reason - std::strlen(r.reason), abandoned_reason,
                  attempts + 1);
  } else {
    // The live trees may already be empty: the state stays pending.
    conclude(r, Verdict::nothing, 1, "%s", why);
  }
}

void check_full_run(CheckReport& r) {
  // The plan first: it reads each legacy input once, as the run's checks
  // do; the input report after it reads them for the warnings.
  Plan plan;
  const bool holds = planned(r, make_plan(RunKind::full, false, plan), plan);
  look_at_inputs(r);
  if (!holds) {
    precondition_verdict(r, Verdict::keep, plan.failure);
    return;
  }
  live2_shell_trouble(r.live2_by_hand, sizeof r.live2_by_hand);
  // Not a reason to keep (the times are converted as specified), but what
  // an operator must see before the run: every time shifted by the offset.
  if (r.zone_read_as_utc)
    conclude(r, Verdict::replace, 0, "%s; warning: %s", r.full_why, log_line::zone_fallback_utc);
  else
    conclude(r, Verdict::replace, 0, "%s", r.full_why);
}

}  // namespace

void check_replacement(CheckReport& r) {
  r = CheckReport{};
  r.marker = device_file_exists(path::marker);
  first_state_line(r);
  const StateInfo state = read_state();
  r.state_found = state.state;
  r.attempts = state.attempts;
  r.runs = state.runs;
  if (r.marker && state.state != State::rolling_back) {
    // A marker written while the state is pending: the live trees may be
    // half replaced, and nothing will finish them.
    const bool pending = state.state == State::pending;
    stopped(r, pending ? 1 : 0, pending ? log_line::marker_while_pending : log_line::marker_present, 0);
    return;
  }
  const int staging = open(host_path(path::staging), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (staging < 0) {
    stopped(r, 1, log_line::staging_not_folder, 0);
    return;
  }
  r.lock = lock_on(staging);
  r.staging_volatile = staging_on_volatile_file_system(staging);
  close(staging);
  if (r.lock == CheckReport::Lock::held) {
    stopped(r, 1, log_line::locked, 0);
    return;
  }
  const Course course = course_for(state);
  if (course.kind == Course::stop || course.kind == Course::undo) {
    // An undo to finish puts the old data back: the live trees do not hold
    // the migration afterwards.
    stopped(r, state.state == State::done ? 0 : 1, course.line, course.count);
    return;
  }
  if (course.kind == Course::resume) {
    r.run = CheckReport::Run::resume;
    r.attempt = course.count;
    check_resume(r, state.attempts);
  } else {
    r.run = CheckReport::Run::full;
    r.full_why = course.line;
    check_full_run(r);
  }
  if (r.lock == CheckReport::Lock::cannot_tell) {
    // Without /proc another run may hold the lock: then nothing would happen.
    char reason[sizeof r.reason];
    std::snprintf(reason, sizeof reason, "%s", r.reason);
    conclude(r, Verdict::cannot_tell, 1, "no /proc/locks to tell another run by; else: %s", reason);
  }
}

}  // namespace sav3
