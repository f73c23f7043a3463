// The command line of sav3-inspect.
#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "inspect.h"
#include "sav3/version.h"

namespace sav3::inspect {

namespace {

// The options, declared once: X(id, name, has_arg, help) with the option's
// lines of the help text, each ending in a newline. The enum of their ids,
// the getopt table and the help text are made from this list.
#define SAV3_INSPECT_OPTIONS(X)                                                                             \
  X(record, "record", required_argument,                                                                    \
    "  --record N        the record of a history to decode (0 to 999; default 0)\n")                        \
  X(tree, "tree", optional_argument,                                                                        \
    "  --tree DIR        check every file the migration writes for the inventory in DIR/data/device\n"      \
    "                    (a staging tree such as /usr/sav3) and the migration's state in DIR/.migration\n") \
  X(diff, "diff", no_argument,                                                                              \
    "  --diff A B        compare two headed record files of one kind, or two trees such as /usr/sav3:\n"    \
    "                    the files on one side only (\"only in A\", \"only in B\"), and per file that\n"    \
    "                    differs (\"differs\") the fields that differ with the values in A and B, in a\n"   \
    "                    history how many records differ and the first of them; a secret that differs\n"    \
    "                    is shown only with --show-secrets; files that are not headed record files\n"       \
    "                    are compared byte for byte (\"bytes differ\"). Exit status 0 same, 1 different,\n" \
    "                    2 an error\n")                                                                     \
  X(outputs, "outputs", no_argument,                                                                        \
    "  --outputs         the table of the files the migration writes, one line each: device path\n"         \
    "                    (%d: the module port 1..4), record size, record count, the module type\n"          \
    "                    codes whose ports get it (- for the controller's and the device's files),\n"       \
    "                    whether byte 0 of every record holds the type code (yes/no), what it holds\n")     \
  X(json, "json", no_argument,                                                                              \
    "  --json            JSON Lines: one object per file (one for the whole tree with --tree)\n")           \
  X(show_secrets, "show-secrets", no_argument,                                                              \
    "  --show-secrets    show passwords, communities and keys (otherwise only whether one is set\n"         \
    "                    and its length)\n")                                                                \
  X(help, "help", no_argument, "  -h, --help        this help\n")                                           \
  X(version, "version", no_argument, "  --version         the version\n")

enum : int {
  opt_none = 256,
#define SAV3_OPTION_ID(id, name, has_arg, help) opt_##id,
  SAV3_INSPECT_OPTIONS(SAV3_OPTION_ID)
#undef SAV3_OPTION_ID
};

constexpr option long_options[] = {
#define SAV3_OPTION_ENTRY(id, name, has_arg, help) {name, has_arg, nullptr, opt_##id},
    SAV3_INSPECT_OPTIONS(SAV3_OPTION_ENTRY)
#undef SAV3_OPTION_ENTRY
        {nullptr, 0, nullptr, 0},
};

constexpr char usage_text[] =
    "usage: sav3-inspect [--json] [--show-secrets] [--record N] FILE...\n"
    "       sav3-inspect [--json] --tree DIR\n"
    "       sav3-inspect [--json] [--show-secrets] --diff A B\n"
    "       sav3-inspect --outputs\n"
    "Checks and decodes the headed record files that sav3-migrate writes.\n"
    "  FILE              a headed record file of the migration (its kind from its folder and name:\n"
    "                    data/, cfg/ or history/ and port0, port1, subport1, device, alarm, email, ...);\n"
    "                    its header is checked and every field of one record decoded\n"
#define SAV3_OPTION_HELP(id, name, has_arg, help) help
    SAV3_INSPECT_OPTIONS(SAV3_OPTION_HELP)
#undef SAV3_OPTION_HELP
        "Exit status: 0 all checks hold, 1 a file fails a check, 2 a usage error, a file that cannot be\n"
        "read or a failed write of the report (the highest when several files are named).\n";

int usage_error(std::FILE* err, const char* message, const char* what) {
  std::fprintf(err, "sav3-inspect: %s%s\nTry 'sav3-inspect --help'.\n", message, what);
  return status::trouble;
}

// What was written to `out` reached it: a full disk or a closed pipe is a
// failure, never a report taken as given.
int flushed(std::FILE* out, std::FILE* err, int result) {
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(err, "sav3-inspect: writing the report failed: %s\n", std::strerror(errno ? errno : EIO));
    return status::trouble;
  }
  return result;
}

// The table of output files, for scripts (the device tests).
void list_outputs(std::FILE* out) {
  for (const OutputFile& f : output_files) {
    char codes[16] = "-";
    std::size_t used = 0;
    for (unsigned code = 0; code < 8; ++code)
      if (f.modules & module_bit(static_cast<std::uint8_t>(code)))
        used += static_cast<std::size_t>(
            std::snprintf(codes + used, sizeof codes - used, "%s%u", used ? "," : "", code));
    std::fprintf(out, "%s %u %u %s %s %s\n", f.path, f.size, f.count, codes, f.type_code_first ? "yes" : "no",
                 f.name);
  }
}

}  // namespace

int inspect_command(int argc, char** argv, std::FILE* out, std::FILE* err) {
  Options options;
  const char* tree = nullptr;
  bool tree_given = false;  // the folder: --tree=DIR, or the one name after the options
  bool record_given = false;
  bool outputs = false;
  bool diff = false;
  opterr = 0;  // messages of our own, on `err`
  optind = 0;  // a full scan from the start at every call
  for (;;) {
    const int c = getopt_long(argc, argv, ":h", long_options, nullptr);
    if (c == -1) break;
    switch (c) {
      case opt_json: options.json = true; break;
      case opt_show_secrets: options.show_secrets = true; break;
      case opt_tree:
        tree_given = true;
        tree = optarg;
        break;
      case opt_record: {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(optarg, &end, 10);
        if (end == optarg || *end != '\0' || n < 0 || errno != 0)
          return usage_error(err, "--record wants a record number from 0, not ", optarg);
        options.record = n;
        record_given = true;
        break;
      }
      case opt_outputs: outputs = true; break;
      case opt_diff: diff = true; break;
      case 'h':
      case opt_help: std::fputs(usage_text, out); return flushed(out, err, status::ok);
      case opt_version:
        std::fprintf(out, "sav3-inspect %s\n", sav3::version);
        return flushed(out, err, status::ok);
      case ':': return usage_error(err, "this option wants a value: ", argv[optind - 1]);
      default: return usage_error(err, "unknown option ", argv[optind - 1]);
    }
  }
  if (tree_given && tree == nullptr) {
    if (optind >= argc) return usage_error(err, "--tree wants a folder", "");
    tree = argv[optind++];
  }
  if (outputs) {
    if (diff) return usage_error(err, "--outputs lists the table, ", "--diff does not apply");
    if (optind < argc) return usage_error(err, "--outputs takes no file names: ", argv[optind]);
    if (tree != nullptr) return usage_error(err, "--outputs lists the table, ", "--tree does not apply");
    list_outputs(out);
    return flushed(out, err, status::ok);
  }
  if (diff) {
    if (tree != nullptr) return usage_error(err, "--diff compares files or trees, ", "--tree does not apply");
    if (record_given) return usage_error(err, "--diff compares every record, ", "--record does not apply");
    if (argc - optind != 2) return usage_error(err, "--diff wants two files or two folders", "");
    return flushed(out, err, inspect_diff(out, err, argv[optind], argv[optind + 1], options));
  }
  if (tree != nullptr) {
    if (optind < argc) return usage_error(err, "--tree takes no file names: ", argv[optind]);
    if (record_given) return usage_error(err, "--tree checks whole files, ", "--record does not apply");
    return flushed(out, err, inspect_tree(out, err, tree, options));
  }
  if (optind >= argc) return usage_error(err, "no file named", "");
  int result = status::ok;
  for (int i = optind; i < argc; ++i) {
    const int r = inspect_file(out, err, argv[i], options);
    if (r > result) result = r;
  }
  return flushed(out, err, result);
}

}  // namespace sav3::inspect
