#include "inspect.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "json_check.h"
#include "sample_device.h"
#include "sav3/controller.h"
#include "sav3/controller_record.h"
#include "sav3/inventory.h"
#include "sav3/migration.h"
#include "sav3/migration_state.h"
#include "sav3/settings_email.h"
#include "sav3/settings_snmp.h"
#include "sav3/settings_user_accounts.h"
#include "sav3/version.h"
#include "scratch_device.h"

namespace sav3::testing {
namespace {

using namespace sav3::inspect;

// What the inspector prints on its output and on its error stream, and its
// result.
struct Report {
  int status = -1;
  std::string text;
  std::string err;
};

template <typename F>
Report capture(F&& run) {
  char *out_buffer = nullptr, *err_buffer = nullptr;
  std::size_t out_size = 0, err_size = 0;
  std::FILE* out = open_memstream(&out_buffer, &out_size);
  std::FILE* err = open_memstream(&err_buffer, &err_size);
  Report r;
  r.status = run(out, err);
  std::fclose(out);
  std::fclose(err);
  r.text.assign(out_buffer, out_size);
  r.err.assign(err_buffer, err_size);
  std::free(out_buffer);
  std::free(err_buffer);
  return r;
}

Report inspect(const std::string& path, Options options = {}) {
  return capture(
      [&](std::FILE* out, std::FILE* err) { return inspect_file(out, err, path.c_str(), options); });
}

Report tree(const std::string& dir, Options options = {}) {
  return capture(
      [&](std::FILE* out, std::FILE* err) { return inspect_tree(out, err, dir.c_str(), options); });
}

Report command(std::vector<std::string> args) {
  args.insert(args.begin(), "sav3-inspect");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return capture([&](std::FILE* out, std::FILE* err) {
    return inspect_command(static_cast<int>(args.size()), argv.data(), out, err);
  });
}

bool has(const Report& r, const std::string& needle) { return r.text.find(needle) != std::string::npos; }

// A decoded field line: "  offset width  NAME   VALUE...".
bool has_field(const Report& r, const std::string& name, const std::string& value) {
  std::size_t at = 0;
  while ((at = r.text.find("  " + name + " ", at)) != std::string::npos) {
    std::size_t v = at + name.size() + 2;
    while (v < r.text.size() && r.text[v] == ' ') ++v;
    if (r.text.compare(v, value.size(), value) == 0) return true;
    at = v;
  }
  return false;
}

// The members of each field of a JSON report, as written ("key", value).
using JsonField = std::vector<std::pair<std::string, std::string>>;

std::string json_token(const std::string& s, std::size_t& at) {
  const std::size_t start = at;
  if (s[at] == '"') {
    for (++at; s[at] != '"'; ++at)
      if (s[at] == '\\') ++at;
    ++at;
  } else {
    while (at < s.size() && (s[at] == '[' || std::string(",}").find(s[at]) == std::string::npos))
      at = s[at] == '[' ? s.find(']', at) + 1 : at + 1;
  }
  return s.substr(start, at - start);
}

std::vector<JsonField> json_fields(const std::string& report) {
  std::vector<JsonField> fields;
  std::size_t at = report.find("\"fields\":[");
  if (at == std::string::npos) return fields;
  for (at += 10; report[at] == '{';) {
    JsonField f;
    for (++at; report[at] == '"'; at += report[at] == ',') {
      const std::string key = json_token(report, at);
      ++at;
      f.emplace_back(key.substr(1, key.size() - 2), json_token(report, at));
    }
    fields.push_back(f);
    at += report[at + 1] == ',' ? 2 : 1;
  }
  return fields;
}

// The bytes of a JSON string.
std::string decoded(const std::string& json) {
  std::string out;
  for (std::size_t i = 1; i + 1 < json.size(); ++i) {
    if (json[i] == '\\' && json[++i] == 'u') {
      out += static_cast<char>(std::stoul(json.substr(i + 1, 4), nullptr, 16));
      i += 4;
    } else {
      out += json[i];
    }
  }
  return out;
}

// A text field's bytes as the text form quotes them: printable bytes as they
// are, others as \xNN.
std::string quoted(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    char b[8];
    std::snprintf(b, sizeof b, c == '"' || c == '\\' ? "\\%c" : c < 0x20 || c >= 0x7f ? "\\x%02x" : "%c", c);
    out += b;
  }
  return out + "\"";
}

// One record's report in both forms: the same fields in the same order with
// the same labels, no label twice, and every number and text of a field's
// JSON shown in its text line as the text form writes it.
void expect_same_fields(const Report& text, const Report& json) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = text.text.find('\n', at)) != std::string::npos; at = end + 1) {
    std::size_t offset;
    unsigned width;
    const std::string line = text.text.substr(at, end - at);
    if (std::sscanf(line.c_str(), "  %zu %u", &offset, &width) == 2) lines.push_back(line);
  }
  const std::vector<JsonField> fields = json_fields(json.text);
  ASSERT_EQ(lines.size(), fields.size()) << text.text << json.text;
  std::set<std::string> labels;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::map<std::string, std::string> m(fields[i].begin(), fields[i].end());
    const std::string label = decoded(m["name"]);
    EXPECT_TRUE(labels.insert(label).second) << "two fields labelled " << label << "\n" << text.text;
    if (label.rfind("reserved at ", 0) == 0) {
      EXPECT_EQ(label.substr(12), m["offset"]) << label;
    }
    char head[200];
    std::snprintf(head, sizeof head, "  %4s %4s  %-36s ", m["offset"].c_str(), m["width"].c_str(),
                  label.c_str());
    ASSERT_EQ(lines[i].rfind(head, 0), 0u) << lines[i] << " is not " << head;
    const std::string shown = " " + lines[i].substr(std::strlen(head) - 1) + " ";
    for (const auto& [key, value] : fields[i]) {
      if (key == "name" || key == "offset" || key == "width" || key == "type" || key == "scale" ||
          key == "hex" || value == "true" || value == "false" || value == "null" || value == "[]")
        continue;
      std::string want = key == "text" ? quoted(decoded(value)) : value[0] == '"' ? decoded(value) : value;
      if (key == "bits_hex") want = "0x" + want;
      if (key == "bits" && value[0] == '[') {
        want = "bits " + value.substr(1, value.size() - 2);
        std::replace(want.begin(), want.end(), ',', ' ');
      }
      if (m["type"] == "\"flags\"" && key == "raw") {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%0*lx", 2 * std::stoi(m["width"]), std::stoul(value));
        want = hex;
      }
      if (key == "length" && value == "0") want = "empty";
      bool found = false;
      for (std::size_t at = shown.find(want); at != std::string::npos && !found;
           at = shown.find(want, at + 1))
        found = std::strchr(" (", shown[at - 1]) && std::strchr(" ),", shown[at + want.size()]);
      EXPECT_TRUE(found) << key << " " << value << " is not shown as " << want << " in " << lines[i];
    }
  }
}

// The checker of the JSON Lines that the tests and the fuzz harness trust.
TEST(InspectJson, OnlyStrictJsonLinesPass) {
  const std::pair<const char*, bool> cases[] = {
      {"{}\n", true},
      {"{\"a\":[1,-0.5,2e-3,true,false,null,\"x\\u00e9\\n\"],\"b\":{}}\n{\"c\":0}\n", true},
      {"{}", false},                   // no newline after the object
      {"[]\n", false},                 // a line is an object
      {"{\"a\":1,}\n", false},         // trailing comma
      {"{\"a\":01}\n", false},         // leading zero
      {"{\"a\":1.}\n", false},         // no digits after the point
      {"{\"a\":nan}\n", false},        // no such literal
      {"{\"a\":\"\t\"}\n", false},     // a raw control character in a string
      {"{\"a\":\"\\x41\"}\n", false},  // no such escape
      {"{\"a\":\"\\u12\"}\n", false},  // a short \\u escape
      {"{\"a\":1}{}\n", false},        // two values on a line
      {"{\"a\" 1}\n", false},          // no colon
  };
  for (const auto& [text, valid] : cases) EXPECT_EQ(valid_json_lines(text), valid) << text;
}

// The vocabulary check that every JSON output is held to: the head, the
// members' names and types, at any depth.
TEST(InspectJson, OnlyTheVocabularyPasses) {
  const std::string head = R"({"tool":{"name":"t","version":null},"format":1)";
  const std::pair<std::string, std::string> cases[] = {
      {head + R"(,"path":"a","ports":[{"port":1,"code":2,"name":"LQ"}],"kind":null,"value":1.5})" + "\n", ""},
      {head + "}\n" + head + R"(,"label":"x"})" + "\n", R"(line 2: member "label": not in the vocabulary)"},
      {head + R"(,"fields":[{"name":"x","a":{"rawest":1}}]})" + "\n",
       R"(member "rawest": not in the vocabulary)"},
      {head + R"(,"path":null})" + "\n", R"(member "path": of a type the vocabulary does not give it)"},
      {head + R"(,"raw":1.5})" + "\n", R"(member "raw": of a type)"},
      {R"({"format":1,"tool":{}})" + std::string("\n"), R"(member "format": the first member is not "tool")"},
      {R"({"tool":{},"format":2})" + std::string("\n"), R"(member "format": the second member is not)"},
      {head + "\n", "not JSON Lines"},
  };
  for (const auto& [text, problem] : cases) {
    const std::string got = vocabulary_problem(text);
    EXPECT_TRUE(problem.empty() ? got.empty() : got.find(problem) != std::string::npos) << text << got;
  }
}

TEST(InspectKinds, ThePathNamesTheFolderAndPort) {
  PathParts p = parse_path("/tmp/x/usr/sav3/history/subport3");
  EXPECT_TRUE(p.folder_known);
  EXPECT_EQ(p.folder, Folder::history);
  EXPECT_TRUE(p.numbered);
  EXPECT_TRUE(p.sub);
  EXPECT_EQ(p.port, 3u);
  p = parse_path("cfg/email");
  EXPECT_EQ(p.folder, Folder::cfg);
  EXPECT_FALSE(p.numbered);
  EXPECT_STREQ(p.file, "email");
  p = parse_path("port");
  EXPECT_FALSE(p.folder_known);
  EXPECT_FALSE(p.numbered);
  p = parse_path("data/port1x");
  EXPECT_FALSE(p.numbered);
}

using Inspect = ScratchDevice;

// The controller live record a converter test builds decodes to its values.
TEST_F(Inspect, ControllerLiveRecordDecodesByItsLayout) {
  ZoneScope zone("UTC0");
  LegacyRecord item(controller_record::size);
  item.text(controller_record::time_text, "Mon Jan 05 2015 10:20:30")
      .f32(controller_record::reading_a, 12.34f)
      .f32(controller_record::reading_b, -1.5f)
      .text(controller_record::state_word, "Active")
      .text(controller_record::switch_1, "ON")
      .f32(controller_record::tenths, 25.5f);
  put_file(controller_record::item_path, item.bytes);
  ASSERT_EQ(convert_controller_live_data(), result::ok);

  Report r = inspect(host(controller_live::path));
  EXPECT_EQ(r.status, 0) << r.text;
  EXPECT_TRUE(has(r, "controller live record, record size 31 x count 1, header ok")) << r.text;
  EXPECT_TRUE(has_field(r, "reading A", "1234  (12.34)")) << r.text;
  EXPECT_TRUE(has_field(r, "reading B", "-150  (-1.50)")) << r.text;
  EXPECT_TRUE(has_field(r, "tenths quantity", "255  (25.5)")) << r.text;
  EXPECT_TRUE(has_field(r, "state flags", "0x03  (bits 0 1)")) << r.text;
  EXPECT_TRUE(has_field(r, "reading time", "1420453230  (2015-01-05 10:20:30 UTC)")) << r.text;

  Options json;
  json.json = true;
  r = inspect(host(controller_live::path), json);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(has(r,
                  "{\"name\":\"reading A\",\"offset\":3,\"width\":2,\"type\":\"signed\",\"raw\":1234,"
                  "\"scale\":100,\"value\":12.34}"))
      << r.text;
  EXPECT_TRUE(has(r, "\"raw\":1420453230,\"time\":\"2015-01-05 10:20:30 UTC\"")) << r.text;
  EXPECT_TRUE(has(r, "\"ok\":true}\n")) << r.text;
}

// The conversions of a run, without its commands.
void convert_all() {
  for (const NamedConversion& step : conversions()) ASSERT_EQ(step.convert(), 0) << step.name;
}

// The sample device migrated by the library: every file the migration wrote
// for its inventory inspects clean, and fields decode to the legacy values.
TEST_F(Inspect, MigratedSampleDeviceInspectsClean) {
  ZoneScope zone("UTC0");
  ASSERT_EQ(sample::write_sample_device(root_.c_str(), 1), 0);
  convert_all();
  const std::vector<std::uint8_t> device = file_bytes(path::inventory);
  ExpectedFile files[64];
  const std::size_t n =
      expected_files(slice(ConstBytes(device), header::size, inventory::record_size), files);
  EXPECT_EQ(n, 31u);
  std::set<const FileKind*> kinds;
  for (std::size_t i = 0; i < n; ++i) {
    const std::string p = host(std::string("/usr/sav3/") + files[i].name);
    kinds.insert(files[i].kind);
    for (bool show : {false, true}) {
      Options options;
      options.show_secrets = show;
      Report r = inspect(p, options);
      EXPECT_EQ(r.status, 0) << r.text;
      EXPECT_TRUE(has(r, std::string(files[i].kind->name) + ", record size")) << r.text;
      options.json = true;
      Report json = inspect(p, options);
      EXPECT_TRUE(vocabulary_problem(json.text).empty() && has(json, "\"ok\":true}")) << json.text;
      SCOPED_TRACE(files[i].name);
      expect_same_fields(r, json);
    }
  }
  EXPECT_EQ(kinds.size(), file_kinds().size()) << "the sample device has a file of every kind";

  Report k3 = inspect(host("/usr/sav3/cfg/port3"));
  EXPECT_TRUE(has_field(k3, "configuration value 1 of output 0", "1080  (10.80)")) << k3.text;
  EXPECT_TRUE(has_field(k3, "hundredths value 3", "-0.0500000007")) << k3.text;
  Report lq = inspect(host("/usr/sav3/cfg/port1"));
  EXPECT_TRUE(has_field(lq, "configured date, year", "2013")) << lq.text;
  EXPECT_TRUE(has_field(lq, "warning duration, seconds", "9000  (2.5 h)")) << lq.text;
  EXPECT_TRUE(has_field(lq, "battery warning value", "47.5  (0x423e0000)")) << lq.text;
  Report lq_live = inspect(host("/usr/sav3/data/port1"));
  EXPECT_TRUE(has(lq_live, "data/port1: LQ live record")) << lq_live.text;
  EXPECT_TRUE(has_field(lq_live, "model", "2")) << lq_live.text;
  EXPECT_TRUE(has_field(lq_live, "configured date, year", "2013")) << lq_live.text;
  EXPECT_TRUE(has(lq_live, " controller reading, again ")) << "a value stored twice is no array";
  EXPECT_TRUE(has(inspect(host("/usr/sav3/data/subport1")), " cell reading 29 ")) << "but thirty cells are";
  Report zrt_live = inspect(host("/usr/sav3/data/port2"));
  EXPECT_TRUE(has(zrt_live, "data/port2: ZRT live record")) << zrt_live.text;
  EXPECT_TRUE(has_field(zrt_live, "configured date, year", "2014")) << zrt_live.text;
  Report email = inspect(host("/usr/sav3/cfg/email"));
  EXPECT_TRUE(has_field(email, "number", "587")) << email.text;
  Options last;
  last.record = 999;
  Report alarms = inspect(host("/usr/sav3/history/alarm"), last);
  EXPECT_TRUE(has(alarms, "     0    1  device inventory: port 0 type        1\n")) << alarms.text;
  EXPECT_TRUE(has_field(alarms, "device inventory: port 2 type", "3")) << alarms.text;
  EXPECT_TRUE(has(alarms, " 604    4  alarm state: state time ")) << alarms.text;
  EXPECT_TRUE(has_field(alarms, "system version", "\"4.12.3 build 2014-11-20\"")) << alarms.text;
  Report port0 = inspect(host("/usr/sav3/cfg/port0"));
  EXPECT_TRUE(has_field(port0, "name slot 0", "\"Enclosure Temperature\"")) << port0.text;
}

// A history: the record asked for, and a clear message past the last one.
TEST_F(Inspect, HistoryRecordsByNumber) {
  std::vector<std::uint8_t> records(std::size_t{controller_history::size} * history_records, 0);
  for (int i = 0; i < history_records; ++i) {
    Bytes rec = slice(Bytes(records), std::size_t(i) * controller_history::size, controller_history::size);
    put(rec, controller_live::module_type, module_code::controller);
    put(rec, controller_history::range[0], i == 999 ? static_cast<std::uint32_t>(-10000) : 0);
  }
  ASSERT_EQ(write_headed_file(controller_history::path, records, controller_history::size, history_records),
            FileResult::ok);
  Options pick;
  pick.record = 999;
  Report r = inspect(host(controller_history::path), pick);
  EXPECT_EQ(r.status, 0) << r.text;
  EXPECT_TRUE(has(r, "record 999 of 1000")) << r.text;
  EXPECT_TRUE(has_field(r, "range low", "-10000  (-100.00)")) << r.text;
  pick.record = 1000;
  r = inspect(host(controller_history::path), pick);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r, "problem: record 1000 is not in the file (1000 records present)")) << r.text;
}

// Each kind of damage is named as such.
TEST_F(Inspect, DamageIsNamed) {
  ASSERT_EQ(convert_controller_config(), result::ok);
  const std::string path = host(controller_config::path);
  const std::vector<std::uint8_t> good = file_bytes(controller_config::path);
  ASSERT_EQ(good.size(), 30u + 425u);
  EXPECT_EQ(check_header(good).problems, 0u);

  auto damaged = [&](auto change) {
    std::vector<std::uint8_t> b = good;
    change(b);
    put_file(controller_config::path, b);
    return std::pair{check_header(b).problems, inspect(path)};
  };

  auto [payload, r1] = damaged([](auto& b) { b[30 + 100] ^= 0x01; });
  EXPECT_EQ(payload, problem::payload_checksum);
  EXPECT_EQ(r1.status, 1);
  EXPECT_TRUE(has(r1, "header DAMAGED")) << r1.text;
  EXPECT_TRUE(has(r1, "problem: payload checksum: byte 1 is")) << r1.text;

  auto [head, r2] = damaged([](auto& b) { b[header::header_checksum] ^= 0x40; });
  EXPECT_EQ(head, problem::header_checksum);
  EXPECT_TRUE(has(r2, "problem: header checksum: byte 29 is")) << r2.text;

  auto [reserved, r3] = damaged([](auto& b) { b[15] = 7; });
  EXPECT_EQ(reserved, problem::header_checksum | problem::reserved_header);

  auto [magic, r4] = damaged([](auto& b) { b[0] = 0x89; });
  EXPECT_EQ(magic, problem::magic | problem::header_checksum);
  EXPECT_TRUE(has(r4, "problem: wrong magic: byte 0 is 0x89, not 0x88")) << r4.text;

  auto [b28, r5] = damaged([](auto& b) { b[28] = 1; });
  EXPECT_EQ(b28, problem::byte_28) << "byte 28 is outside the header checksum";

  auto [truncated, r6] = damaged([](auto& b) { b.resize(30 + 400); });
  EXPECT_EQ(truncated, problem::truncated);
  EXPECT_TRUE(has(r6, "problem: truncated: 400 payload bytes, record size 425 x count 1 needs 425"))
      << r6.text;
  EXPECT_EQ(r6.status, 1);

  auto [longer, r7] = damaged([](auto& b) { b.push_back(0); });
  EXPECT_EQ(longer, problem::trailing);
  EXPECT_TRUE(has(r7, "problem: 1 bytes after the last record")) << r7.text;

  auto [stub, r8] = damaged([](auto& b) { b.resize(12); });
  EXPECT_EQ(stub, problem::short_header);
  EXPECT_TRUE(has(r8, "cfg/port0: not a headed record file: 12 bytes, a header has 30\n")) << r8.text;

  // A well-formed file of a size the migration never writes there.
  std::vector<std::uint8_t> odd(100, 0);
  ASSERT_EQ(write_headed_file("/usr/sav3/cfg/port1", odd, 100, 1), FileResult::ok);
  Report r9 = inspect(host("/usr/sav3/cfg/port1"));
  EXPECT_EQ(r9.status, 1);
  EXPECT_TRUE(has(r9,
                  "problem: unknown kind: record size 100 x count 1; the migration writes cfg/port1 as "
                  "103 x 1, 489 x 1"))
      << r9.text;

  // The right record size with the wrong count.
  std::vector<std::uint8_t> two(2 * controller_live::size, 0);
  two[0] = two[controller_live::size] = 1;
  ASSERT_EQ(write_headed_file(controller_live::path, two, controller_live::size, 2), FileResult::ok);
  Report r10 = inspect(host(controller_live::path));
  EXPECT_EQ(r10.status, 1);
  EXPECT_TRUE(has(r10, "problem: wrong size: record size 31 x count 2, a controller live record is 31 x 1"))
      << r10.text;

  Report r11 = inspect(host("/usr/sav3/cfg/nothing"));
  EXPECT_EQ(r11.status, 2);
  EXPECT_NE(r11.err.find("cannot read: No such file or directory"), std::string::npos) << r11.err;
}

// Reserved bytes that are not zero are a fault of the writer.
TEST_F(Inspect, ReservedBytesMustBeZero) {
  std::vector<std::uint8_t> rec(controller_live::size, 0);
  rec[0] = 1;
  rec[controller_live::reserved_1.offset + 2] = 9;
  ASSERT_EQ(write_headed_file(controller_live::path, rec, controller_live::size, 1), FileResult::ok);
  Report r = inspect(host(controller_live::path));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r, "NOT ZERO: 1 of 4 bytes set")) << r.text;
}

// Every credential field of the sample device holds a planted secret: none
// shows in any report (text, JSON, the tree) unless asked for, and every one
// does when asked for; the names beside them always show.
TEST_F(Inspect, PlantedSecretsShowOnlyWhenAsked) {
  ZoneScope zone("UTC0");
  sample::Options planted;
  planted.plant_secrets = true;
  ASSERT_EQ(sample::write_sample_device(root_.c_str(), planted), 0);
  convert_all();
  const std::vector<std::uint8_t> device = file_bytes(path::inventory);
  ExpectedFile files[64];
  const std::size_t n =
      expected_files(slice(ConstBytes(device), header::size, inventory::record_size), files);
  for (bool show : {false, true}) {
    std::string all;
    for (bool json : {false, true}) {
      Options options;
      options.json = json;
      options.show_secrets = show;
      all += tree(host("/usr/sav3"), options).text;
      for (std::size_t i = 0; i < n; ++i) {
        Report r = inspect(host(std::string("/usr/sav3/") + files[i].name), options);
        EXPECT_EQ(r.status, 0) << r.text;
        EXPECT_TRUE(!json || vocabulary_problem(r.text).empty()) << r.text;
        all += r.text;
      }
    }
    for (const std::string& secret : sample::planted_secrets())
      EXPECT_EQ(all.find(secret) != std::string::npos, show) << secret << (show ? " not shown" : " shown");
    EXPECT_NE(all.find("user15"), std::string::npos) << "account names are no secrets";
    EXPECT_NE(all.find("reader15"), std::string::npos) << "SNMP user names are no secrets";
  }
}

// The command line: options anywhere, the statuses, errors on the error
// stream only, a failed write of the report.
TEST_F(Inspect, CommandLineFollowsTheConventions) {
  ASSERT_EQ(convert_email_settings(), result::ok);
  const std::string good = host("/usr/sav3/cfg/email"), missing = host("/usr/sav3/cfg/none");
  const std::string noise = host("/usr/sav3/cfg/snmp");
  put_text_file("/usr/sav3/cfg/snmp", "COMMUNITY: public\nLOCATION: rack 4\n");
  const std::string version = std::string("sav3-inspect ") + sav3::version + "\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // a part of the report ("" when there is none)
    std::string err;  // a part of the error stream ("" when it stays empty)
  };
  const Case cases[] = {
      {{"--help"}, 0, "usage: sav3-inspect", ""},
      {{"-h", good}, 0, "--show-secrets", ""},
      {{"--version"}, 0, version, ""},
      {{good, "--json"}, 0, "\"format\":1,\"path\":", ""},
      {{"--record=0", good}, 0, "e-mail settings", ""},
      {{"--record", "0", good}, 0, "e-mail settings", ""},
      {{good, "--record"}, 2, "", "this option wants a value: --record"},
      {{"--record=x", good}, 2, "", "--record wants a record number from 0, not x"},
      {{"--bogus", good}, 2, "", "unknown option --bogus"},
      {{}, 2, "", "no file named"},
      {{good, noise}, 1, "snmp: not a headed record file: byte 0 is 0x43", ""},
      {{good, missing, noise}, 2, "not a headed record file", "none: cannot read: No such file"},
      {{"--", "--json"}, 2, "", "--json: cannot read"},
      {{"--tree", host("/usr/sav3"), good}, 2, "", "--tree takes no file names"},
      {{"--tree", "--json", host("/usr/sav3")},
       1,
       "\"path\":\"" + host("/usr/sav3") + "\",\"state\":null",
       ""},
      {{"--tree"}, 2, "", "--tree wants a folder"},
      {{"--tree", host("/usr/sav3"), "--record=1"}, 2, "", "--record does not apply"},
      {{"--tree", good}, 2, "", "Not a directory"},
      {{"--outputs"}, 0, "\n/usr/sav3/cfg/subport%d 27 1 2,3 no supply configuration sub-record\n", ""},
      {{"--outputs", good}, 2, "", "--outputs takes no file names"},
      {{"--tree", host("/usr/sav3")},
       1,
       "tree " + host("/usr/sav3") + ": the device inventory data/device is missing",
       ""},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    Report r = command(c.args);
    EXPECT_EQ(r.status, c.status) << line << r.text << r.err;
    EXPECT_TRUE(c.out.empty() ? r.text.empty() : r.text.find(c.out) != std::string::npos) << line << r.text;
    EXPECT_TRUE(c.err.empty() ? r.err.empty() : r.err.find(c.err) != std::string::npos) << line << r.err;
  }
  // The first line of a tree without inventory says so.
  EXPECT_EQ(command({"--tree", host("/usr/sav3")}).text.rfind("tree ", 0), 0u);

  // A report that cannot be written (a full disk) is a failure, not a pass.
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  std::string arg0 = "sav3-inspect", arg1 = good;
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  Report r = capture([&](std::FILE*, std::FILE* err) { return inspect_command(2, argv, full, err); });
  std::fclose(full);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("writing the report failed"), std::string::npos) << r.err;
}

// LQ and ZRT records share a size; byte 0 tells them apart.
TEST_F(Inspect, TypeCodeTellsLqFromZrt) {
  std::vector<std::uint8_t> rec(92, 0);
  rec[0] = module_code::zrt;
  ASSERT_EQ(write_headed_file("/usr/sav3/data/port2", rec, 92, 1), FileResult::ok);
  EXPECT_TRUE(has(inspect(host("/usr/sav3/data/port2")), "data/port2: ZRT live record"));
  rec[0] = 9;
  ASSERT_EQ(write_headed_file("/usr/sav3/data/port2", rec, 92, 1), FileResult::ok);
  Report r = inspect(host("/usr/sav3/data/port2"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r, "unknown kind: byte 0 of record 0 holds type code 9")) << r.text;
}

// Random damage never crashes the inspector (run under the sanitizers too).
TEST_F(Inspect, SurvivesArbitraryBytes) {
  ASSERT_EQ(convert_controller_config(), result::ok);
  const std::vector<std::uint8_t> good = file_bytes(controller_config::path);
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint8_t> b = good;
    b.resize(next() % (good.size() + 40));
    for (int k = next() % 8; k > 0 && !b.empty(); --k)
      b[next() % b.size()] = static_cast<std::uint8_t>(next() >> 16);
    put_file(controller_config::path, b);
    Report r = inspect(host(controller_config::path));
    EXPECT_TRUE(r.status == 0 || r.status == 1);
  }
}

// A staging tree holding every file for its inventory passes; one missing file
// fails and is named.
TEST_F(Inspect, TreeChecksEveryFileOfTheInventory) {
  ASSERT_EQ(sample::write_sample_device(root_.c_str(), 2), 0);
  ASSERT_EQ(build_device_inventory(), result::ok);
  const std::vector<std::uint8_t> device = file_bytes(path::inventory);
  ExpectedFile files[64];
  const std::size_t n =
      expected_files(slice(ConstBytes(device), header::size, inventory::record_size), files);
  // 13 fixed files (3 data, 8 cfg, 2 history); LQ and ZRT ports 6 files each, K3 ports 3 each.
  ASSERT_EQ(n, 13u + 6u + 6u + 3u + 3u);
  for (std::size_t i = 1; i < n; ++i) {
    const FileKind& k = *files[i].kind;
    std::vector<std::uint8_t> payload(std::size_t{k.size} * k.count, 0);
    if (k.type_code_first) {
      const std::uint8_t code = k.naming == Naming::controller              ? 1
                                : k.modules == module_bit(module_code::lq)  ? module_code::lq
                                : k.modules == module_bit(module_code::zrt) ? module_code::zrt
                                                                            : module_code::k3;
      for (std::uint32_t r = 0; r < k.count; ++r) payload[std::size_t{r} * k.size] = code;
    }
    const std::string p = std::string("/usr/sav3/") + files[i].name;
    ASSERT_EQ(write_headed_file(p.c_str(), payload, static_cast<int>(k.size), static_cast<int>(k.count)),
              FileResult::ok);
  }
  Report r = tree(host("/usr/sav3"));
  EXPECT_EQ(r.status, 0) << r.text;
  EXPECT_TRUE(has(r, "ports 1..4 hold type codes 2 3 4 4 (LQ, ZRT, K3, K3)")) << r.text;
  EXPECT_TRUE(has(r, "verdict: PASS, 31 files checked, 0 failed")) << r.text;

  std::remove(host("/usr/sav3/history/port2").c_str());
  r = tree(host("/usr/sav3"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r, "FAIL  history/port2      ZRT history")) << r.text;
  EXPECT_TRUE(has(r, "missing")) << r.text;
  EXPECT_TRUE(has(r, "verdict: FAIL, 31 files checked, 1 failed")) << r.text;

  // Only a finished migration passes: the state file's first line says so.
  std::vector<std::uint8_t> zrt_history(std::size_t{104} * 1000, 0);
  for (std::size_t i = 0; i < zrt_history.size(); i += 104) zrt_history[i] = module_code::zrt;
  ASSERT_EQ(write_headed_file("/usr/sav3/history/port2", zrt_history, 104, 1000), FileResult::ok);
  for (const char* state : {"done\n", "pending\nattempt 1\n", "kept room\n", "abandoned manifest\n"}) {
    put_text_file(path::state, state);
    r = tree(host("/usr/sav3"));
    const bool done = state[0] == 'd';
    EXPECT_EQ(r.status, done ? 0 : 1) << r.text;
    EXPECT_TRUE(
        has(r, std::string("state: \"") + std::string(state).substr(0, std::string(state).find('\n'))))
        << r.text;
    EXPECT_EQ(has(r, "the migration is not finished"), !done) << r.text;
  }
  std::remove(host(path::state).c_str());

  // A K3 live record where the inventory says LQ: the type code is named.
  std::vector<std::uint8_t> k3(488, 0);
  k3[0] = module_code::k3;
  ASSERT_EQ(write_headed_file("/usr/sav3/data/port1", k3, 488, 1), FileResult::ok);
  r = tree(host("/usr/sav3"));
  EXPECT_TRUE(has(r, "FAIL  data/port1         LQ live record")) << r.text;
  EXPECT_TRUE(has(r, "wrong size: record size 488 x count 1, expected 92 x 1")) << r.text;

  std::remove(host(path::inventory).c_str());
  r = tree(host("/usr/sav3"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(has(r, "FAIL  data/device")) << r.text;
  EXPECT_TRUE(has(r, "module ports' files were not checked")) << r.text;
}

// --diff between a migrated tree and a copy of it changed by hand (checksums
// mended, so that only the named field differs): what differs is named, and
// only that; a secret's values only when asked for.
TEST_F(Inspect, DiffNamesWhatDiffers) {
  ZoneScope zone("UTC0");
  sample::Options planted;
  planted.plant_secrets = true;
  ASSERT_EQ(sample::write_sample_device(root_.c_str(), planted), 0);
  convert_all();
  const std::string a = host("/usr/sav3"), b = root_ + "/copy";
  const std::vector<std::uint8_t> accounts = file_bytes(user_info::path);
  const std::string secret(get_text(ConstBytes(accounts).subspan(header::size), user_info::second_word[0]));
  ASSERT_EQ(secret.rfind("Pl4nted", 0), 0u) << secret;
  put_text_file("/usr/sav3/etc/TZ", "CET-1CEST,M3.5.0,M10.5.0/3\n");  // copied, not converted
  // Sets `field` of record `r` of the copy's file `name` (of a text, its first
  // byte) and mends its header.
  auto set_field = [&](const char* name, std::uint32_t r, const Field& f, std::uint32_t v) {
    std::vector<std::uint8_t> file = file_bytes(std::string("/copy/") + name);
    const std::uint32_t size = read32le(file, header::record_size),
                        count = read32le(file, header::record_count);
    const Bytes record = Bytes(file).subspan(header::size + std::size_t{r} * size, size);
    if (integer_width(f.kind) != 0)
      put_low_bits(record, f, v);
    else
      write8(record, f.offset, v);
    std::uint8_t head[header::size];
    make_header(head, ConstBytes(file).subspan(header::size), static_cast<int>(size),
                static_cast<int>(count));
    std::copy(head, head + header::size, file.begin());
    put_file(std::string("/copy/") + name, file);
  };
  struct Case {
    const char* what;
    std::function<void()> change;
    bool show_secrets;
    int status;
    std::vector<std::string> shown;      // each in the text report
    std::vector<std::string> not_shown;  // none of them
    const char* json_line;               // the JSON line of the file after its head (null: no file line)
  };
  const Case cases[] = {
      {"the tree itself", [] {}, false, 0, {"same: "}, {"differs", "only in"}, nullptr},
      {"one field of one history record",
       [&] { set_field("history/port0", 7, controller_history::limit[6], 12345); },
       false,
       1,
       {"differs: history/port0 (controller history)\n  record 7: limit 7: ", " -> 12345  (123.45)\n",
        "  1 of 1000 records differ, the first: 7\n", "files compared, 1 differ)"},
       {"limit 6", "record 6", "record 8"},
       R"x("path":"history/port0","kind":"controller history","status":"differs","fields":[{"name":"limit 7","record":7,"a":{"raw":500,"scale":100,"value":5.00,"shown":"500  (5.00)"},"b":{"raw":12345,)x"},
      {"a secret, not shown",
       [&] { set_field("cfg/user_info", 0, user_info::second_word[0], 'X'); },
       false,
       1,
       {"differs: cfg/user_info (user accounts)\n  second word 0: the secrets differ (--show-secrets shows "
        "them)\n"},
       {secret, "\"X"},
       R"("path":"cfg/user_info","kind":"user accounts","status":"differs","fields":[{"name":"second word 0","a":null,"b":null,"secret":true}]})"},
      {"a secret, shown",
       [&] { set_field("cfg/user_info", 0, user_info::second_word[0], 'X'); },
       true,
       1,
       {"  second word 0: \"" + secret},
       {"the secrets differ"},
       nullptr},
      {"a file that is no headed record file",
       [&] { put_text_file("/copy/etc/TZ", "UTC0\n"); },
       false,
       1,
       {"bytes differ: etc/TZ\n"},
       {"differs: etc"},
       R"("path":"etc/TZ","kind":null,"status":"bytes differ"})"},
      {"a file on one side only",
       [&] { std::filesystem::remove(host("/copy/data/port2")); },
       false,
       1,
       {"only in A: data/port2\n"},
       {"only in B"},
       R"("path":"data/port2","kind":null,"status":"only in A"})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(b);
    std::filesystem::copy(a, b, std::filesystem::copy_options::recursive);
    c.change();
    std::vector<std::string> args = {"--diff", a, b};
    if (c.show_secrets) args.insert(args.begin(), "--show-secrets");
    const Report text = command(args);
    EXPECT_EQ(text.status, c.status) << text.text << text.err;
    for (const std::string& s : c.shown) EXPECT_TRUE(has(text, s)) << s << " not in\n" << text.text;
    for (const std::string& s : c.not_shown) EXPECT_FALSE(has(text, s)) << s << " in\n" << text.text;
    args.insert(args.begin(), "--json");
    const Report json = command(args);
    EXPECT_EQ(json.status, c.status);
    EXPECT_EQ(vocabulary_problem(json.text), "") << json.text;
    EXPECT_TRUE(has(json, c.status == 0 ? "\"same\":true}\n" : "\"differing\":1,\"same\":false}\n"))
        << json.text;
    // One line for the file and the summary's.
    EXPECT_EQ(std::count(json.text.begin(), json.text.end(), '\n'), c.status == 0 ? 1 : 2) << json.text;
    if (c.json_line) {
      const std::string head =
          std::string(R"({"tool":{"name":"sav3-inspect","version":")") + sav3::version + R"("},"format":1,)";
      EXPECT_EQ(json.text.rfind(head + c.json_line, 0), 0u) << json.text;
    }
    for (const std::string& s : c.not_shown) EXPECT_FALSE(has(json, s)) << s << " in\n" << json.text;
  }
  // Two files of the migration, of one kind, and a usage error.
  const Report files = command({"--diff", a + "/history/port0", b + "/history/port0"});
  EXPECT_EQ(files.status, 0) << files.text;
  EXPECT_EQ(command({"--diff", a}).status, 2);
  EXPECT_EQ(command({"--diff", a, a + "/history/port0"}).status, 2);
}

}  // namespace
}  // namespace sav3::testing
