#include "board/Clock.h"
#include "board/sim/Sim.h"
#include "core/global.h"
#include "core/json_reader.h"
#include "core/stop_signal.h"
#include "core/utils.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>
#include <thread>

namespace {
const unsigned char kAbc[] = {'a', 'b', 'c'};
const unsigned char kCheck[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
} // namespace

TEST(UtilsChecksums, ValuesOfKnownInputs)
{
    // Over "123456789" the catalogue check values of the CRCs these are (CRC-16/ARC,
    // CRC-32 without its initial and final inversion, so not 0xCBF43926, CRC-16/MCRF4XX,
    // CRC-16/XMODEM).
    const struct {
        const unsigned char* data;
        unsigned length, bcc, crc16, crc32, zedo, jtc1;
    } rows[] = {
        {kAbc, 3, 0x60, 0x9738, 0xCA6598D0u, 0x61DA, 0x9DD6},
        {kCheck, 9, 0x31, 0xBB3D, 0x2DFD2D88u, 0x6F91, 0x31C3},
        {kAbc, 0, 0, 0, 0, 0xFFFF, 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ((std::vector<unsigned>{Utils::BCC(r.data, r.length), Utils::calcCRC16(r.data, r.length), Utils::calcCRC32(r.data, r.length),
                                         Utils::zedoCalcCRC16(r.data, r.length), Utils::jtc1CRC16Code(r.data, r.length)}),
                  (std::vector<unsigned>{r.bcc, r.crc16, r.crc32, r.zedo, r.jtc1}))
            << r.length;
    // Past the eight-byte stride, exactly at it and off it: one bit per byte, then more.
    const unsigned char bits[] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x0F, 0xF0, 0x3C};
    EXPECT_EQ((std::vector<unsigned>{Utils::BCC(bits, 11), Utils::BCC(bits, 8), Utils::BCC(bits + 1, 9)}),
              (std::vector<unsigned>{0x3C, 0xFF, 0x01}));
    // Table entries of the reflected rule.
    EXPECT_EQ((std::vector<uint32_t>{Utils::crc16_tabel[0], Utils::crc16_tabel[1], Utils::zedoCrc16_tabel[1], Utils::CRC32_Table[1],
                                     Utils::CRC32_Table[255]}),
              (std::vector<uint32_t>{0, 0xC0C1, 0x1189, 0x77073096u, 0x2D02EF8Du}));
}

TEST(UtilsTime, TimeSpaceAcrossTheWrapAndSleeps)
{
    G_timeTicks = 1000;
    EXPECT_EQ((std::vector<int64_t>{Utils::getTimeSpace(1000), Utils::getTimeSpace(400)}), (std::vector<int64_t>{0, 600}));
    G_timeTicks = 5;
    EXPECT_EQ((std::vector<int64_t>{Utils::getTimeSpace(0xFFFFFFFBu), Utils::getTimeSpace(5)}), (std::vector<int64_t>{9, 0}));
    G_timeTicks = 0;

    // Sleeps in milliseconds are a thousand microseconds each (on the virtual clock, which a
    // fixed wall time follows).
    kel_test::TestRoot root;
    const uint64_t before = board::Clock::monotonicUs();
    EXPECT_EQ((std::vector<uint64_t>{uint64_t(Utils::msleep_mutex(12000)), uint64_t(Utils::usleep_mutex(25)),
                                     board::Clock::monotonicUs() - before}),
              (std::vector<uint64_t>{0, 0, 12000025u}));
    sim::SimBoard::fixWallTime(1700000000);
    EXPECT_EQ(board::Clock::wallTime(), 1700000000 + std::time_t(board::Clock::monotonicUs() / 1000000));
}

TEST(UtilsShell, StatusMappingJournalAndOutput)
{
    kel_test::TestRoot root;
    sim::Journal::setShellStatus("false", 256);
    int status = -7;
    // Result and status of a failing command, of a good one, and without a status.
    // (A braced list is evaluated left to right.)
    EXPECT_EQ((std::vector<int>{Utils::system_mutex("false", &status), status,
                                Utils::system_mutex("ifconfig eth0 192.168.0.199", &status), status,
                                Utils::system_mutex("true", nullptr)}),
              (std::vector<int>{255, 256, 0, 0, 0}));
    EXPECT_EQ(sim::Journal::shellCommands(), (std::vector<std::string>{"false", "ifconfig eth0 192.168.0.199", "true"}));

    // Output is read in lines.
    EXPECT_EQ(Utils::shell_exec("printf ''", 100), "");
    sim::Journal::setShellOutput("ifconfig eth0", "eth0 Link encap\ninet addr:192.168.0.199\n");
    // A small read buffer cuts lines into pieces but loses nothing.
    for (int size : {100, 4, 2})
        EXPECT_EQ(Utils::shell_exec("ifconfig eth0", size), "eth0 Link encap\ninet addr:192.168.0.199\n") << size;
}

TEST(UtilsText, StringToIntUpperAndIntToString)
{
    for (const auto& [text, value] : {std::pair<const char*, unsigned>{"0x1F", 31}, {"0xff", 255}, {"0x", 0},
                                       {"250", 250}, {"", 0}, {"12ab", 12}})
        EXPECT_EQ(Utils::stringToInt(text), value) << text;
    EXPECT_EQ((std::vector<std::string>{Utils::upper("ab1c"), Utils::intToString(-42)}), (std::vector<std::string>{"AB1C", "-42"}));
}

TEST(UtilsText, JsonNestingLimit)
{
    auto within = [](const std::string& s, int max) { return JsonReader::nestingWithin(s.data(), s.size(), max); };
    EXPECT_TRUE(within("[{}]", 2) && !within("[{[]}]", 2));
    // Brackets inside a string do not count, nor does an escaped quote end it.
    EXPECT_TRUE(within("[\"[\\\"[{\"]", 1));
}

TEST(UtilsText, CharacterSetConversions)
{
    std::string empty;
    Utils::GB2312ToUTF8(empty);
    EXPECT_EQ(empty, "");
    std::string text = "\xC4\xE3\xBA\xC3";           // "ni hao" in GB2312
    EXPECT_EQ(std::make_tuple(Utils::GB2312ToUTF8(text), text), std::make_tuple(0, std::string("\xE4\xBD\xA0\xE5\xA5\xBD")));
    EXPECT_EQ(std::make_tuple(Utils::UTF8ToGB2312(text), text), std::make_tuple(0, std::string("\xC4\xE3\xBA\xC3")));
    // A conversion that stops on a bad byte keeps what it produced before it.
    std::string bad = "AB\xFF";
    EXPECT_EQ(std::make_tuple(Utils::GB2312ToUTF8(bad), bad), std::make_tuple(-1, std::string("AB")));

    std::string ascii = "AB";
    Utils::UTF8ToUnicode(ascii);
    const std::string wide = ascii;
    Utils::UnicodeToUTF8(ascii);
    EXPECT_EQ(std::make_pair(wide, ascii), std::make_pair(std::string("A\0B\0", 4), std::string("AB")));
}

TEST(UtilsFiles, ChangeFileFormatStripsCrAndByteOrderMarks)
{
    kel_test::TestRoot root;
    root.writeFile("/data/a b;rm -rf x.txt", "\xEF\xBB\xBFline1\r\nline2\r\nmid\xEF\xBB\xBF" "end\r");
    // A missing file, a folder; a name a shell would split, rewritten in place without any shell.
    EXPECT_EQ((std::vector<int>{Utils::change_file_formt("/data/missing.txt"), Utils::change_file_formt("/data"),
                                Utils::change_file_formt("/data/a b;rm -rf x.txt"), int(sim::Journal::shellCommands().size())}),
              (std::vector<int>{-1, -1, 0, 0}));
    EXPECT_EQ(root.readFile("/data/a b;rm -rf x.txt"), "line1\nline2\nmidend\r");
}

TEST(UtilsFiles, ExistenceAndFileListBySuffix)
{
    kel_test::TestRoot root;
    root.writeFile("/data/smartmapping/a.kxfile", "x");
    root.writeFile("/data/smartmapping/b.txt", "x");
    root.writeFile("/data/smartmapping/c.kxfile", "x");
    // A file as a file, a folder as a file, a folder as anything; a folder and a file as folders.
    EXPECT_EQ((std::vector<bool>{Utils::isFileExists("/data/smartmapping/a.kxfile", true), Utils::isFileExists("/data/smartmapping", true),
                                 Utils::isFileExists("/data/smartmapping", false), Utils::isDirExists("/data/smartmapping"),
                                 Utils::isDirExists("/data/smartmapping/a.kxfile")}),
              (std::vector<bool>{true, false, true, true, false}));

    QStringList list;
    Utils::get_file_list_smartpath(list, "/data/smartmapping", "kxfile");
    list.sort();
    EXPECT_EQ(list, QStringList({"/data/smartmapping/a.kxfile", "/data/smartmapping/c.kxfile"}));
    // A name as bytes and as UTF-16 text: UTF-8 decoded, each stray byte b as U+DC00 + b, and back.
    const QString text = QString::fromUtf16(u"\x0268\x8fd9\xd840\xdc00\xd83d\xde00\xdce9t\xdcc0\xdcaf\xdced\xdca0\xdc80");
    const std::string bytes = "\xc9\xa8\xe8\xbf\x99\xf0\xa0\x80\x80\xf0\x9f\x98\x80\xe9t\xc0\xaf\xed\xa0\x80";
    EXPECT_EQ(std::make_pair(Utils::fileNameText(bytes), Utils::fileNameBytes(text)), std::make_pair(text, bytes));
}

// An idle worker waits out long pauses; its owner must still be able to end it at once (a
// missing wake-up leaves the join below waiting for the whole hour).
TEST(StopSignalPause, StopEndsAWaitingThreadAndLaterWaits)
{
    sim::SimBoard::useVirtualClock(false);   // real waits: a virtual one would return at once
    StopSignal signal;
    bool ended = false;
    std::thread worker([&] { ended = signal.wait(3600 * 1000); });
    signal.stop();
    worker.join();
    // Ended, stopped, and a later wait returns at once.
    EXPECT_TRUE(ended && signal.stopped() && signal.wait(3600 * 1000));
}

TEST(PassWakePause, EndEndsThePauseUnderWayOrTheNextOneOnly)
{
    const bool wasVirtual = sim::SimBoard::virtualClock();
    sim::SimBoard::useVirtualClock(false);
    board::PassWake wake;
    bool ended = false;
    std::thread worker([&] { ended = wake.pauseMs(3600 * 1000); });
    wake.end();                               // a missed end would hang the join for an hour
    worker.join();
    wake.end();
    wake.end();                               // two ends before a pause end that pause alone
    const bool second = wake.pauseMs(3600 * 1000);
    sim::SimBoard::useVirtualClock(true);
    const uint64_t before = sim::SimBoard::virtualMicroseconds();
    // Nothing pending: the whole pause.
    const bool third = wake.pauseMs(10);
    EXPECT_EQ((std::vector<uint64_t>{ended, second, third, sim::SimBoard::virtualMicroseconds() - before}), (std::vector<uint64_t>{1, 1, 0, 10000}));
    sim::SimBoard::useVirtualClock(wasVirtual);
}
