// Outcomes in test assertions: a mismatch shows the failure's name and code.
#pragma once

#include <ostream>

#include "report/messages.h"
#include "report/outcome.h"

inline void PrintTo(const outcome& result, std::ostream* os) {
    *os << failure_name(result.kind) << ' ' << result.code;
}
