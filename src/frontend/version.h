// The --version text: the tool's version, the built-in image's size and
// checksum, and the platform backend the program runs on.
#pragma once

#include "platform/platform.h"

void print_version(platform::Platform& os);
