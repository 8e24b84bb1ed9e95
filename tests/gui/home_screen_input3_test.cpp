// The home screen showing input 3 as its HDMI 2.0 receiver publishes it.

#include "board/sim/Sim.h"
#include "core/config_engine.h"
#include "gui/kel_screens.h"
#include "gui/lockwindow.h"
#include "sources/it6805/ite6805_sys.h"
#include "sources/velinsource.h"
#include "tests/gui/screen_fixture.h"
#include "tests/support/Screens.h"

using namespace screen_test;

TEST_F(ScreenTest, HomeScreenShowsTheFourKSourceOfInput3)
{
    for (const char* kv : {"signal=1", "hact=3840", "vact=2160", "htotal=4400", "vtotal=2250", "hz=30"}) {
        const std::string s(kv);
        sim::SimBoard::setScenario("input3." + s.substr(0, s.find('=')), s.substr(s.find('=') + 1));
    }
    set_window(0, 1, 3);
    mark_saved();
    g_source_online = 2;
    velinsource* src = velinsource::pInstance();
    src->open_bus();
    ASSERT_EQ(src->set_switch(velinsource::kSwitchReceiver, 0x20), 1);
    for (int i = 0; i < 400 && src->p_ite6805_sys->iTE6805_DATA[0].AudState != STATEA_AudioOn; ++i, sim::SimBoard::advanceVirtual(10000))
        src->p_ite6805_sys->iTE6805_FSM(0);

    kel_test::openScreen(g_lockwindow, 0);
    ASSERT_TRUE(g_lockwindow->image_state[0]);
    EXPECT_EQ(g_lockwindow->image_state[0]->text(), "3840x2160@30Hz");
    kel_test::grab(g_lockwindow, "home_screen_input3_en");
    set_language(0, 0x1F);
    g_lockwindow->language_changed();
    EXPECT_EQ(g_lockwindow->image_state[0]->text(), "3840x2160@30Hz");
    kel_test::grab(g_lockwindow, "home_screen_input3_zh");

    delete g_lockwindow;
    g_lockwindow = nullptr;
    delete velinsource::p_velin_source;
    g_source_online = 0;
}
