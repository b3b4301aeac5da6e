// Groups of generated points through the installed library and plug-ins: prints the number of
// groups chosen and their agreement with the true groups.
#include "rotalign/rotalign.h"

#include <iostream>

int main() {
    try {
        rotalign::toolbox plugins(ROTALIGN_PLUGINS);
        const rotalign::labelled_points blobs = rotalign::generate("blobs", 60, 2);
        rotalign::cluster_options options;
        options.max_groups = 4;
        const rotalign::cluster_result r = rotalign::cluster_points(plugins, blobs.data, options);
        std::cout << r.chosen << " groups, agreement " << rotalign::adjusted_rand_index(r.groups, blobs.truth) << '\n';
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
