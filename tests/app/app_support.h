// What the tests of the rotalign library share: the built plug-ins and the message of a refusal.
#pragma once

#include "rotalign/input/points.h"
#include "rotalign/support/toolbox.h"

#include <string>

namespace app_test {

// The plug-ins of the build, opened once per test program.
inline rotalign::toolbox& plugins() {
    static rotalign::toolbox t(TOOLBOX_PLUGIN_DIR);
    return t;
}

// The message of the input_error that `run` throws, or "" when it throws none.
template <typename F>
std::string message_of(F run) {
    try {
        run();
    } catch (const rotalign::input_error& e) {
        return e.what();
    }
    return "";
}

}  // namespace app_test
