# Windows-only parts of the build (cross-built with mingw-w64, see
# cmake/mingw-w64-x86_64.cmake).

# The Windows backend of the platform seam. Its import libraries are linked
# through ft_platform_native only, so the backend tests can link their own
# definitions of the WinUSB, SetupAPI and HID functions instead.
ft_module(ft_platform_windows src/platform/windows ft_platform)
add_library(ft_platform_native INTERFACE)
target_link_libraries(ft_platform_native INTERFACE ft_platform_windows winusb setupapi cfgmgr32 hid)

# GoogleTest is built from source with the cross compiler: the host's
# libraries are of no use here, and its CMake package would pull glibc
# headers into the Windows build.
if(FLASH_TOOL_TESTS)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

# The Windows backend against test doubles of the WinUSB, SetupAPI, HID and
# kernel32 device calls (tests/windows/fake_win32.cpp), which are backed by
# the simulator's device models. The doubles take the place of the import
# libraries, so ft_platform_native is not linked here.
if(FLASH_TOOL_TESTS)
    file(GLOB windows_test_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/*.cpp)
    add_executable(ft_windows_tests ${windows_test_sources})
    target_include_directories(ft_windows_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(ft_windows_tests PRIVATE ft_platform_windows ft_frontend ft_sim GTest::gtest_main
                          GTest::gmock)
    add_test(NAME ft_windows_tests COMMAND ft_windows_tests)
endif()
