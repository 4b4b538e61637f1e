// The one translation unit that captures the build date, so every program
// linking it (the tool, the simulator, the transcript runner) shows the same.
#include "frontend/build_info.h"

std::string banner_date(const char* compiler_date) {
    std::string date;
    bool previous_blank = false;
    for (const char* c = compiler_date; *c != '\0'; ++c) {
        const bool blank = *c == ' ';
        if (!(blank && previous_blank)) date += *c;
        previous_blank = blank;
    }
    return date;
}

const char* build_date() {
    static const std::string date = banner_date(__DATE__);
    return date.c_str();
}
