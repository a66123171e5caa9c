// The one loop of the file layer around read, write and splice calls.
#pragma once

#include <cerrno>
#include <cstddef>

namespace velmora {

struct Transferred {
    std::size_t bytes = 0;  // moved before the loop ended
    int error = 0;          // the code (errno's terms) of the call that failed; 0 when none did
};

// Calls call(done, error) (a read, write or splice of the bytes from `done`
// on, returning the count moved or −1 with `error` set) until n bytes have
// moved: a call can move fewer than asked, and a signal can interrupt it
// (EINTR) before it moves any. A call that moves nothing (the end of a file)
// or fails ends the loop.
template <typename Call>
Transferred Transfer(std::size_t n, Call&& call) {
    Transferred t;
    while (t.bytes < n) {
        int error = 0;
        const long long r = call(t.bytes, error);
        if (r < 0 && error == EINTR) continue;
        if (r < 0) {
            t.error = error;
            break;
        }
        if (r == 0) break;
        t.bytes += static_cast<std::size_t>(r);
    }
    return t;
}

}  // namespace velmora
