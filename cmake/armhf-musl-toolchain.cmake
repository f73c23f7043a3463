# The controller board's build against musl (Debian's musl-dev:armhf): the
# armhf cross compiler with musl's headers and libraries, static.
include(${CMAKE_CURRENT_LIST_DIR}/armhf-toolchain.cmake)
set(SAV3_TARGET armhf-musl)
set(SAV3_MUSL_TRIPLET arm-linux-musleabihf)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
