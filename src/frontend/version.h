// The --version text: the tool's version, the built-in image's size and
// checksum, and the platform backend the program runs on.
#pragma once

#include <string>

#include "platform/platform.h"

std::string version_text(platform::Platform& os);
