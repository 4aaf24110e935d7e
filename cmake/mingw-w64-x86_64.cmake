# Cross-compiles for 64-bit Windows with MinGW-w64's posix-thread compilers
# (the win32-thread ones lack std::thread).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-target.cmake)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
