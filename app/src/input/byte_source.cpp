#include "input/byte_source.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace rotalign::detail {

std::size_t byte_source::pull(char* out, std::size_t n) {
    std::size_t got = 0;
    // A pipe may hand over fewer bytes than asked; read on until the count or the end.
    while (got < n && in_.good()) {
        const std::size_t ask = std::min<std::size_t>(n - got, std::numeric_limits<std::streamsize>::max());
        in_.read(out + got, static_cast<std::streamsize>(ask));
        got += static_cast<std::size_t>(in_.gcount());
    }
    return got;
}

std::string_view byte_source::peek(std::size_t n) {
    if (ahead_.size() < n) {
        const std::size_t have = ahead_.size();
        ahead_.resize(n);
        ahead_.resize(have + pull(&ahead_[have], n - have));
    }
    return std::string_view(ahead_).substr(0, n);
}

std::size_t byte_source::read(char* out, std::size_t n) {
    const std::size_t early = std::min(n, ahead_.size());
    if (early > 0) {
        std::memcpy(out, ahead_.data(), early);
        ahead_.erase(0, early);
    }
    const std::size_t got = early + pull(out + early, n - early);
    consumed_ += got;
    return got;
}

std::optional<std::uint64_t> byte_source::remaining() const {
    if (!size_) return std::nullopt;
    return *size_ > consumed_ ? *size_ - consumed_ : 0;
}

}  // namespace rotalign::detail
