// pcclient: talks the controller's PC protocol from the command line.
//
//   pcclient [--udp HOST:PORT | --tcp HOST:PORT | --serial PATH] [--dest ADDR] [--timeout MS]
//            COMMAND ARGS...
//
//   read-ram ADDR LEN            read LEN bytes of RAM at ADDR (group 0x61)
//   write-ram ADDR BYTE...       write the bytes to RAM at ADDR (group 0x60)
//   read-reg REG                 read a register (group 0xA1)
//   write-reg REG VALUE [MASK]   write a register, mask 0xFF unless given (group 0xA0)
//   settings ITEM=VALUE...       single settings by item number (group 0xB0)
//   raw GROUP BYTE...            any command group with the given data bytes; the reply's
//                                data bytes are printed
//   send-file NAME PATH          a file transfer (group 0xC0): NAME is the four-character
//                                name ("ALIS", "OSDS", "MO01", "FMCU", "DIVU", ...), the
//                                file goes in blocks and ends with its MD5 digest
//   get-file NAME PATH           a read transfer of the stored file NAME ("ALIS", "OSDS",
//                                "MO01" ...) into PATH, checked against the device's digest
//
// Numbers are decimal, or hexadecimal after 0x; a leading zero is decimal (050 is fifty), never
// octal. The default link is UDP 127.0.0.1:5008; every port, the default and those given with
// --udp or --tcp, is moved by KEL_PORT_OFFSET like the simulated board's ports; --dest defaults
// to 0xF100. --timeout (1000 ms) bounds each reply's wait and the TCP connect.

#include "core/transfer_hold.h"
#include "tests/support/PcClient.h"

#include <QCryptographicHash>
#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: pcclient [--udp HOST:PORT | --tcp HOST:PORT | --serial PATH] [--dest ADDR]\n"
                 "                [--timeout MS] COMMAND ARGS...\n"
                 "  read-ram ADDR LEN | write-ram ADDR BYTE... | read-reg REG |\n"
                 "  write-reg REG VALUE [MASK] | settings ITEM=VALUE... | raw GROUP BYTE... |\n"
                 "  send-file NAME PATH | get-file NAME PATH\n");
}

// A usage error: what is wrong first, then the usage; exit status 2.
int wrong(const std::string& what)
{
    std::fprintf(stderr, "pcclient: %s\n", what.c_str());
    usage();
    return 2;
}

std::string hex(unsigned long long value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", value);
    return text;
}

// A number the tool takes (decimal, or hexadecimal after 0x or 0X) up to max; an empty text
// when it is one, else what is wrong with it. Only digits are taken: no sign (the conversion
// would wrap "-1" onto the largest value), no space, and no octal for a leading zero.
std::string number(const char* what, const char* text, unsigned long long max, unsigned long& out)
{
    const bool hexadecimal = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hexadecimal ? text + 2 : text;
    bool valid = *digits != 0;
    for (const char* d = digits; *d && valid; ++d)
        valid = hexadecimal ? std::isxdigit(uint8_t(*d)) != 0 : std::isdigit(uint8_t(*d)) != 0;
    if (!valid)
        return std::string(what) + " '" + text + "' is not a number (decimal, or 0x.. hexadecimal)";
    errno = 0;
    const unsigned long long value = std::strtoull(digits, nullptr, hexadecimal ? 16 : 10);
    if (value > max || errno == ERANGE)
        return std::string(what) + " " + text + " is above " + std::to_string(max) + " (" + hex(max) + ")";
    out = static_cast<unsigned long>(value);
    return std::string();
}

// What is wrong with HOST:PORT, or an empty text.
std::string hostPort(const std::string& arg, std::string& host, uint16_t& port)
{
    const size_t colon = arg.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return "'" + arg + "' is not HOST:PORT";
    unsigned long p = 0;
    std::string why = number("the port", arg.c_str() + colon + 1, 65535, p);
    if (!why.empty() || p == 0)
        return why.empty() ? "the port 0 is not a port (1-65535)" : why;
    host = arg.substr(0, colon);
    port = uint16_t(p);
    return std::string();
}

// Each line the address and up to 16 bytes, both hexadecimal with 0x: a byte written as 50
// reads back as 0x32, never as a bare "32" that could pass for decimal.
void dump(uint32_t address, const pc::Bytes& data)
{
    for (size_t i = 0; i < data.size(); i += 16) {
        std::printf("0x%08X:", unsigned(address + i));
        for (size_t j = i; j < i + 16 && j < data.size(); ++j)
            std::printf(" 0x%02X", data[j]);
        std::printf("\n");
    }
}

// One request of the file group; its reply data, empty when none came.
pc::Bytes file_request(pc::PcClient& c, const pc::Bytes& data, uint16_t dest, int timeout)
{
    pc::Frame req, reply;
    req.dest = dest;
    req.group = 0xC0;
    req.data = data;
    return c.request(req, reply, timeout) ? reply.data : pc::Bytes();
}

// The seconds a transfer's hold outlives its last block: an interrupted transfer of this PC's
// own keeps the device's file buffer that long.
const unsigned kHoldSeconds = TransferHold::kIdleTicks / 100;

// Where the requests went ("UDP 127.0.0.1:5008"), for the line that says no reply came, and
// the link they went on.
std::string g_peer;
pc::PcClient* g_link = nullptr;

// Why a request got no answer: it could not be sent (and why), or nothing answered in time.
void no_reply(const char* what = "", const char* after = "")
{
    const int error = g_link ? g_link->sendError() : 0;
    if (error == 0) {
        const bool serial = g_link && g_link->kind() == pc::PcClient::Kind::Serial;
        std::printf("%sno reply from %s%s%s\n", what, g_peer.c_str(), after,
                    serial ? "" : " (is the program running there, with the same KEL_PORT_OFFSET?)");
        return;
    }
    const char* hint = error == EMSGSIZE ? " (a UDP datagram takes at most 65507 bytes: send less at a time, or use --tcp)"
                       : error == EACCES && g_link->kind() == pc::PcClient::Kind::Udp ? " (a broadcast address, say)"
                                                                                         : "";
    std::printf("%sthe request could not be sent to %s: %s%s%s\n", what, g_peer.c_str(), std::strerror(error), hint, after);
}

// How long a request waits for its reply: the time given, and on the serial line also the
// time its bytes and the reply's take at 115200 baud (every byte escaped, at worst), so a
// large read is not given up while its reply is still on the way.
int g_wait = 1000;
int waitFor(size_t requestBytes, size_t replyBytes)
{
    if (!g_link || g_link->kind() != pc::PcClient::Kind::Serial)
        return g_wait;
    const size_t bits = (2 * (requestBytes + replyBytes) + 40) * 10;
    return g_wait + int(bits * 1000 / 115200) + 1;
}

// A firmware image's start opens the device's "firmware upgrading" display, which stays until
// the PC finishes or ends the update: what the person must do next.
bool firmware(const std::string& name) { return name == "FMCU" || name == "FKRN"; }
void update_left_open(const std::string& name, bool stored)
{
    if (!firmware(name))
        return;
    if (stored && name == "FMCU")
        std::printf("the device shows \"firmware upgrading\" until the PC finishes the upgrade: write-reg 14 1 1 "
                    "puts the image in place and restarts (on the simulated board the reboot goes to its journal "
                    "and the program runs on), or write-reg 9 0 ends the upgrade and keeps the running program\n");
    else if (stored)
        std::printf("the device shows \"firmware upgrading\" until the PC ends the update: write-reg 9 0 ends it; "
                    "write-reg 14 2 2 reboots onto the new kernel\n");
    else
        std::printf("the device may show \"firmware upgrading\": write-reg 9 0 ends the update\n");
}

// The names the device stores and how many bytes each takes (0: any); the device answers
// every refused start alike, so the line that reports one says which of these applies.
struct FileName {
    const char* name;
    uint32_t most;
    bool image;   // an empty one would leave the device without it
};
const FileName kStored[] = {{"ALIS", 0x60000, false},  {"OSDS", 0x400000, false}, {"MO", 0x400000, false},
                            {"FMCU", 0x500000, true},  {"FKRN", 0x500000, true},  {"LOGO", 0x60000 - 372, true},
                            {"DIVU", 0x500000, false}, {"KXFR", 0x500000, false}, {"FBOT", 0, false}};
const char kStoredNames[] = "ALIS, OSDS, MO01-MO10, FMCU, FKRN, LOGO, DIVU, KXFR or FBOT";

// The overlay copies of user modes 1-16 are MO01 to MO10 (hexadecimal).
bool modeName(const std::string& name)
{
    unsigned long mode = 0;
    return name.compare(0, 2, "MO") == 0 && std::isxdigit(uint8_t(name[2])) && std::isxdigit(uint8_t(name[3])) &&
           number("", ("0x" + name.substr(2)).c_str(), 16, mode).empty() && mode >= 1;
}

const FileName* storedName(const std::string& name)
{
    for (const FileName& f : kStored)
        if (name == f.name || (std::string(f.name) == "MO" && modeName(name)))
            return &f;
    return nullptr;
}

// Why the device refused the start of a file of size bytes as name, and what to do.
std::string refusedStart(const std::string& name, size_t size)
{
    const FileName* f = storedName(name);
    if (!f)
        return name + " is not a name the device stores: use " + kStoredNames;
    if (f->most != 0 && size > f->most)
        return "its " + std::to_string(size) + " bytes are more than the " + std::to_string(f->most) + " the device takes as " +
               name + ": send a smaller file";
    if (f->image && size == 0)
        return "an empty " + name + " would leave the device without it: send the whole file";
    return "another PC's file transfer is in progress (or an interrupted one of this PC's own: its hold lapses " +
           std::to_string(kHoldSeconds) + " s after its last block), or /data has no room for " + std::to_string(size) +
           " bytes beside the 2 MiB it keeps free: send again once the other transfer has ended, and free space on "
           "/data if it is refused again";
}

// The whole file at path; false, with the line that says why, when it cannot be read.
bool read_whole(const char* path, pc::Bytes& file)
{
    struct stat st {};
    std::FILE* in = ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? nullptr : std::fopen(path, "rb");
    int error = in ? 0 : S_ISDIR(st.st_mode) ? EISDIR : errno;
    uint8_t chunk[65536];
    for (size_t n; in && (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
        file.insert(file.end(), chunk, chunk + n);
    if (in && std::ferror(in))
        error = errno ? errno : EIO;
    if (in)
        std::fclose(in);
    if (error != 0)
        std::fprintf(stderr, "pcclient: cannot read %s: %s; nothing sent\n", path,
                     error == EISDIR ? "it is a folder, not a file" : std::strerror(error));
    return error == 0;
}

int send_file(pc::PcClient& c, const std::string& name, const pc::Bytes& file, const char* path, uint16_t dest)
{
    const int timeout = g_wait;
    pc::Bytes start = {1, 0, 0};
    start.insert(start.end(), name.begin(), name.end());
    start.push_back(name == "DIVU" ? 9 : name == "KXFR" ? 13 : 0);
    pc::put32(start, uint32_t(file.size()));
    pc::Bytes r = file_request(c, start, dest, waitFor(start.size(), 3));
    // The boot image's start is accepted without reply data (TCP answers the bare header,
    // UDP and serial nothing); only a refusal carries data.
    const bool silentStart = name == "FBOT" && r.empty();
    if (!silentStart && (r.size() < 3 || r[0] != 0)) {
        if (r.empty())
            no_reply("start: ", "; nothing sent");
        else
            std::printf("%s not stored: the start was refused (status %d, result %d): %s\n", path, r[0],
                        r.size() > 2 ? r[2] : -1, refusedStart(name, file.size()).c_str());
        update_left_open(name, false);
        return 1;
    }
    // Blocks small enough for a UDP datagram even when every byte needs escaping.
    const size_t block = 16384;
    for (size_t at = 0; at < file.size(); at += block) {
        const size_t len = std::min(block, file.size() - at);
        pc::Bytes b = {2, 0, 0, 0, 0};
        pc::put32(b, uint32_t(at));
        pc::put32(b, uint32_t(len));
        b.insert(b.end(), file.begin() + long(at), file.begin() + long(at + len));
        r = file_request(c, b, dest, waitFor(b.size(), 2));
        if (r.size() < 2 || r[0] != 0) {
            if (r.empty() && c.sendError() != 0)
                no_reply("block: ");
            std::printf("%s not stored: the block at %zu was %s: send the file again\n", path, at,
                        r.empty() ? "not answered" : "refused (another PC took over the transfer)");
            update_left_open(name, false);
            return 1;
        }
    }
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char*>(file.data()), int(file.size())), QCryptographicHash::Md5);
    pc::Bytes end = {3, 0, 0, 0, 0};
    end.insert(end.end(), digest.begin(), digest.end());
    r = file_request(c, end, dest, waitFor(end.size(), 3) + timeout * 9);
    if (r.size() < 3) {
        no_reply("end: ", "; whether it was stored is not known: read it back (get-file) or send it again");
        update_left_open(name, false);
        return 1;
    }
    const bool stored = r[0] == 0 && r[2] == 0;
    if (stored)
        std::printf("%s stored as %s\n", path, name.c_str());
    else
        std::printf("%s not stored (the end was answered with status %d, result %d): %s; the stored %s stays as it was\n",
                    path, r[0], r[2],
                    r[0] == 0 ? "the device found it damaged on the way or not a file it can use (a JSON file it cannot read, say)"
                              : "the device could not write it (no room on /data, or another PC took over the transfer)",
                    name.c_str());
    update_left_open(name, stored);
    return stored ? 0 : 1;
}

// A read transfer: start (found and size), blocks, end (the digest of what was read).
int get_file(pc::PcClient& c, const std::string& name, const char* path, uint16_t dest)
{
    const int timeout = g_wait;
    pc::Bytes start = {4, 0, 0};
    start.insert(start.end(), name.begin(), name.end());
    pc::Bytes r = file_request(c, start, dest, timeout);
    if (r.size() < 7) {
        no_reply("start: ");
        return 1;
    }
    const std::string again = "; read it again once the other PC's read has ended (an interrupted read of this PC's "
                              "own holds the file until " + std::to_string(kHoldSeconds) + " s after its last block)";
    if (r[0] != 0) {
        std::printf("%s not read: the start was refused (status %d): another PC is reading a file%s\n", name.c_str(), r[0], again.c_str());
        return 1;
    }
    const uint32_t size = uint32_t(r[3]) | uint32_t(r[4]) << 8 | uint32_t(r[5]) << 16 | uint32_t(r[6]) << 24;
    if (r[2] != 1) {
        if (modeName(name))
            std::printf("%s is not stored: a mode's overlay copy is there once a PC sent it, or once the mode was saved "
                        "while the overlay was on (byte 2124 = 1) and OSDS was stored\n", name.c_str());
        else if (name == "ALIS" || name == "OSDS")
            std::printf("%s is not stored\n", name.c_str());
        else
            std::printf("%s is not a file the device reads back: use ALIS, OSDS or MO01-MO10\n", name.c_str());
        return 1;
    }
    pc::Bytes file;
    const uint32_t block = 16384;
    for (uint32_t at = 0; at < size; at += block) {
        const uint32_t len = std::min(block, size - at);
        pc::Bytes b = {5, 0, 0, 0, 0};
        pc::put32(b, at);
        pc::put32(b, len);
        r = file_request(c, b, dest, waitFor(b.size(), len + 2));
        if (r.size() != len + 2 || r[0] != 0) {
            std::printf("%s not read: the block at %u was %s; read it again\n", name.c_str(), unsigned(at),
                        r.empty() ? "not answered" : "refused or cut short");
            return 1;
        }
        file.insert(file.end(), r.begin() + 2, r.end());
    }
    r = file_request(c, {6}, dest, timeout);
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char*>(file.data()), int(file.size())), QCryptographicHash::Md5);
    if (r.size() < 18) {
        no_reply("end: ", "; nothing written: read it again");
        return 1;
    }
    if (r[0] != 0) {
        std::printf("%s not read: the end was refused (status %d): another PC is reading a file%s\n", name.c_str(), r[0], again.c_str());
        return 1;
    }
    if (std::memcmp(digest.constData(), r.data() + 2, 16) != 0) {
        std::printf("%s read, but its digest does not match the device's: not written; read it again\n", name.c_str());
        return 1;
    }
    std::FILE* out = std::fopen(path, "wb");
    const bool written = out && std::fwrite(file.data(), 1, file.size(), out) == file.size() && std::fflush(out) == 0;
    const int error = errno;
    if (out)
        std::fclose(out);
    if (!written) {
        std::fprintf(stderr, "pcclient: cannot write %s: %s\n", path, std::strerror(error));
        return 1;
    }
    std::printf("%s read into %s (%u bytes)\n", name.c_str(), path, unsigned(size));
    return 0;
}

// The host of --udp or --tcp as an IPv4 address; false when the name does not resolve.
bool resolve(std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    const int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (error != 0 || found == nullptr) {
        std::fprintf(stderr, "pcclient: the host %s cannot be resolved: %s\n", host.c_str(),
                     error != 0 ? ::gai_strerror(error) : "no IPv4 address");
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    ::freeaddrinfo(found);
    host = text;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        usage();
        return 2;
    }
    // The offset as the program takes it (a whole number, strtol's form); whether it moves a
    // port out of range is known only once the port is, and is said the same way for each.
    long long offset = 0;
    bool huge = false;   // out of range whatever the port: said without the sum
    const char* offsetText = std::getenv("KEL_PORT_OFFSET");
    if (offsetText && *offsetText) {
        char* end = nullptr;
        errno = 0;
        offset = std::strtoll(offsetText, &end, 10);
        huge = errno == ERANGE || offset < -1000000000 || offset > 1000000000;
        if (*end != 0 || end == offsetText)
            return wrong("KEL_PORT_OFFSET=" + std::string(offsetText) + " is not a number: give a whole number that keeps the ports within 1-65535");
    }
    const auto moved = [&](const char* which, long long given) {
        return huge || given + offset < 1 || given + offset > 0xFFFF
                   ? "KEL_PORT_OFFSET=" + std::string(offsetText) + " moves the " + which + std::to_string(given) + " to " +
                         (huge ? offset < 0 ? "below 1" : "above 65535" : std::to_string(given + offset)) + ", outside 1-65535"
                   : std::string();
    };
    std::string kind = "udp", host = "127.0.0.1", path;
    long long port = 5008;

    unsigned long dest = pc::kController, timeout = 1000;

    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string opt = argv[i];
        const char* what = opt == "--udp" || opt == "--tcp" ? "HOST:PORT" : opt == "--serial" ? "PATH" : opt == "--dest" ? "ADDR" : "MS";
        if (opt != "--udp" && opt != "--tcp" && opt != "--serial" && opt != "--dest" && opt != "--timeout")
            return wrong("unknown option " + opt);
        if (i + 1 >= argc)
            return wrong(opt + " needs " + what);
        const char* val = argv[++i];
        std::string why;
        if (opt == "--udp" || opt == "--tcp") {
            kind = opt.substr(2);
            // The port as the README names it (5005, 10002, ...): the offset that moved the
            // program's ports moves it too.
            uint16_t given = 0;
            why = hostPort(val, host, given);
            port = given;
            if (why.empty())
                why = moved("port ", given);
        } else if (opt == "--serial") {
            kind = "serial";
            path = val;
        } else if (opt == "--dest") {
            why = number("--dest", val, 0xFFFF, dest);
        } else {
            // The end of a file transfer waits ten times as long: it must still fit an int.
            why = number("--timeout", val, 100000000, timeout);
            if (why.empty() && timeout == 0)
                why = "--timeout 0 would give no reply time: give milliseconds, 1 or more";
        }
        if (!why.empty())
            return wrong(why);
    }
    if (i >= argc)
        return wrong("no command given");
    if (const std::string why = moved("default port ", port); kind != "serial" && !why.empty())
        return wrong(why);
    port += offset;

    // The command and its arguments are checked whole before anything is sent.
    const std::string cmd = argv[i++];
    const int count = argc - i;
    char** args = argv + i;
    std::vector<unsigned long> n;
    std::vector<std::pair<uint8_t, uint16_t>> items;
    // The argument names of each command and the largest value each takes (the last
    // repeats); file commands take text.
    struct Shape {
        const char* cmd;
        const char* args;
        int least, most;
        std::vector<std::pair<const char*, unsigned long long>> values;
    };
    const Shape shapes[] = {
        {"read-ram", "ADDR LEN", 2, 2, {{"ADDR", 0xFFFFFFFF}, {"LEN", 0xFFFF}}},
        {"write-ram", "ADDR BYTE...", 2, 1 << 16, {{"ADDR", 0xFFFFFFFF}, {"BYTE", 0xFF}}},
        {"read-reg", "REG", 1, 1, {{"REG", 0xFF}}},
        {"write-reg", "REG VALUE [MASK]", 2, 3, {{"REG", 0xFF}, {"VALUE", 0xFF}, {"MASK", 0xFF}}},
        {"settings", "ITEM=VALUE...", 1, 255, {}},
        {"raw", "GROUP BYTE...", 1, 1 << 16, {{"GROUP", 0xFF}, {"BYTE", 0xFF}}},
        {"send-file", "NAME PATH", 2, 2, {}},
        {"get-file", "NAME PATH", 2, 2, {}},
    };
    const Shape* shape = nullptr;
    for (const Shape& s : shapes)
        if (cmd == s.cmd)
            shape = &s;
    if (!shape)
        return wrong("unknown command '" + cmd + "'");
    if (count < shape->least || count > shape->most)
        return wrong(cmd + " takes " + shape->args + ": " + (count < shape->least ? "too few arguments" : "too many arguments"));
    if ((cmd == "send-file" || cmd == "get-file") && std::strlen(args[0]) != 4)
        return wrong(std::string("NAME '") + args[0] + "' is not four characters (ALIS, OSDS, MO01 ...)");
    // A file that cannot be sent, or a place the read file cannot go, is named before anything
    // is sent.
    pc::Bytes file;
    if (cmd == "send-file" && !read_whole(args[1], file))
        return 2;
    if (cmd == "get-file") {
        struct stat st {};
        const std::string folder = std::strrchr(args[1], '/') ? std::string(args[1], size_t(std::strrchr(args[1], '/') - args[1] + 1)) : ".";
        const int error = ::stat(args[1], &st) == 0 && S_ISDIR(st.st_mode) ? EISDIR : ::access(folder.c_str(), W_OK) != 0 ? errno : 0;
        if (error != 0) {
            std::fprintf(stderr, "pcclient: cannot write %s: %s; nothing read\n", args[1],
                         error == EISDIR ? "it is a folder, not a file" : std::strerror(error));
            return 2;
        }
    }
    for (int k = 0; k < count && !shape->values.empty(); ++k) {
        const auto& [what, most] = shape->values[std::min(size_t(k), shape->values.size() - 1)];
        unsigned long v = 0;
        const std::string why = number(what, args[k], most, v);
        if (!why.empty())
            return wrong(why);
        n.push_back(v);
    }
    for (int k = 0; k < count && cmd == "settings"; ++k) {
        const char* eq = std::strchr(args[k], '=');
        if (!eq)
            return wrong(std::string("'") + args[k] + "' is not ITEM=VALUE");
        unsigned long item = 0, value = 0;
        std::string why = number("ITEM", std::string(args[k], size_t(eq - args[k])).c_str(), 0xFF, item);
        if (why.empty())
            why = number("VALUE", eq + 1, 0xFFFF, value);
        if (!why.empty())
            return wrong(why);
        items.emplace_back(uint8_t(item), uint16_t(value));
    }

    if (kind != "serial" && !resolve(host))
        return 1;
    std::unique_ptr<pc::PcClient> c;
    if (kind == "udp")
        c = pc::PcClient::udp(host, uint16_t(port));
    else if (kind == "tcp")
        c = pc::PcClient::tcp(host, uint16_t(port), "", int(timeout));
    else
        c = pc::PcClient::serial(path);
    g_peer = kind == "serial" ? "the serial line " + path : (kind == "udp" ? "UDP " : "TCP ") + host + ":" + std::to_string(port);
    if (!c) {
        const int error = errno;
        std::fprintf(stderr, "pcclient: cannot %s %s: %s%s\n", kind == "tcp" ? "connect to" : "open", g_peer.c_str(),
                     error == ETIMEDOUT ? ("no answer within " + std::to_string(timeout) + " ms").c_str() : std::strerror(error),
                     kind == "serial" ? " (the line of a running program is named in <root>/dev/ttyS2.peer)"
                                      : " (is the program running there, with the same KEL_PORT_OFFSET?)");
        return 1;
    }
    // Each run's requests carry their own tags: a late reply to an earlier run's request on the
    // same serial line is not taken for this one's.
    c->tagRequests(uint16_t(std::random_device()()));
    g_link = c.get();
    g_wait = int(timeout);
    const uint16_t d = uint16_t(dest);

    if (cmd == "send-file")
        return send_file(*c, args[0], file, args[1], d);
    if (cmd == "get-file")
        return get_file(*c, args[0], args[1], d);
    if (cmd == "read-ram") {
        pc::Bytes data;
        int st = c->readRam(uint32_t(n[0]), uint16_t(n[1]), data, d, waitFor(16, n[1] + 1));
        if (st < 0) {
            no_reply();
            return 1;
        }
        // The controller refuses only a reply too large for the link; another destination also
        // a range outside what it holds.
        const bool tooLarge = kind == "udp" && 2 * (n[1] + 12) + 4 > 65507;
        if (st != 0 && tooLarge)
            std::printf("status %d: refused: the reply of %lu bytes may not fit a UDP datagram (65507 bytes, escaped): "
                        "read less at a time (up to 32740 bytes always fit), or use --tcp\n", st, n[1]);
        else
            std::printf("status %d\n", st);
        if (st == 0)
            dump(uint32_t(n[0]), data);
        return st == 0 ? 0 : 1;
    }
    if (cmd == "write-ram") {
        const pc::Bytes data(n.begin() + 1, n.end());
        int st = c->writeRam(uint32_t(n[0]), data, d, waitFor(data.size() + 16, 1));
        if (st < 0)
            no_reply();
        else
            std::printf("status %d\n", st);
        return st == 0 ? 0 : 1;
    }
    if (cmd == "read-reg") {
        int v = c->readRegister(uint8_t(n[0]), d, waitFor(16, 2));
        if (v == -1)
            no_reply();
        else if (v == -2)
            std::printf("refused\n");
        else
            std::printf("register %lu = 0x%02X (%d)\n", n[0], unsigned(v), v);
        return v >= 0 ? 0 : 1;
    }
    if (cmd == "write-reg") {
        uint8_t mask = n.size() == 3 ? uint8_t(n[2]) : 0xFF;
        int st = c->writeRegister(uint8_t(n[0]), mask, uint8_t(n[1]), d, waitFor(16, 1));
        if (st < 0)
            no_reply();
        else
            std::printf("status %d\n", st);
        return st == 0 ? 0 : 1;
    }
    pc::Frame req, reply;
    req.dest = d;
    if (cmd == "settings") {
        req = pc::singleSettings(items);
        req.dest = d;
        if (!c->request(req, reply, waitFor(req.data.size() + 12, 2)) || reply.data.empty()) {
            no_reply();
            return 1;
        }
        std::printf("error flag %d\n", reply.data[0]);
        return reply.data[0] == 0 ? 0 : 1;
    }
    req.group = uint8_t(n[0]);
    req.data.assign(n.begin() + 1, n.end());
    // Any group: a reply of a page or so is given its time on the line.
    if (!c->request(req, reply, waitFor(req.data.size() + 12, 0x1000))) {
        no_reply();
        return 1;
    }
    dump(0, reply.data);
    return 0;
}
