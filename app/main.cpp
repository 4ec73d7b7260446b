#include "cli/CommandLine.h"

#include <climits>
#include <cstdio>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

namespace {

// The folder the running program lies in, its links followed.
std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || length >= ssize_t(sizeof path)) {
        return ".";
    }
    const std::string program(path, std::size_t(length));
    return program.substr(0, program.rfind('/'));
}

// Loads the tray application and hands it the process. The library lies where the install put it, seen from the
// program (../lib/kelvo), or, in the build folder, in lib/kelvo beside the program.
int startTray(int argc, char* argv[])
{
    const std::string folder = programFolder();
    std::string path;
    for (const char* relative : {KELVO_TRAY_LIBRARY_INSTALLED, KELVO_TRAY_LIBRARY_BUILT}) {
        path = folder + '/' + relative;
        if (::access(path.c_str(), F_OK) == 0) {
            break;
        }
    }
    void* library = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
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
