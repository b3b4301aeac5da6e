// Each built plug-in opened as a host opens it, by file name: the gateway is there, and the
// Linux x86 build answers mexVersion with the interface it was built for.
#include "plugins.h"

#include <sstream>

namespace {

std::vector<std::string> built_plugins() {
    std::vector<std::string> names;
    std::istringstream list(TOOLBOX_BUILT_PLUGINS);
    for (std::string name; std::getline(list, name, ',');) names.push_back(name);
    return names;
}

}  // namespace

TEST(binding, every_plugin_has_its_gateway_and_mex_version_where_the_platform_asks_for_it) {
    const std::vector<std::string> names = built_plugins();
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        mexhost::plugin lib(std::string(TOOLBOX_PLUGIN_DIR) + "/" + mexhost::plugin_file_name(name));
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
