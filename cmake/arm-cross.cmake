# What every 32-bit ARM build shares (included by the targets' toolchain
# files, which set SAV3_TRIPLET to the Debian cross compiler's prefix).
# Everything links statically so that the tool (and the unit tests) run in a
# bare root file system and under qemu-arm-static.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER ${SAV3_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${SAV3_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${SAV3_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The 64-bit time_t comes from the build itself (CMakeLists.txt), for every
# target.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests (and the discovery of the GoogleTest cases) run under user-mode qemu.
# The binaries are static, so qemu needs no -L prefix (which would also make
# it look for every absolute path under the prefix first). SAV3_QEMU_CPU
# names the emulated core (the newest by default).
find_program(SAV3_QEMU_ARM qemu-arm-static REQUIRED)
if(SAV3_QEMU_CPU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SAV3_QEMU_ARM} -cpu ${SAV3_QEMU_CPU})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SAV3_QEMU_ARM})
endif()
