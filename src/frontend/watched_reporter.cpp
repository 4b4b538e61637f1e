#include "frontend/watched_reporter.h"

void watched_reporter::error(const error_report& report) {
    std::string text = message_text(report);
    const auto first = text.find_first_not_of('\n');
    text.erase(0, first == std::string::npos ? text.size() : first);
    if (text.starts_with("ERROR: ")) text.erase(0, 7);
    if (const auto end = text.find('\n'); end != std::string::npos) text.erase(end);
    error_ = std::move(text);
    inner_.error(report);
}
