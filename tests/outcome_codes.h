// The outcome of a native command as the test tables write it: 0 success,
// -1 a failure of the link, -2 the device's refusal with its status.
#pragma once

#include "report/outcome.h"

inline int result_code(const outcome& result) {
    if (result.ok()) return 0;
    return result.kind == failure::device_status ? -2 : -1;
}
