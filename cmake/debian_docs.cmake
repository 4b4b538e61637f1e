# The files Debian asks of every package in /usr/share/doc/flash-tool: the
# copyright file (machine-readable format 1.0) and the Debian changelog,
# compressed with gzip -9n (no name or time stamp, so the same text gives
# the same bytes). The changelog has one entry, for the version being
# packaged; its time honours SOURCE_DATE_EPOCH.
string(TIMESTAMP copyright_year "%Y" UTC)
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
ft_git_describe(${CMAKE_SOURCE_DIR} described)
if(described)
    set(changelog_entry "Built from the sources at git ${described}.")
else()
    set(changelog_entry "Built from a source tree without git history.")
endif()
set(debian_docs ${CMAKE_BINARY_DIR}/debian)
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/copyright.in ${debian_docs}/copyright @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in ${debian_docs}/changelog.Debian @ONLY)
add_custom_command(
    OUTPUT ${debian_docs}/changelog.Debian.gz
    COMMAND ${GZIP} -9nkf ${debian_docs}/changelog.Debian
    DEPENDS ${debian_docs}/changelog.Debian
    VERBATIM)
add_custom_target(ft_debian_changelog ALL DEPENDS ${debian_docs}/changelog.Debian.gz)
install(FILES ${debian_docs}/copyright ${debian_docs}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/flash-tool)
