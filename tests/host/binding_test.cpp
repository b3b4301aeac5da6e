// Each built plug-in opened as a host opens it, by file name: the gateway is there, and the
// Linux x86 build answers mexVersion with the interface it was built for.
#include "plugins.h"

#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

std::vector<std::string> built_plugins() {
    std::vector<std::string> names;
    std::istringstream list(TOOLBOX_BUILT_PLUGINS);
    for (std::string name; std::getline(list, name, ',');) names.push_back(name);
    return names;
}

// A shared library opened without the loader's help, so that any exported name can be looked up.
class library {
public:
    explicit library(const std::string& path) {
#if defined(_WIN32)
        handle_ = LoadLibraryA(path.c_str());
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~library() {
        if (handle_ == nullptr) return;
#if defined(_WIN32)
        FreeLibrary(static_cast<HMODULE>(handle_));
#else
        dlclose(handle_);
#endif
    }
    library(const library&) = delete;
    library& operator=(const library&) = delete;

    bool opened() const { return handle_ != nullptr; }
    void* symbol(const char* name) const {
#if defined(_WIN32)
        return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
        return dlsym(handle_, name);
#endif
    }

private:
    void* handle_ = nullptr;
};

}  // namespace

TEST(binding, every_plugin_has_its_gateway_and_mex_version_where_the_platform_asks_for_it) {
    const std::vector<std::string> names = built_plugins();
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        library lib(std::string(TOOLBOX_PLUGIN_DIR) + "/" + mexhost::plugin_file_name(name));
        ASSERT_TRUE(lib.opened()) << name;
        EXPECT_NE(lib.symbol("mexFunction"), nullptr) << name;
        void* version = lib.symbol("mexVersion");
#if defined(__linux__) && defined(__i386__)
        ASSERT_NE(version, nullptr) << name;
        EXPECT_STREQ(reinterpret_cast<const char* (*)()>(version)(), "MATLAB R14 native") << name;
#else
        EXPECT_EQ(version, nullptr) << name;
#endif
    }
}
