# Cross-build for 64-bit Windows with Debian's mingw-w64 toolchain.
#
# The -posix compilers are named explicitly: the unsuffixed names point at the
# -win32 thread model, which lacks std::thread and std::mutex (GoogleTest
# needs them). Everything is linked statically so the executables import only
# system DLLs. Tests run under wine through cmake/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# mingw checks printf formats against its own printf; a mismatch is an error.
set(CMAKE_CXX_FLAGS_INIT "-Werror=format")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run --prefix ${CMAKE_BINARY_DIR}/wineprefix)

# Libraries found in the find root are linked statically (libz.a, not the
# import library of zlib1.dll).
set(ZLIB_USE_STATIC_LIBS ON)
