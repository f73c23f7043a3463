# Cross build for the older controllers: ARMv5TE without a floating-point
# unit (armel, soft float), Debian's g++-arm-linux-gnueabi, static against
# its glibc. The compiler's defaults are spelled out, so that a newer Debian
# default cannot raise the CPU the tool needs.
set(SAV3_TARGET armel)
set(SAV3_TRIPLET arm-linux-gnueabi)
set(CMAKE_C_FLAGS_INIT "-march=armv5te -marm -mfloat-abi=soft")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -marm -mfloat-abi=soft")
# The tests run on an emulated ARMv5TE core without an FPU, as the sandbox
# runs the tool (scripts/sandbox.sh).
set(SAV3_QEMU_CPU arm926)
include(${CMAKE_CURRENT_LIST_DIR}/arm-cross.cmake)
