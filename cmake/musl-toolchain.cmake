# The host's build against musl (Debian's musl-tools and musl-dev): the same
# processor, another C library, static.
set(SAV3_TARGET musl)
set(SAV3_MUSL_TRIPLET x86_64-linux-musl)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
