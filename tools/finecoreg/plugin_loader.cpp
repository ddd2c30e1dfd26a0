#include "plugin_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string executable_dir() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return {};
    const std::string exe(buffer, static_cast<std::size_t>(n));
    const std::size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

bool is_regular_file(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::vector<std::string> default_plugin_candidates() {
    std::vector<std::string> candidates;
    const std::string dir = executable_dir();
    if (!dir.empty()) {
        candidates.push_back(dir + "/../" FINECOREG_INSTALL_LIBDIR "/" FINECOREG_PLUGIN_FILE_NAME);
        candidates.push_back(dir + "/" FINECOREG_PLUGIN_FILE_NAME);
    }
    candidates.push_back(FINECOREG_BUILT_PLUGIN);
    return candidates;
}

std::string find_default_plugin() {
    for (const std::string& candidate : default_plugin_candidates())
        if (is_regular_file(candidate))
            return candidate;
    return {};
}

AlgoFactory load_plugin(const std::string& path, std::string* error) {
    // dlopen searches the library path for a bare name; a file named on the
    // command line is meant as a file.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* reason = ::dlerror();
        *error = "cannot load the plug-in: " + std::string(reason ? reason : file);
        return nullptr;
    }
    ::dlerror();
    void* symbol = ::dlsym(handle, "GetAlgoObj");
    if (!symbol) {
        *error = "the plug-in " + file + " has no GetAlgoObj";
        ::dlclose(handle);
        return nullptr;
    }
    return reinterpret_cast<AlgoFactory>(symbol);
}
