// Compares the records that two builds wrote for the same inputs (agreement_dump).
//
//   agreement_compare same|x87 <reference file> <other file>
//
// "same" demands the same bits for every value; "x87" allows the differences that extended
// precision makes (compare.h). The exit code is 0 when the builds agree.
#include "compare.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    const std::string how = argc == 4 ? argv[1] : "";
    if (how != "same" && how != "x87") {
        std::cerr << "usage: agreement_compare same|x87 <reference file> <other file>\n";
        return 2;
    }
    agreement::dump dumps[2];
    for (int i = 0; i < 2; ++i) {
        std::ifstream in(argv[2 + i], std::ios::binary);
        std::string error;
        if (!in || !agreement::read_dump(in, &dumps[i], &error)) {
            std::cerr << "agreement_compare: " << argv[2 + i] << ": " << (in ? error : "cannot read") << "\n";
            return 2;
        }
    }
    std::cout << dumps[1].platform << " against " << dumps[0].platform << " (" << how << " arithmetic):\n";
    const bool ok = agreement::compare(dumps[0], dumps[1], how == "same" ? agreement::mode::same : agreement::mode::x87,
                                       std::cout);
    std::cout << (ok ? "  agree\n" : "  DO NOT AGREE\n");
    return ok ? 0 : 1;
}
