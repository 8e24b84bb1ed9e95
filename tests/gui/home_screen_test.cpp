// The home screen: the values it reads from the parameter block, the window miniature for
// the scenario inputs, its refresh, touches and keys. (The LED screen state, a window's
// black and freeze bits: InputScreenTest.PanelFollowsThePcAndWritesOnlyWhatTheOperatorChose.)

#include "gui/kel_screens.h"
#include "gui/lockwindow.h"
#include "tests/gui/screen_fixture.h"
#include "tests/support/Screens.h"
#include "ui_lockwindow.h"

#include <QFrame>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPointer>
#include <vector>

using namespace screen_test;

namespace {

struct HomeScreen : ScreenTest {
    // The picture most tests look at:
    //   window 0: HDMI1 with 1920x1080@60 (open although its flag word is 0)
    //   window 1: flag word 3, so not open
    //   window 2: crop record 5, the third crop of HDMI2, 960x540, HDMI2 at 50 Hz
    //   window 3: DVI with 1920x1080 but frame rate 0, frozen
    void SetUp() override
    {
        ScreenTest::SetUp();
        set_input(0, 1920, 1080, 0);
        set_input(1, 1920, 1080, 60);
        set_input(2, 3840, 2160, 50);
        set_window(0, 0, 1);
        set_window(1, 3, 2);
        set_crop(5, 2, 3, 960, 540);
        set_window(2, 1, 0x8000 | 5);
        set_window(3, 1, 0, 0x02);
        mark_saved();
    }

    LockWindow* open() { return kel_test::openScreen(g_lockwindow, 0); }

    static QString state(LockWindow* lw, int w) { return lw->image_state[w] ? lw->image_state[w]->text() : "-"; }
    static QString name(LockWindow* lw, int w) { return lw->image_name[w] ? lw->image_name[w]->text() : "-"; }
    // The four tiles' texts, and which of them carry the freeze mark.
    static QStringList states(LockWindow* lw) { return {state(lw, 0), state(lw, 1), state(lw, 2), state(lw, 3)}; }
    static QStringList names(LockWindow* lw) { return {name(lw, 0), name(lw, 1), name(lw, 2), name(lw, 3)}; }
    static std::vector<bool> frozen(LockWindow* lw)
    {
        std::vector<bool> marks;
        for (int w = 0; w < 4; ++w) {
            marks.push_back(lw->image_freeze[w] != nullptr);
            EXPECT_TRUE(!lw->image_freeze[w] || lw->image_freeze[w]->parentWidget() == lw->image_tile[w]) << w;
        }
        return marks;
    }
};

} // namespace

TEST_F(HomeScreen, StatusLineAndStateTextsPerLanguage)
{
    set_window(0, 0, 1, 0x01);   // black
    LockWindow* lw = open();
    EXPECT_EQ(lw->ui->label_contrast->text(), "55");   // the brightness and the address: the panel check
    EXPECT_TRUE(lw->ui->label_volume->isHidden() && lw->ui->main_Button->isHidden());
    // The window background is the screens' dark blue.
    EXPECT_EQ(lw->grab().toImage().pixelColor(300, 230), QColor(16, 16, 28));

    const struct {
        int language, valid;
        const char *led, *black, *close, *none;
    } cases[] = {
        {0, 0x1F, "LED屏:1920 x 1080", "黑屏", "未开启", "无信号"},
        {1, 0x1F, "LED size:1920 x 1080", "Black", "Close", "No signal"},
        {2, 0x1F, "Размер LED:1920 x 1080", "Черный", "Откл", "Нет сигнала"},
        {3, 0x1F, "Led:1920 x 1080", "Màn đen", "Đóng", "Không có tín hiệu"},
        {4, 0x1F, "LED屏:1920 x 1080", "黑屏", "未開啟", "無信號"},
        {2, 0x1B, "LED size:1920 x 1080", "Black", "Close", "No signal"},   // Russian not enabled
        {0, 0x02, "LED size:1920 x 1080", "Black", "Close", "No signal"},
    };
    for (const auto& c : cases) {
        set_language(c.language, c.valid);
        lw->language_changed();
        EXPECT_EQ(QStringList{lw->ui->label_input->text()} + states(lw), QStringList({QString::fromUtf8(c.led), QString::fromUtf8(c.black),
                  QString::fromUtf8(c.close), "960x540@50Hz", QString::fromUtf8(c.none)})) << c.language << " " << c.valid;
        kel_test::grab(lw, "home-states-" + std::to_string(c.language) + "-" + std::to_string(c.valid));
    }
}

TEST_F(HomeScreen, WindowTilesForTheScenarioInputs)
{
    g_image_current = 2;
    LockWindow* lw = open();
    ASSERT_NE(lw->image_frame, nullptr);
    EXPECT_EQ(lw->image_frame->geometry(), QRect(0, 74, 320, 160));
    for (int w = 0; w < 4; ++w)
        ASSERT_TRUE(lw->image_tile[w] && lw->image_tile[w]->text() == QString::number(w + 1)) << w;
    EXPECT_EQ(std::make_pair(lw->image_tile[3]->geometry(), lw->image_tile[1]->styleSheet().contains("#EBA83A")), std::make_pair(QRect(165, 60, 40, 40), true));

    EXPECT_EQ(names(lw), QStringList({"HDMI1", "", "HDMI2_Crop3", "DVI"}));
    // Window 2 shows the crop's size at its input's rate.
    EXPECT_EQ(std::make_pair(states(lw), lw->image_state[1]->geometry()),
              std::make_pair(QStringList({"1920x1080@60Hz", "Close", "960x540@50Hz", "No signal"}), QRect(210, 20, 40, 15)));

    // Marks: the selected window and the frozen one, nothing on the closed window.
    ASSERT_NE(lw->image_select, nullptr);
    EXPECT_EQ(std::make_pair(lw->image_select->parentWidget(), frozen(lw)), std::make_pair(static_cast<QWidget*>(lw->image_tile[2]), std::vector<bool>{false, false, false, true}));

    // The selection mark moves on the next build only.
    g_image_current = 0;
    EXPECT_EQ(lw->image_select->parentWidget(), lw->image_tile[2]);
    lw->image_init();
    EXPECT_EQ(lw->image_select->parentWidget(), lw->image_tile[0]);

    // Windows 4 and 5 never appear.
    set_window(4, 1, 1);
    lw->image_init();
    EXPECT_EQ(lw->image_frame->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly).size(), 4 + 4 + 4);
}

// What window 1 shows for its flag word and source: open only with flags exactly 1; ports
// 0 to 3 and crops named by their own record; a port above 3 (also 4, though its status is
// filled) or a crop of port 9 show no signal; a crop index past the 40 records reads as port 0.
TEST_F(HomeScreen, WindowTextsForFlagsAndSources)
{
    set_input(3, 3840, 2160, 30);
    set_input(4, 1280, 1024, 60);
    set_crop(0, 1, 2, 1280, 720);   // crop number 2 of HDMI1 kept in record 0
    set_crop(6, 9, 1, 640, 480);
    const struct {
        unsigned flags, source;
        const char *name, *state;
    } cases[] = {
        {1, 3, "HDMI3", "3840x2160@30Hz"},
        {0, 3, "", "Close"},
        {3, 3, "", "Close"},
        {1, 0x8000 | 0, "HDMI1_Crop2", "1280x720@60Hz"},
        {1, 7, "", "No signal"},
        {1, 4, "", "No signal"},
        {1, 0x8000 | 45, "DVI", "No signal"},   // reads as port 0
        {1, 0x8000 | 6, "_Crop1", "No signal"},
    };
    LockWindow* lw = open();
    for (const auto& c : cases) {
        set_window(1, c.flags, c.source);
        lw->image_init();
        EXPECT_EQ((QStringList{name(lw, 1), state(lw, 1)}), (QStringList{c.name, c.state})) << c.flags << " " << c.source;
    }
    set_window(0, 0, 1);   // window 0 is open whatever its flag
    lw->image_init();
    EXPECT_EQ(state(lw, 0), "1920x1080@60Hz");
}

// A long alias elided: TextFit.EveryValueLabelShowsTheWidestValueWholeInEveryLanguage.
TEST_F(HomeScreen, AliasNamesOrTheInputsOwn)
{
    root.writeFile("/data/configs/alias.json",
                   R"({"namelist":{"source":[{"id":1,"valid":"on","name":"Stage"},{"id":2,"valid":"off","name":"Hidden"}]}})");
    set_window(1, 1, 2);
    LockWindow* lw = open();
    EXPECT_EQ((QStringList{name(lw, 0), name(lw, 1)}), (QStringList{"Stage", "HDMI2"}));   // switched-off alias: the input's own name
    EXPECT_EQ(name(lw, 2), "HDMI2_Crop3");   // crops take no alias
}

TEST_F(HomeScreen, TouchAnywhereOpensTheMainMenu)
{
    for (int onMiniature = 0; onMiniature < 2; ++onMiniature) {
        QPointer<LockWindow> lw(open());
        QWidget* target = onMiniature ? static_cast<QWidget*>(lw->image_frame) : lw->ui->widget;
        // Presses are swallowed, paint and layout events go on to the widget.
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        EXPECT_TRUE(lw->eventFilter(target, &press));
        QPaintEvent paint(QRect(0, 0, 10, 10));
        EXPECT_FALSE(lw->eventFilter(target, &paint));
        QEvent layout(QEvent::LayoutRequest);
        EXPECT_TRUE(!lw->eventFilter(target, &layout) && lw->isVisible() && g_page_focus == 0);

        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(target, &release);
        // A touch does not show the main window.
        EXPECT_EQ((std::vector<int>{g_page_focus, g_mainwindow->isVisible()}), (std::vector<int>{1, 0}));
        kel_test::settle();
        EXPECT_TRUE(lw.isNull() && g_lockwindow == nullptr);
    }
}

TEST_F(HomeScreen, KeysOkModeAndTheKeyLock)
{
    for (int variant = 0; variant < 2; ++variant) {
        // Escape and the other keys leave the screen alone.
        QPointer<LockWindow> lw(open());
        kel_test::sendKey(Qt::Key_Escape, lw);
        kel_test::pressKey(kel_test::PanelKey::Left, variant, lw);
        kel_test::pressKey(kel_test::PanelKey::Back, variant, lw);
        EXPECT_EQ((std::vector<int>{lw->isVisible(), g_page_focus}), (std::vector<int>{1, 0}));

        // With the key lock the mode key does nothing.
        put16(P::kKeyLock, 1);
        kel_test::pressKey(kel_test::PanelKey::Mode, variant, lw);
        EXPECT_EQ((std::vector<int>{lw->isVisible(), g_page_focus, g_mode_shortcut_key}), (std::vector<int>{1, 0, 0}));

        // OK still works under the lock, and shows the main menu.
        g_mainwindow->hide();
        kel_test::pressKey(kel_test::PanelKey::Ok, variant, lw);
        EXPECT_EQ((std::vector<int>{g_page_focus, g_mainwindow->isVisible()}), (std::vector<int>{1, 1}));
        kel_test::settle();
        EXPECT_TRUE(lw.isNull() && g_lockwindow == nullptr);
        put16(P::kKeyLock, 0);
    }
    QPointer<LockWindow> lw(open());   // without the lock the mode key opens the user modes
    kel_test::pressKey(kel_test::PanelKey::Mode, 1, lw);
    EXPECT_EQ((std::vector<int>{g_page_focus, g_mode_shortcut_key, g_lockwindow == nullptr, g_custommode != nullptr}), (std::vector<int>{4, 1, 1, 1}));
    kel_test::settle();
    EXPECT_TRUE(lw.isNull());
}
