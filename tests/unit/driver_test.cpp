#include "sav3/driver.h"

#include <string>
#include <vector>

#include "scratch_device.h"

namespace sav3::testing {
namespace {

std::vector<std::string> g_commands;
int record_command(const char* command) {
  g_commands.emplace_back(command);
  return 0;
}

// A run changes into /usr/sav2 before emptying it; every test goes back to
// where it started, so no later test works inside a deleted scratch tree.
class Driver : public ScratchDevice {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(start_dir_, sizeof start_dir_), nullptr);
    ScratchDevice::SetUp();
    g_commands.clear();
  }
  void TearDown() override {
    ASSERT_EQ(chdir(start_dir_), 0);
    ScratchDevice::TearDown();
  }
  char start_dir_[4096] = {};
};

const std::vector<std::string> opening = {
    "rm /mnt/2/snmp/sbin/snmpd",
    "rm /mnt/2/snmp/sbin/vq4-demon",
    "rm  /mnt/2/snmp/sbin/snmp-system",
    "rm /mnt/2/tools/tcpclientremote",
    "rm /mnt/2/tools/spi",
    "rm /mnt/2/tools/lanudpclient",
    "rm /mnt/2/tools/lantcpclient",
    "rm /mnt/2/tools/tcpclient_psia",
    "ps | grep /mnt/2/snmp/sbin/snmpd | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/snmp/sbin/vq4-demon | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/snmp/sbin/snmp-system | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/tools/tcpclientremote | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/tools/spi | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/tools/lanudpclient | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/tools/lantcpclient | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep /mnt/2/tools/tcpclient_psia | grep -v grep | awk '{print $1}' | xargs kill -9",
    "ps | grep dhclient | grep -v grep | awk '{print $1}' | xargs kill -9",
    "rm -rf /usr/sav3/*",
    "mkdir /usr/sav3/data",
    "mkdir /usr/sav3/cfg",
    "mkdir /usr/sav3/etc",
    "mkdir /usr/sav3/history",
    "cp /mnt/1/cfg/* /usr/sav3/cfg/",
    "cp /mnt/1/etc/* /usr/sav3/etc/",
    "cp /usr/sav/update_log /usr/sav3/",
    "cp /usr/sav/data/userlogindata.txt /usr/sav3/data/",
};
const std::vector<std::string> closing = {
    "rm -rf /usr/sav/*",
    "find /usr/sav2/ | grep -v update | awk 'NR!=1' | xargs rm -rf",
    "cp -rf /usr/sav3/* /usr/sav/",
    "cp -rf /usr/sav3/* /usr/sav2/",
};

TEST_F(Driver, MarkerPresentDoesNothing) {
  put_text_file(path::marker, "");
  EXPECT_EQ(run_migration(record_command), 0);
  EXPECT_TRUE(g_commands.empty());
  EXPECT_FALSE(exists(path::inventory));
}

TEST_F(Driver, NormalRunIssuesThe30CommandsAndConverts) {
  ASSERT_EQ(retire_and_rebuild_commands().size(), 26u);
  EXPECT_EQ(run_migration(record_command), 0);
  std::vector<std::string> expected = opening;
  expected.insert(expected.end(), closing.begin(), closing.end());
  EXPECT_EQ(g_commands, expected);
  headed_payload(path::inventory, 38, 1);
}

TEST_F(Driver, MissingStagingTreeKeepsTheLiveTrees) {
  std::filesystem::remove_all(host("/usr/sav3"));
  EXPECT_EQ(run_migration(record_command), 0);
  EXPECT_EQ(g_commands, opening);
}

TEST_F(Driver, MissingStagingFolderKeepsTheLiveTrees) {
  std::filesystem::remove_all(host("/usr/sav3/history"));
  EXPECT_EQ(run_migration(record_command), 0);
  EXPECT_EQ(g_commands, opening);
}

TEST_F(Driver, FailedConversionKeepsTheLiveTrees) {
  // The inventory cannot be written: its path is taken by a folder.
  std::filesystem::create_directories(host(path::inventory));
  EXPECT_EQ(run_migration(record_command), 0);
  EXPECT_EQ(g_commands, opening);
}

TEST_F(Driver, Sav2IsEmptiedFromInsideIt) {
  run_migration(record_command);
  char during[4096];
  ASSERT_NE(getcwd(during, sizeof during), nullptr);
  EXPECT_EQ(std::filesystem::canonical(during), std::filesystem::canonical(host("/usr/sav2")));
  ASSERT_EQ(chdir(start_dir_), 0);

  // Without /usr/sav2 the emptying command is skipped, the copies still run.
  g_commands.clear();
  std::filesystem::remove_all(host("/usr/sav2"));
  run_migration(record_command);
  ASSERT_EQ(g_commands.size(), 29u);
  EXPECT_EQ(g_commands[26], closing[0]);
  EXPECT_EQ(g_commands[27], closing[2]);
}

}  // namespace
}  // namespace sav3::testing
