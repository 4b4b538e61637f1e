# The version of the packages: the project version, and for a build that is
# not exactly at a tag "+N.gCOMMIT" (N commits since the tag, or since the
# first commit when there is none, so that a later commit makes a later
# package), with "dirty" added for uncommitted changes: 1.0.0+3.gf4686c7.
# The project version alone outside a git checkout. Debian's upstream version
# takes no "-", so git's separators become "+" and ".".
include(${CMAKE_CURRENT_LIST_DIR}/git_describe.cmake)

function(ft_package_version project_version out_var)
    ft_git_describe(${CMAKE_SOURCE_DIR} described)
    set(parts "")
    if(described MATCHES "^.+-([0-9]+)-g([0-9a-f]+)(-dirty)?$")
        list(APPEND parts ${CMAKE_MATCH_1} g${CMAKE_MATCH_2})
    elseif(described MATCHES "^([0-9a-f]+)(-dirty)?$")
        # No tag: git names only the commit.
        set(commit ${CMAKE_MATCH_1})
        execute_process(COMMAND ${GIT} -C ${CMAKE_SOURCE_DIR} rev-list --count HEAD
                        OUTPUT_VARIABLE count OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        list(APPEND parts ${count} g${commit})
    endif()
    if(described MATCHES "-dirty$")
        list(APPEND parts dirty)
    endif()
    set(version ${project_version})
    if(parts)
        list(JOIN parts . suffix)
        string(APPEND version +${suffix})
    endif()
    set(${out_var} ${version} PARENT_SCOPE)
endfunction()
