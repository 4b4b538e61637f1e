# The Linux backend of the platform seam: libusb-1.0 for the WinUSB role,
# hidraw for the HID role.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)
file(GLOB linux_platform_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/linux/*.cpp)
add_library(ft_platform_linux STATIC ${linux_platform_sources})
target_link_libraries(ft_platform_linux PUBLIC ft_platform PkgConfig::LIBUSB)
add_library(ft_platform_native ALIAS ft_platform_linux)

# Where udev reads the installed rule from. An absolute path, whatever the
# install prefix (udev reads rules from a few fixed directories only, none
# under /opt or a home directory); DESTDIR
# still applies. The permission hint names the file there.
set(FLASH_TOOL_UDEV_RULES_DIR "/usr/lib/udev/rules.d" CACHE PATH
    "Directory the udev rule is installed into (absolute; udev must read it)")
target_compile_definitions(ft_platform_linux PRIVATE
    FLASH_TOOL_UDEV_RULE="${FLASH_TOOL_UDEV_RULES_DIR}/70-flash-tool.rules")
