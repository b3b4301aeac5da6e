// The error that every stage throws for input it cannot use.
#pragma once

#include <stdexcept>

namespace rotalign {

// Input that cannot be clustered: a file that cannot be read, a malformed row, a value that is
// not a finite number, options that do not fit the data. what() is the message for the user.
class input_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace rotalign
