# Installs the build under DESTDIR with the prefix PREFIX and checks the
# result (run by ctest): the udev rule is in RULES_DIR whatever the prefix; the
# copyright file and the Debian changelog are in the documentation.
file(REMOVE_RECURSE ${DESTDIR})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${DESTDIR}
                        ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
file(READ ${DESTDIR}${RULES_DIR}/70-flash-tool.rules rule)
foreach(expected "SUBSYSTEM==\"usb\"" "SUBSYSTEM==\"hidraw\"" "ATTR{idVendor}==\"${VENDOR}\""
                 "ATTRS{idVendor}==\"${VENDOR}\"" "TAG+=\"uaccess\"")
    string(FIND "${rule}" "${expected}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "installed udev rule lacks ${expected}")
    endif()
endforeach()
if(NOT EXISTS ${DESTDIR}${PREFIX}/share/man/man1/flash-tool.1.gz)
    message(FATAL_ERROR "no man page in ${DESTDIR}${PREFIX}/share/man/man1")
endif()
foreach(doc copyright changelog.Debian.gz)
    if(NOT EXISTS ${DESTDIR}${PREFIX}/share/doc/flash-tool/${doc})
        message(FATAL_ERROR "no ${doc} in ${DESTDIR}${PREFIX}/share/doc/flash-tool")
    endif()
endforeach()
execute_process(COMMAND ${DESTDIR}${PREFIX}/bin/flash-tool -h -n INPUT_FILE /dev/null
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "installed flash-tool -h exited with ${status}: ${err}")
endif()
string(FIND "${out}" "--serial_number" at)
if(at EQUAL -1)
    message(FATAL_ERROR "installed flash-tool -h printed no usage: ${out}")
endif()
