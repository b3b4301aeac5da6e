// libFuzzer's entry points, the same in every fuzz program. The program's plug-in is opened
// before fuzzing starts, so that libFuzzer counts the plug-in's coverage from the first input on.
#include "contract.h"

#include <string>

namespace {
mexhost::plugin* opened = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    using toolbox_fuzz::fuzz_target;
    static mexhost::plugin p(std::string(TOOLBOX_PLUGIN_DIR) + "/" + mexhost::plugin_file_name(fuzz_target.plugin));
    opened = &p;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    toolbox_fuzz::run_one(*opened, toolbox_fuzz::fuzz_target, data, size);
    return 0;
}
