# Cross build for the controller board: ARMv7-A with VFPv3 (armhf), Debian's
# g++-arm-linux-gnueabihf, static against its glibc.
set(SAV3_TARGET armhf)
set(SAV3_TRIPLET arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/arm-cross.cmake)
