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
inline constexpr char item_path[] = "/mnt/1/cfg/MCUDataItemTmp_1.txt";      // one record
inline constexpr char report_path[] = "/usr/sav/data/MCUDataItemReport1.txt";  // history_records records
inline constexpr std::size_t time_text = 0;  // "%a %b %d %Y %X", local time
}  // namespace controller_record

}  // namespace sav3
