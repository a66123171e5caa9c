#include "terminal.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "io/win32_api.h"

#include <cstdio>
#include <initializer_list>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace velmora::cli {

#ifdef _WIN32
namespace {

HANDLE StreamHandle(int stream) {
    return GetStdHandle(stream == 0 ? STD_INPUT_HANDLE : stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

// A console answers GetConsoleMode; a pipe, a file or NUL does not.
bool IsTerminal(int stream) {
    DWORD mode = 0;
    return GetConsoleMode(StreamHandle(stream), &mode) != 0;
}

int TerminalColumns(int stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(StreamHandle(stream), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void PrepareConsole() {
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
    for (int stream : {1, 2}) {
        DWORD mode = 0;
        if (GetConsoleMode(StreamHandle(stream), &mode))
            SetConsoleMode(StreamHandle(stream), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}
#else
bool IsTerminal(int stream) { return ::isatty(stream) != 0; }

int TerminalColumns(int stream) {
    winsize ws{};
    if (::ioctl(stream, TIOCGWINSZ, &ws) == 0) return ws.ws_col;
    return 0;
}

void PrepareConsole() {}
#endif

}  // namespace velmora::cli
