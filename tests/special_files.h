// Things at a path that are not regular files: a FIFO with no writer (an
// open for reading waits for one), a listening socket and a device.
#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "wav_builder.h"

namespace velmora::test {

class SpecialFiles {
public:
    explicit SpecialFiles(const TempDir& dir) {
        const std::string fifo = dir.file("fifo.wav");
        if (::mkfifo(fifo.c_str(), 0644) == 0) all_.emplace_back("fifo", fifo);
        const std::string socket = dir.file("socket.wav");
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, socket.c_str(), sizeof addr.sun_path - 1);
        socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (socket_ >= 0 && ::bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            all_.emplace_back("socket", socket);
        all_.emplace_back("device", "/dev/null");
    }
    ~SpecialFiles() {
        if (socket_ >= 0) ::close(socket_);
    }
    SpecialFiles(const SpecialFiles&) = delete;
    SpecialFiles& operator=(const SpecialFiles&) = delete;

    // (kind, path) of each one made.
    const std::vector<std::pair<std::string, std::string>>& all() const { return all_; }

private:
    int socket_ = -1;
    std::vector<std::pair<std::string, std::string>> all_;
};

}  // namespace velmora::test
