// The legacy controller record: 248 bytes of the controller's readings, kept
// once as the current item record and 1000 times as the controller report (the
// log). Record i of every module's legacy report belongs to the moment held in
// record i of the controller report.
#pragma once

#include <cstddef>

namespace sav3 {

inline constexpr int history_records = 1000;  // records of every legacy report and new history

namespace controller_record {
inline constexpr int size = 248;
inline constexpr char item_path[] = "/mnt/1/cfg/MCUDataItemTmp_1.txt";         // one record
inline constexpr char report_path[] = "/usr/sav/data/MCUDataItemReport1.txt";  // history_records records
inline constexpr std::size_t time_text = 0;                                    // "%a %b %d %Y %X", local time

// The six float32 readings, in their legacy order.
inline constexpr std::size_t reading_a = 48;
inline constexpr std::size_t reading_b = 52;
inline constexpr std::size_t reading_c = 56;
inline constexpr std::size_t reading_d = 60;
inline constexpr std::size_t reading_e = 64;
inline constexpr std::size_t reading_f = 68;
inline constexpr std::size_t state_word = 76;  // "Active" when running
inline constexpr std::size_t switch_1 = 96;    // "ON" with its NUL right after
inline constexpr std::size_t switch_2 = 106;
inline constexpr std::size_t tenths = 244;  // float32, one decimal

// The row of legacy alarm bytes.
inline constexpr std::size_t alarm_a = 213;       // controller alarm bits A
inline constexpr std::size_t alarm_b = 214;       // controller alarm bits B
inline constexpr std::size_t alarm_supply = 215;  // + n - 1: the n-th LQ/ZRT module (n = 1, 2)
inline constexpr std::size_t alarm_k3 = 218;      // + 8 (k - 1) + j: output j of the k-th K3 module
inline constexpr std::size_t alarm_k3_stride = 8;
inline constexpr std::size_t alarm_shared = 242;  // shared alarm bits D
}  // namespace controller_record

}  // namespace sav3
