# Installs the build into PREFIX and checks the result (run by ctest).
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
file(READ ${PREFIX}/lib/udev/rules.d/70-flash-tool.rules rule)
foreach(expected "SUBSYSTEM==\"usb\"" "SUBSYSTEM==\"hidraw\"" "ATTR{idVendor}==\"${VENDOR}\""
                 "ATTRS{idVendor}==\"${VENDOR}\"" "TAG+=\"uaccess\"")
    string(FIND "${rule}" "${expected}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "installed udev rule lacks ${expected}")
    endif()
endforeach()
execute_process(COMMAND ${PREFIX}/bin/flash-tool -h -n INPUT_FILE /dev/null
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "installed flash-tool -h exited with ${status}: ${err}")
endif()
string(FIND "${out}" "--serial_number" at)
if(at EQUAL -1)
    message(FATAL_ERROR "installed flash-tool -h printed no usage: ${out}")
endif()
