#pragma once
// The parameter block, its stores and a PC's handler on a fresh simulated board, as the
// store tests drive them: a start as main makes it, the scaler's applies and the GUI's
// notifications taken on the test's thread, the disc's room as blocks.
#include "board/sim/Sim.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "gui/input/custommode.h"
#include "gui/mainwindow.h"
#include "gui/syncupdate.h"
#include "protocol/message_deal.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "tests/support/PcFrame.h"
#include "tests/support/TestRoot.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>
#include <sys/stat.h>

class StoreFixture : public ::testing::Test {
public:
    using P = KelRamPara;
    using Bytes = pc::Bytes;
    void SetUp() override
    {
        if (!c331_manage::p_c331_manage)
            c331_manage::p_c331_manage = new c331_manage();
        g_lcd_lang_valid = 0x1F, g_update_status = 0, g_port = 5005;
    }
    void TearDown() override
    {
        drop();
        manager.reset();
        fpga_manage::p_fpga_manage = nullptr;
    }
    // The FPGA manager with its devices up (no threads), made once.
    fpga_manage* fpga()
    {
        if (!manager) {
            manager = std::make_unique<fpga_manage>();
            fpga_manage::p_fpga_manage = manager.get();
            EXPECT_EQ(manager->initialize(), 0);
            manager->softinit();
        }
        return manager.get();
    }
    std::unique_ptr<fpga_manage> manager;
    message_deal md{message_deal::REPLY_LIMIT_UDP};
    static void drop()
    {
        delete ConfigEngine::p_config;
        delete P::p_kelrampara_config;
        P::p_kelrampara_config = nullptr;
        c331_manage::p_c331_manage->c331_apply_flag = 0;
    }
    static void start() { drop(), ConfigEngine::pInstance(), P::pInstance(); }   // as main does
    static P* para() { return P::p_kelrampara_config; }
    static QString setting(ConfigItem::ConfigName n) { return ConfigEngine::p_config->read_config_variant(n).toString(); }
    std::string file(const std::string& path) const { return std::filesystem::is_regular_file(root.host(path)) ? root.readFile(path) : ""; }
    // Each file put gets a time of its own: QSettings keeps a file it read whose size and
    // time are unchanged.
    void put(const std::string& path, const std::string& text) const
    {
        static int puts = 0;
        text.empty() ? void(std::filesystem::remove(root.host(path))) : root.writeFile(path, text);
        if (!text.empty())
            std::filesystem::last_write_time(root.host(path), std::filesystem::file_time_type::clock::now() - std::chrono::hours(1) + std::chrono::milliseconds(++puts));
    }
    // The scaler able to apply (the simulated chip up), on this thread.
    static void scalerUp(c331_manage* m = c331_manage::p_c331_manage)
    {
        sim::SimBoard::useVirtualClock(true), m->c331_fd = m->drv->initialize(), m->load_system_param(), m->define_param(), m->c331_stage = 8;
    }
    // The notifications the block sends, taken on this thread as the GUI's would be.
    std::vector<int> codes;
    void listen() { QObject::connect(para(), &KelRamPara::sig_update_para, [this](int c) { codes.push_back(c); }); }
    // afterNote: run once after the next one's delivery (another PC's turn between two).
    std::function<void()> afterNote;
    void deliver()
    {
        for (const int code : std::exchange(codes, {}))
            if (SyncUpdate::pInstance()->para_sync(code); afterNote)
                std::exchange(afterNote, nullptr)();
    }
    // The scaler's applies and their notifications until none is left, the mode files written.
    void settleDevice(c331_manage* m = c331_manage::p_c331_manage)
    {
        for (int n = 0; n < 50 && (m->c331_apply_flag || !codes.empty()); ++n)
            m->c331_apply_flag ? void(m->c331_apply_changes()) : deliver();
        P::wait_mode_files();
    }
    // A PC's RAM write (group 0x60) or register write (0xA0, the mask as the value): its status.
    static int ramWrite(message_deal& via, int address, const Bytes& data) { return deal(via, pc::writeRam(address, data)).at(0); }
    static int reg(message_deal& via, int r, int mask) { return deal(via, pc::writeRegister(uint8_t(r), uint8_t(mask), uint8_t(mask))).at(0); }
    // What the files under /data take, in whole blocks, as a disc counts it.
    uint64_t used() const
    {
        uint64_t bytes = 0;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(root.host("/data"), ec); !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (struct stat st; ::lstat(it->path().c_str(), &st) == 0)
                bytes += uint64_t(st.st_blocks) * 512;
        return bytes;
    }
    // The reply's bytes from [10] on (none when it is answered later, into `later`); one PC
    // link's handler for all of a test's requests.
    Bytes deal(uint8_t group, const Bytes& data)
    {
        pc::Frame f;
        md.later = [this](std::vector<unsigned char> frame, unsigned len) { later = Bytes(frame.begin() + 10, frame.begin() + 10 + len); };
        return f.group = group, f.data = data, deal(md, f);
    }
    std::optional<Bytes> later;
    static Bytes deal(message_deal& via, const pc::Frame& f)
    {
        Bytes plain = pc::encode(f);
        const unsigned len = unsigned(plain.size() - 1);
        plain.resize(message_deal::FRAME_BUF_SIZE, 0);
        const int n = via.message_group_deal(plain.data(), len, 5);
        return Bytes(plain.begin() + 10, plain.begin() + 10 + std::max(n, 0));
    }
    // The panel's main menu (its user-mode bar) and user-mode screen, built once a case.
    static MainWindow* bar() { return g_mainwindow ? g_mainwindow : (g_mainwindow = new MainWindow(nullptr)); }
    static CustomMode* screen() { return g_custommode ? g_custommode : (g_custommode = new CustomMode(nullptr)); }
    static void closeScreens() { delete std::exchange(g_custommode, nullptr), delete std::exchange(g_mainwindow, nullptr), g_page_focus = 0; }
    kel_test::TestRoot root;
};
