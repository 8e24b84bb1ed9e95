#include "board/Shell.h"
#include "board/sim/Journal.h"

namespace board {

// Nothing is executed on a host: the command goes to the journal and is answered with the
// status (and output) that the test or scenario configured.
int Shell::system(const std::string& command)
{
    sim::Journal::record("shell", command);
    sim::Journal::runHeld(command);
    return sim::Journal::shellStatus(command);
}

std::string Shell::read(const std::string& command, size_t lineSize, bool* started)
{
    sim::Journal::record("shell", command);
    if (started)
        *started = true;
    std::string all = sim::Journal::shellOutput(command);
    if (lineSize < 2)
        return std::string();
    // Same shape as reading a pipe line by line into a buffer of lineSize bytes.
    std::string out;
    size_t pos = 0;
    while (pos < all.size()) {
        size_t eol = all.find('\n', pos);
        size_t lineEnd = eol == std::string::npos ? all.size() : eol + 1;
        size_t take = std::min(lineEnd - pos, lineSize - 1);
        out.append(all, pos, take);
        pos += take;
    }
    return out;
}

} // namespace board
