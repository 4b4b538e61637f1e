# Packages of the tool, made by CPack (scripts/package): a Debian package
# from the Linux build, a zip from the Windows build.
set(CPACK_PACKAGE_NAME flash-tool)
set(CPACK_PACKAGE_VENDOR Korvix)
include(${CMAKE_CURRENT_LIST_DIR}/package_version.cmake)
ft_package_version(${PROJECT_VERSION} CPACK_PACKAGE_VERSION)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware upgrade tool for Korvix USB touch controllers")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
    # flash-tool.exe at the top of the zip, beside the README and the docs.
    install(TARGETS flash-tool RUNTIME DESTINATION .)
    install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION docs)
    # The man page as plain text beside them, rendered when the zip is made:
    # Windows has no man.
    find_program(GROFF groff)
    install(CODE "
if(NOT EXISTS \"${GROFF}\")
    message(FATAL_ERROR \"groff (Debian package groff-base) renders the man page for the zip\")
endif()
execute_process(COMMAND \"${GROFF}\" -man -Tascii -P-cbou \"${CMAKE_SOURCE_DIR}/docs/flash-tool.1\"
                OUTPUT_FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/flash-tool.txt\" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR \"groff failed to render the man page: \${status}\")
endif()")
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME windows-x86_64)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    # Name and address, as Debian's Maintainer field takes them (RFC 822).
    set(FLASH_TOOL_MAINTAINER "flash-tool maintainers <flash-tool@example.org>" CACHE STRING
        "Maintainer of the Debian package: \"Name <address>\"")
    if(NOT FLASH_TOOL_MAINTAINER MATCHES "^[^<>@]+ <[^<>@ ]+@[^<>@ ]+>$")
        message(FATAL_ERROR "FLASH_TOOL_MAINTAINER must read \"Name <address>\", not: ${FLASH_TOOL_MAINTAINER}")
    endif()
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${FLASH_TOOL_MAINTAINER})
    # A Debian revision makes the package non-native, as its changelog's
    # name (changelog.Debian.gz) says: 1.0.0+3.gf4686c7-1.
    set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
    include(${CMAKE_CURRENT_LIST_DIR}/debian_docs.cmake)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    # The lines after the summary (CPACK_PACKAGE_DESCRIPTION_SUMMARY), one string.
    string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "Upgrades the firmware of Korvix USB touch controllers and bridges, reads their\n"
        "diagnostic information or restarts them, over HID, USB DFU 1.1 or the KXP link.\n"
        "Includes the udev rule that gives the user at the seat access to the devices.")
    # The library dependencies as dpkg-shlibdeps finds them (libusb-1.0, libstdc++).
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${CMAKE_SOURCE_DIR}/cmake/debian/postinst ${CMAKE_SOURCE_DIR}/cmake/debian/postrm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
