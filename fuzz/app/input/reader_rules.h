// What every reader fuzz program checks: a reader either refuses its input with an input_error
// whose message is safe to print, or hands back a well-formed table whose size the input's bytes
// bound. Anything else (another exception, a crash, a sanitizer report) ends the run.
#pragma once

#include "rotalign/input/points.h"
#include "support/table.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace reader_fuzz {

[[noreturn]] inline void broken(const std::string& rule, const std::string& detail = "") {
    std::fprintf(stderr, "reader rule broken: %s %s\n", rule.c_str(), detail.c_str());
    std::abort();
}

// A refusal's message: it names the input first, is one line of printable text (odd bytes of
// the input appear escaped) and stays short whatever the input holds.
inline void check_message(const char* what, const std::string& source) {
    const std::string m = what;
    if (m.compare(0, source.size(), source) != 0) broken("the message does not name the input:", m);
    if (m.size() > 400) broken("the message is longer than 400 bytes:", m);
    for (unsigned char c : m)
        if (c < 0x20 || c == 0x7F) broken("the message holds a control byte:", m);
}

// A table: at least one row and one column, rows times columns values, every value finite, no
// more values than `most_values` (what the input's bytes can hold), and for CSV the line of every
// row, rising.
inline void check_table(const rotalign::detail::table& t, std::size_t most_values, bool csv) {
    if (t.rows() == 0 || t.columns == 0) broken("an empty table was handed back");
    if (t.columns > t.values.size() / t.rows() || t.values.size() != t.rows() * t.columns)
        broken("the values do not fill rows times columns");
    if (t.values.size() > most_values) broken("more values than the input's bytes can hold");
    for (double v : t.values)
        if (!std::isfinite(v)) broken("a value that is not finite was handed back");
    if (csv) {
        if (t.row_lines.size() != t.rows()) broken("a row without its line");
        for (std::size_t i = 1; i < t.row_lines.size(); ++i)
            if (t.row_lines[i] <= t.row_lines[i - 1]) broken("row lines that do not rise");
    } else if (!t.row_lines.empty()) {
        broken("line numbers for a .npy table");
    }
}

}  // namespace reader_fuzz
