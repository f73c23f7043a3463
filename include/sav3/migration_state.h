// The migration's state on the device and the lines it writes to the system
// log. Upgrade scripts read the first line of the state file; the log lines
// are what a firmware engineer finds afterwards in syslog. Both are part of the
// tool's interface: keep the texts stable.
#pragma once

namespace sav3 {

namespace path {
// The state file. Its leading dot keeps it out of "cp -rf /usr/sav3/* ...".
inline constexpr char state[] = "/usr/sav3/.migration";
// Written first, flushed, then renamed over the state file: the state file is
// only ever replaced whole.
inline constexpr char state_temp[] = "/usr/sav3/.migration.new";
}  // namespace path

// The state file, one line each, "\n"-terminated:
//
//   pending                       the live trees are being replaced
//   attempts <n>                  resumes started so far (decimal)
//   dir <path>                    a folder of the staging tree
//   file <size> <crc32> <path>    a regular file: size in decimal bytes, CRC-32
//                                 as 8 lower-case hex digits
//   link <size> <crc32> <path>    a symbolic link: size and CRC-32 of its target text
//
// The "dir", "file" and "link" lines are the manifest: every entry below the
// staging tree's top-level entries (those "/usr/sav3/*" names: no leading dot),
// each folder before what it holds, paths relative to /usr/sav3 ("cfg/port0"),
// escaped as in log lines (escape_name).
//
//   done                          the live trees hold the staging tree (only line)
//   kept <reason>                 a full run kept the live trees, or one is under
//                                 way ("kept interrupted"); the next run is a full
//                                 run again, until the count below reaches 3
//   runs <n>                      after "kept": full runs since the last "pending"
//                                 or since the file was deleted (decimal)
//   abandoned <reason>            three resumes failed; no run changes anything;
//   attempts <n>                  followed by the count and the manifest of the
//                                 "pending" it replaced (sav3-migrate --retry
//                                 checks the staging tree against it)
//   rolling back                  sav3-migrate --rollback is putting back the
//                                 before-image (/usr/sav3/.before); the next
//                                 boot or --rollback finishes it
//   rolled back                   the device holds its data from before the
//                                 migration; the next run is a full run
//
// After the count ("attempts", "runs"; after the first line of the states
// without one), lines that only --status reads:
//
//   version <x.y.z>               the sav3-migrate that wrote the file
//   undo none: <reason>           the run kept no before-image, and why: the
//                                 migration cannot be undone
//   failure <what>: <path>: <error>
//                                 the failure that led to this state, when one
//                                 did (<what> a word from failure_what below,
//                                 <path> and <error> escaped, "-" when none)
//
// A reader takes a file without them (written by an older tool) as it was.
// No state file: no run has started yet.
namespace state_word {
inline constexpr char pending[] = "pending";
inline constexpr char done[] = "done";
inline constexpr char kept[] = "kept";
inline constexpr char abandoned[] = "abandoned";
inline constexpr char attempts[] = "attempts";
inline constexpr char runs[] = "runs";
inline constexpr char dir[] = "dir";
inline constexpr char file[] = "file";
inline constexpr char link[] = "link";
inline constexpr char version[] = "version";
inline constexpr char failure[] = "failure";
inline constexpr char undo[] = "undo";
inline constexpr char rolling_back[] = "rolling back";
inline constexpr char rolled_back[] = "rolled back";
}  // namespace state_word

// The <what> of a "failure" line: what went wrong, in a word or two (never
// ": ", so that the line splits at its first and last ": ").
namespace failure_what {
inline constexpr char precondition[] = "precondition";   // <path>: the check's path, <error>: why
inline constexpr char unreadable[] = "unreadable";       // a legacy input that could not be read
inline constexpr char copy[] = "copy incomplete";        // a copy of the opening commands
inline constexpr char staging[] = "staging incomplete";  // <path>: the folder or conversion
inline constexpr char room[] = "room";                   // <path>: the tree lacking room
inline constexpr char live_tree[] = "live tree";         // a live tree that is not a folder
inline constexpr char manifest[] = "manifest mismatch";  // the staging tree differs from its manifest
inline constexpr char verification[] = "verification";   // a live tree differs after the copies
inline constexpr char state[] = "state not written";     // <path>: the state file
}  // namespace failure_what
// Remembers the failure that the next state file written records (the last
// one wins); "-" stands for a path or error that is not known.
void remember_failure(const char* what, const char* path, const char* error);
void forget_failure();
// Remembers why the run keeps no before-image: the next state file written
// says "undo none: REASON" (forget_failure forgets it too).
void remember_no_undo(const char* reason);

// The states, as a first line names them (unreadable: none of them, or a
// "pending" whose attempt count or manifest does not read). The tool's
// reader and the inspector's report both decide by this.
enum class State { none, pending, done, kept, abandoned, rolling_back, rolled_back, unreadable };
State state_of_line(const char* first_line);
// What a state means for the live trees, in a few words (nullptr for none).
const char* state_meaning_of(State state);

// A resume that fails for the third time turns the state into "abandoned".
inline constexpr int max_attempts = 3;
// A device whose full runs kept the live trees this often stops trying (each
// full run kills the DHCP client): "kept" with "runs 3" changes nothing.
inline constexpr int max_kept_runs = 3;

// The <reason> after "kept " (printf formats; %s is an escaped device path
// or a step name from the list in run.cpp).
namespace kept_reason {
inline constexpr char staging_incomplete[] = "staging incomplete: %s";
inline constexpr char live_not_folder[] = "live tree not a folder: %s";
inline constexpr char no_room[] = "not enough room: %s";
inline constexpr char staging_unreadable[] = "staging tree unreadable: %s";
inline constexpr char state_not_written[] = "could not write the state %s";
// Written before a full run's first command and replaced at its end: found
// at the start of a run, it means the last full run was cut short.
inline constexpr char interrupted[] = "interrupted";
// A legacy input that exists but could not be read (%s: "PATH: ERROR").
inline constexpr char unreadable[] = "unreadable: %s";
// The opening commands did not copy a legacy file into the staging tree.
inline constexpr char copy_incomplete[] = "copy incomplete: %s";
// The removals of the opening commands could not be flushed (%s: "FOLDER:
// ERROR"); a resume would not issue them again.
inline constexpr char not_flushed[] = "removals not flushed: %s";
// A check before the first command (%s: "CHECK: PATH: ERROR").
inline constexpr char precondition[] = "precondition failed: %s";
}  // namespace kept_reason

// The checks that come before the first command of a run (the CHECK of the
// "precondition failed" lines).
namespace precondition {
inline constexpr char folder[] = "folder";              // a tree that does not resolve to a folder
inline constexpr char separate[] = "separate";          // a tree that is, holds or lies in another
inline constexpr char writable[] = "writable";          // a tree on a read-only mount, or no probe
inline constexpr char copy_source[] = "copy source";    // a FIFO, socket or device the copies would read
inline constexpr char legacy_input[] = "legacy input";  // a legacy input that cannot be read
inline constexpr char room[] = "room";                  // the predicted staging tree does not fit
inline constexpr char mount_point[] = "mount point";    // a mount a removal would empty, or no map of them
inline constexpr char legacy_data[] = "legacy data";    // the device holds migrated files, not legacy ones
}  // namespace precondition

// The <reason> after "abandoned ".
inline constexpr char abandoned_reason[] = "after %d attempts";

// Names in log lines and manifest paths: every byte below 0x20, the byte 0x7f,
// the backslash and every byte from 0x80 is written as \xNN (two upper-case
// hex digits); all other bytes stand for themselves.

// Where a failure set errno, its line ends with ": " and the error's text
// (error_text: glibc's wording in the C locale, "Read-only file system",
// whatever the C library), escaped like names.
//
// The system log lines, one per decision (printf formats). Device paths and
// names in them are escaped (escape_name). Priorities: LOG_NOTICE for the
// course of a run, LOG_ERR for a failure that keeps the live trees or leaves
// the state pending, LOG_WARNING for the tmpfs warning and what could not be
// removed under /usr/sav2.
namespace log_line {
// The marker exists: nothing runs whatever the state says. The second text
// replaces the first when the state is "pending" (the upgrade script wrote
// the marker too early).
inline constexpr char marker_present[] = "marker present: nothing done";
inline constexpr char marker_while_pending[] = "marker present while the state is pending: nothing done";
// /usr/sav3 is missing or not a folder: no command, no file touched.
inline constexpr char staging_not_folder[] = "staging folder /usr/sav3 is not a folder: nothing done";
// Another sav3-migrate holds the lock on /usr/sav3.
inline constexpr char locked[] = "another run holds the lock: nothing done";
// The state file exists but its first line is none of the four states.
inline constexpr char state_unreadable[] = "state file unreadable: nothing done";
// The state is "done" and no legacy report is back under /usr/sav/data.
inline constexpr char already_done[] = "already done: nothing to do";
// The state is "abandoned".
inline constexpr char abandoned_found[] = "abandoned earlier: nothing done";
// The state is "kept" with "runs 3" or more.
inline constexpr char kept_settled[] = "kept after %d runs: nothing done; sav3-migrate --retry to try again";
// A check before the first command failed (CHECK from the precondition words,
// the escaped device path, the error text): no command runs, nothing is
// deleted; a full run records "kept precondition failed: ...", a resume
// leaves "pending" as it is and counts no attempt.
inline constexpr char precondition_failed[] = "precondition failed: %s: %s: %s: nothing done";
// The zone the run reads legacy times in (once per full run): TZ (escaped)
// when set, else /etc/localtime; LOG_WARNING when libc fell back to UTC
// without being told to.
inline constexpr char zone_from_tz[] = "times read in zone TZ=%s";
inline constexpr char zone_from_localtime[] = "times read in zone /etc/localtime";
// No TZ and no /etc/localtime: the POSIX rule in /etc/TZ (escaped), as the
// libc of uClibc-based devices takes it.
inline constexpr char zone_from_etc_tz[] = "times read in zone /etc/TZ=%s";
inline constexpr char zone_fallback_utc[] = "no zone file found: times read as UTC";
// A full run starts (before its first command), one of these three.
inline constexpr char full_run_no_state[] = "full run";
inline constexpr char full_run_after_kept[] = "full run: the last run kept the live trees";
inline constexpr char full_run_reports_back[] = "full run: legacy reports back under /usr/sav/data";
// LOG_WARNING: /usr/sav3 is on tmpfs or ramfs; the run goes on.
inline constexpr char staging_on_tmpfs[] = "staging tree on a file system that does not survive a reboot";
// The gate: %s is "folder /usr/sav3/data" (one of the four) or a conversion
// name ("device inventory", "history port dispatch", ...).
inline constexpr char staging_incomplete[] = "staging incomplete: %s failed: live trees kept";
// A legacy input (or a file the opening commands copied) exists but could
// not be read to its end (%s: its device path, then the error text).
inline constexpr char cannot_read[] = "cannot read %s: %s: live trees kept";
// The opening commands left a copy that differs from its source.
inline constexpr char copy_incomplete[] = "copy incomplete: %s: live trees kept";
// A live tree exists but is not a folder (a link counts as not a folder):
// full run: the state becomes kept; resume: it stays pending.
inline constexpr char live_not_folder[] = "live tree %s is not a folder: live trees kept";
// A live tree was missing and has been created.
inline constexpr char live_created[] = "live tree %s was missing: created";
// The room check failed for the file system holding %s (a live tree).
inline constexpr char no_room[] = "not enough room on the file system of %s: need %llu KiB, free %llu KiB";
// A look the room check needed failed (the staging tree could not be walked
// whole, a stat or statvfs failed): the need cannot be told, and "cannot
// tell" is not "enough". %s: the live tree, then the path of the look that
// failed and the error text.
inline constexpr char room_unknown[] =
    "cannot tell the room needed on the file system of %s: %s: %s: live trees kept";
inline constexpr char no_inodes[] = "not enough inodes on the file system of %s: need %llu, free %llu";
// The staging tree could not be read or flushed, or holds an entry that is
// neither a file, a folder nor a link (%s its device path): live trees kept.
inline constexpr char staging_unreadable[] = "staging tree unreadable: %s: live trees kept";
// The state file could not be written (the state's first line, e.g.
// "pending", and the error text); with "pending" no replacement command runs.
inline constexpr char state_not_written[] = "could not write the state %s: %s";
// The new state is in place, but /usr/sav3 could not be flushed after the
// rename: a power cut may still bring back the state before it.
inline constexpr char state_not_flushed[] = "state %s written but not flushed: %s";
// Just before the first replacement command (the state "pending" is on disk).
inline constexpr char pending[] = "pending: replacing the live trees";
// /usr/sav2 holds a name the shell pipeline would split; the tool removes its
// entries itself instead of issuing the command.
inline constexpr char sav2_by_hand[] =
    "removing the entries of /usr/sav2 one by one (names the shell would split)";
inline constexpr char sav2_by_hand_mount[] =
    "removing the entries of /usr/sav2 one by one (a mount point: %s)";
inline constexpr char sav2_by_hand_long[] =
    "removing the entries of /usr/sav2 one by one (a path too long for the shell)";
// A top-level entry of /usr/sav2 that the staging tree does not name and
// that is or holds a mount point: left whole, like an "update" entry.
inline constexpr char left_mount_point[] = "left mount point %s with all on it";
// While removing under /usr/sav2 (both ways): an entry on another file system
// is left; an entry that could not be removed; a kept entry removed because
// it is not of the staging tree's kind (a link, a folder for a file, ...), or
// because it is a file with other links (cp -rf would write into the file
// that those links share, outside the tree).
inline constexpr char other_file_system[] = "left on another file system: %s";
inline constexpr char not_removed[] = "could not remove %s";
inline constexpr char kept_entry_removed[] = "removed %s: not of the kind the staging tree has there";
inline constexpr char kept_entry_linked_removed[] =
    "removed %s: a file with other links, which the copy would write into";
// After the copies: the first device path that does not match, then the state
// stays pending.
inline constexpr char verification_failed[] = "verification failed: %s";
// Both live trees hold the staging tree and are flushed; the state is done.
inline constexpr char done[] = "done";
// A run found "pending" (before anything else of the resume).
inline constexpr char resumed[] = "resumed: attempt %d";
// The staging tree does not match the manifest (%s: first device path that
// differs); the state stays pending.
inline constexpr char manifest_mismatch[] = "manifest mismatch: %s: nothing more changed";
// A resume could not write its attempt count (%s: the error text): it
// replaces only a live tree that lacks a listed entry and never abandons.
inline constexpr char state_not_writable[] = "state not writable: %s: pending stays";
// The third resume failed, or a run found "pending" after three attempts.
inline constexpr char abandoned[] = "abandoned after %d attempts";
// sav3-migrate --status (the state's first word, or "none"/"unreadable").
inline constexpr char status[] = "status: %s";
// sav3-migrate --retry: a kept state's count reset; an abandoned state made
// pending again (its staging tree matches its manifest); or why it refused
// (%s), changing nothing.
inline constexpr char retry_kept[] = "retry: run count reset to 0";
inline constexpr char retry_abandoned[] = "retry: abandoned state made pending again, attempt count 0";
inline constexpr char retry_refused[] = "retry refused: %s: nothing changed";
// The before-image of a full run: kept (entries put back by an undo; files
// kept as a second link and copied; the copies' bytes), or not (%s: why; the
// migration goes on without it).
inline constexpr char before_image_kept[] =
    "before-image kept: %llu entries, %llu files linked, %llu copied (%llu bytes)";
inline constexpr char no_before_image[] = "no before-image: %s: the migration cannot be undone";
// A run found a before-image that no longer belongs to the device's state.
inline constexpr char old_image_removed[] = "an old before-image removed";
// A run found "rolled back": the legacy data is back, a full run follows.
inline constexpr char full_run_rolled_back[] = "rolled back before: full run";
// sav3-migrate --rollback (a boot that finds "rolling back" finishes it).
inline constexpr char rolling_back[] = "rolling back: putting back %llu entries";
// A run (or --check) found "rolling back": the undo was cut short, and the
// run finishes it before anything else.
inline constexpr char undo_unfinished[] = "rolling back: an undo was cut short: the run finishes it";
inline constexpr char rolled_back[] = "rolled back: %llu entries put back and checked";
inline constexpr char already_rolled_back[] = "rollback: already rolled back";
inline constexpr char rollback_failed[] = "rollback failed: %s: %s: %s: rolling back stays";
inline constexpr char rollback_refused[] = "rollback refused: %s: nothing changed";
// sav3-migrate --commit (%llu: the bytes the before-image's files held).
inline constexpr char committed[] = "committed: before-image deleted (%llu bytes)";
inline constexpr char commit_refused[] = "commit refused: %s: nothing changed";
}  // namespace log_line

// Why --rollback or --commit refuses (the %s of their refusal lines).
namespace rollback_refusal {
inline constexpr char no_image[] = "no before-image";
inline constexpr char state[] = "the state file cannot be read";
inline constexpr char not_done[] = "the state is not done";
inline constexpr char staging[] = "/usr/sav3 is not a folder";
inline constexpr char locked[] = "another run holds the lock";
}  // namespace rollback_refusal

// Why --retry refuses (the %s of retry_refused).
namespace retry_refusal {
inline constexpr char no_state[] = "no state: the next boot runs anyway";
inline constexpr char done[] = "the migration is done";
inline constexpr char pending[] = "pending: the next boot resumes it";
inline constexpr char unreadable[] = "state file unreadable";
inline constexpr char no_manifest[] = "abandoned without a manifest of the staging tree";
inline constexpr char mismatch[] = "the staging tree does not match its manifest: %s";
inline constexpr char staging[] = "staging folder /usr/sav3 is not a folder";
inline constexpr char locked[] = "another run holds the lock";
inline constexpr char not_written[] = "could not write the state: %s";
inline constexpr char rolling_back[] = "an undo is under way: --rollback finishes it";
inline constexpr char rolled_back[] = "rolled back: the next boot migrates again";
}  // namespace retry_refusal

}  // namespace sav3
