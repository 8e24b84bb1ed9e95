#include "board/Files.h"
#include "board/sim/SimBoard.h"

#include <vector>

namespace board {

// Absolute board paths land under the data root; a relative path is already a host path
// (a test's own temporary file, say) and is left alone. ".." cannot climb out of the root.
std::string Files::map(const std::string& systemPath)
{
    if (systemPath.empty() || systemPath[0] != '/')
        return systemPath;
    const std::string root = sim::SimBoard::root();
    if (systemPath.compare(0, root.size(), root) == 0 &&
        (systemPath.size() == root.size() || systemPath[root.size()] == '/'))
        return systemPath;                                  // mapped already
    std::string out;
    size_t i = 0;
    // normalise: drop "." and resolve ".." without leaving the root
    std::string part;
    std::vector<std::string> parts;
    while (i <= systemPath.size()) {
        if (i == systemPath.size() || systemPath[i] == '/') {
            if (part == "..") {
                if (!parts.empty())
                    parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part += systemPath[i];
        }
        ++i;
    }
    out = root;
    for (const auto& p : parts)
        out += "/" + p;
    if (systemPath.back() == '/' && parts.size())
        out += "/";
    return out;
}

} // namespace board
