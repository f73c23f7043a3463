// The sample device generator: writes the legacy files of an old controller.
//
// Host tool. Every legacy record is built by its named offsets below (the old
// firmware's in-memory structures, little-endian, floats IEEE single), filled
// with plausible values from a seeded generator, and written with stdio.
#include "sample_device.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "sav3/bytes.h"
#include "sav3/controller_record.h"
#include "sav3/device.h"
#include "sav3/inventory.h"

namespace sav3::sample {

namespace {

// ---------------------------------------------------------------------------
// Legacy record offsets (the old firmware's structures).

namespace mcu {  // controller item record and report record, 248 bytes
constexpr std::size_t time_text = controller_record::time_text;
constexpr std::size_t supply_voltage = 48;    // reading A
constexpr std::size_t module_current_1 = 52;  // reading B, also the first LQ/ZRT module's
constexpr std::size_t module_current_2 = 56;  // reading C, also the second LQ/ZRT module's
constexpr std::size_t load_current = 60;      // reading D
constexpr std::size_t ambient_temp = 64;      // reading E
constexpr std::size_t humidity = 68;          // reading F
constexpr std::size_t state_word = 76;
constexpr std::size_t switch_1 = 96;
constexpr std::size_t switch_2 = 106;
constexpr std::size_t alarm_a = 213;
constexpr std::size_t alarm_b = 214;
constexpr std::size_t alarm_module_1 = 215;
constexpr std::size_t alarm_module_2 = 216;
constexpr std::size_t alarm_k3_outputs = 218;  // 8 per K3 module, 3 modules
constexpr std::size_t alarm_shared = 242;
constexpr std::size_t enclosure_temp = 244;  // tenths quantity
}  // namespace mcu

namespace lq {  // LQ item record and report record, 184 bytes
constexpr int size = 184;
constexpr std::size_t model = 25;
constexpr std::size_t yes_no_1 = 45;
constexpr std::size_t yes_no_2 = 55;
constexpr std::size_t state_1 = 65;
constexpr std::size_t state_2 = 75;
constexpr std::size_t output_voltage = 88;  // reading A
constexpr std::size_t output_current = 92;  // reading B
constexpr std::size_t board_temp = 96;      // reading C
constexpr std::size_t run_hours = 100;
constexpr std::size_t charge_hours = 104;
constexpr std::size_t value_d = 108;
constexpr std::size_t value_e = 112;
constexpr std::size_t fault_text = 116;  // to the end of the record
constexpr std::size_t fan_speed = 180;   // tenths quantity
}  // namespace lq

namespace zrt {  // ZRT item record and report record, 296 bytes
constexpr int size = 296;
constexpr std::size_t model = 30;
constexpr std::size_t input_voltage = 52;   // reading A
constexpr std::size_t output_voltage = 60;  // reading B
constexpr std::size_t output_current = 64;  // reading C
constexpr std::size_t module_temp = 68;     // reading D
constexpr std::size_t value_e = 72;
constexpr std::size_t value_f = 76;
constexpr std::size_t yes_no_2 = 90;
constexpr std::size_t yes_no_1 = 100;
constexpr std::size_t state = 110;
constexpr std::size_t enable = 140;
constexpr std::size_t module_hours = 152;  // one slot per module, 4 apart
constexpr std::size_t run_hours = 164;
constexpr std::size_t restarts = 192;
constexpr std::size_t state_2 = 220;
constexpr std::size_t mode_text = 230;  // to the end of the record
}  // namespace zrt

namespace battery {  // LQ and ZRT battery item and report records, 40 bytes
constexpr int size = 40;
constexpr std::size_t voltage = 0;
constexpr std::size_t current = 12;
constexpr std::size_t temperature = 16;
constexpr std::size_t age_years = 24;
constexpr std::size_t value_d = 28;
constexpr std::size_t age_days = 36;
}  // namespace battery

namespace extra {  // LQ and ZRT extra report records, 12 bytes
constexpr int size = 12;
constexpr std::size_t counter_1 = 0;
constexpr std::size_t counter_2 = 4;
constexpr std::size_t hours = 8;
}  // namespace extra

namespace k3 {  // K3 item record and report record, 492 bytes
constexpr int size = 492;
constexpr int outputs = 8;
constexpr std::size_t voltage = 0;      // + 4i
constexpr std::size_t current = 32;     // + 4i
constexpr std::size_t power = 64;       // + 4i
constexpr std::size_t answer = 96;      // + 10i
constexpr std::size_t state_1 = 176;    // + 10i
constexpr std::size_t state_2 = 256;    // + 10i
constexpr std::size_t condition = 336;  // + 10i
constexpr std::size_t word_width = 10;
constexpr std::size_t temperature = 416;  // tenths quantity
}  // namespace k3

namespace k3_enable {  // K3 output settings record, 520 bytes
constexpr int size = 520;
constexpr std::size_t mask = 0;
constexpr std::size_t blocks = 20;  // 60 bytes per output
constexpr std::size_t block_size = 60;
constexpr std::size_t trailer = 508;
}  // namespace k3_enable

namespace k3_cfg {  // K3 configuration record, 432 bytes
constexpr int size = 432;
constexpr std::size_t small = 0;  // 40 int32; the fifth group of eight (128) marks alarms
constexpr std::size_t alarm_enabled = 128;
constexpr std::size_t low_voltage = 160;
constexpr std::size_t high_voltage = 192;
constexpr std::size_t current_limit = 224;
constexpr std::size_t restart_delay = 256;
constexpr std::size_t hundredths_1 = 352;
constexpr std::size_t hundredths_2 = 356;
constexpr std::size_t hundredths_3 = 424;
constexpr std::size_t hundredths_4 = 428;
}  // namespace k3_cfg

namespace k3_extends {  // shared K3 extension record, 244 bytes
constexpr int size = 244;
constexpr std::size_t table_1 = 0;   // 32 bytes per module
constexpr std::size_t table_2 = 96;  // 32 bytes per module
}  // namespace k3_extends

namespace crw {  // battery/charger monitor item record, 772 bytes
constexpr int size = 772;
constexpr std::size_t reading_1 = 0;     // + 4(n-1)
constexpr std::size_t reading_2 = 16;    // + 4(n-1)
constexpr std::size_t alarm_word = 176;  // + 4(n-1)
constexpr std::size_t present = 192;     // + 4(n-1)
constexpr std::size_t balancing = 240;   // + 4(n-1)
constexpr std::size_t cell_count = 256;  // + 4(n-1)
constexpr std::size_t cells = 288;       // 30 floats, + 120(n-1)
}  // namespace crw

namespace prog {  // progcfg and zrtprogcfg, 388 bytes; slots + 4(n-1) unless noted
constexpr int size = 388;
constexpr std::size_t setting_7 = 36;
constexpr std::size_t setting_4 = 60;
constexpr std::size_t setting_5 = 72;
constexpr std::size_t setting_6 = 84;
constexpr std::size_t setting_1 = 108;
constexpr std::size_t setting_2 = 120;
constexpr std::size_t setting_3 = 132;
constexpr std::size_t date_month = 172;
constexpr std::size_t date_day = 184;
constexpr std::size_t date_year = 196;   // years since 2010
constexpr std::size_t setting_9 = 256;   // + 16(n-1)
constexpr std::size_t setting_8 = 260;   // + 16(n-1)
constexpr std::size_t setting_12 = 264;  // + 16(n-1)
constexpr std::size_t setting_13 = 268;  // + 16(n-1)
constexpr std::size_t day_count = 336;
constexpr std::size_t setting_10 = 360;
constexpr std::size_t setting_11 = 372;
}  // namespace prog

namespace warning {  // batterywarningcfg and zrtbatterywarningcfg, 292 bytes
constexpr int size = 292;
constexpr std::size_t web_word = 4;
constexpr std::size_t year_span = 8;       // + 140(n-1)
constexpr std::size_t warning_value = 20;  // + 140(n-1)
constexpr std::size_t charge_mode = 68;
constexpr std::size_t web_block = 88;        // 50 bytes
constexpr std::size_t duration_hours = 280;  // + 4(n-1)
constexpr std::size_t warning_switch = 288;  // + (n-1)
}  // namespace warning

namespace email {  // emailcfg, 756 bytes
constexpr int size = 756;
constexpr std::size_t long_texts = 0;     // 4 x 120
constexpr std::size_t short_texts = 480;  // 3 x 60
constexpr std::size_t events_a = 660;     // 7 words 660..684
constexpr std::size_t module_byte = 688;
constexpr std::size_t interval_code = 692;
constexpr std::size_t option_a = 700;
constexpr std::size_t port_text = 704;  // 12 bytes
constexpr std::size_t option_b = 716;
constexpr std::size_t events_b = 724;  // words 724..752
}  // namespace email

namespace report {  // reportcfg, 260 bytes
constexpr int size = 260;
constexpr std::size_t controller_flags = 4;  // bytes 4..11
constexpr std::size_t lq_flags = 28;         // 13 per board
constexpr std::size_t record_limit = 100;
constexpr std::size_t report_word = 124;
constexpr std::size_t report_event = 128;
constexpr std::size_t limits = 132;       // ten floats
constexpr std::size_t zrt_flags = 184;    // 15 per module
constexpr std::size_t lq_flags_2 = 229;   // 5 per board
constexpr std::size_t zrt_flags_2 = 244;  // 5 per module
constexpr std::size_t last_byte = 259;
}  // namespace report

namespace pwm {  // pwmcfg, 44 bytes
constexpr int size = 44;
constexpr std::size_t fan_control = 0;
constexpr std::size_t heater_control = 4;
constexpr std::size_t word_1 = 8;
constexpr std::size_t web_word = 16;
constexpr std::size_t setting = 24;
constexpr std::size_t word_2 = 28;
}  // namespace pwm

namespace assign {  // mcuassigncfg, 852 bytes: 60-byte text slots
constexpr int size = 852;
constexpr std::size_t slot_size = 60;
constexpr std::size_t duration_hours = 720;
constexpr std::size_t block = 724;  // 64 bytes
}  // namespace assign

// ---------------------------------------------------------------------------
// Deterministic values.

struct Rng {
  std::uint64_t state;
  std::uint64_t next() {  // splitmix64
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
  float around(double centre, double spread) {
    return static_cast<float>(centre + (unit() * 2.0 - 1.0) * spread);
  }
  unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
  bool chance(double p) { return unit() < p; }
};

// A smooth daily swing: 0 at 04:00, 1 at 16:00 (a triangle, no libm needed).
double daily(int hour_of_day) {
  int h = (hour_of_day + 20) % 24;  // 0 at 04:00
  return h <= 12 ? h / 12.0 : (24 - h) / 12.0;
}

// A legacy record image with named stores.
struct Record {
  explicit Record(std::size_t size) : bytes(size, 0) {}
  Bytes view() { return bytes; }
  void f32(std::size_t off, float v) { write_f32le(bytes, off, v); }
  void u32(std::size_t off, std::uint32_t v) { write32le(bytes, off, v); }
  void u16(std::size_t off, std::uint32_t v) { write16le(bytes, off, v); }
  void u8(std::size_t off, std::uint32_t v) { write8(bytes, off, v); }
  // A C text with its NUL, clipped to `width` bytes.
  void text(std::size_t off, std::size_t width, std::string_view t) {
    Bytes f = slice(Bytes(bytes), off, width);
    for (std::size_t i = 0; i < f.size(); ++i) f[i] = i < t.size() ? static_cast<std::uint8_t>(t[i]) : 0;
  }
  std::vector<std::uint8_t> bytes;
};

// `count` records of `size` bytes in one image.
struct Report {
  Report(std::size_t size, std::size_t count) : record_size(size), bytes(size * count, 0) {}
  Bytes at(std::size_t i) { return slice(Bytes(bytes), i * record_size, record_size); }
  std::size_t record_size;
  std::vector<std::uint8_t> bytes;
};

void text_at(Bytes b, std::size_t off, std::size_t width, std::string_view t) {
  Bytes f = slice(b, off, width);
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = i < t.size() ? static_cast<std::uint8_t>(t[i]) : 0;
}

// The old firmware wrote its moments as "%a %b %d %Y %X" in local time; the
// sample keeps the wall-clock texts zone-free (built from UTC arithmetic).
std::string legacy_time_text(std::int64_t wall_seconds) {
  std::time_t t = static_cast<std::time_t>(wall_seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%a %b %d %Y %X", &tm);
  return text;
}

// ---------------------------------------------------------------------------
// Writing files.

struct Tree {
  std::string root;
  bool ok = true;

  std::string host(std::string_view device_path) const { return root + std::string(device_path); }

  void make_dirs(std::string_view device_path) {
    std::string p = host(device_path);
    for (std::size_t i = root.size() + 1; i <= p.size(); ++i) {
      if (i == p.size() || p[i] == '/') {
        std::string part = p.substr(0, i);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
          std::fprintf(stderr, "sav3-sample: cannot create %s: %s\n", part.c_str(), std::strerror(errno));
          ok = false;
          return;
        }
      }
    }
  }

  void write(std::string_view device_path, const void* data, std::size_t size, bool executable = false) {
    std::string_view dir = device_path.substr(0, device_path.rfind('/'));
    make_dirs(dir);
    std::string p = host(device_path);
    std::FILE* f = std::fopen(p.c_str(), "wb");
    bool good = f != nullptr;
    if (good && size != 0) good = std::fwrite(data, 1, size, f) == size;
    if (f != nullptr && std::fclose(f) != 0) good = false;
    if (good && executable) good = chmod(p.c_str(), 0755) == 0;
    if (!good) {
      std::fprintf(stderr, "sav3-sample: cannot write %s\n", p.c_str());
      ok = false;
    }
  }
  void write(std::string_view device_path, const std::vector<std::uint8_t>& bytes) {
    write(device_path, bytes.data(), bytes.size());
  }
  void write_text(std::string_view device_path, std::string_view text, bool executable = false) {
    write(device_path, text.data(), text.size(), executable);
  }
};

std::string numbered(const char* format, unsigned n) { return numbered_path(format, n).text; }

// ---------------------------------------------------------------------------
// The device.

constexpr int hours = history_records;

// Ports 1..4: LQ board, ZRT module, K3, K3. LQ boards and ZRT modules share one
// running number in the migration's port walk (the ZRT module is number 2) but
// the inventory pass counts ZRT modules on their own (number 1), so the ZRT
// module's per-module files are kept under both numbers, as the old firmware's
// slots would hold them.
constexpr unsigned lq_port = 1, zrt_port = 2, k3_ports[2] = {3, 4};
constexpr unsigned lq_number = 1, zrt_number = 2;

struct Moments {
  std::int64_t first;  // wall-clock seconds of report record 0
  std::int64_t at(int i) const { return first + std::int64_t{3600} * i; }
  std::int64_t now() const { return at(hours - 1) + 1234; }  // the item records: after the last report
};

void write_display(Tree& t) {
  Record r(legacy_display::record_size);
  r.u8(legacy_display::lq_slots, lq_port);
  r.u8(legacy_display::k3_slots, k3_ports[0]);
  r.u8(legacy_display::k3_slots + 1, k3_ports[1]);
  r.u8(legacy_display::zrt_slots, zrt_port);
  t.write(path::device_display, r.bytes);
}

// The controller's readings of one moment (item record or report record).
void fill_controller(Bytes rec, Rng& rng, std::int64_t moment, bool alarms_possible) {
  const int hour = static_cast<int>((moment / 3600) % 24);
  const double d = daily(hour);
  text_at(rec, mcu::time_text, 48, legacy_time_text(moment));
  write_f32le(rec, mcu::supply_voltage, rng.around(53.5 - 0.4 * d, 0.08));
  write_f32le(rec, mcu::module_current_1, rng.around(8.0 + 3.0 * d, 0.3));
  write_f32le(rec, mcu::module_current_2, rng.around(6.5 + 2.5 * d, 0.3));
  write_f32le(rec, mcu::load_current, rng.around(14.0 + 5.0 * d, 0.5));
  write_f32le(rec, mcu::ambient_temp, rng.around(21.0 + 9.0 * d, 0.4));
  write_f32le(rec, mcu::humidity, rng.around(48.0 - 12.0 * d, 1.5));
  text_at(rec, mcu::state_word, 20, "Active");
  text_at(rec, mcu::switch_1, 10, "ON");
  text_at(rec, mcu::switch_2, 10, d > 0.7 ? "ON" : "OFF");  // the fan runs in the afternoon
  write_f32le(rec, mcu::enclosure_temp, rng.around(19.0 + 4.0 * d, 0.2));
  if (alarms_possible && rng.chance(0.04)) {
    static constexpr std::uint8_t a_bits[] = {0x01, 0x04, 0x10, 0x40, 0x80};
    write8(rec, mcu::alarm_a, a_bits[rng.below(5)]);
  }
  if (alarms_possible && rng.chance(0.03)) write8(rec, mcu::alarm_b, rng.chance(0.5) ? 0x01 : 0x04);
  if (alarms_possible && rng.chance(0.03)) write8(rec, mcu::alarm_module_1, 0x10);
  if (alarms_possible && rng.chance(0.03)) write8(rec, mcu::alarm_module_2, 0x08);
  if (alarms_possible && rng.chance(0.05)) write8(rec, mcu::alarm_k3_outputs + rng.below(16), 0x01);
  if (alarms_possible && rng.chance(0.02)) write8(rec, mcu::alarm_shared, 0x01);
}

void write_controller(Tree& t, Rng& rng, const Moments& m) {
  Report rep(controller_record::size, hours);
  for (int i = 0; i < hours; ++i) fill_controller(rep.at(i), rng, m.at(i), true);
  t.write(controller_record::report_path, rep.bytes);

  Record item(controller_record::size);
  fill_controller(item.view(), rng, m.now(), false);
  // The state at the time of the upgrade: a mains alarm, a warm first board
  // and a tripped output on the first K3 module.
  item.u8(mcu::alarm_a, 0x01);
  item.u8(mcu::alarm_module_1, 0x12);
  item.u8(mcu::alarm_k3_outputs + 2, 0x11);
  item.u8(mcu::alarm_shared, 0x03);
  t.write(controller_record::item_path, item.bytes);
}

void fill_lq(Bytes rec, Rng& rng, std::int64_t moment, int index) {
  const double d = daily(static_cast<int>((moment / 3600) % 24));
  text_at(rec, lq::model, 20, "LQB400");
  text_at(rec, lq::yes_no_1, 10, "Yes");
  text_at(rec, lq::yes_no_2, 10, "Yes");
  text_at(rec, lq::state_1, 10, "Active");
  text_at(rec, lq::state_2, 13, d > 0.5 ? "Active" : "Inactive");
  write_f32le(rec, lq::output_voltage, rng.around(54.2, 0.05));
  write_f32le(rec, lq::output_current, rng.around(8.0 + 3.0 * d, 0.3));
  write_f32le(rec, lq::board_temp, rng.around(31.0 + 8.0 * d, 0.5));
  write32le(rec, lq::run_hours, static_cast<std::uint32_t>(18200 + index));
  write32le(rec, lq::charge_hours, static_cast<std::uint32_t>(3100 + index / 5));
  write_f32le(rec, lq::value_d, 2.0f);
  write_f32le(rec, lq::value_e, rng.around(0.98, 0.01));
  std::string faults;
  if (rng.chance(0.03)) faults = "TemFlt";
  if (rng.chance(0.01)) faults += faults.empty() ? "GndFlt,VolFlt" : ",GndFlt";
  if (rng.chance(0.01)) faults += faults.empty() ? "BatLost" : ",BatLost";
  text_at(rec, lq::fault_text, lq::fan_speed - lq::fault_text, faults);
  write_f32le(rec, lq::fan_speed, rng.around(12.0 + 8.0 * d, 0.5));
}

void fill_zrt(Bytes rec, Rng& rng, std::int64_t moment, int index) {
  const double d = daily(static_cast<int>((moment / 3600) % 24));
  text_at(rec, zrt::model, 20, "ZRT300");
  write_f32le(rec, zrt::input_voltage, rng.around(230.0, 3.0));
  write_f32le(rec, zrt::output_voltage, rng.around(53.9, 0.05));
  write_f32le(rec, zrt::output_current, rng.around(6.5 + 2.5 * d, 0.3));
  write_f32le(rec, zrt::module_temp, rng.around(29.0 + 7.0 * d, 0.5));
  write_f32le(rec, zrt::value_e, 300.0f);
  write_f32le(rec, zrt::value_f, rng.around(0.95, 0.01));
  text_at(rec, zrt::yes_no_2, 10, "Yes");
  text_at(rec, zrt::yes_no_1, 10, "Yes");
  text_at(rec, zrt::state, 30, "Active");
  text_at(rec, zrt::enable, 12, "Enable");
  for (unsigned n = 0; n < 3; ++n)
    write32le(rec, zrt::module_hours + 4 * n, static_cast<std::uint32_t>(9400 + 100 * n + index));
  write32le(rec, zrt::run_hours, static_cast<std::uint32_t>(9400 + index));
  write32le(rec, zrt::restarts, 3);
  text_at(rec, zrt::state_2, 10, "Active");
  const bool on_battery = rng.chance(0.02);
  text_at(rec, zrt::mode_text, zrt::size - zrt::mode_text, on_battery ? "DC_Mode,BatLost" : "AC_Mode");
}

void fill_battery(Bytes rec, Rng& rng, std::int64_t moment, int index, double age_years) {
  const double d = daily(static_cast<int>((moment / 3600) % 24));
  write_f32le(rec, battery::voltage, rng.around(54.0, 0.1));
  write_f32le(rec, battery::current, rng.around(0.6 + 0.8 * (1.0 - d), 0.1));
  write_f32le(rec, battery::temperature, rng.around(23.0 + 4.0 * d, 0.3));
  write_f32le(rec, battery::age_years, static_cast<float>(age_years + index / 8760.0));
  write_f32le(rec, battery::value_d, 100.0f);
  write32le(rec, battery::age_days,
            static_cast<std::uint32_t>(age_years * 365.0) + static_cast<unsigned>(index / 24));
}

void fill_extra(Bytes rec, Rng& rng, int index) {
  write32le(rec, extra::counter_1, static_cast<std::uint32_t>(120 + index / 50));
  write32le(rec, extra::counter_2, rng.below(3));
  write_f32le(rec, extra::hours, static_cast<float>(4.5 + index / 24.0));
}

void write_supply_modules(Tree& t, Rng& rng, const Moments& m) {
  // Item records (the moment of the upgrade).
  Record lq_item(lq::size);
  fill_lq(lq_item.view(), rng, m.now(), hours);
  t.write(numbered("/mnt/1/cfg/LQDataItemTmp_%u.txt", lq_number), lq_item.bytes);
  Record lq_bat_item(battery::size);
  fill_battery(lq_bat_item.view(), rng, m.now(), hours, 2.5);
  t.write(numbered("/mnt/1/cfg/BatteryDataItemTmp_%u", lq_number), lq_bat_item.bytes);
  Record zrt_item(zrt::size);
  fill_zrt(zrt_item.view(), rng, m.now(), hours);
  Record zrt_bat(battery::size);
  fill_battery(zrt_bat.view(), rng, m.now(), hours, 1.2);
  for (unsigned n = 1; n <= 2; ++n) {
    t.write(numbered("/mnt/1/cfg/ZrtDataItemTmp_%u", n), zrt_item.bytes);
    t.write(numbered("/mnt/1/cfg/ZrtBatteryDataItemTmp_%u", n), zrt_bat.bytes);
  }

  // Reports: one record per hour, record i of the moment of controller record i.
  Report lq_rep(lq::size, hours), lq_extra(extra::size, hours), lq_bat(battery::size, hours);
  Report zrt_rep(zrt::size, hours), zrt_extra(extra::size, hours), zrt_bat_rep(battery::size, hours);
  for (int i = 0; i < hours; ++i) {
    fill_lq(lq_rep.at(i), rng, m.at(i), i);
    fill_extra(lq_extra.at(i), rng, i);
    fill_battery(lq_bat.at(i), rng, m.at(i), i, 2.5);
    fill_zrt(zrt_rep.at(i), rng, m.at(i), i);
    fill_extra(zrt_extra.at(i), rng, i);
    fill_battery(zrt_bat_rep.at(i), rng, m.at(i), i, 1.2);
  }
  t.write(numbered("/usr/sav/data/LQDataItemReport%u.txt", lq_number), lq_rep.bytes);
  t.write(numbered("/usr/sav/data/NLQDataItemReport%u.txt", lq_number), lq_extra.bytes);
  t.write(numbered("/usr/sav/data/BatteryDataItemReport%u.txt", lq_number), lq_bat.bytes);
  for (unsigned n = 1; n <= zrt_number; ++n) {
    t.write(numbered("/usr/sav/data/ZrtDataItemReport%u.txt", n), zrt_rep.bytes);
    t.write(numbered("/usr/sav/data/NZrtDataItemReport%u.txt", n), zrt_extra.bytes);
    t.write(numbered("/usr/sav/data/ZrtBatteryDataItemReport%u.txt", n), zrt_bat_rep.bytes);
  }

  // The battery/charger monitor of both supply modules, the device alarm
  // count and the monitor switches.
  Record c(crw::size);
  for (unsigned n = 0; n < 2; ++n) {
    c.f32(crw::reading_1 + 4 * n, rng.around(54.0, 0.1));
    c.f32(crw::reading_2 + 4 * n, rng.around(1.1, 0.2));
    c.u32(crw::alarm_word + 4 * n, n == 0 ? 0 : 1);
    c.u32(crw::present + 4 * n, 1);
    c.u32(crw::balancing + 4 * n, n);
    c.u32(crw::cell_count + 4 * n, 24);
    for (unsigned cell = 0; cell < 30; ++cell)
      c.f32(crw::cells + 120 * n + 4 * cell, cell < 24 ? rng.around(2.25, 0.02) : 0.0f);
  }
  t.write("/mnt/1/cfg/CRWDataItemTmp", c.bytes);

  Record alarm(436);
  alarm.u32(24, 1);
  t.write("/mnt/1/cfg/DeviceAlarm", alarm.bytes);
  Record mcucfg(11);
  mcucfg.text(0, 11, "1000000000");
  t.write("/mnt/1/cfg/mcucfg", mcucfg.bytes);
}

void write_supply_settings(Tree& t, Rng& rng, const char* prog_path, const char* warning_path,
                           unsigned year) {
  Record p(prog::size);
  for (unsigned n = 0; n < 2; ++n) {
    p.u32(prog::setting_7 + 4 * n, 2);
    p.u32(prog::setting_4 + 4 * n, 48);
    p.u32(prog::setting_5 + 4 * n, 24);
    p.u32(prog::setting_6 + 4 * n, 1);
    p.u32(prog::setting_1 + 4 * n, 54 + n);
    p.u32(prog::setting_2 + 4 * n, 43);
    p.u32(prog::setting_3 + 4 * n, 20);
    p.u32(prog::date_month + 4 * n, 3 + rng.below(9));
    p.u32(prog::date_day + 4 * n, 1 + rng.below(28));
    p.u32(prog::date_year + 4 * n, year - 2010);
    p.u32(prog::setting_9 + 16 * n, 200);
    p.u32(prog::setting_8 + 16 * n, 150);
    p.u32(prog::setting_12 + 16 * n, 0x00010003);
    p.u32(prog::setting_13 + 16 * n, n);
    p.u32(prog::day_count + 4 * n, 180);
    p.u32(prog::setting_10 + 4 * n, 5);
    p.u32(prog::setting_11 + 4 * n, 60);
  }
  t.write(prog_path, p.bytes);

  Record w(warning::size);
  w.u32(warning::web_word, 1);
  for (unsigned n = 0; n < 2; ++n) {
    w.f32(warning::year_span + 140 * n, 4.0f);
    w.f32(warning::warning_value + 140 * n, 47.5f);
    w.f32(warning::duration_hours + 4 * n, 2.5f);
    w.u8(warning::warning_switch + n, 1);
  }
  w.text(warning::charge_mode, 20, "charge");
  w.text(warning::web_block, 50, "Replace the battery string of cabinet B");
  t.write(warning_path, w.bytes);
}

void fill_k3(Bytes rec, Rng& rng, std::int64_t moment, unsigned module) {
  static constexpr float nominal[k3::outputs] = {12.0f, 12.0f, 24.0f, 24.0f, 48.0f, 48.0f, 12.0f, 5.0f};
  const double d = daily(static_cast<int>((moment / 3600) % 24));
  for (unsigned i = 0; i < k3::outputs; ++i) {
    const bool used = i < 6;
    const float v = used ? rng.around(nominal[i] * 1.01, 0.05) : 0.0f;
    const float a = used ? rng.around(0.8 + 0.4 * i * d, 0.05) : 0.0f;
    write_f32le(rec, k3::voltage + 4 * i, v);
    write_f32le(rec, k3::current + 4 * i, a);
    write_f32le(rec, k3::power + 4 * i, v * a);
    const bool tripped = used && module == 1 && i == 2 && rng.chance(0.02);
    text_at(rec, k3::answer + k3::word_width * i, k3::word_width, used ? "Yes" : "No");
    text_at(rec, k3::state_1 + k3::word_width * i, k3::word_width, used ? "Active" : "Inactive");
    text_at(rec, k3::state_2 + k3::word_width * i, k3::word_width, used && !tripped ? "Active" : "Inactive");
    text_at(rec, k3::condition + k3::word_width * i, k3::word_width, tripped ? "Fault" : "Normal");
  }
  write_f32le(rec, k3::temperature, rng.around(24.0 + 5.0 * d, 0.3));
}

void write_k3_modules(Tree& t, Rng& rng, const Moments& m) {
  static constexpr const char* labels[k3::outputs] = {"Radio link",      "Router",        "Camera mast",
                                                      "Door controller", "Telecom shelf", "Fan tray",
                                                      "Spare 1",         "Spare 2"};
  Record ext(k3_extends::size);
  for (unsigned module = 1; module <= 2; ++module) {
    Record item(k3::size);
    fill_k3(item.view(), rng, m.now(), module);
    t.write(numbered("/mnt/1/cfg/K3DataItemTmp_%u", module), item.bytes);

    Report rep(k3::size, hours);
    for (int i = 0; i < hours; ++i) fill_k3(rep.at(i), rng, m.at(i), module);
    t.write(numbered("/usr/sav/data/K3DataItemReport%u.txt", module), rep.bytes);

    Record en(k3_enable::size);
    en.u32(k3_enable::mask, 0x3F);
    for (unsigned i = 0; i < k3::outputs; ++i) {
      char label[64];
      std::snprintf(label, sizeof label, "%s (module %u)", labels[i], module);
      en.text(k3_enable::blocks + k3_enable::block_size * i, k3_enable::block_size, label);
    }
    en.u32(k3_enable::trailer, 3);
    t.write(numbered("/mnt/1/cfg/K3Enablecfg_%u", module), en.bytes);

    Record cfg(k3_cfg::size);
    for (unsigned j = 0; j < 40; ++j) cfg.u32(k3_cfg::small + 4 * j, (j * 7 + module) % 6);
    // Thresholds as an engineer types them (10.8 V, not 12 x 0.9f).
    static constexpr double nominal[k3::outputs] = {12.0, 12.0, 24.0, 24.0, 48.0, 48.0, 12.0, 5.0};
    for (unsigned i = 0; i < k3::outputs; ++i) {
      cfg.u32(k3_cfg::alarm_enabled + 4 * i, i < 6 ? 1 : 0);
      cfg.f32(k3_cfg::low_voltage + 4 * i, static_cast<float>(nominal[i] * 0.9));
      cfg.f32(k3_cfg::high_voltage + 4 * i, static_cast<float>(nominal[i] * 1.15));
      cfg.f32(k3_cfg::current_limit + 4 * i, 2.5f + 0.5f * static_cast<float>(i));
      cfg.f32(k3_cfg::restart_delay + 4 * i, 1.5f);
    }
    cfg.u32(k3_cfg::hundredths_1, 1250);
    cfg.u32(k3_cfg::hundredths_2, 1475);
    cfg.u32(k3_cfg::hundredths_3, 250);
    cfg.u32(k3_cfg::hundredths_4, static_cast<std::uint32_t>(-5));
    t.write(numbered("/mnt/1/cfg/K3cfg_%u", module), cfg.bytes);

    for (unsigned i = 0; i < k3::outputs; ++i) {
      ext.u32(k3_extends::table_1 + 32 * (module - 1) + 4 * i, 100 * (i + 1));
      ext.u32(k3_extends::table_2 + 32 * (module - 1) + 4 * i, 1000 + 10 * module + i);
    }
  }
  t.write("/mnt/1/k3_extends_data", ext.bytes);
}

void write_controller_settings(Tree& t, Rng& rng) {
  Record p(pwm::size);
  p.u32(pwm::fan_control, 1);
  p.u32(pwm::heater_control, 0);
  p.u16(pwm::word_1, 35);
  p.u32(pwm::web_word, 1);
  p.u32(pwm::setting, 60);
  p.u16(pwm::word_2, 80);
  t.write("/mnt/1/cfg/pwmcfg", p.bytes);

  Record a(assign::size);
  static constexpr const char* slots[] = {"Site PSU-07 North", "Supply voltage",      "Temperature sensor 1",
                                          "Battery room",      "Module current 1",    "Module current 2",
                                          "Load current",      "Ambient temperature", "Humidity",
                                          "Cabinet door",      "Smoke detector",      "Mains monitor",
                                          "Generator"};
  for (unsigned i = 0; i < sizeof slots / sizeof slots[0]; ++i)
    a.text(assign::slot_size * i, assign::slot_size, slots[i]);
  a.f32(assign::duration_hours, 1.5f);
  a.text(assign::block, 64, "Maintenance: call +49 30 1234 567");
  t.write("/mnt/1/cfg/mcuassigncfg", a.bytes);

  Record r(report::size);
  for (unsigned b = 0; b < 8; ++b) r.u8(report::controller_flags + b, b != 2);
  for (unsigned b = 0; b < 26; ++b) r.u8(report::lq_flags + b, (b % 3) != 2);
  for (unsigned b = 0; b < 30; ++b) r.u8(report::zrt_flags + b, (b % 4) != 3);
  for (unsigned b = 0; b < 10; ++b) r.u8(report::lq_flags_2 + b, b % 2);
  for (unsigned b = 0; b < 10; ++b) r.u8(report::zrt_flags_2 + b, (b + 1) % 2);
  r.u32(report::record_limit, 720);
  r.u32(report::report_word, 3);
  r.u32(report::report_event, 1);
  static constexpr float limits[10] = {56.5f, 43.2f, 60.0f, 5.0f, 45.0f, -5.0f, 80.0f, 20.0f, 30.0f, 2.5f};
  for (unsigned i = 0; i < 10; ++i) r.f32(report::limits + 4 * i, limits[i]);
  r.u8(report::last_byte, 1);
  t.write("/mnt/1/cfg/reportcfg", r.bytes);

  Record e(email::size);
  e.text(email::long_texts, 120, "smtp.example.net");
  e.text(email::long_texts + 120, 120, "psu-07@example.net");
  e.text(email::long_texts + 240, 120, "noc@example.net");
  e.text(email::long_texts + 360, 120, "field-service@example.net");
  e.text(email::short_texts, 60, "psu07");
  e.text(email::short_texts + 60, 60, "Smtp-2014!");
  e.text(email::short_texts + 120, 60, "PSU-07 North: alarm report");
  for (unsigned i = 0; i < 7; ++i) e.u32(email::events_a + 4 * i, i != 3);
  e.u32(email::module_byte, 2);
  e.u32(email::interval_code, 1 + rng.below(20));
  e.u32(email::option_a, 1);
  e.text(email::port_text, 12, "587");
  e.u32(email::option_b, 1);
  for (unsigned i = 0; i < 8; ++i) e.u32(email::events_b + 4 * i, i % 2 == 0);
  t.write("/mnt/1/cfg/emailcfg", e.bytes);

  Record lock(108);
  lock.u32(104, 300);
  t.write("/mnt/1/cfg/lockcfg", lock.bytes);
  Record remember(4);
  remember.u32(0, 1);
  t.write("/mnt/1/cfg/rememberusrcfg", remember.bytes);
}

void write_network_settings(Tree& t, Rng& rng) {
  char ip_tail[8];
  std::snprintf(ip_tail, sizeof ip_tail, "%u", 20 + rng.below(200));
  std::string ip = std::string("192.168.10.") + ip_tail;
  std::string ipcfg = ip + "\n" +
                      "255.255.255.0\n"
                      "192.168.10.1\n"
                      "192.168.10.2\n"
                      "8.8.8.8\n"
                      "psu07-north\n"
                      "site-north.example.net\n"
                      "0\n"
                      "80\n"
                      "161\n"
                      "static\n"
                      "Enable HTTP\n"
                      "https://psu07-north.example.net/\n"
                      "443 https://psu07-north.example.net:443/\n"
                      "syslog.example.net\n"
                      "/var/log/psu\n"
                      "ops@example.net\n"
                      "514\n";
  t.write_text("/mnt/1/cfg/ipcfg", ipcfg);

  std::string snmpd =
      "COMMUNITY: public\n"
      "LOCATION: Rack 4 Cabinet B\n"
      "TRAP_TYEP: Inform\n"
      "USER_CONTACT: noc@example.net\n"
      "NAME: psu07-north\n"
      "SEC_NAME: monitor public\n"
      "SEC_NAME: operator opSecret7\n"
      "V3_USR: snmpadmin authPass2014\n"
      "V3_USR: reader readPass2014\n"
      "Addr_snmp: 192.168.10.5 162\n"
      "Addr_snmp: fd00::5 162\n";
  t.write_text("/mnt/1/cfg/snmpdcfg", snmpd);
  std::uint8_t trap_version = 2;
  t.write("/mnt/1/cfg/trapvercfg", &trap_version, 1);
  Record se(50);
  se.text(0, 32, "private");
  t.write("/mnt/1/cfg/snmpcfgse", se.bytes);

  Record ntp(204);
  ntp.text(0, 100, "pool.ntp.org");
  ntp.text(100, 100, "time.example.net");
  t.write("/mnt/1/cfg/NtpServercfg", ntp.bytes);

  Record msm(112);
  msm.text(0, 32, "msm.example.net");
  msm.u32(32, 8883);
  msm.u8(36, 1);
  msm.u32(40, 60);
  msm.text(44, 64, "msm-eu.example.net");
  msm.u32(108, 300);
  t.write("/mnt/1/cfg/msmcfg", msm.bytes);
  t.write("/usr/sav/cfg/msmcfg", msm.bytes);

  Record vpn(304);
  vpn.text(0, 100, "vpn.example.net");
  vpn.text(100, 100, "psu07");
  vpn.text(200, 100, "Vpn-Secret-07");
  vpn.u32(300, 1);
  t.write("/mnt/1/cfg/vpnservercfg", vpn.bytes);

  Record v6(720);
  v6.u32(8, 1);
  v6.text(12, 64, "fd00:10::50/64");
  v6.text(76, 64, "fd00:10::1");
  v6.text(140, 64, "fd00:10::2");
  v6.u8(204, 1);
  t.write("/usr/sav/ipv6_configuration", v6.bytes);

  // A made-up certificate: texts, two blocks and a body of base64 lines.
  Record cert(1500);
  cert.text(0, 32, "psu07-north.example.net");
  cert.text(100, 100, "CN=psu07-north.example.net,O=Example Power,C=DE");
  cert.u32(200, 1);
  cert.u32(204, 2048);
  cert.u32(208, 365);
  cert.text(212, 128, "sha256WithRSAEncryption");
  cert.text(340, 128, "Example Power Device CA");
  static constexpr char b64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string body = "-----BEGIN CERTIFICATE-----\n";
  while (body.size() < 900) {
    for (int i = 0; i < 64; ++i) body += b64[rng.below(64)];
    body += '\n';
  }
  body += "-----END CERTIFICATE-----\n";
  cert.text(468, 1024, body);
  cert.u32(1492, 1);
  cert.u32(1496, 0);
  t.write("/mnt/1/cfg/certificate", cert.bytes);

  Record wpa(1252);
  wpa.text(0, 64, "psu07-north");
  wpa.u8(64, 1);
  wpa.text(65, 64, "PEAP");
  wpa.u8(129, 2);
  static constexpr const char* texts[] = {"MSCHAPV2", "psu07@example.net", "Radius-Secret-7", "/etc/ca.pem"};
  for (unsigned n = 0; n < 4; ++n) wpa.text(130 + 64 * n, 64, texts[n]);
  wpa.u8(1218, 1);
  wpa.u8(1219, 0);
  wpa.u8(1220, 1);
  wpa.u32(1228, 30);
  wpa.u32(1232, 3);
  wpa.u32(1236, 60);
  wpa.u32(1244, 1812);
  wpa.u8(1248, 1);
  t.write("/mnt/1/cfg/wpacfg", wpa.bytes);

  std::string auth =
      "# web accounts: name, password, group, role\n"
      "WS_USR    : admin Adm1n-2014 0 admin\n"
      "WS_USR    : operator Op-North-7 1 manager\n"
      "WS_USR    : guest guest 2 viewer\n";
  t.write_text("/mnt/1/cfg/authcfg", auth);
  Record level(4);
  level.u32(0, 2);
  t.write("/mnt/1/cfg/pwdlevelcfg", level.bytes);
}

void write_system_files(Tree& t, const Moments& m) {
  t.write_text("/mnt/2/tools/sysver", "VERS 4.12.3 build 2014-11-20\n");
  static constexpr const char* daemons[] = {
      "/mnt/2/snmp/sbin/snmpd",       "/mnt/2/snmp/sbin/vq4-demon", "/mnt/2/snmp/sbin/snmp-system",
      "/mnt/2/tools/tcpclientremote", "/mnt/2/tools/spi",           "/mnt/2/tools/lanudpclient",
      "/mnt/2/tools/lantcpclient",    "/mnt/2/tools/tcpclient_psia"};
  for (const char* d : daemons)
    t.write_text(
        d, "#!/bin/sh\n# stand-in for an old daemon of the legacy firmware\nwhile :; do sleep 60; done\n",
        true);

  t.write_text("/mnt/1/etc/hosts", "127.0.0.1 localhost\n192.168.10.1 gateway\n");
  t.write_text("/mnt/1/etc/resolv.conf", "nameserver 192.168.10.2\nnameserver 8.8.8.8\n");
  t.write_text("/mnt/1/etc/TZ", "CET-1CEST,M3.5.0,M10.5.0/3\n");

  std::string log = "firmware 4.10.1 installed " + legacy_time_text(m.at(0) - 86400 * 200) + "\n" +
                    "firmware 4.12.3 installed " + legacy_time_text(m.at(0) - 86400 * 30) + "\n";
  t.write_text("/usr/sav/update_log", log);
  std::string logins;
  for (int i = 0; i < 5; ++i)
    logins +=
        (i % 2 ? "operator " : "admin ") + legacy_time_text(m.at(hours - 1 - 150 * i)) + " 192.168.10.5\n";
  t.write_text("/usr/sav/data/userlogindata.txt", logins);

  // The second live tree: an update in progress survives the migration, the
  // rest is replaced.
  t.write_text("/usr/sav2/update/status", "pending\n");
  t.write_text("/usr/sav2/update_flag", "1\n");
  t.write_text("/usr/sav2/data/stale", "left by the old firmware\n");
  t.make_dirs("/usr/sav3");
  t.make_dirs("/mnt/data");
}

}  // namespace

int write_sample_device(const char* root, std::uint64_t seed) {
  Tree t;
  t.root = root;
  while (t.root.size() > 1 && t.root.back() == '/') t.root.pop_back();
  if (mkdir(t.root.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "sav3-sample: cannot create %s: %s\n", root, std::strerror(errno));
    return 1;
  }
  Rng rng{seed};
  // Report record 0 is an hour in 2014 picked by the seed; one record an hour after it.
  const std::int64_t jan_6_2014 = 1388966400;  // a Monday, 00:00
  Moments m{jan_6_2014 + std::int64_t{86400} * rng.below(300) + 3600 * 7 + 60 * rng.below(60) +
            rng.below(60)};

  write_display(t);
  write_controller(t, rng, m);
  write_supply_modules(t, rng, m);
  write_supply_settings(t, rng, "/mnt/1/cfg/progcfg", "/mnt/1/cfg/batterywarningcfg", 2013);
  write_supply_settings(t, rng, "/mnt/1/cfg/zrtprogcfg", "/mnt/1/cfg/zrtbatterywarningcfg", 2014);
  write_k3_modules(t, rng, m);
  write_controller_settings(t, rng);
  write_network_settings(t, rng);
  write_system_files(t, m);
  return t.ok ? 0 : 1;
}

}  // namespace sav3::sample
