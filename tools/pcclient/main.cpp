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
// Numbers take C syntax (0x.. hexadecimal). The default link is UDP 127.0.0.1:5008; every
// port, the default and those given with --udp or --tcp, is moved by KEL_PORT_OFFSET like
// the simulated board's ports; --dest defaults to 0xF100.

#include "tests/support/PcClient.h"

#include <QCryptographicHash>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <netdb.h>
#include <string>
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

bool number(const char* text, unsigned long& out)
{
    char* end = nullptr;
    errno = 0;
    out = std::strtoul(text, &end, 0);
    return end && *end == 0 && end != text && errno == 0;
}

bool hostPort(const std::string& arg, std::string& host, uint16_t& port)
{
    size_t colon = arg.rfind(':');
    unsigned long p = 0;
    if (colon == std::string::npos || !number(arg.c_str() + colon + 1, p) || p > 65535)
        return false;
    host = arg.substr(0, colon);
    port = uint16_t(p);
    return true;
}

void dump(uint32_t address, const pc::Bytes& data)
{
    for (size_t i = 0; i < data.size(); i += 16) {
        std::printf("%08x:", unsigned(address + i));
        for (size_t j = i; j < i + 16 && j < data.size(); ++j)
            std::printf(" %02x", data[j]);
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

// Where the requests went ("UDP 127.0.0.1:5008"), for the line that says no reply came.
std::string g_peer;

void no_reply(const char* what = "")
{
    std::printf("%sno reply from %s\n", what, g_peer.c_str());
}

int send_file(pc::PcClient& c, const std::string& name, const char* path, uint16_t dest, int timeout)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "pcclient: cannot read %s\n", path);
        return 1;
    }
    const pc::Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    pc::Bytes start = {1, 0, 0};
    start.insert(start.end(), name.begin(), name.end());
    start.push_back(name == "DIVU" ? 9 : name == "KXFR" ? 13 : 0);
    pc::put32(start, uint32_t(file.size()));
    pc::Bytes r = file_request(c, start, dest, timeout);
    // The boot image's start is accepted without reply data (TCP answers the bare header,
    // UDP and serial nothing); only a refusal carries data.
    const bool silentStart = name == "FBOT" && r.empty();
    if (!silentStart && (r.size() < 3 || r[0] != 0)) {
        if (r.empty())
            no_reply("start: ");
        else
            std::printf("%s not stored (the start was refused: status %d, result %d)\n", path, r[0],
                        r.size() > 2 ? r[2] : -1);
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
        r = file_request(c, b, dest, timeout);
        if (r.size() < 2 || r[0] != 0) {
            std::printf("block at %zu refused or lost\n", at);
            return 1;
        }
    }
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char*>(file.data()), int(file.size())), QCryptographicHash::Md5);
    pc::Bytes end = {3, 0, 0, 0, 0};
    end.insert(end.end(), digest.begin(), digest.end());
    r = file_request(c, end, dest, timeout * 10);
    if (r.size() < 3) {
        no_reply("end: ");
        return 1;
    }
    const bool stored = r[0] == 0 && r[2] == 0;
    if (stored)
        std::printf("%s stored as %s\n", path, name.c_str());
    else
        std::printf("%s not stored (the end was answered with status %d, result %d)\n", path, r[0], r[2]);
    return stored ? 0 : 1;
}

// A read transfer: start (found and size), blocks, end (the digest of what was read).
int get_file(pc::PcClient& c, const std::string& name, const char* path, uint16_t dest, int timeout)
{
    pc::Bytes start = {4, 0, 0};
    start.insert(start.end(), name.begin(), name.end());
    pc::Bytes r = file_request(c, start, dest, timeout);
    if (r.size() < 7 || r[0] != 0) {
        no_reply("start: ");
        return 1;
    }
    const uint32_t size = uint32_t(r[3]) | uint32_t(r[4]) << 8 | uint32_t(r[5]) << 16 | uint32_t(r[6]) << 24;
    if (r[2] != 1) {
        std::printf("%s is not stored\n", name.c_str());
        return 1;
    }
    pc::Bytes file;
    const uint32_t block = 16384;
    for (uint32_t at = 0; at < size; at += block) {
        const uint32_t len = std::min(block, size - at);
        pc::Bytes b = {5, 0, 0, 0, 0};
        pc::put32(b, at);
        pc::put32(b, len);
        r = file_request(c, b, dest, timeout);
        if (r.size() != len + 2 || r[0] != 0) {
            std::printf("block at %u refused or lost\n", unsigned(at));
            return 1;
        }
        file.insert(file.end(), r.begin() + 2, r.end());
    }
    r = file_request(c, {6}, dest, timeout);
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char*>(file.data()), int(file.size())), QCryptographicHash::Md5);
    if (r.size() < 18 || std::memcmp(digest.constData(), r.data() + 2, 16) != 0) {
        std::printf("%s read, but its digest does not match the device's: not written\n", name.c_str());
        return 1;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "pcclient: cannot write %s\n", path);
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
    int offset = 0;
    if (const char* o = std::getenv("KEL_PORT_OFFSET"); o && *o) {
        char* end = nullptr;
        const long value = std::strtol(o, &end, 10);
        if (*end != 0 || value < -65535 || value > 65535) {
            std::fprintf(stderr, "pcclient: KEL_PORT_OFFSET=%s is not a port offset\n", o);
            return 2;
        }
        offset = int(value);
    }
    std::string kind = "udp", host = "127.0.0.1", path;
    uint16_t port = uint16_t(5008 + offset);
    unsigned long dest = pc::kController, timeout = 1000;

    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        std::string opt = argv[i];
        if (i + 1 >= argc) {
            usage();
            return 2;
        }
        const char* val = argv[++i];
        bool ok = true;
        if (opt == "--udp" || opt == "--tcp") {
            kind = opt.substr(2);
            // The port as the README names it (5005, 10002, ...): the offset that moved the
            // program's ports moves it too.
            ok = hostPort(val, host, port) && int(port) + offset >= 1 && int(port) + offset <= 0xFFFF;
            port = uint16_t(int(port) + offset);
        } else if (opt == "--serial") {
            kind = "serial";
            path = val;
        } else if (opt == "--dest") {
            ok = number(val, dest) && dest <= 0xFFFF;
        } else if (opt == "--timeout") {
            ok = number(val, timeout);
        } else {
            ok = false;
        }
        if (!ok) {
            usage();
            return 2;
        }
    }
    if (i >= argc) {
        usage();
        return 2;
    }

    if (kind != "serial" && !resolve(host))
        return 1;
    std::unique_ptr<pc::PcClient> c;
    if (kind == "udp")
        c = pc::PcClient::udp(host, port);
    else if (kind == "tcp")
        c = pc::PcClient::tcp(host, port);
    else
        c = pc::PcClient::serial(path);
    g_peer = kind == "serial" ? "the serial line " + path : (kind == "udp" ? "UDP " : "TCP ") + host + ":" + std::to_string(port);
    if (!c) {
        std::fprintf(stderr, "pcclient: cannot open %s\n", g_peer.c_str());
        return 1;
    }

    const std::string cmd = argv[i++];
    if (cmd == "send-file" && argc - i == 2 && std::strlen(argv[i]) == 4)
        return send_file(*c, argv[i], argv[i + 1], uint16_t(dest), int(timeout));
    if (cmd == "get-file" && argc - i == 2 && std::strlen(argv[i]) == 4)
        return get_file(*c, argv[i], argv[i + 1], uint16_t(dest), int(timeout));
    std::vector<unsigned long> n;
    std::vector<std::pair<uint8_t, uint16_t>> items;
    for (; i < argc; ++i) {
        unsigned long v = 0, w = 0;
        const char* eq = std::strchr(argv[i], '=');
        if (cmd == "settings" && eq && number(std::string(argv[i], size_t(eq - argv[i])).c_str(), v) && number(eq + 1, w)
            && v <= 0xFF && w <= 0xFFFF) {
            items.emplace_back(uint8_t(v), uint16_t(w));
        } else if (cmd != "settings" && number(argv[i], v)) {
            n.push_back(v);
        } else {
            std::fprintf(stderr, "pcclient: bad argument '%s'\n", argv[i]);
            return 2;
        }
    }
    const uint16_t d = uint16_t(dest);
    const int t = int(timeout);

    if (cmd == "read-ram" && n.size() == 2 && n[1] <= 0xFFFF) {
        pc::Bytes data;
        int st = c->readRam(uint32_t(n[0]), uint16_t(n[1]), data, d, t);
        if (st < 0) {
            no_reply();
            return 1;
        }
        std::printf("status %d\n", st);
        if (st == 0)
            dump(uint32_t(n[0]), data);
        return st == 0 ? 0 : 1;
    }
    if (cmd == "write-ram" && n.size() >= 2) {
        pc::Bytes data;
        for (size_t k = 1; k < n.size(); ++k) {
            if (n[k] > 0xFF) {
                std::fprintf(stderr, "pcclient: %lu is not a byte\n", n[k]);
                return 2;
            }
            data.push_back(uint8_t(n[k]));
        }
        int st = c->writeRam(uint32_t(n[0]), data, d, t);
        if (st < 0)
            no_reply();
        else
            std::printf("status %d\n", st);
        return st == 0 ? 0 : 1;
    }
    if (cmd == "read-reg" && n.size() == 1 && n[0] <= 0xFF) {
        int v = c->readRegister(uint8_t(n[0]), d, t);
        if (v == -1)
            no_reply();
        else if (v == -2)
            std::printf("refused\n");
        else
            std::printf("register %lu = 0x%02x\n", n[0], unsigned(v));
        return v >= 0 ? 0 : 1;
    }
    if (cmd == "write-reg" && (n.size() == 2 || n.size() == 3) && n[0] <= 0xFF && n[1] <= 0xFF
        && (n.size() == 2 || n[2] <= 0xFF)) {
        uint8_t mask = n.size() == 3 ? uint8_t(n[2]) : 0xFF;
        int st = c->writeRegister(uint8_t(n[0]), mask, uint8_t(n[1]), d, t);
        if (st < 0)
            no_reply();
        else
            std::printf("status %d\n", st);
        return st == 0 ? 0 : 1;
    }
    if (cmd == "settings" && !items.empty()) {
        pc::Frame reply;
        pc::Frame req = pc::singleSettings(items);
        req.dest = d;
        if (!c->request(req, reply, t) || reply.data.empty()) {
            no_reply();
            return 1;
        }
        std::printf("error flag %d\n", reply.data[0]);
        return reply.data[0] == 0 ? 0 : 1;
    }
    if (cmd == "raw" && !n.empty() && n[0] <= 0xFF) {
        pc::Frame req, reply;
        req.dest = d;
        req.group = uint8_t(n[0]);
        for (size_t k = 1; k < n.size(); ++k) {
            if (n[k] > 0xFF) {
                std::fprintf(stderr, "pcclient: %lu is not a byte\n", n[k]);
                return 2;
            }
            req.data.push_back(uint8_t(n[k]));
        }
        if (!c->request(req, reply, t)) {
            no_reply();
            return 1;
        }
        dump(0, reply.data);
        return 0;
    }
    usage();
    return 2;
}
