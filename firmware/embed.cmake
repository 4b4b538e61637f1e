# Turns a firmware file into a C++ source with one read-only byte array.
# Usage: cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -P embed.cmake
#
# The bytes are written as string literal pieces of 1 KiB each: compilers
# take a long string literal far faster than a brace list of numbers.
if(NOT DEFINED INPUT OR NOT DEFINED OUTPUT)
    message(FATAL_ERROR "embed.cmake needs -DINPUT=... and -DOUTPUT=...")
endif()

file(SIZE "${INPUT}" size)
set(partial "${OUTPUT}.tmp")
file(WRITE "${partial}"
"// Generated from ${INPUT} at build time. Do not edit.
#include \"firmware/builtin_image.h\"

// The literal is far longer than the 65,536 characters every compiler must
// take; GCC and clang take it, and clang's pedantic warning says no more.
#pragma GCC diagnostic ignored \"-Woverlength-strings\"

namespace {

constexpr std::size_t IMAGE_SIZE = ${size};
// One byte more than the image for the literal's terminating NUL.
const char IMAGE[IMAGE_SIZE + 1] =
    \"\"
")

# Block by block, straight to the output: CMake copies a string on every
# substring or append, so one big string would take minutes.
set(block 1024)
set(offset 0)
while(offset LESS size)
    file(READ "${INPUT}" hex OFFSET ${offset} LIMIT ${block} HEX)
    string(REGEX REPLACE "(..)" "\\\\x\\1" escaped "${hex}")
    file(APPEND "${partial}" "    \"${escaped}\"\n")
    math(EXPR offset "${offset} + ${block}")
endwhile()

file(APPEND "${partial}" ";

}  // namespace

std::span<const std::uint8_t> builtin_image() {
    return {reinterpret_cast<const std::uint8_t*>(IMAGE), IMAGE_SIZE};
}
")
file(RENAME "${partial}" "${OUTPUT}")
