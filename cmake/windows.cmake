# Windows-only parts of the build (cross-built with mingw-w64, see
# cmake/mingw-w64-x86_64.cmake).

# The Windows backend of the platform seam. Its import libraries are linked
# through ft_platform_native only, so the backend tests can link their own
# definitions of the WinUSB, SetupAPI and HID functions instead.
ft_module(ft_platform_windows src/platform/windows ft_platform)
add_library(ft_platform_native INTERFACE)
target_link_libraries(ft_platform_native INTERFACE ft_platform_windows winusb setupapi hid)

# GoogleTest is built from source with the cross compiler: the host's
# libraries are of no use here, and its CMake package would pull glibc
# headers into the Windows build.
if(FLASH_TOOL_TESTS)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
