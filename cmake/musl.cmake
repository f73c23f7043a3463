# A build against musl (Debian's musl-dev) with the GNU compiler, included by
# the musl targets' toolchain files after SAV3_MUSL_TRIPLET (musl's folder
# names under /usr/include and /usr/lib) is set; the compiler is already
# chosen (the host's, or a cross compiler).
#
# Debian has no C++ standard library built for musl. The tool and the
# inspector use no exceptions, iostreams, locales or heap, so they need only
# the header-only parts of libstdc++: its headers are put before musl's, and
# the C driver links (no -lstdc++), so that a call into the glibc build of
# libstdc++ fails the link instead of linking glibc code in. The names that
# libstdc++'s glibc configuration takes from glibc: musl-glibc-names.h.
set(SAV3_MUSL ON)
set(sav3_musl_specs /usr/lib/${SAV3_MUSL_TRIPLET}/musl-gcc.specs)
if(NOT EXISTS ${sav3_musl_specs})
  message(FATAL_ERROR "no ${sav3_musl_specs}: install musl-dev for this target (scripts/packages.sh)")
endif()
if(SAV3_TRIPLET)
  set(sav3_gnu_triplet ${SAV3_TRIPLET})
  set(sav3_cxx ${SAV3_TRIPLET}-g++)
  set(sav3_cc ${SAV3_TRIPLET}-gcc)
else()
  set(sav3_cxx g++)
  set(sav3_cc gcc)
  execute_process(COMMAND ${sav3_cxx} -dumpmachine OUTPUT_VARIABLE sav3_gnu_triplet OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
execute_process(COMMAND ${sav3_cxx} -dumpversion OUTPUT_VARIABLE sav3_gcc_version OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${sav3_cxx} -print-file-name=include OUTPUT_VARIABLE sav3_gcc_include
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(SAV3_TRIPLET)
  set(sav3_cxx_include /usr/${SAV3_TRIPLET}/include/c++/${sav3_gcc_version})
  set(sav3_cxx_target_include ${sav3_cxx_include}/${SAV3_TRIPLET})
else()
  set(sav3_cxx_include /usr/include/c++/${sav3_gcc_version})
  set(sav3_cxx_target_include /usr/include/${sav3_gnu_triplet}/c++/${sav3_gcc_version})
endif()
# musl's headers need the kernel's (linux/, asm/) beside them; Debian ships
# them with glibc's: a folder of links to those three alone.
if(SAV3_TRIPLET)
  set(sav3_kernel_include /usr/${SAV3_TRIPLET}/include)
  set(sav3_kernel_asm /usr/${SAV3_TRIPLET}/include/asm)
else()
  set(sav3_kernel_include /usr/include)
  set(sav3_kernel_asm /usr/include/${sav3_gnu_triplet}/asm)
endif()
set(sav3_kernel_headers ${CMAKE_BINARY_DIR}/kernel-headers)
file(MAKE_DIRECTORY ${sav3_kernel_headers})
foreach(link linux:${sav3_kernel_include}/linux asm-generic:${sav3_kernel_include}/asm-generic asm:${sav3_kernel_asm})
  string(REPLACE ":" ";" link ${link})
  list(GET link 0 name)
  list(GET link 1 target)
  if(NOT EXISTS ${sav3_kernel_headers}/${name})
    file(CREATE_LINK ${target} ${sav3_kernel_headers}/${name} SYMBOLIC)
  endif()
endforeach()
string(JOIN " " sav3_musl_compile -fno-threadsafe-statics -nostdinc
       "-isystem ${sav3_cxx_include}" "-isystem ${sav3_cxx_target_include}" "-isystem /usr/include/${SAV3_MUSL_TRIPLET}" "-isystem ${sav3_kernel_headers}"
       "-isystem ${sav3_gcc_include}" "-include ${CMAKE_CURRENT_LIST_DIR}/musl-glibc-names.h")
set(CMAKE_CXX_FLAGS_INIT "${sav3_musl_compile}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -specs=${sav3_musl_specs}")
set(CMAKE_CXX_LINK_EXECUTABLE
    "${sav3_cc} <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
