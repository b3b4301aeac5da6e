// One thread at a time in the stand-in host, which keeps process-wide state (its live arrays, its
// memory cache) and is not made for threads. The chain runs without the interpreter lock, so
// that lock alone no longer keeps other threads out.
#pragma once

#include "mexhost/host.h"

namespace rotalign_python {

// Held while a thread makes, calls or releases host arrays. Taken with the interpreter lock held;
// it waits for the host without that lock, so that a thread running the chain without it can
// take it back for its interrupt checks. A thread that holds it may take it again (Python code
// that runs during a conversion may call in again).
class host_lock {
public:
    host_lock();
    ~host_lock();
    host_lock(const host_lock&) = delete;
    host_lock& operator=(const host_lock&) = delete;

private:
    bool nested_ = false;
};

// Releases a host array that Python no longer uses (a NumPy view's owner going away): at once
// when no other thread uses the host, else when the host is next let go or taken. Never waits,
// so that it may run inside Python's garbage collection.
void release_from_python(mexhost::array_ptr array) noexcept;

}  // namespace rotalign_python
