/* Included first in every C++ file of a musl build (cmake/musl.cmake).
 * Debian's libstdc++ headers were configured for glibc and take two names
 * from it that musl lacks: the version test (no glibc, so every answer is
 * no) and the locale type (musl's own under glibc's name). The tool calls
 * nothing of libstdc++'s locales; the link would fail if it did. */
#define __GLIBC_PREREQ(major, minor) 0
#include <locale.h>
typedef locale_t __locale_t;
