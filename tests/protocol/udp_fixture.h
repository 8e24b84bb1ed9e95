#pragma once
// A UDP link of the controller on ports moved by a free offset, with a fresh parameter
// block and scaler manager, for the tests that talk to it through real sockets.

#include "board/sim/Sim.h"
#include "core/global.h"
#include "core/kel_file_deal.h"
#include "core/kelrampara.h"
#include "gui/syncupdate.h"
#include "protocol/message_deal.h"
#include "protocol/udpnetmanage.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "tests/support/PcClient.h"
#include "tests/support/PrivatePorts.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace udptest {

inline void freshParameters()
{
    if (!c331_manage::p_c331_manage)
        c331_manage::p_c331_manage = new c331_manage();
    c331_manage::p_c331_manage->c331_apply_flag = 0;
    delete KelRamPara::p_kelrampara_config;
    KelRamPara::p_kelrampara_config = nullptr;
    KelRamPara::pInstance();
    g_app_reset_flag = 0;
    G_reboot_tickTicks = 0;
    g_update_flag = 0;
    g_update_status = 0;
    G_timeTicks = 1000;
    // Nobody holds a transfer from an earlier test, nor does its reboot hold uploads back.
    FileBufOwner::reset();
    message_deal::restart_not_done();
    message_deal::file_read_hold.reset();
    message_deal::cloud_read_hold.reset();
}

// The next frame c receives within timeoutMs, decoded; false when none came whole.
inline bool nextFrame(pc::PcClient& c, pc::Frame& f, int timeoutMs = 3000)
{
    pc::Bytes raw, plain;
    return c.receiveRaw(raw, timeoutMs) && pc::unescape(raw, plain) && pc::decode(plain, f);
}

inline void dropParameters()
{
    delete KelRamPara::p_kelrampara_config;
    KelRamPara::p_kelrampara_config = nullptr;
}

// What the device does after a PC's command that stores: the scaler's apply, then the store
// pass its notification asks of the store thread, waited for; its completion answers the PCs
// whose edits the apply took. Each pass as after an apply of the user modes (code 2): it
// re-syncs their files too, so an edit that asked for that is served whichever apply took it.
// false when the apply waits (nothing stored). The scaler must be up; SyncUpdate made on the
// GUI thread.
inline bool applyAndStore(c331_manage& scaler)
{
    const bool applied = KelRamPara::p_kelrampara_config && scaler.c331_apply_changes();
    if (applied)
        SyncUpdate::pInstance()->request_stores(2);
    KelRamPara::wait_mode_files();
    return applied;
}

// A scaler of its own with the simulated chip up, so that its apply is the device's; put in
// place of the one there (given back by the caller).
inline c331_manage* scalerUp(c331_manage& scaler)
{
    g_set_led_para = 0, g_set_led_setup = 0;   // no LED size hand-shake left by an earlier test
    scaler.c331_fd = scaler.drv->initialize();
    scaler.load_system_param(), scaler.define_param(), scaler.c331_stage = 8;
    return std::exchange(c331_manage::p_c331_manage, &scaler);
}

// Opens a link on a port offset where all three of its ports bind, below the ephemeral range.
inline std::unique_ptr<udpnetManage> openLink(int& offset)
{
    std::unique_ptr<udpnetManage> link;
    offset = kel_test::bindPrivatePorts(udpnetManage::PORT_13769, [&](int) {
        link.reset(new udpnetManage());
        link->initialize_servers();
        return link->server(5008)->socketFd() >= 0 && link->server(10005)->socketFd() >= 0
               && link->server(13769)->socketFd() >= 0;
    });
    if (offset < 0)
        link.reset();
    return link;
}

class UdpFixture : public ::testing::Test {
protected:
    explicit UdpFixture(bool running) : root(!running), m_running(running) {}

    void SetUp() override
    {
        freshParameters();
        link = openLink(offset);
        ASSERT_TRUE(link);
        if (m_running) {
            ASSERT_EQ(link->start_threads(), 0);
        }
    }
    void TearDown() override
    {
        link.reset();
        dropParameters();
    }

    std::unique_ptr<pc::PcClient> client(unsigned port, const std::string& local = "127.0.0.1", uint16_t localPort = 0)
    {
        return pc::PcClient::udp("127.0.0.1", uint16_t(port + offset), local, localPort);
    }
    static KelRamPara* para() { return KelRamPara::p_kelrampara_config; }
    static uint8_t applyFlag() { return c331_manage::p_c331_manage->c331_apply_flag; }

    kel_test::TestRoot root;
    std::unique_ptr<udpnetManage> link;
    int offset = 0;

private:
    bool m_running;
};

// The link's threads run; a test is a PC talking to the device. The scaler's thread does not:
// a command that stores is applied and stored here as the device does it (the scaler's apply,
// then the store thread's pass over the parameter file and the mode files), so that its
// answer comes from the store.
class UdpRunning : public UdpFixture {
protected:
    UdpRunning() : UdpFixture(true) {}
    void SetUp() override
    {
        earlier = scalerUp(scaler);
        ASSERT_GE(scaler.c331_fd, 0);
        SyncUpdate::pInstance();   // on this thread, where a user-mode save's screens are told
        UdpFixture::SetUp();
        standIn = std::thread([this] {
            while (!stop)
                if (KelRamPara* p = para(); p && p->stores_waiting()) {
                    const uint8_t flag = UdpFixture::applyFlag();
                    if (applyAndStore(scaler))
                        applied = flag;
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
        });
    }
    void TearDown() override
    {
        stop = true;
        if (standIn.joinable())
            standIn.join();
        UdpFixture::TearDown();
        c331_manage::p_c331_manage = earlier;
    }
    // The apply the last store followed (1 settings, 2 with the mode files' re-sync).
    uint8_t applyFlag() const { return applied; }
    c331_manage scaler;
    c331_manage* earlier = nullptr;
    std::atomic<bool> stop{false};
    std::atomic<uint8_t> applied{0};
    std::thread standIn;
};

// The link's passes are driven by the test, on the virtual clock.
class UdpPasses : public UdpFixture {
protected:
    UdpPasses() : UdpFixture(false) {}
};

} // namespace udptest
