// The bytes of an input read once from front to back. Nothing here seeks, so a pipe, a FIFO or
// standard input reads exactly like a file; the readers look at the first bytes through peek().
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>

namespace rotalign::detail {

class byte_source {
public:
    // `size`: the bytes the stream holds from here on, when known (a regular file); readers
    // then refuse a header that promises more than that before they allocate anything.
    explicit byte_source(std::istream& in, std::optional<std::uint64_t> size = std::nullopt)
        : in_(in), size_(size) {}

    // Up to n bytes from the front, which the next read() returns again. Fewer only at the end.
    std::string_view peek(std::size_t n);
    // Copies up to n bytes to `out`; returns how many, fewer than n only at the end.
    std::size_t read(char* out, std::size_t n);
    // Bytes still to come, when the size is known.
    std::optional<std::uint64_t> remaining() const;
    // Bytes handed out by read() so far.
    std::uint64_t consumed() const { return consumed_; }
    // The stream failed for a reason other than its end (an I/O error).
    bool failed() const { return in_.bad(); }

private:
    std::size_t pull(char* out, std::size_t n);

    std::istream& in_;
    std::optional<std::uint64_t> size_;
    std::string ahead_;  // bytes peeked at and not yet read
    std::uint64_t consumed_ = 0;
};

}  // namespace rotalign::detail
