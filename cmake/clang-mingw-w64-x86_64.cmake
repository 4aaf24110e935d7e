# Cross-compiles for 64-bit Windows with Debian's clang and lld, against the
# MinGW-w64 headers and import libraries and the C++ library of MinGW's
# posix-thread GCC (clang does not find that one by itself).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-target.cmake)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})

file(GLOB _gcc_dirs /usr/lib/gcc/${TOOLCHAIN_PREFIX}/*-posix)
list(SORT _gcc_dirs)
list(GET _gcc_dirs -1 _gcc)
set(_cxx ${_gcc}/include/c++)
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc++ -isystem ${_cxx} -isystem ${_cxx}/${TOOLCHAIN_PREFIX} -isystem ${_cxx}/backward -Wno-unused-command-line-argument")
# lld finds archive members in any order, so winpthreads (std::thread) can
# come before the C++ library that needs it.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-fuse-ld=lld -L${_gcc} -lpthread -Wno-unused-command-line-argument")
