#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/statfs.h>
#include <syslog.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "json_check.h"
#include "look/tree.h"
#include "plan/preconditions.h"
#include "plan/room.h"
#include "sav3/crc32.h"
#include "sav3/legacy_inputs.h"
#include "sav3/legacy_time.h"
#include "sav3/migration.h"
#include "sav3/migration_state.h"
#include "sav3/version.h"
#include "scratch_device.h"
#include "state/manifest.h"

namespace sav3::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> g_commands;
std::vector<std::string> g_log;
std::string g_root;                 // the scratch root the emulated commands work in
std::string g_state_at_first_copy;  // the state file when "rm -rf /usr/sav/*" came
int g_cut_after = -1;               // emulate only this many replacement commands

void record_log(int priority, const char* line) {
  // Whether the scratch tree sits on tmpfs depends on the machine; the one
  // test that wants the warning looks for it itself.
  if (priority == LOG_WARNING && std::string(line) == log_line::staging_on_tmpfs) return;
  // The zone depends on the machine's TZ and /etc/localtime; the device tests
  // check that line in a sandbox whose zone is known.
  if (std::string(line).starts_with("times read in zone") || std::string(line) == log_line::zone_fallback_utc)
    return;
  // The before-image's line: the device tests prove the image and its undo.
  if (std::string(line).starts_with("before-image kept: ")) return;
  g_log.emplace_back(line);
}

int record_command(const char* command) {
  g_commands.emplace_back(command);
  return 0;
}

std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void remove_top_level(const fs::path& folder, bool (*keep)(const std::string&)) {
  for (const auto& e : fs::directory_iterator(folder))
    if (!keep(e.path().filename().string())) fs::remove_all(e.path());
}

void copy_staging_into(const fs::path& live) {
  for (const auto& e : fs::directory_iterator(g_root + "/usr/sav3")) {
    if (e.path().filename().string()[0] == '.') continue;
    fs::copy(
        e.path(), live / e.path().filename(),
        fs::copy_options::recursive | fs::copy_options::overwrite_existing | fs::copy_options::copy_symlinks);
  }
}

// Records every command and does what the four replacement commands do on
// well-behaved names, in the scratch root (up to g_cut_after of them).
int emulate_command(const char* command) {
  const std::string text = command;
  const auto closing = replacement_commands();
  int index = -1;
  for (std::size_t i = 0; i < closing.size(); ++i)
    if (text == closing[i]) index = static_cast<int>(i);
  if (index == 0) g_state_at_first_copy = read_text(g_root + path::state);
  record_command(command);
  if (index < 0 || (g_cut_after >= 0 && index >= g_cut_after)) return 0;
  if (index == 0) remove_top_level(g_root + "/usr/sav", [](const std::string& n) { return n[0] == '.'; });
  if (index == 1)
    remove_top_level(g_root + "/usr/sav2", [](const std::string& n) { return n.find("update") != n.npos; });
  if (index == 2) copy_staging_into(g_root + "/usr/sav");
  if (index == 3) copy_staging_into(g_root + "/usr/sav2");
  return 0;
}

// Every entry below a folder with its bytes ("<dir>", "<link>target"),
// except the top-level names `skip` says.
std::map<std::string, std::string> listing(const fs::path& folder, bool (*skip)(const std::string&)) {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), folder).string();
    if (it.depth() == 0 && skip(rel)) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_symlink())
      out[rel] = "<link>" + fs::read_symlink(it->path()).string();
    else if (it->is_directory())
      out[rel] = "<dir>";
    else
      out[rel] = read_text(it->path());
  }
  return out;
}
bool dot_name(const std::string& n) { return n[0] == '.'; }
bool update_name(const std::string& n) { return n.find("update") != n.npos; }

// The golden command texts: the opening commands, then the closing ones from
// the one that empties /usr/sav (as the device tests split them).
std::vector<std::string> expected_commands() {
  std::ifstream in(SAV3_EXPECTED_COMMANDS);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
const std::vector<std::string> all_expected = expected_commands();
const auto first_closing = std::find(all_expected.begin(), all_expected.end(), "rm -rf /usr/sav/*");
const std::vector<std::string> opening(all_expected.begin(), first_closing);
const std::vector<std::string> closing(first_closing, all_expected.end());
std::vector<std::string> all_commands() {
  std::vector<std::string> all = opening;
  all.insert(all.end(), closing.begin(), closing.end());
  return all;
}
using Lines = std::vector<std::string>;

// A run changes into /usr/sav2 before emptying it; every test goes back to
// where it started, so no later test works inside a deleted scratch tree.
class Driver : public ScratchDevice {
 public:
  // For the cases' preparations.
  using ScratchDevice::host;
  using ScratchDevice::put_file;
  using ScratchDevice::put_text_file;

 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(start_dir_, sizeof start_dir_), nullptr);
    ScratchDevice::SetUp();
    g_root = root_;
    g_cut_after = -1;
    clear();
    // What the live trees hold before the migration, and the staging tree's
    // copy of the update log (the opening commands are only recorded).
    put_text_file("/usr/sav/data/MCUDataItemReport1.txt", "legacy report");
    put_text_file("/usr/sav/.profile", "dot entry");
    put_text_file("/usr/sav2/old/file", "stale");
    put_text_file("/usr/sav2/update_pkg/keep", "update entry");
    put_text_file("/usr/sav3/update_log", "update log");
  }
  void TearDown() override {
    ASSERT_EQ(chdir(start_dir_), 0);
    ScratchDevice::TearDown();
  }
  // Times are read in a zone the tests name, not in the machine's.
  ZoneScope zone_{"UTC0"};
  void clear() {
    g_commands.clear();
    g_log.clear();
    g_state_at_first_copy.clear();
  }
  void run(CommandRunner runner = emulate_command) {
    clear();
    EXPECT_EQ(run_migration(runner, record_log), 0);
    ASSERT_EQ(chdir(start_dir_), 0);
  }
  std::string state_file() const { return read_text(host(path::state)); }
  // The state file without its "version" and "failure" lines.
  std::string state() const {
    std::string kept;
    std::istringstream in(state_file());
    for (std::string line; std::getline(in, line);)
      if (!line.starts_with("version ") && !line.starts_with("failure ")) kept += line + "\n";
    return kept;
  }
  std::string state_line() const { return state().substr(0, state().find('\n')); }
  // Both live trees hold exactly the staging tree (and their own dot or
  // update entries), byte for byte.
  void expect_live_trees_replaced() const {
    const auto staged = listing(host("/usr/sav3"), dot_name);
    EXPECT_EQ(listing(host("/usr/sav"), dot_name), staged);
    auto live2 =
        listing(host("/usr/sav2"), [](const std::string& n) { return update_name(n) && n != "update_log"; });
    EXPECT_EQ(live2, staged);
    EXPECT_EQ(read_text(host("/usr/sav/.profile")), "dot entry");
    EXPECT_EQ(read_text(host("/usr/sav2/update_pkg/keep")), "update entry");
  }
  char start_dir_[4096] = {};
};

TEST_F(Driver, NormalRunIssuesThe30CommandsAndEndsDone) {
  ASSERT_EQ(retire_and_rebuild_commands().size(), 26u);
  run();
  EXPECT_EQ(g_commands, all_commands());
  EXPECT_EQ(g_log, (Lines{log_line::full_run_no_state, log_line::pending, log_line::done}));
  EXPECT_EQ(state(), "done\n");
  expect_live_trees_replaced();
  headed_payload("/usr/sav/data/device", 38, 1);

  // "pending" and the manifest were on disk before the first replacement
  // command: every staged file with its size and CRC-32.
  EXPECT_EQ(g_state_at_first_copy.rfind("pending\nattempts 0\n", 0), 0u) << g_state_at_first_copy;
  EXPECT_NE(g_state_at_first_copy.find("\ndir data\n"), std::string::npos);
  const std::string log = "update log";
  char line[64];
  std::snprintf(line, sizeof line, "\nfile %zu %08x update_log\n", log.size(),
                crc32(ConstBytes(reinterpret_cast<const std::uint8_t*>(log.data()), log.size())));
  EXPECT_NE(g_state_at_first_copy.find(line), std::string::npos) << g_state_at_first_copy;
  EXPECT_EQ(g_state_at_first_copy.find(".migration"), std::string::npos);
}

// A missing live tree is created and filled like the other.
TEST_F(Driver, MissingLiveTreeIsCreated) {
  for (const char* live : {"/usr/sav", "/usr/sav2"}) {
    SCOPED_TRACE(live);
    TearDown();
    SetUp();
    fs::remove_all(host(live));
    run();
    EXPECT_EQ(g_log,
              (Lines{log_line::full_run_no_state, std::string("live tree ") + live + " was missing: created",
                     log_line::pending, log_line::done}));
    EXPECT_EQ(state(), "done\n");
    EXPECT_EQ(listing(host(live), dot_name), listing(host("/usr/sav3"), dot_name));
  }
}

// The gate and the checks before anything is deleted: the live trees keep
// every byte, the state says why and counts the full runs. A check before the
// first command fails at no cost (no command, the count as it was); the gate
// after the opening commands counts the run.
TEST_F(Driver, IncompleteOrUnsuitableRunKeepsTheLiveTrees) {
  struct Case {
    const char* name;
    void (*spoil)(Driver&);
    bool commands;  // the opening commands ran (else none)
    std::string state;
    std::string log;
  };
  const Case cases[] = {
      {"staging folder missing", [](Driver& d) { fs::remove_all(d.host("/usr/sav3/history")); }, true,
       "kept staging incomplete: folder /usr/sav3/history\nruns 1",
       "staging incomplete: folder /usr/sav3/history failed: live trees kept"},
      {"conversion failed", [](Driver& d) { fs::create_directories(d.host(path::inventory)); }, true,
       "kept staging incomplete: device inventory\nruns 1",
       "staging incomplete: device inventory failed: live trees kept"},
      {"a legacy input unreadable", [](Driver& d) { fs::create_directories(d.host("/mnt/1/cfg/emailcfg")); },
       false, "kept precondition failed: legacy input: /mnt/1/cfg/emailcfg: Is a directory\nruns 0",
       "precondition failed: legacy input: /mnt/1/cfg/emailcfg: Is a directory: nothing done"},
      {"/usr/sav2 a file",
       [](Driver& d) {
         fs::remove_all(d.host("/usr/sav2"));
         d.put_text_file("/usr/sav2", "file");
       },
       false, "kept precondition failed: folder: /usr/sav2: Not a directory\nruns 0",
       "precondition failed: folder: /usr/sav2: Not a directory: nothing done"},
      {"/usr/sav2 a link to /usr/sav",
       [](Driver& d) {
         fs::remove_all(d.host("/usr/sav2"));
         fs::create_directory_symlink("sav", d.host("/usr/sav2"));
       },
       false, "kept precondition failed: separate: /usr/sav: the same folder as /usr/sav2\nruns 0",
       "precondition failed: separate: /usr/sav: the same folder as /usr/sav2: nothing done"},
      {"/usr/sav3 inside /usr/sav",
       [](Driver& d) {
         fs::rename(d.host("/usr/sav3"), d.host("/usr/sav/staging"));
         fs::create_directory_symlink("sav/staging", d.host("/usr/sav3"));
       },
       // A staging tree inside another tree takes no state file: it would
       // land in /usr/sav.
       false, "", "precondition failed: separate: /usr/sav3: inside /usr/sav: nothing done"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.spoil(*this);
    const auto sav = listing(host("/usr/sav"), [](const std::string& n) { return n == "staging"; });
    run();
    EXPECT_EQ(g_commands, c.commands ? opening : Lines{});
    EXPECT_EQ(g_log, (Lines{log_line::full_run_no_state, c.log}));
    EXPECT_EQ(state(), c.state.empty() ? "" : c.state + "\n");
    EXPECT_EQ(listing(host("/usr/sav"), [](const std::string& n) { return n == "staging"; }), sav);
    if (fs::is_directory(host("/usr/sav2")) && !fs::is_symlink(host("/usr/sav2"))) {
      EXPECT_EQ(read_text(host("/usr/sav2/old/file")), "stale");
    }
  }
}

// A kept device settles: after three full runs that kept the live trees, no
// run issues a command (each would kill the DHCP client again).
TEST_F(Driver, KeptDeviceSettlesAfterThreeRuns) {
  fs::remove_all(host("/usr/sav3/history"));
  for (int boot = 1; boot <= 4; ++boot) {
    SCOPED_TRACE(boot);
    run();
    EXPECT_EQ(g_commands, boot <= 3 ? opening : Lines{});
    EXPECT_EQ(state().substr(state().find('\n') + 1), "runs " + std::to_string(boot <= 3 ? boot : 3) + "\n");
    EXPECT_TRUE(state_file().ends_with(std::string("\nversion ") + version +
                                       "\nfailure staging incomplete: folder /usr/sav3/history: -\n"))
        << state_file();
    fs::remove_all(host("/usr/sav3/history"));  // the opening commands are only recorded
  }
  EXPECT_EQ(g_log.back(), "kept after 3 runs: nothing done; sav3-migrate --retry to try again");
}

// Without the state on disk no command runs: not even the opening ones,
// since the run could not be counted. A folder at the temporary name is seen
// before the first command.
TEST_F(Driver, UnwritableStateKeepsTheLiveTrees) {
  put_text_file(std::string(path::state_temp) + "/blocker", "");
  run();
  EXPECT_EQ(g_commands, Lines{});
  EXPECT_EQ(
      g_log,
      (Lines{log_line::full_run_no_state,
             "precondition failed: writable: /usr/sav3/.migration.new: Is a directory: nothing done",
             "could not write the state kept precondition failed: writable: /usr/sav3/.migration.new: Is "
             "a directory: Is a directory"}));
  EXPECT_FALSE(exists(path::state));
  EXPECT_EQ(read_text(host("/usr/sav2/old/file")), "stale");
}

// Runs that change nothing and issue no command at all.
TEST_F(Driver, RunsThatChangeNothing) {
  struct Case {
    const char* name;
    void (*prepare)(Driver&);
    std::string log;
  };
  const Case cases[] = {
      {"marker", [](Driver& d) { d.put_text_file(path::marker, ""); }, log_line::marker_present},
      {"marker while pending",
       [](Driver& d) {
         d.put_text_file(path::marker, "");
         d.put_text_file(path::state, "pending\nattempts 0\n");
       },
       log_line::marker_while_pending},
      {"no /usr/sav3", [](Driver& d) { fs::remove_all(d.host("/usr/sav3")); }, log_line::staging_not_folder},
      {"/usr/sav3 a file",
       [](Driver& d) {
         fs::remove_all(d.host("/usr/sav3"));
         d.put_text_file("/usr/sav3", "");
       },
       log_line::staging_not_folder},
      {"done, no legacy report",
       [](Driver& d) {
         fs::remove(d.host("/usr/sav/data/MCUDataItemReport1.txt"));
         d.put_text_file(path::state, "done\n");
       },
       log_line::already_done},
      {"abandoned", [](Driver& d) { d.put_text_file(path::state, "abandoned after 3 attempts\n"); },
       log_line::abandoned_found},
      {"unknown state", [](Driver& d) { d.put_text_file(path::state, "finished\n"); },
       log_line::state_unreadable},
      {"pending without attempts", [](Driver& d) { d.put_text_file(path::state, "pending\n"); },
       log_line::state_unreadable},
      // Manifest paths that could name something outside the tree.
      {"manifest path with ..",
       [](Driver& d) {
         d.put_text_file(path::state, "pending\nattempts 0\ndir data\nfile 1 00000000 data/../x\n");
       },
       log_line::state_unreadable},
      {"absolute manifest path",
       [](Driver& d) { d.put_text_file(path::state, "pending\nattempts 0\nfile 1 00000000 /etc/passwd\n"); },
       log_line::state_unreadable},
      {"manifest path in an unlisted folder",
       [](Driver& d) {
         d.put_text_file(path::state, "pending\nattempts 0\ndir data\nfile 1 00000000 cfg/x\n");
       },
       log_line::state_unreadable},
      {"kept after 3 runs",
       [](Driver& d) { d.put_text_file(path::state, "kept staging incomplete: x\nruns 3\n"); },
       "kept after 3 runs: nothing done; sav3-migrate --retry to try again"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.prepare(*this);
    const auto before = listing(root_, [](const std::string&) { return false; });
    run();
    EXPECT_TRUE(g_commands.empty());
    EXPECT_EQ(g_log, Lines{c.log});
    EXPECT_EQ(listing(root_, [](const std::string&) { return false; }), before);
  }
}

TEST_F(Driver, SecondInstanceDoesNothing) {
  const int held = open(host("/usr/sav3").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  run();
  close(held);
  EXPECT_TRUE(g_commands.empty());
  EXPECT_EQ(g_log, Lines{log_line::locked});
  EXPECT_FALSE(exists(path::inventory));
}

// The exit status of sav3-migrate --check [--json] and what it printed.
std::pair<int, std::string> check_said(bool json) {
  std::FILE* out = std::tmpfile();
  if (out == nullptr) return {-1, "no temporary file"};
  const int status = check_migration(json, out, record_log);
  std::rewind(out);
  std::string text;
  for (int ch; (ch = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(ch));
  std::fclose(out);
  return {status, text};
}

// The check says what the run then does, and changes nothing on the way:
// no command, no file (a probe would change a folder's time), one log line.
TEST_F(Driver, CheckTellsWhatTheRunDoes) {
  struct Case {
    const char* state;  // the state file, or nullptr for none
    bool lock;          // another process holds the lock on /usr/sav3
    int status;
    const char* verdict;  // the last line of the text form
  };
  const Case cases[] = {
      {nullptr, false, 0, "verdict: replace: full run"},
      {nullptr, true, 1, "verdict: nothing: another run holds the lock"},
      {"kept interrupted\nruns 2\n", false, 0,
       "verdict: replace: full run: the last run kept the live trees"},
      {"kept interrupted\nruns 3\n", false, 1, "verdict: nothing: kept after 3 runs"},
      {"done\n", false, 0, "verdict: replace: full run: legacy reports back under /usr/sav/data"},
      {"abandoned after 3 attempts\n", false, 1, "verdict: nothing: abandoned earlier"},
      {"pending\nattempts 9\n", false, 1, "verdict: nothing: state file unreadable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.verdict);
    TearDown();
    SetUp();
    if (c.state != nullptr) put_text_file(path::state, c.state);
    const int held = open(host("/usr/sav3").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(held, 0);
    if (c.lock) {
      ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    }
    struct stat before_dir;
    ASSERT_EQ(stat(host("/usr/sav").c_str(), &before_dir), 0);
    const auto before = listing(root_, [](const std::string&) { return false; });
    for (const bool json : {false, true}) {
      clear();
      const auto [status, text] = check_said(json);
      EXPECT_EQ(status, c.status);
      const std::string said = std::string(c.verdict).substr(sizeof "verdict:");
      EXPECT_EQ(g_log, Lines{"check: " + said});
      if (json) {
        EXPECT_EQ(inspect::vocabulary_problem(text), "") << text;
        EXPECT_NE(text.find("\"exit\":" + std::to_string(c.status) + ","), std::string::npos) << text;
      } else {
        EXPECT_TRUE(text.ends_with(std::string("\n") + c.verdict + "\n")) << text;
      }
    }
    close(held);
    EXPECT_TRUE(g_commands.empty());
    EXPECT_EQ(listing(root_, [](const std::string&) { return false; }), before);
    struct stat after_dir;
    ASSERT_EQ(stat(host("/usr/sav").c_str(), &after_dir), 0);
    EXPECT_EQ(after_dir.st_mtim.tv_nsec, before_dir.st_mtim.tv_nsec);
  }
}

// The check lists what a full run would convert as zeros or as time 0, for
// the modules on the ports only, and still says replace (exit 0): that is
// what the conversions are specified to do with such inputs.
TEST_F(Driver, CheckWarnsOfInputsReadAsZeros) {
  auto record = [](const char* time_text) {
    std::vector<std::uint8_t> r(controller_record::size, 0);
    std::copy(time_text, time_text + std::strlen(time_text), r.begin());
    return r;
  };
  auto two_records = [&](const char* first, const char* second) {
    std::vector<std::uint8_t> bytes = record(first);
    const std::vector<std::uint8_t> more = record(second);
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
  };
  struct Case {
    const char* what;
    std::function<void(Driver&)> prepare;
    std::vector<std::string> listed;      // parts of the JSON
    std::vector<std::string> not_listed;  // none of them
    const char* zone = "UTC0";            // TZ
  };
  const std::string good = "Mon Jan 05 2015 10:20:30";
  const Case cases[] = {
      {"no module: the controller's and the settings' inputs only",
       [](Driver&) {},
       {R"({"what":"missing","path":"/mnt/1/cfg/pwmcfg"})", R"({"port":1,"code":0,"name":"empty"})"},
       {"K3cfg", "LQDataItem", "ZrtDataItem", "/usr/sav/cfg/msmcfg"}},
      {"an LQ board on port 2: its inputs, numbered as the dispatches number it",
       [](Driver& d) {
         d.put_file(path::device_display, {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
       },
       {R"({"what":"missing","path":"/mnt/1/cfg/LQDataItemTmp_1.txt"})",
        R"({"port":2,"code":2,"name":"LQ"})"},
       {"K3cfg", "ZrtDataItem", "LQDataItemTmp_2"}},
      {"an empty input and a short one",
       [](Driver& d) {
         d.put_text_file(legacy_pwmcfg::path, "");
         d.put_text_file(legacy_emailcfg::path, "0123456789");
       },
       {R"({"what":"empty","path":"/mnt/1/cfg/pwmcfg","read":0,"expected":44})",
        R"({"what":"short","path":"/mnt/1/cfg/emailcfg","read":10,"expected":756})"},
       {R"("path":"/mnt/1/cfg/pwmcfg"})"}},
      {"time texts that do not parse, in a report cut short",
       [&](Driver& d) {
         d.put_file(controller_record::report_path, two_records(good.c_str(), "Mon Jan 05 2015 xx"));
         d.put_file(controller_record::item_path, record(good.c_str()));
       },
       {R"({"what":"short","path":"/usr/sav/data/MCUDataItemReport1.txt","read":496,"expected":248000})",
        R"({"what":"bad times","path":"/usr/sav/data/MCUDataItemReport1.txt","count":1,"records":2})"},
       {R"("path":"/mnt/1/cfg/MCUDataItemTmp_1.txt")"}},
      {"times read as UTC where no zone is named",
       [](Driver&) {},
       {R"("reason":"full run; warning: no zone file found: times read as UTC")", R"("read_as_utc":true)"},
       {},
       "Nowhere/Atlantis"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    c.prepare(*this);
    const ZoneScope zone(c.zone);
    const auto [status, json] = check_said(true);
    EXPECT_EQ(status, 0);
    for (const std::string& s : c.listed)
      EXPECT_NE(json.find(s), std::string::npos) << s << " not in\n" << json;
    for (const std::string& s : c.not_listed)
      EXPECT_EQ(json.find(s), std::string::npos) << s << " in\n" << json;
  }
}

// A state that allows a full run: all 30 commands, and done at the end.
TEST_F(Driver, FullRunAfterKeptOrWithLegacyReportsBack) {
  // The second finds the first one's before-image, which no longer belongs
  // to the device's data: it goes.
  const std::pair<std::string, Lines> cases[] = {
      {"kept staging incomplete: device inventory\n", {log_line::full_run_after_kept}},
      {"done\n", {log_line::full_run_reports_back, log_line::old_image_removed}},
  };
  for (const auto& [before, why] : cases) {
    SCOPED_TRACE(before);
    put_text_file(path::state, before);
    run();
    EXPECT_EQ(g_commands, all_commands());
    Lines expected = why;
    expected.insert(expected.end(), {log_line::pending, log_line::done});
    EXPECT_EQ(g_log, expected);
    EXPECT_EQ(state(), "done\n");
    put_text_file("/usr/sav/data/MCUDataItemReport1.txt", "legacy report");
  }
}

// A run cut during the replacement leaves "pending"; the next run converts
// nothing, issues only the replacement commands and finishes, however far the
// cut run got.
TEST_F(Driver, ResumeFinishesAnInterruptedReplacement) {
  for (int cut_after = 0; cut_after < 4; ++cut_after) {
    SCOPED_TRACE(cut_after);
    TearDown();
    SetUp();
    g_cut_after = cut_after;
    run();
    EXPECT_EQ(state_line(), "pending");
    ASSERT_EQ(g_log.size(), 3u);
    EXPECT_EQ(g_log[2].rfind("verification failed: /usr/sav", 0), 0u) << g_log[2];

    g_cut_after = -1;
    run();
    EXPECT_EQ(g_commands, closing);
    EXPECT_EQ(g_log, (Lines{"resumed: attempt 1", log_line::pending, log_line::done}));
    EXPECT_EQ(state(), "done\n");
    expect_live_trees_replaced();
  }
}

// A staging tree that no longer matches its manifest changes nothing more;
// the third such attempt abandons, and later runs do nothing.
TEST_F(Driver, DamagedStagingTreeIsAbandonedAfterThreeAttempts) {
  g_cut_after = 0;
  run();
  ASSERT_EQ(state_line(), "pending");
  const std::string manifest = state().substr(state().find('\n', std::string("pending\n").size()) + 1);
  std::vector<std::uint8_t> device = file_bytes(path::inventory);
  device[40] ^= 1;
  put_file(path::inventory, device);
  const auto live = listing(host("/usr/sav2"), [](const std::string&) { return false; });
  g_cut_after = -1;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    SCOPED_TRACE(attempt);
    run();
    EXPECT_TRUE(g_commands.empty());
    Lines expected = {"resumed: attempt " + std::to_string(attempt),
                      "manifest mismatch: /usr/sav3/data/device: nothing more changed"};
    if (attempt == 3) expected.push_back("abandoned after 3 attempts");
    EXPECT_EQ(g_log, expected);
    if (attempt < 3) {
      EXPECT_EQ(state(), "pending\nattempts " + std::to_string(attempt) + "\n" + manifest);
    }
  }
  // The manifest stays, for --retry; the failure of the last attempt is told.
  EXPECT_EQ(state(), "abandoned after 3 attempts\nattempts 3\n" + manifest);
  EXPECT_NE(state_file().find("\nfailure manifest mismatch: /usr/sav3/data/device: -\n"), std::string::npos);
  run();
  EXPECT_EQ(g_log, Lines{log_line::abandoned_found});
  EXPECT_EQ(listing(host("/usr/sav2"), [](const std::string&) { return false; }), live);
  // --retry refuses while the staging tree differs from its manifest, and
  // makes the state pending again once it matches: the next run finishes.
  auto retry = [this](int status, const std::string& log) {
    clear();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(retry_migration(out, err, record_log), status);
    std::fclose(out);
    std::fclose(err);
    EXPECT_EQ(g_log, Lines{log});
  };
  const std::string abandoned = state_file();
  retry(
      1,
      "retry refused: the staging tree does not match its manifest: /usr/sav3/data/device: nothing changed");
  EXPECT_EQ(state_file(), abandoned);
  device[40] ^= 1;
  put_file(path::inventory, device);
  retry(0, log_line::retry_abandoned);
  EXPECT_EQ(state(), "pending\nattempts 0\n" + manifest);
  EXPECT_NE(state_file().find("\nfailure manifest mismatch: /usr/sav3/data/device: -\n"), std::string::npos);
  retry(1, "retry refused: pending: the next boot resumes it: nothing changed");
  run();
  EXPECT_EQ(state(), "done\n");
  retry(1, "retry refused: the migration is done: nothing changed");
}

// Names that busybox xargs would split, join or stop at: the tool removes
// the entries itself, never outside /usr/sav2, never through a link. A
// leading dash is harmless (xargs gets whole paths): the command runs.
TEST_F(Driver, Sav2NamesTheShellWouldSplitAreRemovedOneByOne) {
  const std::pair<const char*, bool> cases[] = {
      {"a ", true},          {"tab\tname", true},  {"cr\rname", true}, {"quo'te", true}, {"dq\"x", true},
      {"back\\slash", true}, {"line\nfeed", true}, {"vt\vff\f", true}, {"-dash", false},
  };
  for (const auto& [name, by_hand] : cases) {
    SCOPED_TRACE(name);
    TearDown();
    SetUp();
    put_text_file("/outside/usr/precious", "outside");
    put_text_file(std::string("/usr/sav2/") + name + "/usr/file", "inside");
    fs::create_directory_symlink(host("/outside"), host("/usr/sav2/link"));
    fs::create_directory_symlink(host("/outside"), host("/usr/sav2/update_link_elsewhere"));
    run();
    std::vector<std::string> expected = all_commands();
    Lines log = {log_line::full_run_no_state, log_line::pending, log_line::done};
    if (by_hand) {
      std::erase_if(expected, [](const std::string& c) { return c.starts_with("find /usr/sav2/"); });
      log.insert(log.begin() + 2, log_line::sav2_by_hand);
    }
    EXPECT_EQ(g_commands, expected);
    EXPECT_EQ(g_log, log);
    EXPECT_EQ(read_text(host("/outside/usr/precious")), "outside");
    EXPECT_FALSE(fs::exists(fs::symlink_status(host("/usr/sav2/link"))));
    EXPECT_TRUE(fs::is_symlink(host("/usr/sav2/update_link_elsewhere")));
    fs::remove(host("/usr/sav2/update_link_elsewhere"));
    expect_live_trees_replaced();
    EXPECT_EQ(state(), "done\n");
  }
}

// A kept "update" entry that the copy would write through or fail on goes,
// with either way of emptying /usr/sav2.
TEST_F(Driver, KeptEntryOfAnotherKindIsRemoved) {
  struct Case {
    const char* name;
    void (*prepare)(Driver&);
    bool by_hand;
    const char* line;
  };
  constexpr char other_kind[] = "removed /usr/sav2/update_log: not of the kind the staging tree has there";
  const Case cases[] = {
      {"link", [](Driver& d) { fs::create_symlink(d.host("/outside/log"), d.host("/usr/sav2/update_log")); },
       false, other_kind},
      {"folder", [](Driver& d) { d.put_text_file("/usr/sav2/update_log/inner", "x"); }, false, other_kind},
      {"link, split name",
       [](Driver& d) {
         fs::create_symlink(d.host("/outside/log"), d.host("/usr/sav2/update_log"));
         d.put_text_file("/usr/sav2/a b", "x");
       },
       true, other_kind},
      {"hard link",
       [](Driver& d) { fs::create_hard_link(d.host("/outside/log"), d.host("/usr/sav2/update_log")); }, false,
       "removed /usr/sav2/update_log: a file with other links, which the copy would write into"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    put_text_file("/outside/log", "outside");
    c.prepare(*this);
    run();
    Lines expected = {log_line::full_run_no_state, log_line::pending};
    if (c.by_hand) expected.push_back(log_line::sav2_by_hand);
    expected.push_back(c.line);
    expected.push_back(log_line::done);
    EXPECT_EQ(g_log, expected);
    EXPECT_EQ(read_text(host("/outside/log")), "outside");
    EXPECT_EQ(read_text(host("/usr/sav2/update_log")), "update log");
    EXPECT_EQ(state(), "done\n");
  }
}

// Predicted before the first command: a copied file far larger than the
// staging file system stops the run at no cost.
TEST_F(Driver, NotEnoughRoomForThePredictedStagingTree) {
  put_text_file("/usr/sav/update_log", "");
  std::filesystem::resize_file(host("/usr/sav/update_log"), std::uintmax_t{1} << 43);
  run();
  EXPECT_EQ(g_commands, Lines{});
  ASSERT_EQ(g_log.size(), 2u);
  EXPECT_EQ(g_log[1].rfind("precondition failed: room: /usr/sav3: need ", 0), 0u) << g_log[1];
  EXPECT_EQ(state().rfind("kept precondition failed: room: /usr/sav3: need ", 0), 0u) << state();
}

// A chain of `levels` folders named `name` below the host folder `top`, the
// deepest holding a file "f"; made descriptor-relative, so that no host path
// grows with it.
void make_chain(const std::string& top, int levels, const std::string& name) {
  int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; level < levels && fd >= 0; ++level) {
    const int below =
        mkdirat(fd, name.c_str(), 0755) == 0 ? openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY) : -1;
    close(fd);
    fd = below;
  }
  ASSERT_GE(fd, 0) << top;
  const int file = openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  EXPECT_GE(file, 0);
  close(file);
  close(fd);
}

dev_t device_of(const std::string& host_path) {
  struct stat st {};
  EXPECT_EQ(stat(host_path.c_str(), &st), 0) << host_path;
  return st.st_dev;
}

// A staging tree the room check cannot walk whole (a path longer than the
// shell's tools take): "cannot tell" is not "enough".
TEST_F(Driver, RoomThatCannotBeToldKeepsTheLiveTrees) {
  const std::string name(250, 'n');
  make_chain(host("/usr/sav3/data"), 17, name);
  run();
  EXPECT_EQ(g_commands, opening);
  // The log line and the state name where the walk stopped and why.
  const std::string where = "/usr/sav3/data/" + name + "/" + name.substr(0, 10);
  // (The before-image cannot hold that path either: the run goes on without.)
  ASSERT_EQ(g_log.size(), 3u);
  EXPECT_TRUE(g_log[1].starts_with("no before-image: ")) << g_log[1];
  EXPECT_TRUE(g_log[2].starts_with("cannot tell the room needed on the file system of /usr/sav: " + where))
      << g_log[2];
  EXPECT_TRUE(g_log[2].ends_with(": File name too long: live trees kept")) << g_log[2];
  EXPECT_TRUE(state().starts_with("kept not enough room: /usr/sav: cannot tell: " + where)) << state();
  EXPECT_NE(state().find(": File name too long\nruns 1\n"), std::string::npos) << state();
  // Nor can the manifest list it: it names the path, visibly shortened.
  std::FILE* out = std::tmpfile();
  char failed[sizeof TreePath{}.text + 64] = {};
  EXPECT_FALSE(write_staging_manifest(out, failed, sizeof failed));
  std::fclose(out);
  EXPECT_EQ(std::string(failed).substr(0, 20), "/usr/sav3/data/nnnnn");
  EXPECT_TRUE(std::string(failed).ends_with("/...")) << failed;
  // The host's tools stop at such a path; the tool's own removal does not.
  EXPECT_TRUE(remove_entry(AT_FDCWD, host("/usr/sav3/data/" + name).c_str(), "chain", device_of(host("/"))));
}

// Deeper than a walk keeps folders open, and longer than a path it spells
// out: counted as freed (as far as the shell's rm reaches), walked with a
// bounded number of open descriptors, and removed whole by either removal.
TEST_F(Driver, DeepFolderChainIsCountedWalkedAndRemoved) {
  constexpr int levels = 1500;
  const dev_t device = device_of(host("/usr/sav2"));
  const WipedTree live2{path::live2, TreeRule::live2, device};
  RoomDemand before{};
  add_wipes_freed(&live2, 1, 512, before);
  make_chain(host("/usr/sav2"), levels, "d");
  RoomDemand after{};
  add_wipes_freed(&live2, 1, 512, after);
  EXPECT_EQ(after.freed_inodes - before.freed_inodes, levels + 1u);

  const int live = open(host("/usr/sav2").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(live, 0);
  auto open_files = [] {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
  };
  const auto at_start = open_files();
  std::ptrdiff_t at_bottom = 0;
  TreePath walked{};
  EXPECT_TRUE(walk_tree(live, walked, [&](int, const char* name, const char* path, const struct stat&) {
    if (std::strcmp(name, "f") == 0 && std::strlen(path) == 2 * levels + 1) at_bottom = open_files();
    return Step::enter;
  }));
  // A fixed number of folders open (open_tree_levels), not one per level.
  EXPECT_GT(at_bottom, at_start);
  EXPECT_LE(at_bottom - at_start, 20);
  EXPECT_TRUE(remove_entry(live, "d", "/usr/sav2/d", device));

  struct Case {
    const char* removal;
    bool (*remove)(int, const char*, const char*, dev_t);
    std::string name;
    int levels;
  };
  const Case cases[] = {
      {"remove_entry", remove_entry, "d", levels},
      {"empty_folder", empty_folder, "d", levels},
      {"remove_entry", remove_entry, std::string(200, 'n'), 30},  // 6030 bytes of path
      {"empty_folder", empty_folder, std::string(200, 'n'), 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.removal) + " " + std::to_string(c.levels));
    fs::create_directory(host("/usr/sav2/deep"));
    make_chain(host("/usr/sav2/deep"), c.levels, c.name);
    EXPECT_TRUE(c.remove(live, "deep", "/usr/sav2/deep", device));
    // empty_folder keeps the folder, empty: then fs::remove takes it.
    EXPECT_EQ(fs::remove(host("/usr/sav2/deep")), c.remove == empty_folder);
  }
  close(live);
}

// A folder swapped for a link while the walk is about to enter it, or above
// the folders it keeps open, is never followed: the walk fails instead.
TEST_F(Driver, FolderSwappedForALinkDuringTheWalkIsNotFollowed) {
  struct Case {
    const char* what;
    std::size_t at_depth;  // the visit that swaps
    int swapped;           // the depth of the folder swapped
  };
  const Case cases[] = {{"about to be entered", 3, 3}, {"above the open folders", 60, 30}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    put_text_file("/outside/precious", "outside");
    make_chain(host("/usr/sav2"), 80, "d");
    std::string folder = host("/usr/sav2");
    for (int level = 0; level < c.swapped; ++level) folder += "/d";
    const int live = open(host("/usr/sav2").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat outside {};
    ASSERT_EQ(stat(host("/outside").c_str(), &outside), 0);
    // Every folder the walk reads or leaves an entry of, by inode.
    std::vector<ino_t> read;
    auto note_folder = [&](int dirfd) {
      struct stat st {};
      EXPECT_EQ(fstat(dirfd, &st), 0);
      read.push_back(st.st_ino);
    };
    TreePath walked{};
    EXPECT_FALSE(walk_tree(
        live, walked,
        [&](int dirfd, const char*, const char* path, const struct stat&) {
          note_folder(dirfd);
          if (std::strlen(path) == 2 * c.at_depth - 1 && path[0] == 'd') {
            fs::rename(folder, host("/outside/moved"));
            fs::create_directory_symlink(host("/outside"), folder);
          }
          return Step::enter;
        },
        [&](int dirfd, const char*, const char*, const struct stat&, int) {
          note_folder(dirfd);
          return true;
        }));
    close(live);
    EXPECT_EQ(std::count(read.begin(), read.end(), outside.st_ino), 0);
  }
}

TEST_F(Driver, NotEnoughRoomKeepsTheLiveTrees) {
  // A sparse staged file far larger than any scratch file system.
  std::filesystem::resize_file(host("/usr/sav3/update_log"), std::uintmax_t{1} << 43);
  run();
  EXPECT_EQ(g_commands, opening);
  ASSERT_EQ(g_log.size(), 2u);
  EXPECT_EQ(g_log[1].rfind("not enough room on the file system of /usr/sav: need ", 0), 0u) << g_log[1];
  EXPECT_EQ(state(), "kept not enough room: /usr/sav\nruns 1\n");
  EXPECT_EQ(read_text(host("/usr/sav2/old/file")), "stale");
}

TEST_F(Driver, StagingTreeOnTmpfsIsAWarning) {
  struct statfs tmp;
  ASSERT_EQ(statfs("/dev/shm", &tmp), 0);
  if (static_cast<std::uint32_t>(tmp.f_type) != TMPFS_MAGIC) GTEST_SKIP() << "/dev/shm is not tmpfs here";
  char templ[] = "/dev/shm/sav3-driver-XXXXXX";
  ASSERT_NE(mkdtemp(templ), nullptr);
  fs::create_directories(std::string(templ) + "/usr/sav3");
  set_device_root(templ);
  std::vector<std::pair<int, std::string>> lines;
  static std::vector<std::pair<int, std::string>>* seen = &lines;
  run_migration(record_command, [](int priority, const char* line) { seen->emplace_back(priority, line); });
  set_device_root(root_.c_str());
  fs::remove_all(templ);
  ASSERT_GE(lines.size(), 1u);
  EXPECT_EQ(lines[0], std::make_pair(LOG_WARNING, std::string(log_line::staging_on_tmpfs)));
}

TEST(RoomCheck, BlocksAndMargin) {
  struct Case {
    RoomDemand demand;
    RoomFigures figures;
    bool enough_blocks;
    bool enough_inodes;
    std::uint64_t need_kib;
  };
  // 4 KiB blocks: the margin is 16 blocks (64 KiB) up to 1600 blocks, then 1%.
  const Case cases[] = {
      {{100, 10, 0, 0}, {4096, 1000, 116, 0, 0}, true, true, 464},       // exactly fits
      {{100, 10, 0, 0}, {4096, 1000, 115, 0, 0}, false, true, 464},      // one block short
      {{100, 10, 40, 0}, {4096, 1000, 76, 0, 0}, true, true, 304},       // the wipe frees 40
      {{100, 10, 500, 0}, {4096, 1000, 16, 0, 0}, true, true, 64},       // frees more than it needs
      {{100, 10, 0, 0}, {4096, 100000, 1099, 0, 0}, false, true, 4400},  // 1% of 100000 = 1000
      {{100, 10, 0, 0}, {4096, 100001, 1101, 0, 0}, true, true, 4404},   // 1% rounds up
      {{100, 10, 0, 0}, {1024, 1000, 164, 0, 0}, true, true, 164},       // 1 KiB blocks: margin 64
      {{100, 10, 0, 3}, {4096, 1000, 1000, 500, 23}, true, true, 464},   // inodes: 10 - 3 = 7, margin 16
      {{100, 10, 0, 3}, {4096, 1000, 1000, 500, 22}, true, false, 464},  // one inode short
      {{100, 10, 0, 3}, {4096, 1000, 1000, 5000, 57}, true, true, 464},  // margin 1% of 5000: 50
      {{100, 10, 0, 0}, {4096, 1000, 1000, 0, 0}, true, true, 464},      // no inode count
  };
  for (const Case& c : cases) {
    const RoomVerdict v = weigh_room(c.demand, c.figures);
    EXPECT_EQ(v.enough_blocks, c.enough_blocks) << c.figures.free_blocks;
    EXPECT_EQ(v.enough_inodes, c.enough_inodes) << c.figures.free_inodes;
    EXPECT_EQ(v.need_kib, c.need_kib) << c.figures.blocks;
  }
  const std::uint64_t sizes[][3] = {
      {0, 4096, 0}, {1, 4096, 1}, {4096, 4096, 1}, {4097, 4096, 2}, {65536, 1024, 64}};
  for (const auto& s : sizes) EXPECT_EQ(blocks_for(s[0], s[1]), s[2]) << s[0] << " " << s[1];
}

// A file with several links frees its blocks once when the wipes remove all
// of its links, and nothing when one of them stays.
TEST_F(Driver, RoomCountsAFileLinkedAcrossTheLiveTreesOnce) {
  struct Case {
    const char* what;
    std::vector<std::string> links;
    bool freed;
  };
  const Case cases[] = {
      {"in both live trees", {"/usr/sav/data/f", "/usr/sav2/old/f"}, true},
      {"three links, all wiped", {"/usr/sav/data/f", "/usr/sav/cfg/f", "/usr/sav2/old/f"}, true},
      {"one in an update entry", {"/usr/sav2/old/f", "/usr/sav2/update_pkg/f"}, false},
      {"one in a dot entry", {"/usr/sav2/old/f", "/usr/sav/.kept/f"}, false},
      {"one outside the trees", {"/usr/sav/data/f", "/outside/f"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    for (const std::string& link : c.links) fs::create_directories(fs::path(host(link)).parent_path());
    const dev_t device = device_of(host("/usr/sav"));
    const WipedTree both[] = {{path::live, TreeRule::live, device}, {path::live2, TreeRule::live2, device}};
    RoomDemand before{};
    add_wipes_freed(both, 2, 512, before);
    put_text_file(c.links[0], std::string(20000, 'x'));
    for (std::size_t i = 1; i < c.links.size(); ++i) fs::create_hard_link(host(c.links[0]), host(c.links[i]));
    RoomDemand after{};
    add_wipes_freed(both, 2, 512, after);
    struct stat st {};
    ASSERT_EQ(stat(host(c.links[0]).c_str(), &st), 0);
    EXPECT_EQ(after.freed_inodes - before.freed_inodes, c.freed ? 1u : 0u);
    EXPECT_EQ(after.freed_blocks - before.freed_blocks,
              c.freed ? static_cast<std::uint64_t>(st.st_blocks) : 0u);
  }
}

// The zone a run reads times in, as the log names it, and where it came
// from: TZ, else /etc/localtime, else the rule in /etc/TZ (which the run then
// reads times in), else none. A zone that libc could not find (it falls back
// to UTC) is a warning, UTC asked for is not.
TEST_F(Driver, ZoneLineNamesWhereTheZoneCameFrom) {
  struct Case {
    const char* tz;                     // nullptr: unset
    const char* localtime;              // /etc/localtime's bytes, or nullptr: none
    std::optional<std::string> etc_tz;  // /etc/TZ's bytes
    Lines log;
    std::int32_t summer_noon;  // "Wed Jul 01 2015 12:00:00" read in the zone
  };
  constexpr std::int32_t cest = 1435744800, utc = 1435752000, edt = 1435766400;
  const Case cases[] = {
      {"Europe/Berlin", nullptr, "EST5EDT\n", {"times read in zone TZ=Europe/Berlin"}, cest},
      {"UTC0", nullptr, std::nullopt, {"times read in zone TZ=UTC0"}, utc},
      {"Nowhere/Atlantis",
       nullptr,
       std::nullopt,
       {"times read in zone TZ=Nowhere/Atlantis", log_line::zone_fallback_utc},
       utc},
      {nullptr, "", "EST5EDT\n", {"times read in zone /etc/localtime"}, 0},
      {nullptr,
       nullptr,
       "CET-1CEST,M3.5.0,M10.5.0/3\n",
       {"times read in zone /etc/TZ=CET-1CEST,M3.5.0,M10.5.0/3"},
       cest},
      {nullptr,
       nullptr,
       "EST5EDT,M3.2.0,M11.1.0\r\nsecond line",
       {"times read in zone /etc/TZ=EST5EDT,M3.2.0,M11.1.0"},
       edt},
      {nullptr, nullptr, "UTC0", {"times read in zone /etc/TZ=UTC0"}, utc},
      {nullptr, nullptr, std::nullopt, {log_line::zone_fallback_utc}, utc},
      // Not a rule: a NUL inside, blanks, an empty line, no end within the bound.
      {nullptr, nullptr, std::string("CET-1\0CEST\n", 11), {log_line::zone_fallback_utc}, utc},
      {nullptr, nullptr, "CET -1\n", {log_line::zone_fallback_utc}, utc},
      {nullptr, nullptr, "\nCET-1\n", {log_line::zone_fallback_utc}, utc},
      {nullptr, nullptr, "CET-1CEST" + std::string(200, '0') + "\n", {log_line::zone_fallback_utc}, utc},
  };
  static Lines seen;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.etc_tz ? *c.etc_tz : c.tz != nullptr ? c.tz : "none");
    fs::remove_all(host("/etc"));
    if (c.localtime != nullptr) put_text_file("/etc/localtime", c.localtime);
    if (c.etc_tz) put_text_file("/etc/TZ", *c.etc_tz);
    ZoneScope zone(c.tz);
    seen.clear();
    set_logger([](int, const char* line) { seen.emplace_back(line); });
    tell_zone();
    set_logger(nullptr);
    EXPECT_EQ(seen, c.log);
    // A fake /etc/localtime says nothing of the machine's zone.
    if (c.localtime == nullptr) {
      EXPECT_EQ(legacy_time_seconds("Wed Jul 01 2015 12:00:00"), c.summer_noon);
    }
  }
}

// Only no argument at all migrates; every other list answers and changes
// nothing. "usage" stands for the usage text; a usage error ends with the one
// line naming the argument.
TEST(Arguments, OnlyNoArgumentMigrates) {
  struct Case {
    std::vector<const char*> args;
    int status;
    std::string out;
    std::string err;
  };
  const std::string version_line = std::string("sav3-migrate ") + version + "\n";
  const Case cases[] = {
      {{"sav3-migrate"}, -1, "", ""},
      {{"sav3-migrate", "--help"}, 0, "usage", ""},
      {{"sav3-migrate", "-h"}, 0, "usage", ""},
      {{"sav3-migrate", "--version"}, 0, version_line, ""},
      {{"sav3-migrate", "help"}, 2, "", "usage+unexpected argument help"},
      {{"sav3-migrate", "now"}, 2, "", "usage+unexpected argument now"},
      {{"sav3-migrate", "--chek"}, 2, "", "usage+unknown option --chek"},
      {{"sav3-migrate", "-x", "--help"}, 2, "", "usage+unknown option -x"},
      {{"sav3-migrate", "--help", "me"}, 2, "", "usage+unexpected argument me"},
      {{"sav3-migrate", "--versions"}, 2, "", "usage+unknown option --versions"},
      {{"sav3-migrate", "-"}, 2, "", "usage+unknown option -"},
      {{"sav3-migrate", ""}, 2, "", "usage+unexpected argument "},
      {{"sav3-migrate", "--check", "--jsn"}, 2, "", "usage+unknown option --jsn"},
      {{"sav3-migrate", "--check", "--json", "--json"}, 2, "", "usage+unexpected argument --json"},
      {{"sav3-migrate", "--json", "--check"}, 2, "", "usage+unexpected argument --json"},
      {{"sav3-migrate", "--status", "x"}, 2, "", "usage+unexpected argument x"},
      {{"sav3-migrate", "--retry", "--json"}, 2, "", "usage+unexpected argument --json"},
      {{"sav3-migrate", "--rollback", "--json"}, 2, "", "usage+unexpected argument --json"},
      {{"sav3-migrate", "--commit", "now"}, 2, "", "usage+unexpected argument now"},
  };
  auto text = [](std::FILE* f) {
    std::rewind(f);
    std::string s;
    for (int ch; (ch = std::fgetc(f)) != EOF;) s.push_back(static_cast<char>(ch));
    std::fclose(f);
    return s;
  };
  auto matches = [](const std::string& got, const std::string& want) {
    if (!want.starts_with("usage")) return got == want;
    if (!got.starts_with("usage: sav3-migrate\n")) return false;
    const std::size_t named = got.find("\nsav3-migrate: ");
    if (want == "usage") return named == std::string::npos;
    return named != std::string::npos && got.substr(named) == "\nsav3-migrate: " + want.substr(6) + "\n";
  };
  static Lines seen;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_TRUE(out && err);
    seen.clear();
    EXPECT_EQ(handle_arguments(static_cast<int>(c.args.size()), c.args.data(), out, err,
                               [](int, const char* line) { seen.emplace_back(line); }),
              c.status);
    EXPECT_TRUE(seen.empty());
    const std::string o = text(out);
    const std::string e = text(err);
    EXPECT_TRUE(matches(o, c.out)) << o;
    EXPECT_TRUE(matches(e, c.err)) << e;
  }
}

// Where a mount below a tree may be: a removal never crosses one, and none
// may show another tree or the legacy data (a bind mount has the identity
// of the folder it shows).
TEST_F(Driver, MountsBelowTheTreesAreContained) {
  put_text_file("/mnt/1/cfg/panelcfg", "cfg");
  put_text_file("/usr/sav/card/file", "card");
  auto identity = [&](const char* device_path) {
    struct stat st;
    EXPECT_EQ(stat(host(device_path).c_str(), &st), 0) << device_path;
    return identity_of(st);
  };
  const Identity card = identity("/usr/sav/card");
  struct Case {
    const char* tree;
    const char* relative;
    Identity root;
    const char* failure;  // "" when the mount is allowed
  };
  const Case cases[] = {
      {path::staging, "usb", card,
       "mount point: /usr/sav3/usb: below the staging tree, which the opening commands empty"},
      {path::staging, ".keep", card,
       "mount point: /usr/sav3/.keep: below the staging tree, which the opening commands empty"},
      {path::live, "data", card, ""},
      {path::live, ".snapshot", card, ""},
      {path::live, "data/sd", card, "mount point: /usr/sav/data/sd: inside a folder the copy refills"},
      {path::live, "sdcard", card, "mount point: /usr/sav/sdcard: below a name the staging tree lacks"},
      {path::live, "update_log", card,
       "mount point: /usr/sav/update_log: below a name the staging tree lacks"},
      {path::live2, "history", card, ""},
      {path::live2, "backup", card, ""},
      {path::live2, "backup/deeper", card, ""},
      {path::live2, "update_pkg/card", card, ""},
      {path::live2, "cfg/sd", card, "mount point: /usr/sav2/cfg/sd: inside a folder the copy refills"},
      {path::live2, "update_log", card,
       "mount point: /usr/sav2/update_log: inside a folder the copy refills"},
      {path::live2, "backup", identity("/mnt/1"), "separate: /usr/sav2/backup: shows /mnt/1/cfg"},
      {path::live2, "backup", identity("/mnt/1/cfg"), "separate: /usr/sav2/backup: shows /mnt/1/cfg"},
      {path::live2, "backup", identity("/usr/sav"), "separate: /usr/sav2/backup: shows /usr/sav"},
      {path::live, "data", identity("/usr/sav3"), "separate: /usr/sav/data: shows /usr/sav3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tree) + "/" + c.relative);
    MountMap map{};
    map.count = 1;
    map.mounts[0].tree = c.tree;
    std::snprintf(map.mounts[0].relative, sizeof map.mounts[0].relative, "%s", c.relative);
    map.mounts[0].root = c.root;
    Failure f{};
    bool staging_sound = true;
    const bool held = mounts_contained(map, f, staging_sound);
    EXPECT_EQ(held, c.failure[0] == '\0');
    if (!held) {
      EXPECT_EQ(std::string(f.what) + ": " + f.path + ": " + f.error, c.failure);
    }
    // Only a mount that shows the staging tree keeps the state file out.
    EXPECT_EQ(staging_sound, std::strstr(c.failure, "shows /usr/sav3") == nullptr);
  }
}

// What --status says for each state file, and its exit status; a file that
// an older tool wrote (no version, no failure line) reads as well.
TEST_F(Driver, StatusTellsTheState) {
  struct Case {
    const char* state;  // nullptr: no state file
    int status;
    Lines text;  // lines that the text form holds
    Lines json;  // members the JSON form holds
  };
  const std::string written = std::string("version ") + version + "\n";
  const std::string kept = "kept precondition failed: writable: /usr/sav: Read-only file system\nruns 2\n" +
                           written + "failure precondition writable: /usr/sav: Read-only file system\n";
  const std::string abandoned = "abandoned after 3 attempts\nattempts 3\n" + written +
                                "failure verification: /usr/sav2/cfg/a: b: c: -\ndir cfg\n";
  const Case cases[] = {
      {nullptr,
       5,
       {"status: none", "undo: no: no before-image (none kept, or committed)"},
       {"\"state\":null", "\"failure\":null"}},
      {"done\n",
       0,
       {"status: done", "written by: an earlier sav3-migrate (the file names no version)"},
       {"\"status\":\"done\"", "\"written_by\":null", "\"runs\":null"}},
      {"done\nversion 9.8.7\n",
       0,
       {"written by: sav3-migrate 9.8.7", "last failure: none recorded"},
       {"\"written_by\":{\"name\":\"sav3-migrate\",\"version\":\"9.8.7\"}"}},
      {kept.c_str(),
       1,
       {"status: kept", "runs: 2 of 3",
        "last failure: precondition writable: /usr/sav: Read-only file system"},
       {"\"runs\":2", "\"attempts\":null",
        "\"failure\":{\"what\":\"precondition writable\",\"path\":\"/usr/sav\",\"error\":\"Read-only file "
        "system\"}"}},
      {"kept interrupted\nruns 1\n", 1, {"state: kept interrupted", "runs: 1 of 3"}, {"\"runs\":1"}},
      {"pending\nattempts 1\n", 3, {"status: pending", "attempts: 1 of 3"}, {"\"attempts\":1"}},
      {abandoned.c_str(),
       4,
       {"attempts: 3 of 3", "last failure: verification: /usr/sav2/cfg/a: b: c: -"},
       {"\"path\":\"/usr/sav2/cfg/a: b: c\",\"error\":null", "\"exit\":4"}},
      {"abandoned after 3 attempts\n",
       4,
       {"status: abandoned", "attempts: 0 of 3"},
       {"\"status\":\"abandoned\""}},
      {"pending\nattempts 9\n", 6, {"status: unreadable"}, {"\"state\":\"pending\""}},
      {"Done\n", 6, {"state: Done", "meaning: not a state the migration writes"}, {"\"exit\":6"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state ? c.state : "none");
    TearDown();
    SetUp();
    if (c.state != nullptr) put_text_file(path::state, c.state);
    const auto before = listing(root_, [](const std::string&) { return false; });
    for (const bool json : {false, true}) {
      clear();
      std::FILE* out = std::tmpfile();
      ASSERT_NE(out, nullptr);
      EXPECT_EQ(status_migration(json, out, record_log), c.status);
      std::rewind(out);
      std::string text;
      for (int ch; (ch = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(ch));
      std::fclose(out);
      EXPECT_EQ(g_log.size(), 1u);
      for (const std::string& line : json ? c.json : c.text)
        EXPECT_NE(text.find(json ? line : line + "\n"), std::string::npos) << line << " in\n" << text;
      if (json) {
        EXPECT_TRUE(text.starts_with(std::string("{\"tool\":{\"name\":\"sav3-migrate\",\"version\":\"") +
                                     version + "\"},\"format\":1,"))
            << text;
        EXPECT_TRUE(
            text.ends_with("\"undo\":{\"possible\":false,\"reason\":\"no before-image (none kept, or "
                           "committed)\",\"entries\":0,\"linked\":0,\"copied\":0,\"bytes\":0,"
                           "\"copied_bytes\":0}}\n"))
            << text;
      }
    }
    EXPECT_EQ(listing(root_, [](const std::string&) { return false; }), before);
  }
}

}  // namespace
}  // namespace sav3::testing
