#pragma once
#include <QString>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace board {

// The program names its files by their paths on the board ("/data/ram_device_info",
// "/mnt/usb1/", "/etc/network/interfaces"). Every file access maps that path here: on
// the board the map is the identity, on the simulated board the path lands under the
// data root, so a host run never touches the host's own /data or /etc.
class Files {
public:
    static std::string map(const std::string& systemPath);
    static QString map(const QString& systemPath);
    static std::string map(const char* systemPath) { return map(std::string(systemPath)); }

    // Reading never waits on what stands at a path: only a regular file (or a link to one)
    // is a file. A folder (EISDIR), a named pipe, a socket or a device node (EINVAL) is none,
    // as nothing there (ENOENT) is; none of them is opened, so nothing waits for a writer.
    // A stream ("rb") on the file, or nullptr with errno set.
    [[nodiscard]] static std::FILE* openRead(const std::string& path);
    // At most max bytes of the file from skip on: 0, or the reason they could not be read (an
    // errno value, as above).
    [[nodiscard]] static int readAll(const std::string& path, std::string& bytes, size_t max = SIZE_MAX, uint64_t skip = 0);
    // True when a regular file (or a link to one) is at path: the only thing a library that
    // opens the file itself (QSettings) may be given to read.
    [[nodiscard]] static bool isFile(const std::string& path);

    // File operations that the board does with "mv", "cp" and "rm"; done here as file
    // operations on mapped paths (no shell, so no quoting problems). true on success. Each is
    // one step that a power cut finds done or not done: a move is a rename, a file is copied
    // to a temporary beside the target and renamed over it.
    static bool move(const std::string& from, const std::string& to);
    static bool copy(const std::string& from, const std::string& to);
    static bool remove(const std::string& path);           // a file, or a folder with its contents
    static bool makeDirs(const std::string& path);         // like "mkdir -p"
    static bool exists(const std::string& path);
    // Sets the permission bits of a file ("chmod"): true on success. The loader starts the
    // program by its path, so an image whose mode could not be set is no program to install.
    static bool setMode(const std::string& path, unsigned mode);

    // Writes the whole content to a temporary file beside the target, flushes it and renames
    // it over the target, so a power cut leaves either the old or the new file. A failure
    // is reported (reportFailedStore) before false is returned.
    static bool writeAtomically(const std::string& path, const void* data, size_t length);
    // Flushes a file that a library wrote itself (QSettings writes its own files), so that a
    // rename of it stores what it holds: 0, or the reason it could not be (an errno value).
    // A step of a store like the others; a flush that fails leaves the file cut short, as a
    // write that met a full disc or a cut does, and a disc the file did not fit on fails it
    // with ENOSPC.
    static int flushWritten(const std::string& path);
    // Runs a library's own write of a file (QSettings writes its files itself) as a step of a
    // store: where the supply is cut or the store refused at that step, the library meets a
    // write that fails, as on a full disc, and only its own status tells.
    static void libraryWrite(const std::function<void()>& write);

    // 0 when the folder or file at path can be written, else the reason (an errno value):
    // a read-only mount, missing permission, a file where a folder should be.
    static int writeError(const std::string& path);
    // One line on the error output naming the file that could not be stored and why, so a
    // lost setting is never silent.
    static void reportFailedStore(const std::string& path, int error);

    // "sync": flush file data to storage.
    static void sync();

    // Bytes a program may still write on the file system that holds path (or the nearest
    // folder on the way to it that exists); 0 when there is none.
    static uint64_t freeSpace(const std::string& path);

private:
    // Asked before each step of a store (the temporary written, flushed, renamed; a move, a
    // copy, a removal): 0 to go on; -1 when the supply failed there, so the step and
    // everything after it is lost; else the error the step fails with. Always 0 on the board;
    // the simulated board can cut the supply or fail the store at any step.
    static int stepFault();
    // What the board itself leaves of that space, beyond what the host's file system says:
    // no limit on the board; on the simulated board a data root may stand for a small /data.
    static uint64_t spaceLimit(const std::string& mappedPath);
    // 0 when the file system at mappedPath keeps file modes, else the error a mode set fails
    // with: always 0 on the board; the simulated board may stand for one that keeps none.
    static int modeError(const std::string& mappedPath);
};

} // namespace board
