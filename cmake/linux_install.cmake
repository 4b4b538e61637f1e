# Installing the tool on Linux: the binary, and the udev rule that lets the
# user at the seat open the devices, written for the configured vendor ID.
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
install(FILES ${CMAKE_BINARY_DIR}/70-flash-tool.rules DESTINATION lib/udev/rules.d)

# The installed tree works: the rule names the vendor ID and the binary runs.
if(FLASH_TOOL_TESTS)
    add_test(NAME linux_install
             COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DPREFIX=${CMAKE_BINARY_DIR}/install-test
                     -DVENDOR=${udev_vendor} -P ${CMAKE_SOURCE_DIR}/cmake/linux_install_check.cmake)
endif()
