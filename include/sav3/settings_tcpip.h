// The TCP/IP settings record "/usr/sav3/cfg/tcp_ip" and the legacy records it
// is gathered from.
//
// The network text file "/mnt/1/cfg/ipcfg" has no keys: each setting is known
// only by its line number, so the new fields are named after those lines.
#pragma once

#include <cstddef>

#include "sav3/layout.h"

namespace sav3 {

namespace tcpip {
inline constexpr char path[] = "/usr/sav3/cfg/tcp_ip";
inline constexpr int record_size = 1066;

inline constexpr Field line7{"network line 7", 0, 60, Kind::text};
inline constexpr Field reserved_60{"reserved at 60", 60, 4, Kind::reserved};
inline constexpr Field line1{"network line 1", 64, 16, Kind::text};
inline constexpr Field line2{"network line 2", 80, 16, Kind::text};
inline constexpr Field line3{"network line 3", 96, 16, Kind::text};
inline constexpr Field line4{"network line 4", 112, 16, Kind::text};
inline constexpr Field line5{"network line 5", 128, 16, Kind::text};
inline constexpr Field line13{"network line 13", 144, 60, Kind::text};
inline constexpr Field reserved_204{"reserved at 204", 204, 4, Kind::reserved};
inline constexpr Field line14_head{"network line 14, first 4 bytes", 208, 4, Kind::text};
inline constexpr Field line14{"network line 14", 212, 60, Kind::text};
inline constexpr Field reserved_272{"reserved at 272", 272, 4, Kind::reserved};
inline constexpr Field line15{"network line 15", 276, 60, Kind::text};
inline constexpr Field reserved_336{"reserved at 336", 336, 4, Kind::reserved};
inline constexpr Field line16{"network line 16", 340, 60, Kind::text};
inline constexpr Field reserved_400{"reserved at 400", 400, 4, Kind::reserved};
inline constexpr Field line17{"network line 17", 404, 60, Kind::text};
inline constexpr Field reserved_464{"reserved at 464", 464, 4, Kind::reserved};
inline constexpr Field line6{"network line 6", 468, 30, Kind::text};
inline constexpr Field reserved_498{"reserved at 498", 498, 2, Kind::reserved};
inline constexpr Field line9{"network line 9", 500, 6, Kind::text};
inline constexpr Field line18{"network line 18", 506, 6, Kind::text};
inline constexpr Field http_flag{"HTTP flag (line 12 not \"Enable HTTP\")", 512, 1, Kind::u8};
inline constexpr Field line8_number{"network line 8 number", 513, 1, Kind::u8};
inline constexpr Field reserved_514{"reserved at 514", 514, 1, Kind::reserved};
inline constexpr Field ntp_server1{"first NTP server", 515, 64, Kind::text};
inline constexpr Field ntp_server2{"second NTP server", 579, 64, Kind::text};
inline constexpr Field reserved_643{"reserved at 643", 643, 7, Kind::reserved};
inline constexpr Field msm_server{"msm server", 650, 64, Kind::text};
inline constexpr Field msm_number_a{"msm number A", 714, 6, Kind::text};
inline constexpr Field vpn_option{"VPN option", 720, 1, Kind::u8};
inline constexpr Field reserved_721{"reserved at 721", 721, 1, Kind::reserved};
inline constexpr Field vpn_text1{"VPN text 1", 722, 64, Kind::text};
inline constexpr Field reserved_786{"reserved at 786", 786, 6, Kind::reserved};
inline constexpr Field vpn_text2{"VPN text 2", 792, 32, Kind::text};
inline constexpr Field vpn_text3{"VPN text 3", 824, 32, Kind::secret};  // the VPN password
inline constexpr Field ipv6_option{"IPv6 option", 856, 1, Kind::u8};
inline constexpr Field ipv6_word{"IPv6 word", 857, 4, Kind::u32};
inline constexpr Field ipv6_block1{"IPv6 block 1", 861, 64, Kind::bytes};
inline constexpr Field ipv6_block2{"IPv6 block 2", 925, 64, Kind::bytes};
inline constexpr Field ipv6_block3{"IPv6 block 3", 989, 64, Kind::bytes};
inline constexpr Field msm_option{"msm option", 1053, 1, Kind::u8};
inline constexpr Field msm_number_b{"msm number B", 1054, 6, Kind::text};
inline constexpr Field msm_number_c{"msm number C", 1060, 6, Kind::text};

inline constexpr Field fields[] = {
    line7,        reserved_60,  line1,        line2,        line3,        line4,        line5,
    line13,       reserved_204, line14_head,  line14,       reserved_272, line15,       reserved_336,
    line16,       reserved_400, line17,       reserved_464, line6,        reserved_498, line9,
    line18,       http_flag,    line8_number, reserved_514, ntp_server1,  ntp_server2,  reserved_643,
    msm_server,   msm_number_a, vpn_option,   reserved_721, vpn_text1,    reserved_786, vpn_text2,
    vpn_text3,    ipv6_option,  ipv6_word,    ipv6_block1,  ipv6_block2,  ipv6_block3,  msm_option,
    msm_number_b, msm_number_c};
static_assert(fields_tile(fields, record_size));
inline constexpr RecordLayout layout{"TCP/IP settings", record_size, fields};
}  // namespace tcpip

// The positional network text file, read line by line into a 128-byte buffer.
namespace legacy_ipcfg {
inline constexpr char path[] = "/mnt/1/cfg/ipcfg";
inline constexpr int line_buffer_size = 128;
inline constexpr int lines_read = 18;
}  // namespace legacy_ipcfg

namespace legacy_ntp {
inline constexpr char path[] = "/mnt/1/cfg/NtpServercfg";
inline constexpr int record_size = 204;
inline constexpr std::size_t server1 = 0;
inline constexpr std::size_t server2 = 100;
}  // namespace legacy_ntp

// The msm record: a short and a long server text, three numbers and an option
// byte. The copy under /usr/sav is the fallback for an unusable server text.
namespace legacy_msm {
inline constexpr char path[] = "/mnt/1/cfg/msmcfg";
inline constexpr char fallback_path[] = "/usr/sav/cfg/msmcfg";
inline constexpr int record_size = 112;
inline constexpr std::size_t short_server = 0;
inline constexpr std::size_t number_a = 32;
inline constexpr std::size_t option = 36;
inline constexpr std::size_t number_b = 40;
inline constexpr std::size_t long_server = 44;
inline constexpr std::size_t number_c = 108;
}  // namespace legacy_msm

namespace legacy_vpn {
inline constexpr char path[] = "/mnt/1/cfg/vpnservercfg";
inline constexpr int record_size = 304;
inline constexpr std::size_t text1 = 0;
inline constexpr std::size_t text2 = 100;
inline constexpr std::size_t text3 = 200;
inline constexpr std::size_t option_word = 300;
}  // namespace legacy_vpn

namespace legacy_ipv6 {
inline constexpr char path[] = "/usr/sav/ipv6_configuration";
inline constexpr int record_size = 720;
inline constexpr std::size_t word = 8;
inline constexpr std::size_t block1 = 12;
inline constexpr std::size_t block2 = 76;
inline constexpr std::size_t block3 = 140;
inline constexpr std::size_t block_size = 64;
inline constexpr std::size_t option = 204;
}  // namespace legacy_ipv6

// Gathers the network settings into "/usr/sav3/cfg/tcp_ip"; returns the
// write's result code.
int convert_tcpip_settings();

}  // namespace sav3
