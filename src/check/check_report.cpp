// sav3-migrate --check [--json]: what a run now would do on this device,
// told on standard output (a line per fact, the verdict last; or one JSON
// object) and in one system-log line, with the exit status a fleet script
// acts on. sav3-migrate --status [--json]: what the migration's state says
// now, told the same way.
#include <syslog.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "../state/state_file.h"
#include "../undo/before_image.h"
#include "sav3/device.h"
#include "sav3/json.h"
#include "sav3/legacy_file.h"
#include "sav3/legacy_time.h"
#include "sav3/migration.h"
#include "sav3/migration_state.h"
#include "sav3/replacement.h"
#include "sav3/system_log.h"
#include "sav3/version.h"

namespace sav3 {

namespace {

using Report = CheckReport;

const char* verdict_word(Report::Verdict v) {
  switch (v) {
    case Report::Verdict::replace: return "replace";
    case Report::Verdict::keep: return "keep";
    case Report::Verdict::nothing: return "nothing";
    case Report::Verdict::cannot_tell: break;
  }
  return "cannot tell";
}

const char* lock_word(Report::Lock l) {
  switch (l) {
    case Report::Lock::free: return "free";
    case Report::Lock::held: return "held";
    case Report::Lock::cannot_tell: break;
  }
  return "cannot tell";
}

const char* run_word(Report::Run r) {
  switch (r) {
    case Report::Run::resume: return "resume";
    case Report::Run::full: return "full run";
    case Report::Run::nothing: break;
  }
  return "nothing";
}

// The command texts in the order the run issues them, and the count of each.
const char* planned_command(std::size_t i) {
  const auto opening = retire_and_rebuild_commands();
  return i < opening.size() ? opening[i] : replacement_commands()[i - opening.size()];
}

// Whether the migration can be undone now, what it would put back, and why
// not.
struct Undo {
  bool possible;
  char reason[2 * sizeof Escaped{}.text + 8];
  ImageTally image;
};
Undo undo_possibility(const StateInfo& info, const StateRecord& record) {
  Undo undo{};
  Failure f{};
  const Seen seen = read_before_image(undo.image, f);
  undo.possible = seen == Seen::present;
  if (seen == Seen::failed)
    std::snprintf(undo.reason, sizeof undo.reason, "%s: %s", f.path, f.error);
  else if (seen == Seen::absent && record.no_undo[0] != '\0')
    std::snprintf(undo.reason, sizeof undo.reason, "%s", record.no_undo);
  else if (seen == Seen::absent && info.state == State::rolled_back)
    std::snprintf(undo.reason, sizeof undo.reason, "rolled back already");
  else if (seen == Seen::absent)
    std::snprintf(undo.reason, sizeof undo.reason, "no before-image (none kept, or committed)");
  return undo;
}

// "undo": {"possible", "reason", "entries", "linked", "copied", "bytes"}
void undo_json(std::FILE* out, const Undo& undo) {
  Json j{out, false};
  j.key("undo");
  Json u{out};
  std::fputc('{', out);
  u.yes_no("possible", undo.possible);
  u.text("reason", undo.possible ? nullptr : undo.reason);
  u.number("entries", undo.image.entries);
  u.number("linked", undo.image.linked);
  u.number("copied", undo.image.copied);
  u.number("bytes", undo.image.linked_bytes + undo.image.copied_bytes);
  u.number("copied_bytes", undo.image.copied_bytes);
  std::fputc('}', out);
}

void print_undo_text(std::FILE* out, const Undo& undo) {
  if (undo.possible)
    std::fprintf(out,
                 "undo: yes: --rollback puts back %" PRIu64 " entries (%" PRIu64 " files linked, %" PRIu64
                 " copied, %" PRIu64 " bytes)\n",
                 undo.image.entries, undo.image.linked, undo.image.copied,
                 undo.image.linked_bytes + undo.image.copied_bytes);
  else
    std::fprintf(out, "undo: no: %s\n", undo.reason);
}

// The plan: a line per command that touches anything, then the rule that
// failed (the verdict repeats it).
void print_plan_text(const Report& r, std::FILE* out) {
  if (!r.planned) return;
  if (!r.plan_holds) {
    std::fprintf(out, "plan: rule failed: %s: %s: %s\n", r.plan_failure.what, r.plan_failure.path,
                 r.plan_failure.error);
    return;
  }
  if (!r.plan_counted) std::fputs("plan: cannot count what the commands touch\n", out);
  for (std::size_t i = 0; i < planned_commands; ++i) {
    const CommandPlan& c = r.plan[i];
    if (c.removes == 0 && c.copies == 0 && c.writes_over == 0) continue;
    std::fprintf(out, "plan: %s: removes %" PRIu32 ", copies %" PRIu32 ", writes over %" PRIu32 "\n",
                 planned_command(i), c.removes, c.copies, c.writes_over);
  }
  if (r.kept_in_live2 != 0) std::fprintf(out, "plan: /usr/sav2 keeps %" PRIu32 " entries\n", r.kept_in_live2);
}

using What = Report::Input::What;

// The member `what` of a warning about a legacy input.
const char* what_word(What w) {
  switch (w) {
    case What::missing: return "missing";
    case What::unreadable: return "unreadable";
    case What::empty: return "empty";
    case What::short_read: return "short";
    case What::bad_times: break;
  }
  return "bad times";
}

void print_input(const Report::Input& in, std::FILE* out) {
  const auto shown = escaped(in.path);
  const char* path = shown.text;
  switch (in.what) {
    case What::missing:
      std::fprintf(out, "warning: legacy input missing (read as zeros): %s\n", path);
      return;
    case What::unreadable:
      std::fprintf(out, "legacy input unreadable: %s: %s\n", path, escaped(read_error_text(in.error)).text);
      return;
    case What::empty: std::fprintf(out, "warning: legacy input empty (read as zeros): %s\n", path); return;
    case What::short_read:
      std::fprintf(
          out, "warning: legacy input short (read %" PRIu64 " of %" PRIu64 " bytes, the rest as zeros): %s\n",
          in.read, in.expected, path);
      return;
    case What::bad_times:
      std::fprintf(out, "warning: %" PRIu32 " of %" PRIu32 " time texts do not parse (stored as 0): %s\n",
                   in.bad_times, in.records, path);
      return;
  }
}

// Where the zone came from, as the log and the JSON name it (nullptr: none).
const char* zone_source_name(int from) {
  switch (from) {
    case ZoneSource::tz_variable: return "TZ";
    case ZoneSource::localtime: return "/etc/localtime";
    case ZoneSource::etc_tz: return zone_rule_file;
    default: break;
  }
  return nullptr;
}

void print_text(const Report& r, std::FILE* out) {
  std::fprintf(out, "marker: %s\n", r.marker ? "present" : "absent");
  std::fprintf(out, "lock: %s\n", lock_word(r.lock));
  if (r.state[0] == '\0')
    std::fputs("state: none\n", out);
  else
    std::fprintf(out, "state: %s (%s)\n", r.state, state_meaning_of(r.state_found));
  if (r.run == Report::Run::resume)
    std::fprintf(out, "run: resume, attempt %d\n", r.attempt);
  else if (r.run == Report::Run::full)
    std::fprintf(out, "run: %s\n", r.full_why);
  else
    std::fputs("run: nothing\n", out);
  if (r.staging_volatile) std::fprintf(out, "warning: %s\n", log_line::staging_on_tmpfs);
  if (r.zone_told) {
    if (r.zone_from == ZoneSource::tz_variable)
      std::fprintf(out, "zone: TZ=%s\n", escaped(r.tz).text);
    else if (r.zone_from == ZoneSource::etc_tz)
      std::fprintf(out, "zone: /etc/TZ=%s\n", escaped(r.tz).text);
    else if (r.zone_from == ZoneSource::localtime)
      std::fputs("zone: /etc/localtime\n", out);
    else
      std::fputs("zone: none\n", out);
    if (r.zone_read_as_utc) std::fprintf(out, "warning: %s\n", log_line::zone_fallback_utc);
  }
  if (r.ports_told)
    for (int port = 1; port <= port_count; ++port)
      std::fprintf(out, "port %d: %s\n", port, module_name(r.ports[port - 1]));
  for (std::size_t i = 0; i < r.input_count; ++i) print_input(r.inputs[i], out);
  if (r.live2_by_hand[0] != '\0') std::fprintf(out, "%s\n", r.live2_by_hand);
  print_plan_text(r, out);
  if (r.image_due && r.image_fits)
    std::fprintf(out,
                 "before-image: the run keeps %" PRIu64 " entries (%" PRIu64 " files linked, %" PRIu64
                 " copied, %" PRIu64 " bytes copied)\n",
                 r.image_entries, r.image_linked, r.image_copied, r.image_copied_bytes);
  else if (r.image_due)
    std::fprintf(out, "before-image: none: %s: the run would migrate without an undo\n", r.image_none);
  print_undo_text(out, undo_possibility(read_state(), read_state_record()));
  for (std::size_t i = 0; i < r.room.count; ++i) {
    const RoomTally::FileSystem& fs = r.room.seen[i];
    std::fprintf(out, "room on the file system of %s: need %" PRIu64 " KiB, free %" PRIu64 " KiB", fs.tree,
                 fs.need_kib, fs.free_kib);
    if (fs.free_inodes != 0 || fs.need_inodes != 0)
      std::fprintf(out, "; need %" PRIu64 " inodes, free %" PRIu64, fs.need_inodes, fs.free_inodes);
    std::fprintf(out, ": %s\n", fs.enough ? "enough" : "not enough");
  }
  std::fprintf(out, "verdict: %s: %s\n", verdict_word(r.verdict), r.reason);
}

// "plan": {"holds", "failure": null or {"what","path","error"}, "counted",
// "commands": [{"command","removes","copies","writes_over"}...], "kept_in_sav2"}
void print_plan_json(const Report& r, Json& j) {
  std::FILE* out = j.out;
  j.key("plan");
  Json plan{out};
  std::fputc('{', out);
  plan.yes_no("holds", r.plan_holds);
  plan.key("failure");
  if (r.plan_holds) {
    std::fputs("null", out);
  } else {
    Json failed{out};
    std::fputc('{', out);
    failed.text("what", r.plan_failure.what);
    failed.text("path", r.plan_failure.path);
    failed.text("error", r.plan_failure.error);
    std::fputc('}', out);
  }
  plan.yes_no("counted", r.plan_holds && r.plan_counted);
  plan.key("commands");
  std::fputc('[', out);
  for (std::size_t i = 0; r.plan_holds && i < planned_commands; ++i) {
    Json command{out};
    std::fputs(i == 0 ? "{" : ",{", out);
    command.text("command", planned_command(i));
    command.number("removes", r.plan[i].removes);
    command.number("copies", r.plan[i].copies);
    command.number("writes_over", r.plan[i].writes_over);
    std::fputc('}', out);
  }
  std::fputc(']', out);
  plan.number("kept_in_sav2", r.kept_in_live2);
  std::fputc('}', out);
}

// {"what":"short","path":...,"read":N,"expected":M}: the members that the
// kind of warning has.
void input_json(std::FILE* out, const Report::Input& in) {
  Json input{out};
  std::fputc('{', out);
  input.text("what", what_word(in.what));
  input.text("path", escaped(in.path).text);
  if (in.what == What::unreadable) input.text("error", escaped(read_error_text(in.error)).text);
  if (in.what == What::empty || in.what == What::short_read) {
    input.number("read", in.read);
    input.number("expected", in.expected);
  }
  if (in.what == What::bad_times) {
    input.number("count", in.bad_times);
    input.number("records", in.records);
  }
  std::fputc('}', out);
}

void room_json(std::FILE* out, const RoomTally::FileSystem& fs) {
  Json room{out};
  std::fputc('{', out);
  room.text("path", fs.tree);
  room.number("need_kib", fs.need_kib);
  room.number("free_kib", fs.free_kib);
  room.number("need_inodes", fs.need_inodes);
  room.number("free_inodes", fs.free_inodes);
  room.yes_no("enough", fs.enough);
  std::fputc('}', out);
}

// A list member: `item(out, element)` per element.
template <typename T, typename Item>
void list(Json& j, const char* name, const T* items, std::size_t count, Item item) {
  j.key(name);
  std::fputc('[', j.out);
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) std::fputc(',', j.out);
    item(j.out, items[i]);
  }
  std::fputc(']', j.out);
}

// One object, a member per line below (docs/json.md names them all).
void print_json(const Report& r, std::FILE* out) {
  json_head(out, "sav3-migrate");
  Json j{out, false};
  j.text("verdict", verdict_word(r.verdict));
  j.text("reason", r.reason);
  j.number("exit", static_cast<std::uint64_t>(r.exit_status));
  j.yes_no("marker", r.marker);
  j.text("lock", lock_word(r.lock));
  j.text("state", r.state[0] != '\0' ? r.state : nullptr);
  j.text("state_meaning", state_meaning_of(r.state_found));
  j.number("attempts", static_cast<std::uint64_t>(r.attempts));
  j.number("runs", static_cast<std::uint64_t>(r.runs));
  j.text("run", run_word(r.run));
  if (r.run == Report::Run::resume) j.number("attempt", static_cast<std::uint64_t>(r.attempt));
  if (r.run == Report::Run::full) j.text("why", r.full_why);
  j.yes_no("staging_volatile", r.staging_volatile);
  if (r.zone_told) {
    j.key("zone");
    Json zone{out};
    std::fputc('{', out);
    zone.text("tz", r.tz != nullptr ? escaped(r.tz).text : nullptr);
    zone.text("source", zone_source_name(r.zone_from));
    zone.yes_no("read_as_utc", r.zone_read_as_utc);
    std::fputc('}', out);
  }
  if (r.ports_told) {
    j.key("ports");
    Json ports{out};
    std::fputc('[', out);
    for (unsigned port = 1; port <= port_count; ++port) ports.port(port, r.ports[port - 1]);
    std::fputc(']', out);
  }
  list(j, "warnings", r.inputs, r.input_count, input_json);
  j.text("sav2_by_hand", r.live2_by_hand[0] != '\0' ? r.live2_by_hand : nullptr);
  if (r.planned) print_plan_json(r, j);
  list(j, "room", r.room.seen, r.room.count, room_json);
  j.key("before_image");
  if (r.image_due) {
    Json b{out};
    std::fputc('{', out);
    b.yes_no("kept", r.image_fits);
    b.text("reason", r.image_fits ? nullptr : r.image_none);
    b.number("entries", r.image_entries);
    b.number("linked", r.image_linked);
    b.number("copied", r.image_copied);
    b.number("bytes", r.image_linked_bytes + r.image_copied_bytes);
    b.number("copied_bytes", r.image_copied_bytes);
    std::fputc('}', out);
  } else {
    std::fputs("null", out);
  }
  undo_json(out, undo_possibility(read_state(), read_state_record()));
  std::fputs("}\n", out);
}

const char* status_word(State state) {
  switch (state) {
    case State::none: return "none";
    case State::pending: return state_word::pending;
    case State::done: return state_word::done;
    case State::kept: return state_word::kept;
    case State::abandoned: return state_word::abandoned;
    case State::rolling_back: return state_word::rolling_back;
    case State::rolled_back: return state_word::rolled_back;
    case State::unreadable: break;
  }
  return "unreadable";
}

int status_exit_of(State state) {
  switch (state) {
    case State::done: return status_exit::done;
    case State::kept: return status_exit::kept;
    case State::pending: return status_exit::pending;
    case State::abandoned: return status_exit::abandoned;
    case State::none: return status_exit::none;
    case State::rolling_back: return status_exit::rolling_back;
    case State::rolled_back: return status_exit::rolled_back;
    case State::unreadable: break;
  }
  return status_exit::unreadable;
}

const char* or_null(const char* text) { return std::strcmp(text, "-") == 0 ? nullptr : text; }

void print_status_text(const StateInfo& info, const StateRecord& record, std::FILE* out) {
  std::fprintf(out, "status: %s\n", status_word(info.state));
  if (info.state == State::none) {
    std::fputs("state: none (no run has started: no state file)\n", out);
  } else {
    std::fprintf(out, "state: %s\n", record.first_line[0] != '\0' ? escaped(record.first_line).text : "?");
    std::fprintf(out, "meaning: %s\n", state_meaning_of(info.state));
  }
  if (info.state == State::kept) std::fprintf(out, "runs: %d of %d\n", info.runs, max_kept_runs);
  if (info.state == State::pending || info.state == State::abandoned)
    std::fprintf(out, "attempts: %d of %d\n", info.attempts, max_attempts);
  if (info.state != State::none) {
    if (record.version[0] != '\0')
      std::fprintf(out, "written by: sav3-migrate %s\n", escaped(record.version).text);
    else
      std::fputs("written by: an earlier sav3-migrate (the file names no version)\n", out);
    if (record.failed)
      std::fprintf(out, "last failure: %s: %s: %s\n", record.what, record.path, record.error);
    else
      std::fputs("last failure: none recorded\n", out);
  }
  print_undo_text(out, undo_possibility(info, record));
}

void print_status_json(const StateInfo& info, const StateRecord& record, std::FILE* out) {
  json_head(out, "sav3-migrate");
  Json j{out, false};
  j.text("status", status_word(info.state));
  j.number("exit", static_cast<std::uint64_t>(status_exit_of(info.state)));
  j.text("state", info.state != State::none && record.first_line[0] != '\0' ? escaped(record.first_line).text
                                                                            : nullptr);
  j.text("state_meaning", state_meaning_of(info.state));
  j.count("runs", info.state == State::kept, info.runs);
  j.count("attempts", info.state == State::pending || info.state == State::abandoned, info.attempts);
  j.tool("written_by", record.version[0] != '\0' ? escaped(record.version).text : nullptr);
  j.key("failure");
  if (record.failed) {
    Json f{out};
    std::fputc('{', out);
    f.text("what", record.what);
    f.text("path", or_null(record.path));
    f.text("error", or_null(record.error));
    std::fputc('}', out);
  } else {
    std::fputs("null", out);
  }
  undo_json(out, undo_possibility(info, record));
  std::fputs("}\n", out);
}

}  // namespace

int status_migration(bool json, std::FILE* out, Logger log) {
  set_logger(log);
  const StateInfo info = read_state();
  const StateRecord record = read_state_record();
  (json ? print_status_json : print_status_text)(info, record, out);
  note(LOG_NOTICE, log_line::status, status_word(info.state));
  set_logger(nullptr);
  return std::fflush(out) == 0 && std::ferror(out) == 0 ? status_exit_of(info.state)
                                                        : status_exit::unreadable;
}

int check_migration(bool json, std::FILE* out, Logger log) {
  set_logger(log);
  Report report;
  check_replacement(report);
  (json ? print_json : print_text)(report, out);
  note(report.exit_status == 0 ? LOG_NOTICE : LOG_WARNING, "check: %s: %s", verdict_word(report.verdict),
       report.reason);
  set_logger(nullptr);
  return std::fflush(out) == 0 && std::ferror(out) == 0 ? report.exit_status : 1;
}

}  // namespace sav3
