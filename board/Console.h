#pragma once
// The program's two output streams: trace text on standard output, written as the code
// gives it (many traces begin a line and leave it open for the next), and warnings on
// standard error, each one whole line. When both go to one terminal or one log, a warning
// after an open trace line would be glued to it; a warning therefore ends that line first.

namespace board {

class Console {
public:
    // Trace text on standard output, flushed at once.
    static void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // One warning line on standard error (the format ends with its newline); an open trace
    // line is ended before it.
    static void warn(const char* format, ...) __attribute__((format(printf, 1, 2)));
};

} // namespace board
