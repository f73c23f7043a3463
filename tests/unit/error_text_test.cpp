// The error texts of the log lines: the tool's own table, glibc's words.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "sav3/system_log.h"

namespace sav3::testing {
namespace {

// The unit tests run on glibc builds: every text of the table is glibc's, so
// that a musl or uClibc-ng build logs the same lines.
TEST(LogNames, ErrorTextsAreGlibcsWhateverTheLibrary) {
  int listed = 0;
  for (int error = 0; error < 256; ++error) {
    const std::string text = error_message(error);
    if (text == "error " + std::to_string(error)) continue;
    ++listed;
    EXPECT_EQ(text, std::strerror(error)) << error;
  }
  EXPECT_GT(listed, 40);
  EXPECT_STREQ(error_message(EIO), "Input/output error");
  EXPECT_STREQ(error_message(EUCLEAN), "Structure needs cleaning");
  EXPECT_EQ(std::string(error_message(EHOSTUNREACH)), "error " + std::to_string(EHOSTUNREACH));
  EXPECT_STREQ(error_message(-1), "error -1");
  EXPECT_STREQ(error_text(ENOENT).text, "No such file or directory");
}

}  // namespace
}  // namespace sav3::testing
