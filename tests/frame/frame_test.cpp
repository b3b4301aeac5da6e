// The conventions every gateway shares: the order of the count checks and the safe truncation.
#include "frame.h"
#include "plugins.h"

#include <cmath>
#include <limits>

namespace {

// Bounds of one to three outputs and exactly two inputs, as a gateway would declare them.
void counted(int nlhs, mxArray*[], int nrhs, const mxArray*[]) { check_counts(nlhs, 1, 3, nrhs, 2, 2); }

std::string message_for(int nlhs, int nrhs) {
    mexhost::array_ptr x = mexhost::make_scalar(0);
    std::vector<const mxArray*> inputs(static_cast<std::size_t>(nrhs), x.get());
    try {
        mexhost::call_gateway(counted, nlhs, inputs);
    } catch (const mexhost::plugin_error& e) {
        return e.what();
    } catch (const mexhost::host_fault&) {
        return "";  // passed the checks and set no output
    }
    return "";
}

}  // namespace

TEST(frame, count_checks_run_outputs_first_then_inputs) {
    EXPECT_EQ(message_for(0, 0), "Too few output arguments.");
    EXPECT_EQ(message_for(4, 0), "Too many output arguments.");
    EXPECT_EQ(message_for(1, 1), "Too few input arguments.");
    EXPECT_EQ(message_for(3, 3), "Too many input arguments.");
    EXPECT_EQ(message_for(2, 2), "");
}

TEST(frame, truncation_is_toward_zero_and_defined_for_every_double) {
    struct entry { double value; bool ok; int result; };
    const double inf = std::numeric_limits<double>::infinity();
    const entry table[] = {
        {2.9, true, 2}, {-0.5, true, 0}, {-2.7, true, -2}, {2147483647.9, true, 2147483647},
        {-2147483648.9, true, -2147483647 - 1}, {2147483648.0, false, 0}, {-2147483649.0, false, 0},
        {inf, false, 0}, {-inf, false, 0}, {std::nan(""), false, 0}, {1e300, false, 0},
    };
    for (const entry& e : table) {
        int count = 12345;
        EXPECT_EQ(truncate_count(e.value, &count), e.ok) << e.value;
        EXPECT_EQ(count, e.ok ? e.result : 12345) << e.value;
    }
}
