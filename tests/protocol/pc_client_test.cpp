// The PC client cuts frames out of a byte stream whatever the pieces and takes only the reply
// that answers its request; pcclient, run as a person runs it against a device the test plays,
// sends what was typed and says in one line what went wrong.
#include "tests/support/Emulation.h"
#include "tests/support/PcClient.h"

#include <QProcess>
#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <pty.h>
#include <random>
#include <set>
#include <unistd.h>

namespace {

using pc::Bytes;

// The device's answer to a request: addresses swapped, bytes 4, 5 and 8 carried back, and the
// data each group answers (reads give zeros).
std::optional<pc::Frame> answer(const pc::Frame& q)
{
    pc::Frame r{q.src, q.dest, q.b4, q.b5, q.mode, q.sub, q.b8, q.group, {0}};
    if (q.group == 0x61)
        r.data.resize(1 + pc::get16(q.data.data() + 4));
    if (q.group == 0xA1 || q.group == 0xB0 || q.group == 0xC0)
        r.data = {0, uint8_t(q.group == 0xB0 ? 0x31 : q.group == 0xC0 ? q.data[0] : 0x5C), 0, 0, 0, 0, 0};
    r.data.resize(q.group == 0xA1 || q.group == 0xB0 ? 2 : q.group == 0xC0 && q.data[0] != 4 ? 3 : r.data.size());
    return r;
}

// pcclient with args, its ports unmoved (whatever the caller's KEL_PORT_OFFSET) unless env
// says otherwise, against a device on a UDP port of the test's ("PORT" in an argument); the
// requests it sent, its whole output and its exit status.
using Device = std::function<std::optional<pc::Frame>(const pc::Frame&)>;
struct ToolRun {
    std::vector<pc::Frame> sent;
    std::string out;
    int status = -1;
};
ToolRun pcclient(QStringList args, Device device = answer, const QString& env = "KEL_PORT_OFFSET=")
{
    auto link = pc::PcClient::udp("127.0.0.1", 9);
    for (QString& a : args)
        a.replace("PORT", "0" + QString::number(link->localPort()));   // a leading zero stays decimal
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(env.section('=', 0, 0), env.section('=', 1));
    p.setProcessEnvironment(e);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QString(KEL_BINARY_DIR) + "/tools/pcclient/pcclient", args);
    ToolRun run;
    Bytes raw, plain;
    pc::Frame q;
    for (int polls = 0; p.state() != QProcess::NotRunning && polls < 3000; ++polls, p.waitForFinished(1))
        while (link->receiveRaw(raw, 10) && pc::unescape(raw, plain) && pc::decode(plain, q)) {
            run.sent.push_back(q);
            link->retarget(inet_ntoa(link->lastPeer().sin_addr), ntohs(link->lastPeer().sin_port));
            if (auto r = device(q))
                link->sendRaw(pc::wire(*r));
        }
    p.waitForFinished(30000);
    run.out = p.readAll().toStdString(), run.status = p.exitCode();
    for (size_t at; (at = run.out.find(":" + std::to_string(link->localPort()))) != std::string::npos;)
        run.out.replace(at, std::to_string(link->localPort()).size() + 1, ":PORT");
    return run;
}

// A request is answered only by its own reply: late ones of other lengths, bytes 4-5,
// addresses or groups, and one that waited on the line before the open, are passed over. The
// frames are cut from the stream past garbage, the answer (a marker in its data) not before it
// is whole; what the client sent arrives as the escaped frame.
TEST(PcClientStream, SerialFramesAreCutFromTheByteStreamAndOnlyTheAnswerIsTaken)
{
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    auto put = [master](const Bytes& b) { return ::write(master, b.data(), b.size()) == ssize_t(b.size()); };
    pc::Frame q = pc::readRam(0x880, 1), got;
    q.b4 = 7;
    std::vector<pc::Frame> replies(7, *answer(q));
    replies[0].data[1] = replies[1].data[1] = 0x47, replies[1].b4 = 0, replies[2].data.push_back(0), replies[3].b5 = 1;
    replies[4].src = 0xF101, replies[5].group = 0x60, replies[6].data[1] = 0x5A;
    auto c = pc::PcClient::serial(name);   // raw: nothing put on the line is echoed
    ASSERT_TRUE(c && put(pc::wire(replies[0])));
    c = pc::PcClient::serial(name);
    const Bytes sent = pc::wire(q);
    Bytes line, echo(2 * sent.size()), twice = sent;
    for (size_t r = 1; r < replies.size(); ++r) {
        const Bytes w = pc::wire(replies[r]);
        line.insert(line.end(), {0x00, 0x13}), line.insert(line.end(), w.begin(), w.end());
    }
    ASSERT_TRUE(c && put(Bytes(line.begin(), line.end() - 7)));
    EXPECT_FALSE(c->request(q, got, 50)) << pc::hex(got.data);   // the answer is not complete yet
    ASSERT_TRUE(put(Bytes(line.end() - 7, line.end())));
    EXPECT_TRUE(c->request(q, got, 2000) && got.data == replies[6].data) << pc::hex(got.data);
    for (ssize_t n = 0, k = 1; n < ssize_t(echo.size()) && k > 0; n += k)
        k = ::read(master, echo.data() + n, echo.size() - size_t(n));
    twice.insert(twice.end(), sent.begin(), sent.end());
    EXPECT_EQ(echo, twice);
    ::close(slave), ::close(master);
}

// Every number argument takes decimal (a leading zero too, never octal) and 0x/0X hexadecimal,
// digits only: drawn forms of every byte value, and of addresses, must reach the wire as the
// values drawn; anything else is a usage error and nothing is sent.
TEST(PcClientTool, NumbersAreDecimalOrHexadecimalAsTyped)
{
    KEL_SKIP_UNDER_EMULATION();
    std::mt19937 draw(86);
    auto form = [&draw](uint64_t v) {
        char text[40];
        const std::string zeros(draw() % 4, '0');
        if (draw() % 2)
            std::snprintf(text, sizeof text, draw() % 2 ? "0%c%s%llx" : "0%c%s%llX", draw() % 2 ? 'x' : 'X', zeros.c_str(), (unsigned long long)v);
        else
            std::snprintf(text, sizeof text, "%s%llu", zeros.c_str(), (unsigned long long)v);
        return QString(text);
    };
    for (uint64_t address : {uint64_t(0), uint64_t(8), uint64_t(0x880), uint64_t(0xFFFFFFFF), uint64_t(draw())}) {
        QStringList args{"--udp", "127.0.0.1:PORT", "write-ram", form(address)};
        Bytes expected;
        for (int v = 0; v < 768; ++v)
            args << form(uint8_t(v)), expected.push_back(uint8_t(v));
        const ToolRun r = pcclient(args);
        ASSERT_EQ(r.sent.size(), 1u) << r.out;
        EXPECT_EQ(std::make_pair(pc::get32(r.sent[0].data.data()), Bytes(r.sent[0].data.begin() + 8, r.sent[0].data.end())),
                  std::make_pair(uint32_t(address), expected)) << args.join(' ').toStdString();
    }
    // Each other number argument, as the person typed it.
    const std::vector<std::pair<QStringList, std::tuple<int, uint16_t, Bytes>>> each{
        {{"--dest", "061697", "read-ram", "010", "020"}, {0x61, 0xF101, {10, 0, 0, 0, 20, 0}}},
        {{"write-reg", "011", "02", "02"}, {0xA0, 0xF100, {11, 2, 0, 2}}},
        {{"write-reg", "0X0e", "1"}, {0xA0, 0xF100, {14, 0xFF, 0, 1}}},
        {{"read-reg", "09"}, {0xA1, 0xF100, {9}}},
        {{"settings", "06=080", "021=0x2"}, {0xB0, 0xF100, {0x31, 0, 6, 80, 0, 21, 2, 0}}},
        {{"raw", "0xa4", "010"}, {0xA4, 0xF100, {10}}}};
    std::set<int> tags{0};   // each request of each run its own, so no late reply passes for its answer
    for (const auto& [args, request] : each) {
        const ToolRun r = pcclient(QStringList{"--udp", "127.0.0.1:PORT"} << args);
        ASSERT_EQ(r.sent.size(), 1u) << r.out;
        EXPECT_TRUE(tags.insert(r.sent[0].b4 | r.sent[0].b5 << 8).second);
        EXPECT_EQ(std::make_tuple(int(r.sent[0].group), r.sent[0].dest, r.sent[0].data), request) << args.join(' ').toStdString();
    }
    for (const char* wrong : {"-1", "+1", " 1", "1 ", "", "0x", "0x1g", "0xx1", "1e3", "0b1", "0o7", "ff", "256", "0x100",
                              "99999999999999999999999", "0x10000000000000000"}) {
        const ToolRun r = pcclient({"--udp", "127.0.0.1:PORT", "write-ram", "0", wrong});
        const bool named = r.out.rfind("pcclient: BYTE '" + std::string(wrong) + "' is not a number", 0) == 0 ||
                           r.out.rfind("pcclient: BYTE " + std::string(wrong) + " is above 255", 0) == 0;
        EXPECT_TRUE(r.status == 2 && r.sent.empty() && named) << wrong << ": " << r.out;
    }
}

// What the person is told: a folder where a file goes, a port the offset moves out of range, a
// send that failed, a connection refused, a read too large for a datagram, a refused start
// that may be this PC's own interrupted transfer, and the step a firmware upload leaves open.
TEST(PcClientTool, EachTripIsNamedInOneLine)
{
    KEL_SKIP_UNDER_EMULATION();
    const std::string dir = std::filesystem::temp_directory_path() / ("pcclient-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir + "/folder");
    std::ofstream(dir + "/image") << "firmware";
    const Device refuse = [](const pc::Frame& q) {
        auto r = answer(q);
        r->data = q.group == 0xC0 ? Bytes{1, 1, 2} : Bytes{1, 0};
        return r;
    }, timeOut = [](const pc::Frame&) { return std::optional<pc::Frame>(); };
    // TCP ports where nothing listens (refused) and where the queue is full (never answers).
    std::vector<int> fds;
    auto tcpPort = [&fds](bool full) {
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof a;
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        fds.push_back(fd), ::bind(fd, reinterpret_cast<sockaddr*>(&a), size), ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
        for (int n = 0; full && n < 3; ++n)
            ::listen(fd, 0), fds.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0)), ::connect(fds.back(), reinterpret_cast<sockaddr*>(&a), size);
        return "127.0.0.1:" + QString::number(ntohs(a.sin_port));
    };
    const QString refused = tcpPort(false), silent = tcpPort(true);
    QStringList big{"--udp", "127.0.0.1:PORT", "write-ram", "0"};
    for (int i = 0; i < 33000; ++i)
        big << "0xA5";   // twice as long escaped
    const QString d = QString::fromStdString(dir), usage = "usage: pcclient";
    const std::vector<std::tuple<QStringList, Device, QString, int, std::string>> trips{
        {{"--udp", "127.0.0.1:PORT", "send-file", "ALIS", d + "/folder"}, answer, "", 2, "pcclient: cannot read " + dir + "/folder: it is a folder, not a file; nothing sent\n"},
        {{"--udp", "127.0.0.1:PORT", "get-file", "ALIS", d + "/folder"}, answer, "", 2, "pcclient: cannot write " + dir + "/folder: it is a folder, not a file; nothing read\n"},
        {{"read-reg", "0"}, answer, "KEL_PORT_OFFSET=70000", 2, "pcclient: KEL_PORT_OFFSET=70000 moves the default port 5008 to 75008, outside 1-65535\n"},
        {{"read-reg", "0"}, answer, "KEL_PORT_OFFSET=-5008", 2, "pcclient: KEL_PORT_OFFSET=-5008 moves the default port 5008 to 0, outside 1-65535\n"},
        {{"read-reg", "0"}, answer, "KEL_PORT_OFFSET=-99999999999999999999", 2, "pcclient: KEL_PORT_OFFSET=-99999999999999999999 moves the default port 5008 to below 1, outside 1-65535\n"},
        {{"--tcp", "127.0.0.1:5005", "read-reg", "0"}, answer, "KEL_PORT_OFFSET=60531", 2, "pcclient: KEL_PORT_OFFSET=60531 moves the port 5005 to 65536, outside 1-65535\n"},
        {{"read-reg", "0"}, answer, "KEL_PORT_OFFSET=8x", 2, "pcclient: KEL_PORT_OFFSET=8x is not a number: give a whole number that keeps the ports within 1-65535\n"},
        {big, answer, "", 1, "the request could not be sent to UDP 127.0.0.1:PORT: Message too long (a UDP datagram takes at most 65507 bytes: send less at a time, or use --tcp)\n"},
        {{"--tcp", refused, "read-reg", "0"}, answer, "", 1, "pcclient: cannot connect to TCP " + refused.toStdString() + ": Connection refused (is the program running there, with the same KEL_PORT_OFFSET?)\n"},
        {{"--timeout", "300", "--tcp", silent, "read-reg", "0"}, answer, "", 1, "pcclient: cannot connect to TCP " + silent.toStdString() + ": no answer within 300 ms (is the program running there, with the same KEL_PORT_OFFSET?)\n"},
        {{"--udp", "127.0.0.1:PORT", "--timeout", "100", "read-reg", "0"}, timeOut, "", 1, "no reply from UDP 127.0.0.1:PORT (is the program running there, with the same KEL_PORT_OFFSET?)\n"},
        {{"--udp", "127.0.0.1:PORT", "read-ram", "0", "65500"}, refuse, "", 1, "status 1: refused: the reply of 65500 bytes may not fit a UDP datagram (65507 bytes, escaped): read less at a time (up to 32740 bytes always fit), or use --tcp\n"},
        {{"--udp", "127.0.0.1:PORT", "send-file", "ALIS", d + "/image"}, refuse, "", 1, dir + "/image not stored: the start was refused (status 1, result 2): another PC's file transfer is in progress (or an interrupted one of this PC's own: its hold lapses 30 s after its last block), or /data has no room for 8 bytes beside the 2 MiB it keeps free: send again once the other transfer has ended, and free space on /data if it is refused again\n"},
        {{"--udp", "127.0.0.1:PORT", "send-file", "FMCU", d + "/image"}, answer, "", 0, dir + "/image stored as FMCU\nthe device shows \"firmware upgrading\" until the PC finishes the upgrade: write-reg 14 1 1 puts the image in place and restarts (on the simulated board the reboot goes to its journal and the program runs on), or write-reg 9 0 ends the upgrade and keeps the running program\n"}};
    for (const auto& [args, device, env, status, out] : trips) {
        const ToolRun r = pcclient(args, device, env.isEmpty() ? "KEL_PORT_OFFSET=" : env);
        const size_t at = r.out.find(usage.toStdString());   // after an offset's usage error; nothing is sent
        EXPECT_EQ(std::make_tuple(r.status, r.out.substr(0, at), status == 2 && !r.sent.empty(), at != std::string::npos),
                  std::make_tuple(status, out, false, !env.isEmpty())) << args.mid(0, 6).join(' ').toStdString();
    }
    for (int fd : fds)
        ::close(fd);
    std::filesystem::remove_all(dir);
}

} // namespace
