#include "board/sim/Sim.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "gui/input/inputcut.h"
#include "gui/my_lineedit.h"
#include "gui/settings/advancedoption.h"
#include "gui/kel_keys.h"
#include "gui/led/smartmapping.h"
#include "gui/mainwindow.h"
#include "gui/numberkeyboard.h"
#include "ui_smartmapping.h"
#include "gui/syncupdate.h"
#include "gui/tip.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "protocol/message_deal.h"
#include "board/sim/SpiBusModel.h"
#include "tests/support/GuiFixture.h"
#include "tests/support/LockWaiter.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>
#include <vector>
#include <sys/inotify.h>
#include <unistd.h>

using P = KelRamPara;
using Report = std::vector<uint8_t>;

namespace {

class ChangeNotification : public kel_test::GuiFixture {
protected:
    void SetUp() override
    {
        GuiFixture::SetUp();
        sync = SyncUpdate::pInstance();
        // Start from a block equal to its saved copy and no parameter file.
        std::memcpy(para->ram_backup, para->ram, P::kRamSize);
        board_remove("/data/ram_device_info");
    }
    void board_remove(const std::string& path) { std::filesystem::remove_all(root.host(path)); }
    std::string paraFile() { return root.readFile("/data/ram_device_info"); }
    uint8_t* layer(int w) { return para->ram + P::kLayers + P::kLayerSize * w; }
    void enableWindow(int w, bool on) { P::put16(layer(w) + P::kLayerFlags, on ? 1 : 0); }
    void setSignal(int input, bool on)
    {
        uint8_t* s = para->ram + P::kInputStatus + 6 * input;
        P::put16(s, on ? 1920 : 0);
        P::put16(s + 2, on ? 1080 : 0);
        P::put16(s + 4, on ? 60 : 0);
    }
    // Runs one notification; toasts it raises are ended by ticks from inside them.
    int notify(int code, int expectedToasts = 0)
    {
        toasts = 0;
        expected = expectedToasts;
        if (expected > 0)
            armToast();
        sync->para_sync(code);
        P::wait_mode_files();   // the block's save, on its own thread
        return toasts;
    }
    void armToast()
    {
        kel_test::whenModal([this](QWidget* modal) {
            if (modal != g_tip)
                return;
            ++toasts;
            kel_test::tick(300);
            if (toasts < expected)
                armToast();
        });
    }

    SyncUpdate* sync = nullptr;
    int toasts = 0;
    int expected = 0;
};

} // namespace

TEST_F(ChangeNotification, SavesOnlyOnARealChangeOfTheSavedBytes)
{
    // Nothing differs: no file is written.
    notify(1);
    EXPECT_FALSE(root.exists("/data/ram_device_info"));

    // Bytes below 768 are not part of the file.
    para->ram[500] ^= 0xFF;
    notify(12);
    EXPECT_FALSE(root.exists("/data/ram_device_info"));

    // One byte of 768..4095 changes: the whole file is written (what it holds: the threads
    // test below).
    para->ram[4095] = uint8_t(para->ram[4095] + 1);
    notify(1);
    EXPECT_EQ(paraFile().size(), 4096u);

    // A second notification without a change leaves the file alone.
    board_remove("/data/ram_device_info");
    notify(1);
    EXPECT_FALSE(root.exists("/data/ram_device_info"));
}

// A PC applying and saving back to back: while one save waits for the disc (here, for the
// file lock another thread holds), the GUI thread takes further notifications without
// waiting, and the saves they ask for are at most one more write (the file's replacements
// counted by the system), which stores the block as it was at the last; a user-mode save
// asked meanwhile is written off the GUI thread as well.
TEST_F(ChangeNotification, SavesAskedWhileOneIsWrittenAreOneMoreWriteOffTheGuiThread)
{
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, root.host("/data").c_str(), IN_MOVED_TO), 0);
    std::promise<void> held, taken;   // the file lock held; the notifications taken
    bool heldOut = false;
    std::thread disc([&] {
        std::lock_guard<std::mutex> file(Utils::_file_deal_mutex);
        held.set_value();
        heldOut = taken.get_future().wait_for(std::chrono::seconds(10)) != std::future_status::ready;   // a bound for a failing run
    });
    held.get_future().wait();
    const uint8_t was = para->ram[4095];   // changed three times, and a user-mode save asked
    // Edited under the block's lock: the store thread copies the block meanwhile.
    P::put16(para->ram + P::kModeSaveRequest, 5);
    for (const uint8_t v : {uint8_t(was + 1), uint8_t(was + 3), uint8_t(was + 2)}) {
        {
            std::unique_lock<std::mutex> block = KelRamPara::lock_block();
            para->ram[4095] = v;
        }
        sync->para_sync(1);
    }
    taken.set_value(), disc.join(), P::wait_mode_files();
    int written = 0;
    char events[4096];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
        for (char* e = events; e < events + n; e += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(e)->len)
            written += std::string(reinterpret_cast<inotify_event*>(e)->name) == "ram_device_info";
    ::close(watch);
    // The first write may have been replaced before it began: then the last is the only one.
    EXPECT_EQ((std::vector<int>{heldOut, written == 1 || written == 2, uint8_t(paraFile().at(2 + 4095 - 768)), para->KelUserModeSaved(4), root.exists(P::mode_file_name(5))}),
              (std::vector<int>{0, 1, uint8_t(was + 2), 1, 1}));
}

// Stands in front of the scaler model and holds the scaler thread at a chip transfer inside
// its apply (the place of its frame waits), once per apply, until the test lets it go.
struct ApplyHold : sim::SpiModel {
    sim::SpiModel* chip = sim::SpiBusModel::model(0);
    std::mutex m;
    std::condition_variable cv;
    std::thread::id scaler;
    int armed = 4, held = 0, fresh = 1;   // holds to make; one in progress; none in this apply
    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t n, uint32_t hz) override
    {
        std::unique_lock<std::mutex> lk(m);
        if (std::this_thread::get_id() == scaler && armed > 0 && fresh && KelRamPara::p_kelrampara_config->scaler_applying) {
            --armed, held = 1, fresh = 0;
            cv.notify_all();
            cv.wait_for(lk, std::chrono::seconds(10), [this] { return held == 0; });   // a bound for a failing run
            held = 0;
        }
        lk.unlock();
        chip->transfer(tx, rx, n, hz);
    }
    void endMessage() override { chip->endMessage(); }
};

TEST_F(ChangeNotification, TheLcdAndACaptureAreServedWhileTwoPcsApplyBackToBack)
{
    // The scaler and two PC links on threads of their own, the LCD on this one; the device's
    // time is the virtual clock, which stands still while the scaler is held in its apply.
    sim::SimBoard::useVirtualClock(true);
    para->merge_notes = true;
    c331_manage* m = c331_manage::p_c331_manage;
    m->c331_fd = m->drv->initialize(), m->load_system_param(), m->define_param(), m->c331_stage = 8;
    std::atomic<int> notes{0}, taken{0};   // sent; delivered on this (the GUI) thread
    QObject::connect(para, &KelRamPara::sig_update_para, [&](int code) { notes += code == 1; });
    QObject::connect(para, &KelRamPara::sig_update_para, sync, [&](int code) { taken += code == 1; }, Qt::QueuedConnection);
    ApplyHold hold;
    sim::SpiBusModel::attach(0, &hold);
    std::atomic<bool> stop{false};   // the scaler thread's end
    std::thread scaler([&] {
        std::unique_lock<std::mutex>(hold.m), hold.scaler = std::this_thread::get_id();
        for (; !stop; std::this_thread::yield())
            m->c331manage_pass(), m->pass_wake.pauseMs(1);
    });
    // User-mode slots saved, empty with a stale file, neither: an apply of register 11 with mask 4
    // rewrites the files of the saved, removes those of the empty and leaves the others alone.
    for (int i = 0; i < 16; ++i)
        para->mode_slot[i][0] = para->mode_slot[i][1] = uint8_t("\xAA\xFF"[i % 3]), para->mode_slot[i][100] = 0x5D,
        i % 3 == 1 ? root.writeFile(P::mode_file_name(i + 1), "stale") : void();
    std::atomic<int> enough{0}, last[2] = {{0}, {0}};   // the PCs apply until the four holds are served, under any load
    const uint64_t sleptBefore = sim::SimBoard::virtualSleptHere();
    std::vector<std::thread> pcs;
    for (int pc = 0; pc < 2; ++pc)
        pcs.emplace_back([&, pc] {
            for (int i = 0; !enough; ++i) {   // once its last apply was taken: window pc's x, then register 11
                for (int n = 0; n < 1000000 && m->c331_apply_flag; ++n)
                    std::this_thread::yield();
                const uint8_t x[2] = {uint8_t(8 * i), uint8_t(pc)};
                EXPECT_EQ(para->KelRamParaDeal(x, 2, P::kLayers + P::kLayerSize * pc + P::kLayerWindow), 0);
                last[pc] = pc << 8 | x[0];
                P::lock_block(), m->raise_apply_flag(i % 4 == 3 ? 2 : 1);   // register 11: under the block's lock
            }
        });
    // Each hold: the LCD's block copy and a PC's capture while the scaler is in its apply.
    std::vector<uint64_t> served;   // device time this thread waited from the LCD's request to the capture's reply
    auto copy = std::make_unique<P::BlockCopy>();
    for (std::unique_lock<std::mutex> lk(hold.m); served.size() < 4; hold.fresh = 1) {
        if (!hold.cv.wait_for(lk, std::chrono::seconds(10), [&] { return hold.held == 1; }))
            break;   // no apply held again: nothing was served in one
        lk.unlock();
        const uint64_t t0 = sim::SimBoard::virtualSleptHere();
        para->copy_block(*copy);   // what LockWindow::fresh_block takes
        auto capture = std::async(std::launch::async, [] { return message_deal::capture_screen(); });
        while (capture.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        lk.lock();
        served.push_back(hold.held == 1 ? sim::SimBoard::virtualSleptHere() - t0 : ~0ull);
        hold.held = 0, hold.cv.notify_all(), lk.unlock();
        for (int n = 0; n < 1000000 && para->scaler_applying; ++n)
            std::this_thread::yield();   // the next hold: in the next apply
        lk.lock();
    }
    EXPECT_EQ(served, std::vector<uint64_t>(4, 0));   // no device time waited: within any bound
    enough = 1;
    std::for_each(pcs.begin(), pcs.end(), [](std::thread& pc) { pc.join(); });
    // At rest once the load stops: what was queued while this thread took no events is one
    // notification, not one per apply; then nothing is left, and the file holds the block.
    const int notesAtStop = notes, queuedAtStop = notes - taken;
    for (int n = 0; n < 100000 && (m->c331_apply_flag || para->scaler_applying || para->notes_waiting); ++n)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    stop = true, scaler.join(), sim::SpiBusModel::attach(0, hold.chip), kel_test::settle();
    const uint64_t slept = sim::SimBoard::virtualSleptHere() - sleptBefore;   // the mode files: on another thread
    int modeFiles = (P::wait_mode_files(), 0);
    for (int n = 1; n <= 16; ++n)
        modeFiles += n % 3 == 1 ? root.readFile(P::mode_file_name(n)).substr(0, 101) == "\xAA\xAA" + std::string(98, 0) + "\x5D" : !root.exists(P::mode_file_name(n));
    para->copy_block(*copy);
    EXPECT_EQ((std::vector<int>{m->c331_apply_flag, para->scaler_applying, para->pc_edit_pending, int(para->notes_waiting),
                                notes - notesAtStop <= 2 && queuedAtStop <= 1, copy->ram16(P::kLayers + P::kLayerWindow),
                                copy->ram16(P::kLayers + P::kLayerSize + P::kLayerWindow), int(slept), modeFiles,
                                std::memcmp(paraFile().data(), "\xAA\xAA", 2), std::memcmp(paraFile().data() + 2, copy->ram + 768, 3328),
                                std::memcmp(copy->saved, copy->ram, 4096)}),
              (std::vector<int>{0, 0, 0, 0, 1, last[0], last[1], 0, 16, 0, 0, 0}));
    std::printf("applies notified %d, queued at the end of the load %d\n", notes.load(), queuedAtStop);
}

// What code 2 does to the user-mode files: the threads test above. Other codes leave them alone.
TEST_F(ChangeNotification, OnlyCodeTwoResynchronisesTheUserModeFiles)
{
    para->mode_slot[0][0] = para->mode_slot[0][1] = 0xAA;
    notify(1), P::wait_mode_files();
    EXPECT_FALSE(root.exists("/data/modes/custom_mode1"));
}

// A PC resets the user modes (and the block) while the panel saves mode 3: the reset comes
// before the slot is filled or after its file is written, never between, so the layout it
// reset is stored in no mode after it. The PC's link holds the mode files' lock until the
// panel's save waits for a lock, then resets.
TEST_F(ChangeNotification, APanelSaveAndAPcResetOfTheModesAreOneBeforeTheOther)
{
    const int at = 2 + P::kBrightness - P::kModeArea;
    para->ram[P::kBrightness] = 37, P::put16(para->ram + P::kModeSaveRequest, 3);
    std::promise<void> held;
    bool waited = false;
    int reset = -1;
    std::thread pc([&, gui = kel_test::currentThreadId()] {
        std::unique_lock<std::recursive_mutex> files = P::lock_mode_files();
        held.set_value(), waited = kel_test::sleepsOnLock(gui), reset = message_deal(message_deal::REPLY_LIMIT_UDP).RegUpdate10(0, 1);
    });
    held.get_future().wait(), notify(1), pc.join(), P::wait_mode_files();
    const std::string file = root.exists("/data/modes/custom_mode3") ? root.readFile("/data/modes/custom_mode3") : "";
    EXPECT_TRUE(waited && reset == 0 && (file.size() <= size_t(at) || file[at] != 37) && !(para->KelUserModeSaved(2) && para->mode_slot[2][at] == 37));
}

TEST_F(ChangeNotification, CodeThreeRestoresTheNetworkAndRebootsOnceWithAFreshStamp)
{
    mainWindow();
    ASSERT_TRUE(ConfigEngine::pInstance()->write_config_variant(ConfigItem::IPAddress, QStringLiteral("10.1.2.3")));
    // The PC had moved the served port away from 5005.
    ASSERT_TRUE(ConfigEngine::pInstance()->write_config_variant(ConfigItem::TcpPort, 6000));
    sim::Journal::clear();
    g_port = 6000;
    G_timeTicks = 50000;
    G_reboot_tickTicks = 0;   // a stale stamp must not make the reboot immediate

    notify(3);
    EXPECT_EQ(g_port, 5005);   // read first: looking up the settings re-reads the port
    auto* config = ConfigEngine::pInstance();
    EXPECT_EQ((QStringList{config->read_config_variant(ConfigItem::IPAddress).toString(),
                           config->read_config_variant(ConfigItem::GateWay).toString(),
                           config->read_config_variant(ConfigItem::SubNetMask).toString(),
                           config->read_config_variant(ConfigItem::TcpPort).toString()}),
              (QStringList{"192.168.0.199", "192.168.0.1", "255.255.255.0", "5005"}));
    EXPECT_TRUE(sim::Journal::hasShell("ifconfig eth0 192.168.0.199 netmask 255.255.255.0 up"));
    QSettings ini(QString::fromStdString(root.host("/data/configs/tcpip.ini")), QSettings::IniFormat);
    EXPECT_EQ(ini.value("config/IPAddress").toString(), "192.168.0.199");
    // The reboot itself is the tick's (the main-menu tick test); it counts from this stamp.
    EXPECT_EQ((std::vector<unsigned>{g_app_reset_flag, G_reboot_tickTicks}), (std::vector<unsigned>{1, 50000}));
    g_app_reset_flag = 0;

    // The port already 5005: addresses restored, no reboot requested.
    g_port = 5005;
    notify(3);
    EXPECT_EQ(g_app_reset_flag, 0);
}

TEST_F(ChangeNotification, RefreshGoesToTheCurrentPage)
{
    MainWindow* w = mainWindow();

    // Page 1: the main menu redraws the key-lock icon (the panel check); another page: the
    // main menu is not refreshed.
    P::put16(para->ram + P::kKeyLock, 1);
    notify(1);
    g_page_focus = 27;
    P::put16(para->ram + P::kKeyLock, 0);
    notify(1);
    EXPECT_EQ(w->l_lock_state, 1);

    // A language change by the PC re-texts every screen there is, not only the page in front
    // (none here): the main menu, the keypad, the smart set-up's load page; then it is saved.
    SmartMapping* smart = g_smartmapping = new SmartMapping(nullptr);
    InputCut* cut = g_inputcut = new InputCut(nullptr);
    smart->on_Button_loadscan_clicked(), smart->on_Button_next_5_clicked();
    para->ram[768] = 2;
    notify(1);
    EXPECT_EQ(g_language, 2);
    EXPECT_EQ(w->findChild<QPushButton*>("option")->icon().pixmap(100, 70).toImage(), QIcon(":/png/ru_option.png").pixmap(100, 70).toImage());
    EXPECT_EQ((QStringList{g_numberkeyboard->findChild<QPushButton*>("Button_close")->text(), smart->ui->Button_load->text(),
                           cut->findChild<QLabel*>("label_title")->text()}), QStringList({"Отмена", "Загрузка", "Источник"}));
    delete smart, delete cut;
    EXPECT_EQ(para->ram_backup[768], 2);
    QPushButton* close = g_numberkeyboard->findChild<QPushButton*>("Button_close");
    close->setText("x");   // a second notification must not translate again
    notify(1);
    EXPECT_EQ(close->text(), "x");
}

TEST_F(ChangeNotification, AnOpenKeypadsTitleFollowsALanguageChange)
{
    mainWindow();
    AdvancedOption* adv = new AdvancedOption(nullptr);
    InputCut* cut = g_inputcut = new InputCut(nullptr);
    const auto titleAfter = [&](const std::function<void()>& open, int language) {
        QString title;
        kel_test::whenModal([&](QWidget*) {
            para->ram[P::kLanguage] = uint8_t(language);
            notify(1);
            title = g_numberkeyboard->findChild<QLabel*>("label")->text();
            g_numberkeyboard->on_Button_close_clicked();
        });
        open();
        return title;
    };
    EXPECT_EQ(titleAfter([&] { adv->show_numberkeyboard_ui(QString()); }, 2), QString::fromUtf8("Пароль"));
    EXPECT_EQ(titleAfter([&] { emit cut->findChild<My_lineEdit*>("lineEdit_W")->send_show(QString()); }, 4), QString::fromUtf8("寬"));
    delete adv, delete cut;
}

TEST_F(ChangeNotification, ToastsFollowTheRefreshWherePagesAskForThem)
{
    MainWindow* w = mainWindow();
    // Page 1 with a pending check toast: one toast, then the flag is cleared.
    w->tip_pending = 1;
    EXPECT_EQ((std::vector<int>{notify(1, 1), w->tip_pending}), (std::vector<int>{1, 0}));
    EXPECT_EQ(notify(1), 0);

    // Page 10 shows the check toast after the refresh and again after the saving.
    g_page_focus = 10;
    EXPECT_EQ((std::vector<int>{notify(12, 2), g_tip_flag}), (std::vector<int>{2, 0}));

    // Pages 24 and 26 tell about USB sticks.
    for (int page : {24, 26}) {
        g_page_focus = uint8_t(page);
        EXPECT_EQ(notify(101, 1), 1) << page;
        EXPECT_EQ(notify(11), 0) << page;
    }
    // Codes 105 and 106 stop after the keypad report.
    g_page_focus = 10;
    EXPECT_EQ((std::vector<int>{notify(105), notify(106)}), (std::vector<int>{0, 0}));
}

TEST_F(ChangeNotification, KeypadLedReportBytes)
{
    sim::KeypadModel::setPresent(true);
    g_kel_keys = 1;
    // The selected window alone is set up: enabled or not, its source, whether that input
    // has a signal, its output word (bit 0 black, bit 1 freeze); each row's report differs
    // from the one before, so each is sent.
    const struct {
        int window;
        bool enabled;
        int source;
        bool signal;
        int output;
        Report report;
    } cases[] = {
        {2, true, 1, true, 0x02, {0xA5, 0x00, 0x01, 0x10, 0x01}},
        {3, true, 3, false, 0x03, {0xA5, 0x00, 0x04, 0x02, 0x05}},
        {0, true, 0, false, 0x00, {0xA5, 0x04, 0x00, 0x08, 0x00}},
        {1, true, 2, true, 0x01, {0xA5, 0x10, 0x00, 0x40, 0x04}},
        {0, true, 0, true, 0x00, {0xA5, 0x04, 0x00, 0x04, 0x00}},
        {1, true, 1, false, 0x00, {0xA5, 0x10, 0x00, 0x20, 0x00}},
        {2, true, 2, false, 0x00, {0xA5, 0x00, 0x01, 0x80, 0x00}},
        {3, true, 3, true, 0x00, {0xA5, 0x00, 0x04, 0x01, 0x00}},
        {3, true, 4, true, 0x02, {0xA5, 0x00, 0x04, 0x00, 0x01}},   // no such input
        {5, true, 1, true, 0x00, {0xA5, 0x00, 0x00, 0x10, 0x00}},   // windows 4 and 5 have no LED
    };
    size_t sent = 0;
    for (const auto& c : cases) {
        for (int w = 0; w < 6; ++w)
            enableWindow(w, w == c.window && c.enabled);
        for (int input = 0; input < 6; ++input)
            setSignal(input, input == c.source && c.signal);
        P::put16(layer(c.window) + P::kLayerSource, uint16_t(c.source));
        P::put16(layer(c.window) + P::kLayerOutput, uint16_t(c.output));
        g_image_current = uint8_t(c.window);
        notify(1);
        const auto reports = sim::KeypadModel::reports();
        ASSERT_EQ(reports.size(), ++sent) << c.window << " " << c.source;
        EXPECT_EQ(reports.back(), c.report) << c.window << " " << c.source;
    }
    // Nothing changed: nothing is sent again.
    notify(12);
    EXPECT_EQ(sim::KeypadModel::reports().size(), sent);

    // A disabled selected window (outside page 9) falls back to window 0 first.
    enableWindow(0, true);
    P::put16(layer(0) + P::kLayerSource, 0);
    P::put16(layer(0) + P::kLayerOutput, 0);
    setSignal(0, false);
    setSignal(2, true);
    P::put16(layer(1) + P::kLayerSource, 2);
    P::put16(layer(1) + P::kLayerOutput, 0x01);
    g_image_current = 1;
    notify(1);
    EXPECT_EQ(std::make_tuple(int(g_image_current), sim::KeypadModel::reports().back()), std::make_tuple(0, Report({0xA5, 0x04, 0x00, 0x08, 0x00})));
    // The picture-layout page keeps its own selection.
    g_page_focus = 9;
    g_image_current = 1;
    notify(1);
    EXPECT_EQ(std::make_tuple(int(g_image_current), sim::KeypadModel::reports().back()), std::make_tuple(1, Report({0xA5, 0x00, 0x00, 0x40, 0x04})));
    // A selection past the six windows has no window: no input, no output state.
    g_image_current = 6;
    notify(1);
    EXPECT_EQ(sim::KeypadModel::reports().back(), Report({0xA5, 0x00, 0x00, 0x00, 0x00}));
    g_page_focus = 1;
    g_image_current = 0;

    // A firmware transfer: byte 0 becomes 0x5A; no refresh and no saving.
    g_update_flag = 1;
    para->ram[2500] = uint8_t(para->ram_backup[2500] + 1);
    notify(105);
    EXPECT_EQ(sim::KeypadModel::reports().back(), Report({0x5A, 0x04, 0x00, 0x08, 0x00}));
    EXPECT_TRUE(para->ram_backup[2500] != para->ram[2500] && uint8_t(paraFile()[2 + 2500 - 768]) != para->ram[2500]);
    g_update_flag = 0;
}

TEST_F(ChangeNotification, KeypadReportCountsAsSentOnlyWhenWritten)
{
    sim::KeypadModel::setPresent(true);
    sim::KeypadModel::setWriteFails(true);
    g_kel_keys = 1;
    enableWindow(0, true);
    g_image_current = 0;
    notify(1);
    EXPECT_EQ((std::vector<int>{int(sim::KeypadModel::reports().size()), sync->key_led()[0]}), (std::vector<int>{0, 0}));

    sim::KeypadModel::setWriteFails(false);
    notify(12);
    ASSERT_EQ(sim::KeypadModel::reports().size(), 1u);
    EXPECT_EQ(sync->key_led()[0], 0xA5);

    // A crop source shows the crop's input: record 7 of input 2, with signal.
    P::put16(layer(0) + P::kLayerSource, 0x8000 | 7);
    uint8_t* crop = para->ram + P::kCropRecords + P::kCropRecordSize * 7;
    P::put16(crop, 0x8000 | 2);
    setSignal(2, true);
    notify(1);
    EXPECT_EQ(sim::KeypadModel::reports().back()[3], 0x40);

    // Without a keypad found at start-up nothing is sent at all.
    g_kel_keys = 0;
    P::put16(layer(0) + P::kLayerOutput, 0x02);
    notify(1);
    EXPECT_EQ(sim::KeypadModel::reports().size(), 2u);
}
