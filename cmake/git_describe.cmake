# What git says about the checkout at SOURCE_DIR (`git describe --tags
# --always --dirty`: a tag, commits since it, the commit, "-dirty" for
# uncommitted changes), or "" outside a git checkout or without git. Shared
# by the version text (cmake/version.cmake) and the package version
# (cmake/package_version.cmake).
function(ft_git_describe source_dir out_var)
    set(described "")
    find_program(GIT git)
    if(GIT)
        execute_process(COMMAND ${GIT} -C ${source_dir} describe --tags --always --dirty
                        OUTPUT_VARIABLE described ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE
                        RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            set(described "")
        endif()
    endif()
    set(${out_var} "${described}" PARENT_SCOPE)
endfunction()
