// The receiving-card jobs against simulated card chains, with the manager's own receive path
// filing the cards' answers: the operation executor, the shortcut set-up (job 1), saving to
// the cards (3), the mapping switch (4), the check (5), the recovery (6), the scan-parameter
// load (2); and the order of work in one pass of the manager loop.

#include "tests/fpga/fpga_fixture.h"
#include "tests/fpga/rcv_package.h"

#include "board/sim/FpgaModel.h"

#include "board/Files.h"
#include "fpga/rcv_recovery_file.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <QObject>
#include <QStringList>

using fpga_test::FpgaFixture;
using sim::ReceivingCardModel;
using namespace rcv_test;

// Stands in for the screens that show a job's progress ring and the recovery list.
class JobScreen : public QObject {
    Q_OBJECT
public:
    std::vector<int> values;
    std::vector<QStringList> lists;
    int failed = 0;
    std::vector<int> why;   // the reasons the failures gave
public slots:
    void set_file_list(const QStringList& list) { lists.push_back(list); }
    void card_job_failed(int reason) { ++failed, why.push_back(reason); }
signals:
    void sig_qround_bar_update(int percent);
};

namespace {

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 7 + i / 251);
    return b;
}

uint16_t le16(const Bytes& b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }

class CardJobs : public FpgaFixture {
protected:
    void SetUp() override
    {
        FpgaFixture::SetUp();
        makeReady();
        QCoreApplication::processEvents();
        for (JobScreen* s : {&smart, &recovery})
            QObject::connect(s, &JobScreen::sig_qround_bar_update, [s](int p) { s->values.push_back(p); });
        fpga_manage::set_progress_screen(fpga_manage::kProgressSmartMapping, &smart);
        fpga_manage::set_progress_screen(fpga_manage::kProgressRcvRecovery, &recovery);
        for (int port = 0; port < 16; ++port)
            ReceivingCardModel::setCards(0, port, 0);
        g_send_para.progress = 65535;
    }
    void TearDown() override
    {
        QCoreApplication::processEvents();
        fpga_manage::set_progress_screen(fpga_manage::kProgressSmartMapping, nullptr);
        fpga_manage::set_progress_screen(fpga_manage::kProgressRcvRecovery, nullptr);
        FpgaFixture::TearDown();
    }

    void cards(int port, int count)
    {
        ReceivingCardModel::setCards(0, port, count);
        setShadowCards(port, uint16_t(count));
    }
    void write(const std::string& path, const Bytes& b) { root->writeFile(path, std::string(b.begin(), b.end())); }
    static void scanFile(const char* path)
    {
        std::lock_guard<std::mutex> hold(g_kxfile_name_mutex);
        g_kxfile_name = path;
    }

    // The receive path of a loop pass: interrupt service files answers and replies. The
    // model raises its line at a bus access only; the FPGA does when an answer falls due.
    void service()
    {
        for (int pair = 0; pair < 8; ++pair)
            sim::FpgaModel::pendingAnswers(0, pair);
        std::lock_guard<std::mutex> hold(manager->port_path_mutex);
        for (int i = 0; i < 3; ++i)
            manager->reg_IRQ_Dealwith(0, 0);
    }
    // One pass of the manager loop (its job dispatch runs the posted job), the answers, then
    // a tick; the screens take their progress between passes, as they do on the device.
    void pass(uint32_t ticks = 1)
    {
        QCoreApplication::processEvents();
        manager->fpga_manage_deal(nullptr);
        service();
        G_timeTicks += ticks;
        sim::SimBoard::advanceVirtual(uint64_t(ticks) * 10000);   // a tick is 10 ms: the cards' clock too
    }
    // Passes (of `ticks` each, none by default) until the job reaches `step`.
    bool reach(int step, uint32_t ticks = 0)
    {
        for (int looks = 0; looks < 1000 && g_send_para.step != step; ++looks)
            pass(ticks);
        return g_send_para.step == step;
    }
    // Runs the job to its end; the last step it was in before ending.
    int run(int limit = 40000)
    {
        int last = -1;
        visited.clear();
        for (int i = 0; i < limit && g_send_para.job != 0; ++i) {
            last = g_send_para.step;
            if (visited.empty() || visited.back() != last)
                visited.push_back(last);
            pass();
        }
        EXPECT_EQ(g_send_para.job, 0) << "job did not end";
        return last;
    }
    // Runs one operation held by the reader to completion; the passes it took.
    int runOperation(const QString& path, uint64_t offset, bool allCards, int limit = 20000)
    {
        g_send_para.sub_step = 20;
        for (int i = 1; i <= limit; ++i) {
            if (manager->load_rcv_xy_operate(path, offset, allCards))
                return i;
            service();
            G_timeTicks += 1;
        }
        return -1;
    }
    void holdOperation(uint16_t port, const Op& o)
    {
        rcvRecovery& r = *manager->m_rcvRecovery;
        r.net_para.net_ledx = port;
        r.operate_para.type = o.type;
        r.operate_para.target = o.target;
        r.operate_para.targetAddr = o.addr;
        r.operate_para.timeticks = o.ms;
        r.operate_para.dataLen = uint32_t(o.data.size());
        write("/data/op.bin", o.data);
    }
    std::vector<int> progress(JobScreen& s)
    {
        QCoreApplication::processEvents();
        return s.values;
    }
    Bytes cardRam(int port, int card, uint32_t at, size_t n)
    {
        auto ram = ReceivingCardModel::card(0, port, card).ram;
        return Bytes(ram.begin() + at, ram.begin() + at + n);
    }

    std::vector<int> visited;            // the steps of the last run, in order
    JobScreen smart, recovery;
};

} // namespace

// --- operation executor ------------------------------------------------------------

TEST_F(CardJobs, ASleepCountsItsMillisecondsInTicksAtMostSixtySeconds)
{
    // 1500 ms sleeps 150 ticks; 0xFFFFFFFF ms (about 497 days) sleeps 60 s: 6000 ticks.
    cards(0, 2);
    for (const auto& [ms, ticks] : {std::pair<uint32_t, uint32_t>{1500, 150}, {0xFFFFFFFFu, 6000}}) {
        holdOperation(0, op(6, 1, 0, ms, {}));
        g_send_para.sub_step = 20;
        for (int looks = 0; looks < 1000 && g_send_para.sub_step != 28; ++looks)
            manager->load_rcv_xy_operate("/data/op.bin", 0, false);
        ASSERT_EQ(g_send_para.sub_step, 28) << ms;
        const uint32_t start = G_timeTicks;
        G_timeTicks = start + ticks - 1;
        EXPECT_EQ(manager->load_rcv_xy_operate("/data/op.bin", 0, false), 0) << ms;
        G_timeTicks = start + ticks;
        manager->load_rcv_xy_operate("/data/op.bin", 0, false);
        EXPECT_EQ(manager->load_rcv_xy_operate("/data/op.bin", 0, false), 1) << ms;
    }
    EXPECT_TRUE(ReceivingCardModel::packets(0, 0).empty());
}

TEST_F(CardJobs, SilentCardsGetAPacketAtMostFourTimes)
{
    // Saving to the card's flash waits the operation's time plus a second per card.
    cards(1, 8);
    ReceivingCardModel::setFault(0, 1, ReceivingCardModel::Fault::Silent);
    holdOperation(1, op(2, 3, 0, 500, {}));
    g_send_para.sub_step = 20;
    std::vector<uint32_t> sentAt;
    for (int i = 0; i < 10000 && !manager->load_rcv_xy_operate("/data/op.bin", 0, true); ++i) {
        const size_t before = sentAt.size();
        if (ReceivingCardModel::packets(0, 1).size() > before)
            sentAt.push_back(G_timeTicks);
        G_timeTicks += 1;
    }
    EXPECT_EQ(manager->m_rcvRecovery->operate_para.timeticks, 8500u);
    ASSERT_EQ(sentAt.size(), 4u);
    // More than 850 ticks without an answer, and the repeat goes out on the next pass.
    for (size_t i = 1; i < sentAt.size(); ++i)
        EXPECT_EQ(sentAt[i] - sentAt[i - 1], 852u);
    const Bytes first = ReceivingCardModel::packets(0, 1).at(0);
    EXPECT_EQ(std::vector<int>({first[9], le16(first, 0)}), (std::vector<int>{0x81, 0x0FFF}));

    // A register write likewise, the file's wait (0xFFFFFFFF ms) held to a minute: 4 x 6002
    // passes; a search of the port is sent once.
    for (const auto& [o, sends, passes] : {std::tuple<Op, size_t, int>{op(1, 2, 0, 0xFFFFFFFF, {1, 2}), 4, 4 * 6002 + 4}, {op(7, 1, 0, 100, {0}), 1, 16}}) {
        ReceivingCardModel::clearPackets();
        holdOperation(1, o);
        EXPECT_EQ(runOperation("/data/op.bin", 0, false, 30000), passes);
        EXPECT_EQ(ReceivingCardModel::packets(0, 1).size(), sends);
    }
}

// Each kind of operation sends its own command to the card (a user-defined one the data's
// first byte); an operation that cannot be carried out, or whose data lies past the file's
// end, completes within a few passes without sending.
TEST_F(CardJobs, EachOperationSendsItsCommandOrCompletesWithoutSending)
{
    cards(0, 1);
    g_send_para.card = 0;
    const int kNone = -1;
    const struct {
        Op operation;
        uint64_t offset;                 // 2: the data lies past the file's end
        int command;
    } rows[] = {
        {op(1, 1, 0x100, 100, {0xAB}), 0, 0x60},   {op(1, 2, 0, 100, {1}), 0, 0xA0},
        {op(3, 1, 0, 100, {1}), 0, 0xB4},          {op(5, 1, 0, 100, {1}), 0, 0x84},
        {op(7, 1, 0, 100, {1}), 0, 0x10},          {op(16, 1, 0, 100, {0x5C, 1}), 0, 0x5C},
        {op(5, 1, 0, 100, {1, 2, 3}), 2, kNone},   {op(7, 1, 0, 100, {1, 2, 3}), 2, kNone},
        {op(1, 1, 0, 100, {1, 2, 3}), 2, kNone},   {op(4, 1, 0, 100, {1}), 0, kNone},   // "upgrade rcv"
        {op(1, 2, 0, 100, pattern(1014, 0)), 0, kNone},                                 // past one packet
        {op(1, 3, 0, 100, {1}), 0, kNone},                                              // target "flash"
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << int(r.operation.type) << "/" << int(r.operation.target));
        ReceivingCardModel::clearPackets();
        holdOperation(0, r.operation);
        const int passes = runOperation("/data/op.bin", r.offset, false, 100);
        const auto packets = ReceivingCardModel::packets(0, 0);
        if (r.command == kNone) {
            EXPECT_TRUE(packets.empty());
            EXPECT_TRUE(passes > 0 && passes <= 10) << passes;
        } else {
            ASSERT_FALSE(packets.empty());
            EXPECT_EQ(packets[0][9], r.command);
        }
    }
}

// --- job 1: shortcut set-up --------------------------------------------------------

TEST_F(CardJobs, ShortcutSetUpGivesEveryCardItsPositionThenResetsThePort)
{
    // Cabinet 128 x 96, 2 rows of 3, offsets (10, 20), route 10 (rows from the top left).
    line_type = LINE_TYPE{128, 96, 10, 20, 1, 2, 3, 10};
    cards(1, 6);
    g_send_para.post(1);
    run();
    const uint16_t expected[6][2] = {{10, 20}, {138, 20}, {266, 20}, {10, 116}, {138, 116}, {266, 116}};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const Bytes at = cardRam(1, i, 0x180, 4);
        EXPECT_EQ((std::vector<int>{le16(at, 0), le16(at, 2)}), (std::vector<int>{expected[i][0], expected[i][1]}));
        // The RAM reset to every card of the port, once: 1 and 65535.
        EXPECT_EQ(ReceivingCardModel::card(0, 1, i).registerWrites, (std::vector<std::vector<uint8_t>>{{1, 0xFF, 1, 0xFF}}));
    }
    EXPECT_EQ(ReceivingCardModel::packets(0, 1).size(), 7u);
    EXPECT_EQ(progress(smart), (std::vector<int>{14, 28, 42, 57, 71, 85, 85, 90, 100}));
}

TEST_F(CardJobs, ShortcutSetUpSkipsASilentCardAndEndsOnAPortWithoutCards)
{
    // Route 1: rows from the bottom, snaking from the right.
    line_type = LINE_TYPE{100, 50, 0, 0, 0, 2, 2, 1};
    cards(0, 4);
    ReceivingCardModel::setCardSilent(0, 0, 1, true);
    g_send_para.post(1);
    const uint32_t start = G_timeTicks.load();
    run();                                            // the silent card is waited for 1200 ticks
    EXPECT_GT(G_timeTicks - start, 1200u);
    QCoreApplication::processEvents();
    EXPECT_EQ(smart.why, std::vector<int>{fpga_manage::kJobCardSilent});   // not "no card on this port"
    EXPECT_EQ((std::vector<Bytes>{cardRam(0, 0, 0x180, 4), cardRam(0, 1, 0x180, 4), cardRam(0, 2, 0x180, 4), cardRam(0, 3, 0x180, 4)}),
              (std::vector<Bytes>{{100, 0, 50, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {100, 0, 0, 0}}));

    progress(smart);
    smart.values.clear();
    ReceivingCardModel::clearPackets();
    line_type.port = 5;
    g_send_para.post(1);
    for (int i = 0; i < 5; ++i)
        pass();
    EXPECT_EQ(progress(smart), (std::vector<int>{90}));
    G_timeTicks += 200;
    run();
    EXPECT_EQ(progress(smart), (std::vector<int>{90, 100}));
    EXPECT_TRUE(ReceivingCardModel::packets(0, 5).empty());
    EXPECT_EQ(smart.why, (std::vector<int>{fpga_manage::kJobCardSilent, fpga_manage::kJobNoCard}));
}

// --- jobs 5, 6 and 2: check, recovery, scan-parameter load -------------------------

namespace {

constexpr uint32_t kConfig = 0xC0FFEE;

// A port of the swept screen: its cards, and the first whose identity differs (255: none).
struct SweptPort {
    int ledx, cards, differs;
};

// The scan parameters and each card's own operations of the swept screen.
Package sweptPackage(const std::vector<SweptPort>& ports, bool reversed = false)
{
    Screen s;
    s.configId = kConfig;
    s.para = {op(1, 2, 0, 1000, {5, 6, 7}), op(1, 1, 0x400, 1000, pattern(1200, 4))};
    for (const SweptPort& p : ports) {
        Port port;
        port.ledx = uint16_t(p.ledx);
        for (int c = 0; c < p.cards; ++c)
            port.cards.push_back({op(1, 1, 0x300, 1000, {uint8_t(p.ledx), uint8_t(c)}), op(1, 2, 0, 1000, {0x31, uint8_t(c)})});
        s.ports.insert(reversed ? s.ports.begin() : s.ports.end(), port);
    }
    return standard({s});
}

} // namespace

TEST_F(CardJobs, CheckAndRecoveryStopOnBadPackages)
{
    cards(0, 2);
    // Two files in the package folder: the check ends through its error steps, list untouched.
    write("/data/rcvrecovery/DIVU", sweptPackage({{0, 2, 255}, {1, 8, 255}, {2, 1, 255}}).bytes);
    write("/data/rcvrecovery/other", {1});
    g_send_para.post(5);
    EXPECT_EQ(run(), 35);
    EXPECT_TRUE(ReceivingCardModel::packets(0, 0).empty());
    EXPECT_TRUE(recovery.lists.empty());
    ASSERT_TRUE(board::Files::remove("/data/rcvrecovery/other"));

    // One file that is not named DIVU: the job goes on to look for the package's entries and
    // its screen head, finds no package and ends through its error steps.
    ASSERT_TRUE(board::Files::move("/data/rcvrecovery/DIVU", "/data/rcvrecovery/other"));
    g_send_para.post(5);
    EXPECT_EQ(run(), 35);
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 3, 4, 5, 34, 35}));
    ASSERT_TRUE(board::Files::remove("/data/rcvrecovery/other"));

    // No screen file among the entries: the job ends through its error steps.
    Package p = sweptPackage({{0, 2, 255}, {1, 8, 255}, {2, 1, 255}});
    p.bytes[4] = 13;
    write("/data/rcvrecovery/DIVU", p.bytes);
    g_send_para.post(5);
    EXPECT_EQ(run(), 35);

    // A screen without scan parameters or XY area cannot be recovered.
    write("/data/rcvrecovery/DIVU", standard({Screen{kConfig, {}, {}}}).bytes);
    g_send_para.post(6);
    EXPECT_EQ(run(), 35);
    EXPECT_EQ(progress(recovery).back(), 100);
    EXPECT_TRUE(recovery.lists.empty());
}

// Every operation of a scan file reaching every card of the port: the sweep below.
TEST_F(CardJobs, ScanParameterLoadStopsOnTooManyOperationsAndLooksOnTheStick)
{
    cards(3, 4);
    scanFile("/data/smartmapping/t.kxfile");
    line_type.port = 3;
    // A file announcing more operations than the job counts ends it with an error.
    Bytes many = kxfile({});
    many[16] = 0x2C;
    many[17] = 0x01;                                              // 300 operations
    write("/data/smartmapping/t.kxfile", many);
    g_send_para.post(2);
    EXPECT_EQ(run(), 35);

    // An empty folder of its own sends the job to the USB stick's.
    ASSERT_TRUE(board::Files::remove("/data/smartmapping/t.kxfile"));
    write("/mnt/usb1/t.kxfile", kxfile({op(1, 2, 0, 100, {9, 8})}));
    scanFile("/mnt/usb1/t.kxfile");
    g_send_para.post(2);
    EXPECT_EQ(run(), 33);
    ASSERT_TRUE(board::Files::remove("/mnt/usb1/t.kxfile"));

    // Without any folder the job ends with an error too, sending nothing.
    ASSERT_TRUE(board::Files::remove("/data/smartmapping"));
    ReceivingCardModel::clearPackets();
    progress(smart);
    smart.values.clear();
    g_send_para.post(2);
    EXPECT_EQ(run(), 35);
    EXPECT_TRUE(ReceivingCardModel::packets(0, 3).empty());
    EXPECT_EQ(progress(smart).back(), 100);
}

TEST_F(CardJobs, OldScanParameterRecordsAreReadFromTheChosenFile)
{
    // Head of 4 bytes, then 22-byte records: a u16 and five u32, the last kept divided by 10.
    Bytes file = {3, 0, 0, 0};
    for (uint8_t r = 0; r < 3; ++r) {
        const Bytes rec = {uint8_t(0x10 + r), 0x20, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A,
                           0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, uint8_t(0xD2 + r), 0x04, 0x00, 0x00};
        file.insert(file.end(), rec.begin(), rec.end());
    }
    // The chosen file has the last record cut short; the stick's file of that name is whole.
    write("/data/smartmapping/old.kxfile", Bytes(file.begin(), file.end() - 1));
    write("/mnt/usb1/old.kxfile", file);
    write("/data/old.kxfile", file);
    scanFile("/data/smartmapping/old.kxfile");
    SCAN_PARA rec;
    EXPECT_EQ(manager->get_operate_deal_para(&rec, 0), 1);       // no records counted yet
    manager->scan_para_count = 3;
    EXPECT_EQ(manager->get_operate_deal_para(&rec, 3), 1);
    EXPECT_EQ(manager->get_operate_deal_para(&rec, 2), 1);       // not wholly in the chosen file
    EXPECT_FALSE(sim::Journal::hasShell("sync"));
    ASSERT_EQ(manager->get_operate_deal_para(&rec, 1), 0);
    EXPECT_EQ((std::vector<uint32_t>{rec.head, rec.value[0], rec.value[1], rec.value[2], rec.value[3], rec.value[4]}),
              (std::vector<uint32_t>{0x2011, 0x04030201u, 0x08070605u, 0x0C0B0A09u, 0x100F0E0Du, 123u}));   // 1235 / 10
    EXPECT_TRUE(sim::Journal::hasShell("sync"));

    // A name that leads out of the two folders is not read.
    scanFile("/data/smartmapping/../old.kxfile");
    g_debugSwitch = 254;
    testing::internal::CaptureStdout();
    EXPECT_EQ(manager->get_operate_deal_para(&rec, 0), 1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("\n NO kxfile!!! "), std::string::npos);
}


// --- every card answer of every job failed in turn ---------------------------------

namespace {

using Fault = ReceivingCardModel::AnswerFault;
const Fault kFaults[] = {Fault::Drop, Fault::Duplicate, Fault::Delay, Fault::Early, Fault::Stale};
const char* const kFaultNames[] = {"", "dropped", "duplicated", "delayed past the next packet", "before its packet",
                                   "lost, the answer before it repeated"};

// Register payloads a card took, a repeat of the same packet counted once.
std::vector<Bytes> registersOnce(int port, int card)
{
    auto all = ReceivingCardModel::card(0, port, card).registerWrites;
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
}

} // namespace

class CardAnswerSweep : public CardJobs {
protected:
    struct End {
        bool ended;
        int failed;
        std::vector<QStringList> lists;
        std::string shown() const { return failed ? "failed" : lists.empty() ? "" : lists.back().join(",").toStdString(); }
    };
    // Runs the posted job to its end, 20 ticks a pass (an operation waits 5 passes, a check 25).
    // Once `storeAt` answers have come, a PC stores the package and the scan file anew.
    End runJob(uint8_t code, uint64_t storeAt, uint32_t ticks = 20, const std::function<void()>& each = [] {})
    {
        progress(smart), progress(recovery);
        smart.failed = recovery.failed = 0;
        smart.values.clear(), recovery.values.clear(), recovery.lists.clear();
        g_send_para.post(code);
        for (int i = 0; i < 20000 && g_send_para.job != 0; ++i) {
            pass(ticks), each();
            // The ring closes with the job's end, not before (a failure is told as it closes).
            for (JobScreen* s : {&smart, &recovery})
                EXPECT_TRUE(g_send_para.job == 0 || progress(*s).empty() || s->values.back() != 100) << "job " << int(code) << " done before it ended";
            if (storeAt && ReceivingCardModel::jobAnswers() >= storeAt) {
                write("/data/rcvrecovery/DIVU", pattern(300, 1));
                write("/data/smartmapping/t.kxfile", kxfile({op(1, 1, 0x2000, 100, pattern(30, 9))}));
                storeAt = 0;
            }
        }
        QCoreApplication::processEvents();
        return {g_send_para.job == 0, smart.failed + recovery.failed, recovery.lists};
    }
    // For every answer k of a clean run and every fault: the world prepared afresh, k's fault
    // armed (a copy of answer 1 before its packet waits before the job starts), then hold.
    void sweep(const std::vector<sim::GivenAnswer>& clean, const std::function<void()>& prepare,
               const std::function<void(const std::string&, uint64_t, Fault)>& hold)
    {
        for (uint64_t k = 1; k <= clean.size(); ++k)
            for (Fault f : kFaults) {
                // A repeat that carries all the answer awaited carries is that answer to anyone.
                if (f == Fault::Stale && (k == 1 || (clean[k - 2].port == clean[k - 1].port
                                                    && std::equal(clean[k - 2].bytes.begin(), clean[k - 2].bytes.begin() + 10, clean[k - 1].bytes.begin()))))
                    continue;
                prepare();
                ReceivingCardModel::setAnswerFault(k, f, clean[k - 1]);
                if (f == Fault::Early && k == 1)
                    sim::FpgaModel::queueAnswer(0, clean[0].port / 2, clean[0].bytes);
                hold("answer " + std::to_string(k) + " of " + std::to_string(clean.size()) + " (port "
                         + std::to_string(clean[k - 1].port + 1) + ") " + kFaultNames[int(f)], k, f);
            }
    }
    void portsOf(const std::vector<SweptPort>& ports)
    {
        ReceivingCardModel::reset();
        for (int p = 0; p < 16; ++p)
            cards(p, 0);
        for (const SweptPort& p : ports) {
            cards(p.ledx, p.cards);
            ReceivingCardModel::setConfigId(0, p.ledx, -1, kConfig);
            if (p.differs != 255)
                ReceivingCardModel::setConfigId(0, p.ledx, p.differs, 0x1234);
        }
    }
};

// The scan-parameter load: RAM writes of under a chunk, a chunk (and the empty packet after
// it) and several chunks, register writes of one byte and of a whole packet, and firmware
// activation card by card. Done only when every card holds all of it.
TEST_F(CardAnswerSweep, ScanParameterLoadHoldsEveryAnswerFault)
{
    const Bytes big = pattern(fpga_manage::kPacketMax - 11, 2);
    const std::vector<Op> ops = {op(1, 1, 0x2000, 1000, pattern(2500, 1)), op(1, 1, 0x5000, 1000, pattern(1000, 3)),
                                 op(1, 1, 0x6000, 1000, {0x77}), op(1, 2, 0, 1000, {9}), op(1, 2, 0, 1000, big),
                                 op(3, 1, 0, 1000, {0x5A})};
    scanFile("/data/smartmapping/t.kxfile");
    for (const auto& [port, count] : {std::pair<int, int>{1, 1}, {3, 8}}) {
        line_type.port = uint8_t(port);
        auto prepare = [&, port = port, count = count](size_t cut = 0) {
            portsOf({{port, count, 255}});
            const Bytes file = kxfile(ops);
            write("/data/smartmapping/t.kxfile", Bytes(file.begin(), file.end() - long(cut)));
        };
        auto expectLoaded = [&, port = port, count = count](const std::string& where, const End& end) {
            EXPECT_TRUE(end.ended && end.failed == 0) << where << " failed " << end.failed;
            for (int c = 0; c < count; ++c)
                EXPECT_TRUE(cardRam(port, c, 0x2000, 2500) == pattern(2500, 1) && cardRam(port, c, 0x5000, 1000) == pattern(1000, 3)
                            && cardRam(port, c, 0x6000, 1) == Bytes{0x77} && ReceivingCardModel::card(0, port, c).activations >= 1
                            && registersOnce(port, c) == (std::vector<Bytes>{{9}, big}))
                    << where << ": card " << c << " of port " << port << " does not hold the file";
        };
        prepare();
        expectLoaded("clean", runJob(2, 0));
        const auto clean = ReceivingCardModel::jobAnswerLog();
        EXPECT_EQ(clean.size(), 8u + count) << "answers of the clean run";
        sweep(clean, [&] { prepare(); }, [&](const std::string& where, uint64_t k, Fault) { expectLoaded(where, runJob(2, k)); });
        // A card that never answers its activation, a file cut short: failed, not done.
        prepare();
        ReceivingCardModel::setCardSilent(0, port, count - 1, true);
        EXPECT_EQ(runJob(2, 0).failed, 1) << "silent card";
        prepare(big.size() + 2);
        EXPECT_TRUE(runJob(2, 0).failed == 1 && registersOnce(port, 0).empty()) << "file cut short";
        prepare();   // the first RAM chunk unanswered each time it goes out, the rest answered
        ReceivingCardModel::setFault(0, port, ReceivingCardModel::Fault::Silent);
        EXPECT_EQ(runJob(2, 0, 20, [port = port] {
            if (ReceivingCardModel::packets(0, port).size() == 4)
                ReceivingCardModel::setFault(0, port, ReceivingCardModel::Fault::None);
        }).failed, 1) << "a chunk given up";
    }
}

// The check over 1 to 4 ports, then the recovery of the card it lists. What the panel
// lists follows from the identities the cards hold and the ports whose answer was lost:
// the first differing card of a port that answered; failed when none and a port did not.
TEST_F(CardAnswerSweep, CheckAndRecoveryHoldEveryAnswerFault)
{
    const std::vector<std::vector<SweptPort>> screens = {
        {{0, 1, 255}}, {{0, 2, 1}, {1, 3, 255}, {2, 1, 255}}, {{0, 2, 255}, {1, 8, 4}, {2, 1, 255}},
        {{0, 1, 255}, {1, 1, 255}, {2, 1, 255}, {3, 2, 255}}};
    for (const auto& ports : screens) {
        auto expected = [&ports](int lost) {
            for (const SweptPort& p : ports)
                if (p.ledx != lost && p.differs != 255)
                    return QString::asprintf("01/%02d/%02d/%02d", p.ledx + 1, p.differs + 1, p.cards).toStdString();
            return std::string(lost >= 0 ? "failed" : "");
        };
        auto prepare = [&] {
            portsOf(ports);
            write("/data/rcvrecovery/DIVU", sweptPackage(ports).bytes);
        };
        prepare();
        EXPECT_EQ(runJob(5, 0).shown(), expected(-1)) << "clean check";
        const auto clean = ReceivingCardModel::jobAnswerLog();
        size_t checked = 0;
        while (checked < ports.size() && ports[checked++].differs == 255) {
        }
        EXPECT_EQ(clean.size(), checked) << "answers of the clean check: one a port up to the first that differs";
        sweep(clean, prepare, [&](const std::string& where, uint64_t k, Fault f) {
            EXPECT_EQ(runJob(5, k).shown(), expected(f == Fault::Duplicate ? -1 : clean[k - 1].port)) << "check " << where;
        });
        const std::string listed = expected(-1);
        if (listed.empty())
            continue;
        // The recovery of the listed card, from the package stored anew between the two with
        // its ports in the reverse order: the listed card gets its scan parameters and its
        // own operations, no other card anything.
        const int port = std::stoi(listed.substr(3, 2)) - 1, card = std::stoi(listed.substr(6, 2)) - 1;
        auto expectRecovered = [&](const std::string& where, const End& end) {
            EXPECT_TRUE(end.ended && end.failed == 0 && end.lists == std::vector<QStringList>{{}}) << where;
            for (const SweptPort& p : ports)
                for (int c = 0; c < p.cards; ++c) {
                    const bool listedCard = p.ledx == port && c == card;
                    EXPECT_EQ(std::make_tuple(cardRam(p.ledx, c, 0x300, 2), cardRam(p.ledx, c, 0x400, 1200), registersOnce(p.ledx, c)),
                              listedCard ? std::make_tuple(Bytes{uint8_t(port), uint8_t(card)}, pattern(1200, 4),
                                                           std::vector<Bytes>{{5, 6, 7}, {0x31, uint8_t(card)}})
                                         : std::make_tuple(Bytes{0, 0}, Bytes(1200, 0), std::vector<Bytes>{}))
                        << where << ": card " << c << " of port " << p.ledx;
                }
        };
        auto query = [&](const std::vector<SweptPort>& stored) {
            prepare();
            runJob(5, 0);
            write("/data/rcvrecovery/DIVU", sweptPackage(stored, true).bytes);
            ReceivingCardModel::setAnswerFault(0, Fault::None);
        };
        query(ports);
        expectRecovered("clean recovery", runJob(6, 0));
        const auto recoveryAnswers = ReceivingCardModel::jobAnswerLog();
        EXPECT_EQ(recoveryAnswers.size(), 5u) << "answers of the clean recovery";
        sweep(recoveryAnswers, [&] { query(ports); },
              [&](const std::string& where, uint64_t k, Fault) { expectRecovered("recovery " + where, runJob(6, k)); });
        // A package without the listed card's port: the recovery refuses and loads nothing.
        std::vector<SweptPort> others;
        std::copy_if(ports.begin(), ports.end(), std::back_inserter(others), [port = port](const SweptPort& p) { return p.ledx != port; });
        query(others);
        EXPECT_EQ(std::make_pair(runJob(6, 0).failed, cardRam(port, card, 0x400, 3)), std::make_pair(1, Bytes(3, 0)));
    }
}

// A check waits 500 ticks for a port's answer: one 4.99 s late is heard, one 5.01 s late is not.
TEST_F(CardAnswerSweep, ACheckHearsAPortsAnswerWithinFiveSecondsOnly)
{
    for (const auto& [ticks, shown] : {std::pair<int, std::string>{499, "01/01/02/02"}, {501, "failed"}}) {
        portsOf({{0, 2, 1}});
        ReceivingCardModel::setDelayUs(0, 0, uint64_t(ticks) * 10000);
        write("/data/rcvrecovery/DIVU", sweptPackage({{0, 2, 1}}).bytes);
        EXPECT_EQ(runJob(5, 0, 1).shown(), shown) << "answer " << ticks << " ticks late";
    }
}

// --- the loop's dispatch: each job code runs its own job --------------------------

// Jobs 1, 3 and 4 (the others: the sweep above) on ports 0, 1 and 2 of 2, 8 and 1 cards; the
// set-up for port 1: 1 row of 8, route 10.
TEST_F(CardJobs, EachJobCodeRunsItsOwnJobThroughTheLoopPass)
{
    line_type = LINE_TYPE{64, 32, 5, 6, 1, 1, 8, 10};
    g_send_para.mapping = 9;
    // Each packet that reached ports 0..9 as port/card (FFF every card, FFE every card of the
    // port):command:first payload byte; what the ring was told (job 1: its last value).
    const struct {
        uint8_t job;
        std::string packets;
        std::vector<int> told;
    } rows[] = {
        {1, "1/000:60:80 1/001:60:80 1/002:60:80 1/003:60:80 1/004:60:80 1/005:60:80 1/006:60:80 "
            "1/007:60:80 1/FFE:A0:01 ", {100}},
        {3, "0/FFF:81:FF 1/FFF:81:FF 2/FFF:81:FF ", {0, 9, 18, 95, 100}},
        {4, "0/FFF:A0:03 1/FFF:A0:03 2/FFF:A0:03 ", {0, 9, 18, 95, 100}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(int(r.job));
        cards(0, 2), cards(1, 8), cards(2, 1);
        ReceivingCardModel::clearPackets();
        progress(smart);
        smart.values.clear();
        g_send_para.post(r.job);
        run();
        std::string packets;
        char one[24];
        for (int port = 0; port < 10; ++port)
            for (const Bytes& p : ReceivingCardModel::packets(0, port)) {
                std::snprintf(one, sizeof one, "%d/%03X:%02X:%02X ", port, le16(p, 0) & 0x0FFF, p[9], p[10]);
                packets += one;
            }
        const auto told = progress(smart);
        EXPECT_EQ(std::make_pair(packets, r.job == 1 ? std::vector<int>{told.back()} : told), std::make_pair(r.packets, r.told));
        EXPECT_TRUE(progress(recovery).empty());
    }
}

// Back on a screen ends a job wherever it waits, and its ring is told 100 at once: a port
// of 300 silent cards (counted as 255), a file's minute-long sleep, a card check.
TEST_F(CardJobs, BackEndsEveryJobThatWaits)
{
    write("/data/rcvrecovery/DIVU", sweptPackage({{0, 2, 255}, {1, 8, 255}, {2, 1, 255}}).bytes);
    write("/data/smartmapping/t.kxfile", kxfile({op(6, 1, 0, 0xFFFFFFFFu, {})}));
    scanFile("/data/smartmapping/t.kxfile");
    line_type.port = 1;
    cards(1, 300);
    ReceivingCardModel::setFault(0, 1, ReceivingCardModel::Fault::Silent);
    const struct {
        uint8_t job;
        int passes;                      // board ticks before Back
        JobScreen* ring;
    } rows[] = {{1, 3000, &smart}, {2, 3000, &smart}, {3, 3000, &smart}, {4, 600, &smart},
                {5, 400, &recovery}, {6, 100, &recovery}};
    for (const auto& r : rows) {
        SCOPED_TRACE(int(r.job));
        g_send_para.post(r.job);
        for (int i = 0; i < r.passes; ++i)
            pass();
        ASSERT_EQ(g_send_para.job, r.job);
        progress(*r.ring);
        r.ring->values.clear();
        g_send_para.cancel = 1;
        pass();
        EXPECT_EQ(progress(*r.ring), std::vector<int>{100});
        run(110);
    }
}

// --- jobs 3 and 4: save parameters to the cards, mapping switch ---------------------

// A port without a good answer is left after 100 ticks per card plus 1200 when saving, after
// 1200 for the mapping switch; meanwhile the ring counts up every 101 ticks, from 99 back to
// 1. With no further port the job says 95, then 100 more than 200 ticks later, and that it
// failed; the mapping bit of register 0 is left as it was, since no card switched (a job
// that finds no card: the panel's mapping check).
TEST_F(CardJobs, SaveAndMappingJobsLeaveAPortWithoutAGoodAnswerAfterItsAllowance)
{
    g_send_para.mapping = 9;
    using Fault = ReceivingCardModel::Fault;
    const struct {
        int job, cards;
        Fault fault;
        uint32_t allowance;
    } rows[] = {{3, 3, Fault::Silent, 1500}, {3, 1, Fault::WrongCheck, 1300}, {4, 30, Fault::Silent, 1200},
                {3, 100, Fault::Silent, 11200}};                  // the count wraps from 99 to 1
    for (const auto& r : rows) {
        SCOPED_TRACE(r.allowance);
        cards(4, r.cards);
        ReceivingCardModel::setFault(0, 4, r.fault);
        progress(smart);
        smart.values.clear();
        g_send_para.post(r.job);
        ASSERT_TRUE(reach(3));
        const uint32_t sent = G_timeTicks;
        EXPECT_EQ(ReceivingCardModel::packets(0, 4).size(), 1u);
        for (uint32_t t = 1; t <= r.allowance; ++t) {
            G_timeTicks = sent + t;
            pass(0);
            ASSERT_EQ(g_send_para.step, 3) << "left the wait after " << t << " ticks";
        }
        G_timeTicks = sent + r.allowance + 1;
        pass(0);
        EXPECT_EQ(g_send_para.step, 1);
        std::vector<int> expected{36};
        for (uint32_t i = 1; i <= r.allowance / 101; ++i)
            expected.push_back(int((i - 1) % 99 + 1));
        EXPECT_EQ(progress(smart), expected);

        ASSERT_TRUE(reach(9));
        EXPECT_EQ(progress(smart).back(), 95);
        G_timeTicks += 200;
        pass(0);
        EXPECT_EQ(g_send_para.job, r.job);
        G_timeTicks += 1;
        pass(0);
        EXPECT_EQ(std::make_pair(int(g_send_para.job), progress(smart).back()), std::make_pair(0, 100));
        EXPECT_EQ(std::make_pair(smart.why, sim::FpgaModel::reg(0, 0) & 0x80), std::make_pair(std::vector<int>{fpga_manage::kJobCardSilent}, 0));
        smart.why.clear();
        ReceivingCardModel::clearPackets();
    }
}

TEST_F(CardJobs, APcCommandPausesTheJobAndItsTimeOut)
{
    cards(0, 1);
    ReceivingCardModel::setFault(0, 0, ReceivingCardModel::Fault::Silent);
    g_send_para.post(3);
    ASSERT_TRUE(reach(3));
    pc_cmd_valid = 1;
    for (int i = 0; i < 80; ++i) {               // 1600 ticks of PC traffic
        pc_cmd_time = G_timeTicks.load();
        pass(20);
    }
    EXPECT_EQ((std::vector<uint32_t>{g_send_para.step, pc_cmd_valid, g_send_para.stamp}), (std::vector<uint32_t>{3, 1, G_timeTicks - 20}));
    // More than 80 ticks since the PC's last frame: the flag drops.
    pc_cmd_time = G_timeTicks - 81;
    pass(0);
    EXPECT_EQ((std::vector<uint32_t>{pc_cmd_valid, g_send_para.step}), (std::vector<uint32_t>{0, 3}));
    G_timeTicks += 1301;
    pass(0);
    EXPECT_EQ(g_send_para.step, 1);
}

TEST_F(CardJobs, ProgressWaitsAsOneEventWithTheNewestValueAndOnlyForAnOpenScreen)
{
    // A burst while no event is taken: one event, carrying the last value.
    for (int percent = 1; percent <= 5000; ++percent)
        fpga_manage::emit_progress(fpga_manage::kProgressSmartMapping, percent % 100);
    EXPECT_EQ(progress(smart), (std::vector<int>{0}));
    fpga_manage::emit_progress(fpga_manage::kProgressSmartMapping, 37);
    EXPECT_EQ(progress(smart), (std::vector<int>{0, 37}));

    // No screen open: nothing waits, and a screen that opens later is not sent old values.
    fpga_manage::set_progress_screen(fpga_manage::kProgressRcvRecovery, nullptr);
    for (int percent = 1; percent <= 5000; ++percent)
        fpga_manage::emit_progress(fpga_manage::kProgressRcvRecovery, percent % 100);
    fpga_manage::set_progress_screen(fpga_manage::kProgressRcvRecovery, &recovery);
    EXPECT_TRUE(progress(recovery).empty());
}

// --- one pass of the loop -----------------------------------------------------------

class FpgaLoop : public FpgaFixture {};

TEST_F(FpgaLoop, PassWaitsForTheReadyFpgaBeforeBrightnessScreenAndLog)
{
    manager->bri_update_flag = 1;
    manager->screen_update_flag = 1;
    // The brightness and screen flags, the running-time log and its set-up: untouched, then done.
    const auto state = [this] {
        return std::vector<int>{manager->bri_update_flag, manager->screen_update_flag, g_clock_record.running, manager->clock_record_initialised};
    };
    manager->fpga_manage_deal(nullptr);
    EXPECT_EQ(state(), (std::vector<int>{1, 1, 0, 0}));
    makeReady();
    manager->fpga_manage_deal(nullptr);
    EXPECT_EQ(state(), (std::vector<int>{0, 0, 1, 1}));

    // Register 0 bit 3 set means not ready again.
    fpga_manage::MCU_REG_func[0][0] = 0x08;
    EXPECT_EQ(manager->get_fpga_status(), 0);
    // An unknown job code running the idle work, the PC flag's drop after 80 ticks: in
    // FpgaBright.EveryWriteToTheScreenFollowsTheScheduleTableAndSensor.
}

TEST_F(FpgaLoop, SoftinitPreparesTheJobRecordAndTheImages)
{
    G_timeTicks = 777;
    g_send_para.job = 3;
    g_send_para.reply = 1;
    std::memset(fpga_manage::MCU_RAM_CMD + 24, 0xEE, 10);
    std::memset(fpga_manage::MCU_RAM_EXTEND + 48, 0xEE, 4);
    manager->softinit();
    EXPECT_EQ((std::vector<int>{g_send_para.job, g_send_para.step, g_send_para.reply}), (std::vector<int>{0, 255, 0}));
    // The version, the two command bytes and the cleared PHY status; the extension's pair.
    EXPECT_EQ(Bytes(fpga_manage::MCU_RAM_CMD + 24, fpga_manage::MCU_RAM_CMD + 34),
              (Bytes{1, 17, 0, 0, 255, 1, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(fpga_manage::MCU_RAM_EXTEND + 48, fpga_manage::MCU_RAM_EXTEND + 52),
              (Bytes{0xEE, 159, 159, 0xEE}));
    // The bring-up stamps (33rd and 34th words) and the search stamp; the two words after them hold 15.
    EXPECT_EQ(std::vector<uint32_t>({g_change[32].load(), g_change[33].load(), g_change[2].load(), g_change[34].load(), g_change[35].load()}),
              (std::vector<uint32_t>{777, 777, 777, 15, 15}));
}

#include "fpga_card_jobs_test.moc"
