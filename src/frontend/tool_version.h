// The tool's version as set at build time: the project version, then in
// brackets what git describes of the checkout it was built from, when known
// ("1.0.0 (88909cf)", "1.0.0 (v1.0.0-3-g88909cf-dirty)").
#pragma once

const char* tool_version();
