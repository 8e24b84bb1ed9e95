#include "board/Files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <unistd.h>

namespace fs = std::filesystem;

namespace board {

namespace {
// A symbolic link is copied as a link, never followed: a link in a copied folder (a USB
// stick's, say) must not bring a file from outside the data root in.
constexpr fs::copy_options kCopyOptions =
    fs::copy_options::overwrite_existing | fs::copy_options::recursive | fs::copy_options::copy_symlinks;
} // namespace

QString Files::map(const QString& systemPath)
{
    return QString::fromStdString(map(systemPath.toStdString()));
}

bool Files::move(const std::string& from, const std::string& to)
{
    std::error_code ec;
    fs::path src = map(from), dst = map(to);
    if (fs::is_directory(dst, ec))
        dst /= src.filename();
    fs::rename(src, dst, ec);
    if (!ec)
        return true;
    // A move across file systems: copy, then remove the source.
    fs::copy(src, dst, kCopyOptions, ec);
    if (ec)
        return false;
    fs::remove_all(src, ec);
    return !ec;
}

bool Files::copy(const std::string& from, const std::string& to)
{
    std::error_code ec;
    fs::path src = map(from), dst = map(to);
    if (fs::is_directory(dst, ec))
        dst /= src.filename();
    fs::copy(src, dst, kCopyOptions, ec);
    return !ec;
}

bool Files::remove(const std::string& path)
{
    std::error_code ec;
    fs::remove_all(map(path), ec);
    return !ec;
}

bool Files::makeDirs(const std::string& path)
{
    std::error_code ec;
    fs::create_directories(map(path), ec);
    return !ec && fs::is_directory(map(path), ec);
}

bool Files::exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(map(path), ec);
}

bool Files::writeAtomically(const std::string& path, const void* data, size_t length)
{
    const std::string target = map(path);
    const std::string temp = target + ".tmp";
    // One save at a time: two threads saving the same file must not write into the one
    // temporary together, or one of them renames the other's half-written bytes over the
    // target and the other's rename fails.
    static std::mutex saving;
    std::lock_guard<std::mutex> hold(saving);
    std::error_code ec;
    fs::create_directories(fs::path(target).parent_path(), ec);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd, p + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += size_t(n);
    }
    const bool synced = ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;      // closed whether or not the flush worked
    if (!synced || !closed) {
        ::unlink(temp.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void Files::sync()
{
    ::sync();
}

} // namespace board
