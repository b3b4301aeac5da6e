// The errors that every stage throws for input it cannot use: what happened and the values
// involved. The front ends (the command line, Python) word the remedies in their own terms.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rotalign {

// A change that would let the run go on: set `option` (a name of the option table, or "plugins"
// for the folder of the plug-ins) to `value` ("": a value the phrase describes), as `phrase` says
// in plain words ("allow 16 or more groups").
struct remedy {
    std::string phrase;
    std::string option;
    std::string value;
};

// Input that cannot be clustered: a file that cannot be read, a malformed row, a value that is
// not a finite number, options that do not fit the data. fact() says what happened; what() adds
// the remedies' phrases, without naming how a front end spells the options.
class input_error : public std::runtime_error {
public:
    explicit input_error(const std::string& fact) : input_error(fact, {}) {}
    input_error(const std::string& fact, std::vector<remedy> remedies);

    const std::string& fact() const noexcept { return fact_; }
    const std::vector<remedy>& remedies() const noexcept { return remedies_; }

private:
    std::string fact_;
    std::vector<remedy> remedies_;
};

// The error's message with each remedy followed by a front end's spelling of its change, where
// `spell` gives one: "...: allow 16 or more groups (--max-groups 16), or use a larger neighbour
// count".
std::string worded(const input_error& error, const std::function<std::string(const remedy&)>& spell);

// An option's value outside what the option takes: `option` is its name in the option table,
// `given` the value as text, `needed` what it must be ("at least 2").
class option_error : public input_error {
public:
    option_error(std::string option, std::string given, std::string needed, const std::string& fact);

    const std::string& option() const noexcept { return option_; }
    const std::string& given() const noexcept { return given_; }
    const std::string& needed() const noexcept { return needed_; }

private:
    std::string option_, given_, needed_;
};

// A graph in more pieces than the groups tried: every piece could be a group, and no rotation
// tells pieces apart, so the count cannot be chosen.
class too_many_pieces : public input_error {
public:
    too_many_pieces(std::size_t components, int groups_tried);

    std::size_t components() const noexcept { return components_; }
    int groups_tried() const noexcept { return groups_tried_; }

private:
    std::size_t components_;
    int groups_tried_;
};

}  // namespace rotalign
