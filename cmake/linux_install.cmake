# Installing the tool on Linux: the binary, the udev rule that lets the user
# at the seat open the devices (written for the configured vendor ID), the
# man page and the documentation.
include(GNUInstallDirs)
install(TARGETS flash-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(udev_rule_source ${CMAKE_SOURCE_DIR}/docs/70-flash-tool.rules)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${udev_rule_source})
file(READ ${udev_rule_source} udev_rule)
# The rule in docs/ names the default vendor ID; udev compares idVendor as
# four lower-case hexadecimal digits.
math(EXPR udev_vendor "${FLASH_TOOL_VENDOR_ID}" OUTPUT_FORMAT HEXADECIMAL)
string(REGEX REPLACE "^0x" "" udev_vendor "${udev_vendor}")
string(TOLOWER "${udev_vendor}" udev_vendor)
string(LENGTH "${udev_vendor}" udev_vendor_length)
while(udev_vendor_length LESS 4)
    string(PREPEND udev_vendor "0")
    math(EXPR udev_vendor_length "${udev_vendor_length} + 1")
endwhile()
string(REPLACE "\"2f5a\"" "\"${udev_vendor}\"" udev_rule "${udev_rule}")
file(WRITE ${CMAKE_BINARY_DIR}/70-flash-tool.rules "${udev_rule}")
# FLASH_TOOL_UDEV_RULES_DIR (cmake/linux.cmake) is absolute: the rule goes
# where udev reads it whatever the prefix.
install(FILES ${CMAKE_BINARY_DIR}/70-flash-tool.rules DESTINATION ${FLASH_TOOL_UDEV_RULES_DIR})
install(CODE "
if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
    message(STATUS \"The udev rule takes effect after: udevadm control --reload && udevadm trigger \"
                   \"(or plug the device in again)\")
endif()")

# The man page, compressed as man-db expects it; -n leaves out the name and
# time stamp, so the same page gives the same bytes.
find_program(GZIP gzip REQUIRED)
set(man_page ${CMAKE_BINARY_DIR}/man/flash-tool.1)
add_custom_command(
    OUTPUT ${man_page}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/docs/flash-tool.1 ${man_page}
    COMMAND ${GZIP} -9nf ${man_page}
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/flash-tool.1
    VERBATIM)
add_custom_target(ft_man_page ALL DEPENDS ${man_page}.gz)
install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/linux.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/flash-tool)

# The installed tree works: the rule names the vendor ID and sits where udev
# reads it, the man page is there and the binary runs.
if(FLASH_TOOL_TESTS)
    add_test(NAME linux_install
             COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DDESTDIR=${CMAKE_BINARY_DIR}/install-test
                     -DPREFIX=/usr/local -DRULES_DIR=${FLASH_TOOL_UDEV_RULES_DIR} -DVENDOR=${udev_vendor}
                     -P ${CMAKE_SOURCE_DIR}/cmake/linux_install_check.cmake)
endif()
