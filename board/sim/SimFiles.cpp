#include "board/Files.h"
#include "board/sim/PowerCut.h"
#include "board/sim/SimBoard.h"

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <sys/stat.h>
#include <vector>

namespace board {

namespace {
namespace fs = std::filesystem;

// Walks path from the root down and follows every symbolic link on the way (a dangling one
// too: writing through it would create its target): true while each place it leads to is
// under the root.
bool staysInside(const fs::path& root, const fs::path& path, int depth = 0)
{
    if (depth > 16)
        return false;                                  // a loop of links
    const fs::path rel = path.lexically_normal().lexically_relative(root);
    if (rel.empty() || *rel.begin() == "..")
        return false;
    fs::path cur = root;
    for (auto it = rel.begin(); it != rel.end(); ++it) {
        if (it->empty() || *it == ".")
            continue;
        cur /= *it;
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(cur, ec);
        if (st.type() == fs::file_type::not_found)
            return true;                               // nothing below it exists to lead away
        if (ec)
            return false;
        if (!fs::is_symlink(st))
            continue;
        const fs::path target = fs::read_symlink(cur, ec);
        if (ec)
            return false;
        fs::path next = target.is_absolute() ? target : cur.parent_path() / target;
        for (auto rest = std::next(it); rest != rel.end(); ++rest)
            next /= *rest;
        return staysInside(root, next, depth + 1);
    }
    return true;
}
} // namespace

// Absolute board paths land under the data root; a relative path is already a host path
// (a test's own temporary file, say) and is left alone. ".." cannot climb out of the root,
// not even in a path that was mapped already, and neither can a symbolic link inside the
// root that points out of it: such a path is mapped to a name too long for any file system
// call, so opening, creating or removing it fails (and so does anything appended to it)
// instead of touching a host file.
std::string Files::map(const std::string& systemPath)
{
    if (systemPath.empty() || systemPath[0] != '/')
        return systemPath;
    const std::string root = sim::SimBoard::root();
    size_t start = 0;
    if (systemPath.compare(0, root.size(), root) == 0 &&
        (systemPath.size() == root.size() || systemPath[root.size()] == '/'))
        start = root.size();                                // mapped already: keep it inside
    // normalise: drop "." and resolve ".." without leaving the root
    std::string part;
    std::vector<std::string> parts;
    for (size_t i = start; i <= systemPath.size(); ++i) {
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
    }
    std::string out = root;
    for (const auto& p : parts)
        out += "/" + p;
    if (systemPath.back() == '/' && parts.size())
        out += "/";
    if (!parts.empty() && !staysInside(root, out))
        return root + "/.outside-the-data-root" + std::string(256, '-');
    return out;
}

// The scenario key "data.capacity" (bytes) makes /data a file system of that size: what the
// files under it take (in allocated blocks) is no longer free. Without it the host's file
// system alone decides.
uint64_t Files::spaceLimit(const std::string& mappedPath)
{
    const long capacity = sim::SimBoard::scenarioInt("data.capacity", 0);
    const std::string data = sim::SimBoard::root() + "/data";
    if (capacity <= 0 || mappedPath.compare(0, data.size(), data) != 0 ||
        (mappedPath.size() > data.size() && mappedPath[data.size()] != '/'))
        return UINT64_MAX;
    uint64_t used = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(data, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        struct stat st;
        if (::lstat(it->path().c_str(), &st) == 0)
            used += uint64_t(st.st_blocks) * 512;
    }
    return used < uint64_t(capacity) ? uint64_t(capacity) - used : 0;
}

// A file's mode (Files::setMode) is kept by the data root's own file system: a test reads it
// with stat(), since root may read, write and run a file whatever its mode says.
int Files::stepFault() { return sim::PowerCut::fileStep(); }

// The scenario flag "data.modes.refused" makes /data a file system that keeps no modes (as a
// FAT card's does): every mode set under it fails with EPERM.
int Files::modeError(const std::string& mappedPath)
{
    const std::string data = sim::SimBoard::root() + "/data/";
    return mappedPath.compare(0, data.size(), data) == 0 && sim::SimBoard::scenarioInt("data.modes.refused", 0) ? EPERM : 0;
}

} // namespace board
