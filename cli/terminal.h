// What the CLI asks of the terminal it runs in, on POSIX and on Windows.
#pragma once

namespace velmora::cli {

// Whether the standard stream (0, 1, 2) is a terminal (a console).
bool IsTerminal(int stream);
// The terminal's width in columns; 0 when the stream is no terminal.
int TerminalColumns(int stream);
// Readies the console for our output (Windows: UTF-8 text, escape sequences,
// and no "\r" put before each "\n", so the output's bytes are Linux's).
void PrepareConsole();

}  // namespace velmora::cli
