#include "board/Files.h"

#include "board/Console.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace board {

namespace {
// A symbolic link is copied as a link, never followed: a link in a copied folder (a USB
// stick's, say) must not bring a file from outside the data root in.
constexpr fs::copy_options kCopyOptions =
    fs::copy_options::overwrite_existing | fs::copy_options::recursive | fs::copy_options::copy_symlinks;
// What a file of that length takes on the disc: whole 4 KiB blocks.
uint64_t roundedToBlocks(uint64_t length) { return (length + 4095) / 4096 * 4096; }

// 0 when st is a regular file's, else the reason it is no file to read.
int notAFile(const struct stat& st) { return S_ISREG(st.st_mode) ? 0 : S_ISDIR(st.st_mode) ? EISDIR : EINVAL; }

// A descriptor on the regular file at the mapped path, or -1 with errno set. Anything else is
// refused before it is opened (opening a pipe waits for a writer, a device node may act on its
// opening); what is opened is opened without waiting and looked at again, in case the path
// changed in between.
int openRegular(const std::string& mapped)
{
    struct stat st;
    if (::stat(mapped.c_str(), &st) != 0)
        return -1;
    if (const int error = notAFile(st))
        return errno = error, -1;
    const int fd = ::open(mapped.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int error = ::fstat(fd, &st) == 0 ? notAFile(st) : errno;
    const int flags = error ? 0 : ::fcntl(fd, F_GETFL);
    if (!error && (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0))
        error = errno;
    if (error) {
        ::close(fd);
        return errno = error, -1;
    }
    return fd;
}
} // namespace

std::FILE* Files::openRead(const std::string& path)
{
    const int fd = openRegular(map(path));
    if (fd < 0)
        return nullptr;
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return f;
}

int Files::readAll(const std::string& path, std::string& bytes, size_t max, uint64_t skip)
{
    bytes.clear();
    const int fd = openRegular(map(path));
    if (fd < 0)
        return errno;
    if (skip && ::lseek(fd, off_t(skip), SEEK_SET) < 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    char chunk[4096];
    for (;;) {
        const ssize_t n = bytes.size() < max ? ::read(fd, chunk, std::min(sizeof chunk, max - bytes.size())) : 0;
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : 0;
            ::close(fd);
            return error;
        }
        bytes.append(chunk, size_t(n));
    }
}

bool Files::isFile(const std::string& path)
{
    struct stat st;
    return ::stat(map(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

QString Files::map(const QString& systemPath)
{
    return QString::fromStdString(map(systemPath.toStdString()));
}

bool Files::move(const std::string& from, const std::string& to)
{
    // A move replaces the file at the target or fails: unlike mv it never moves into a
    // folder standing there, which would leave the folder where the file should be and
    // report it stored.
    std::error_code ec;
    const fs::path src = map(from), dst = map(to);
    if (fs::is_directory(fs::symlink_status(dst, ec))) {
        reportFailedStore(to, EISDIR);
        return false;
    }
    if (const int fault = stepFault()) {
        if (fault > 0)
            reportFailedStore(to, fault);
        return false;
    }
    fs::rename(src, dst, ec);
    if (ec.value() == EXDEV) {
        // A move across file systems: copy, then remove the source.
        ec.clear();
        fs::copy(src, dst, kCopyOptions, ec);
        if (!ec)
            fs::remove_all(src, ec);
    }
    if (ec)
        reportFailedStore(to, ec.value());
    return !ec;
}

bool Files::copy(const std::string& from, const std::string& to)
{
    std::error_code ec;
    fs::path src = map(from), dst = map(to);
    if (fs::is_directory(dst, ec))
        dst /= src.filename();
    if (fs::is_regular_file(fs::symlink_status(src, ec))) {
        // A file lands whole or not at all: copied beside the target, flushed, renamed.
        std::string bytes;
        if (const int error = readAll(src.string(), bytes)) {
            reportFailedStore(to, error);
            return false;
        }
        return writeAtomically(dst.string(), bytes.data(), bytes.size());
    }
    if (const int fault = stepFault()) {
        if (fault > 0)
            reportFailedStore(to, fault);
        return false;
    }
    fs::copy(src, dst, kCopyOptions, ec);
    if (ec)
        reportFailedStore(to, ec.value());
    return !ec;
}

bool Files::remove(const std::string& path)
{
    if (stepFault() != 0)
        return false;
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

bool Files::setMode(const std::string& path, unsigned mode)
{
    // A step of what the disc stores: the simulated board can cut the supply or refuse it here.
    if (const int fault = stepFault()) {
        if (fault > 0)
            reportFailedStore(path, fault);
        return false;
    }
    const std::string mapped = map(path);
    const int error = modeError(mapped);
    if (error == 0 && ::chmod(mapped.c_str(), mode_t(mode & 07777)) == 0)
        return true;
    reportFailedStore(path, error ? error : errno);
    return false;
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
    const auto failed = [&](int error) {
        ::unlink(temp.c_str());
        reportFailedStore(path, error);
        return false;
    };
    // Each step asks first: a cut loses it and all after it, a refusal fails the store.
    int fault = stepFault();
    if (fault)
        return fault < 0 ? false : failed(fault);
    // Whatever stands at the temporary's path is ours to replace; a link there is never
    // followed, or the bytes would land where it points (outside the data root, say).
    fs::remove_all(temp, ec);
    // A disc too small for the file refuses it as the file system would, whole: what the
    // board leaves of it (the simulated board's capacity) counts as much as the host's.
    if (const uint64_t room = spaceLimit(target); room != UINT64_MAX && roundedToBlocks(length) > room)
        return failed(ENOSPC);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return failed(errno);
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd, p + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            return failed(error);
        }
        done += size_t(n);
    }
    if ((fault = stepFault()) != 0) {
        ::close(fd);
        return fault < 0 ? false : failed(fault);
    }
    const int synced = ::fsync(fd) == 0 ? 0 : errno;
    const int closed = ::close(fd) == 0 ? 0 : errno;   // closed whether or not the flush worked
    if (synced || closed)
        return failed(synced ? synced : closed);
    if ((fault = stepFault()) != 0)
        return fault < 0 ? false : failed(fault);
    if (std::rename(temp.c_str(), target.c_str()) != 0)
        return failed(errno);
    return true;
}

int Files::flushWritten(const std::string& path)
{
    const std::string mapped = map(path);
    int error = stepFault();
    // The file is written already: a disc it did not fit on has no room left at all.
    if (error == 0 && spaceLimit(mapped) == 0)
        error = ENOSPC;
    if (error == 0) {
        const int fd = ::open(mapped.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return errno;
        error = ::fsync(fd) == 0 ? 0 : errno;
        ::close(fd);
        if (error == 0)
            return 0;
    }
    // What did not reach the disc is not there: the file keeps its first half at most.
    struct stat st;
    if (::lstat(mapped.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::truncate(mapped.c_str(), st.st_size / 2) != 0)
        error = error > 0 ? error : errno;
    return error > 0 ? error : EIO;
}

void Files::libraryWrite(const std::function<void()>& write)
{
    if (stepFault() == 0)
        return write();
    // No byte may reach the disc: every write of this process fails (EFBIG) while the
    // library writes, and the signal that would end the process is ignored meanwhile.
    struct rlimit was, none;
    struct sigaction ignore = {}, before = {};
    ignore.sa_handler = SIG_IGN;
    ::getrlimit(RLIMIT_FSIZE, &was);
    none = was, none.rlim_cur = 0;
    ::sigaction(SIGXFSZ, &ignore, &before);
    ::setrlimit(RLIMIT_FSIZE, &none);
    write();
    ::setrlimit(RLIMIT_FSIZE, &was);
    ::sigaction(SIGXFSZ, &before, nullptr);
}

int Files::writeError(const std::string& path)
{
    // A path not there yet is as writable as the nearest folder above it that is there.
    fs::path at = map(path);
    std::error_code ec;
    while (!fs::exists(fs::symlink_status(at, ec)) && at.has_relative_path() && at.parent_path() != at)
        at = at.parent_path();
    if (::access(at.c_str(), W_OK) != 0)
        return errno;
    // A folder that cannot be entered cannot take files either; a file where a folder
    // was asked for cannot take any.
    if (fs::is_directory(at, ec))
        return ::access(at.c_str(), X_OK) == 0 ? 0 : errno;
    return at == fs::path(map(path)) ? 0 : ENOTDIR;
}

void Files::reportFailedStore(const std::string& path, int error)
{
    const std::string mapped = map(path);
    if (mapped == path)
        Console::warn("kelM57N: cannot store %s: %s (errno %d)\n", path.c_str(), std::strerror(error), error);
    else
        Console::warn("kelM57N: cannot store %s (%s): %s (errno %d)\n", path.c_str(), mapped.c_str(), std::strerror(error),
                      error);
}

void Files::sync()
{
    ::sync();
}

uint64_t Files::freeSpace(const std::string& path)
{
    std::string where = map(path);
    struct statvfs st;
    while (::statvfs(where.c_str(), &st) != 0) {
        const size_t cut = where.rfind('/');
        if (cut == std::string::npos || cut == 0)
            return 0;
        where.resize(cut);
    }
    return std::min<uint64_t>(uint64_t(st.f_bavail) * st.f_frsize, spaceLimit(map(path)));
}

} // namespace board
