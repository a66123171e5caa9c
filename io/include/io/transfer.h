// The one loop of the file layer around read, write and splice calls.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>

namespace velmora {

struct Transferred {
    std::size_t bytes = 0;  // moved before the loop ended
    int error = 0;          // errno of the call that failed; 0 when none did
};

// Calls call(done) (a read, write or splice of the bytes from `done` on, as
// ssize_t) until n bytes have moved: a call can move fewer than asked, and a
// signal can interrupt it (EINTR) before it moves any. A call that moves
// nothing (the end of a file) or fails ends the loop.
template <typename Call>
Transferred Transfer(std::size_t n, Call&& call) {
    Transferred t;
    while (t.bytes < n) {
        const ssize_t r = call(t.bytes);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            t.error = errno;
            break;
        }
        if (r == 0) break;
        t.bytes += static_cast<std::size_t>(r);
    }
    return t;
}

}  // namespace velmora
