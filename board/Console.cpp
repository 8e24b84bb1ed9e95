#include "board/Console.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace board {

namespace {
std::mutex g_lock;
bool g_lineOpen = false;   // the last trace text did not end its line

std::string formatted(const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    std::string text(n > 0 ? size_t(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return text;
}
} // namespace

void Console::trace(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = formatted(format, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(g_lock);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    if (!text.empty())
        g_lineOpen = text.back() != '\n';
}

void Console::warn(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = formatted(format, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_lineOpen) {
        std::fputc('\n', stdout);
        g_lineOpen = false;
    }
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

} // namespace board
