# Hardening of the Linux build, as Debian asks of a packaged binary (and
# lintian checks): position-independent code and a PIE executable, fortified
# C library calls where the compiler optimises (glibc's checks need it, and
# warn without it), and the tool's relocations read-only after start with
# every symbol bound at load (full RELRO, BIND_NOW). Every module's code ends
# up in the tool, so the first two go to all of them through ft_options.
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set_property(TARGET ft_options PROPERTY INTERFACE_POSITION_INDEPENDENT_CODE ON)
# Sanitizer builds (the asan and fuzz presets) keep the plain calls:
# AddressSanitizer checks those itself, and the fortified ones would bypass it.
if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    target_compile_options(ft_options INTERFACE
        "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
target_link_options(flash-tool PRIVATE LINKER:-z,relro,-z,now)
