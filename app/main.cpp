#include "cli/CommandLine.h"

#include <cstdio>

#include <dlfcn.h>

namespace {

// Loads the tray application and hands it the process. The library is found through the program's own library
// path: lib/kelvo beside the program in the build folder, ../lib/kelvo from it once installed.
int startTray(int argc, char* argv[])
{
    void* library = ::dlopen("libkelvo-tray.so", RTLD_LAZY | RTLD_LOCAL);
    void* entry = library ? ::dlsym(library, "kelvoTrayMain") : nullptr;
    if (!entry) {
        std::fprintf(stderr, "kelvo: cannot load the tray application: %s\n", ::dlerror());
        return 1;
    }
    return reinterpret_cast<int (*)(int, char**)>(entry)(argc, argv);
}

} // namespace

// A command runs with Qt Core and Network alone; only a bare `kelvo` loads the tray application.
int main(int argc, char* argv[])
{
    if (const std::optional<int> status = CommandLine::run(argc, argv)) {
        return *status;
    }
    return startTray(argc, argv);
}
