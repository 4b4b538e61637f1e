// The flash-tool executable: the front end over the operating system's own
// platform backend.
#include <memory>

#include "frontend/frontend.h"
#include "platform/native.h"

int main(int argc, char** argv) {
    std::unique_ptr<platform::Platform> native = platform_make_native();
    platform::install(native.get());
    const int status = frontend_main(argc, argv);
    platform::install(nullptr);
    return status;
}
