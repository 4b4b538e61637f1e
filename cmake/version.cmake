# Writes the tool's version source: the project version and what git says
# about the checkout (a tag, commits since it, the commit, "-dirty" for
# uncommitted changes). Run at every build; the file is rewritten only when
# the text changes, so an unchanged checkout relinks nothing.
# Usage: cmake -DSOURCE_DIR=<dir> -DVERSION=<x.y.z> -DOUTPUT=<file.cpp> -P version.cmake
include(${CMAKE_CURRENT_LIST_DIR}/git_describe.cmake)
ft_git_describe(${SOURCE_DIR} described)
set(text "${VERSION}")
if(described)
    set(text "${VERSION} (${described})")
endif()
set(source "// Generated at build time by cmake/version.cmake. Do not edit.
#include \"frontend/tool_version.h\"

const char* tool_version() { return \"${text}\"; }
")
if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} old)
    if(old STREQUAL source)
        return()
    endif()
endif()
file(WRITE ${OUTPUT} "${source}")
