#include "board/sim/Sim.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/mainwindow.h"
#include "gui/tip.h"
#include "tests/support/GuiFixture.h"
#include "tests/support/Screens.h"

#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

using kel_test::PanelKey;
using P = KelRamPara;

namespace {

class MainMenu : public kel_test::GuiFixture {
protected:
    QPushButton* B(const char* name) { return mainWindow()->findChild<QPushButton*>(name); }
    QWidget* W(const char* name) { return mainWindow()->findChild<QWidget*>(name); }
    static QString style(QWidget* w) { return w->styleSheet(); }
    static QImage iconImage(QPushButton* b, int w, int h) { return b->icon().pixmap(w, h).toImage(); }
    static QImage resourceImage(const QString& path, int w, int h) { return QIcon(path).pixmap(w, h).toImage(); }
    // Ends every toast that starts while fn runs (a toast blocks until 300 ticks passed).
    static void endToasts()
    {
        kel_test::whenModal([](QWidget* modal) {
            if (modal == g_tip)
                kel_test::tick(300);
        });
    }
};

} // namespace

TEST_F(MainMenu, FocusWalksTheSixEntriesAndWrapsWithBothKeyCodes)
{
    for (int variant = 0; variant < 2; ++variant) {
        MainWindow* w = mainWindow();
        w->menulist_init();
        ASSERT_EQ(w->focused_widget(), B("machinestate"));
        EXPECT_EQ(style(B("machinestate")), KEL_STYLE_LARGE_FOCUS);

        // Each step frames the next entry and gives the one left its own (large or small) style.
        QWidget* order[] = {B("machinestate"), B("inputchoose"), B("custommode"), B("option"), B("Button_lock"), B("tools"), B("machinestate")};
        auto styled = [](QWidget* e, bool focus) { return QString(e->width() > 30 ? (focus ? KEL_STYLE_LARGE_FOCUS : KEL_STYLE_LARGE) : (focus ? KEL_STYLE_SMALL_FOCUS : KEL_STYLE_SMALL)); };
        for (int i = 1; i < 7; ++i) {
            kel_test::pressKey(PanelKey::Right, variant, w);
            EXPECT_EQ(std::make_tuple(w->focused_widget(), style(order[i]), style(order[i - 1])), std::make_tuple(order[i], styled(order[i], true), styled(order[i - 1], false))) << i;
        }

        // Left from the first entry goes to the tools button.
        w->menulist_init();
        kel_test::pressKey(PanelKey::Left, variant, w);
        EXPECT_EQ(std::make_tuple(w->focused_widget(), w->ui_select, style(B("tools")), style(B("machinestate"))),
                  std::make_tuple(W("tools"), 5, QString(KEL_STYLE_SMALL_FOCUS), QString(KEL_STYLE_LARGE)));
        kel_test::pressKey(PanelKey::Right, variant, w);
        kel_test::grabScreen(variant ? "mainwindow-menu-panel-codes" : "mainwindow-menu");
    }
}

TEST_F(MainMenu, ToolBarOpensFromToolsAndBackReturnsToTools)
{
    MainWindow* w = mainWindow();
    for (int variant = 0; variant < 2; ++variant) {
        kel_test::pressKey(PanelKey::Left, variant, w);   // tools
        kel_test::pressKey(PanelKey::Ok, variant, w);
        ASSERT_FALSE(W("widget")->isHidden());
        EXPECT_EQ(std::make_tuple(w->ui_select, w->focused_widget(), style(B("toolButton1")), style(B("tools"))),
                  std::make_tuple(0, W("toolButton1"), QString(KEL_STYLE_SMALL_FOCUS), QString(KEL_STYLE_SMALL)));

        const std::pair<PanelKey, const char*> round[] = {{PanelKey::Right, "toolButton2"}, {PanelKey::Right, "toolButton3"},
            {PanelKey::Right, "toolButton4"}, {PanelKey::Right, "toolButton1"}, {PanelKey::Left, "toolButton4"}};   // round the bar, and back
        for (const auto& [key, next] : round) {
            kel_test::pressKey(key, variant, w);
            EXPECT_EQ(std::make_tuple(w->focused_widget(), style(B(next))), std::make_tuple(W(next), QString(KEL_STYLE_SMALL_FOCUS)));
        }
        EXPECT_EQ(style(B("toolButton1")), KEL_STYLE_SMALL);
        if (variant == 0)
            kel_test::grabScreen("mainwindow-toolbar");

        kel_test::pressKey(PanelKey::Back, variant, w);
        EXPECT_EQ(std::make_tuple(W("widget")->isHidden(), w->ui_select, w->focused_widget(), style(B("toolButton4")), style(B("tools"))),
                  std::make_tuple(true, 5, W("tools"), QString(KEL_STYLE_SMALL), QString(KEL_STYLE_SMALL_FOCUS)));
        kel_test::pressKey(PanelKey::Right, variant, w);   // back to the first entry
    }
}

// (The dark and sound tools' writes and icons: InputScreenTest.PanelFollowsThePcAndWritesOnlyWhatTheOperatorChose.)
TEST_F(MainMenu, KeyLockIsSavedAndRefusesTheModeKey)
{
    MainWindow* w = mainWindow();
    kel_test::pressKeys({PanelKey::Left, PanelKey::Left});   // Button_lock
    ASSERT_EQ(w->focused_widget(), B("Button_lock"));
    ASSERT_EQ(para->ram16(P::kKeyLock), 0);

    kel_test::pressKey(PanelKey::Ok, 0, w);
    // The toggle raised a notification: the word reached the saved copy (and so the file).
    EXPECT_EQ(P::get16(para->ram_backup + P::kKeyLock), 1);

    // Locked: the mode key does nothing and is not handed to the keypad handler.
    for (int variant = 0; variant < 2; ++variant) {
        testing::internal::CaptureStdout();
        kel_test::pressKey(PanelKey::Mode, variant, w);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ((std::vector<int>{out.find("update_usb_keyEvent") != std::string::npos, g_mode_shortcut_key, g_page_focus}), (std::vector<int>{0, 0, 1}));
    }
    // Other keys still move the focus and still reach the keypad handler.
    testing::internal::CaptureStdout();
    kel_test::pressKey(PanelKey::Right, 1, w);
    EXPECT_EQ(std::make_pair(testing::internal::GetCapturedStdout().find("update_usb_keyEvent") != std::string::npos, w->focused_widget()),
              std::make_pair(true, static_cast<QWidget*>(B("tools"))));

    kel_test::pressKeys({PanelKey::Left});
    kel_test::pressKey(PanelKey::Ok, 1, w);   // unlocked (a PC's word awaiting its apply: the panel check)
    kel_test::pressKey(PanelKey::Mode, 0, w);   // unlocked: the mode key opens the user modes
    EXPECT_EQ((std::vector<int>{g_mode_shortcut_key, g_page_focus}), (std::vector<int>{1, 4}));
}

TEST_F(MainMenu, ModeKeyFromTheToolBarAndTheModeBarDisarms)
{
    MainWindow* w = mainWindow();
    kel_test::pressKeys({PanelKey::Left, PanelKey::Ok, PanelKey::Left, PanelKey::Ok});
    ASSERT_EQ(w->l_save_state, 1);
    kel_test::pressKey(PanelKey::Mode, 1, w);
    // Shortcut taken, save disarmed, mode bar and its pointer hidden.
    EXPECT_EQ((std::vector<int>{g_mode_shortcut_key, w->l_save_state, w->mode_bar()->isHidden(), w->pointer_label()->isVisible()}),
              (std::vector<int>{1, 0, 1, 0}));
}

TEST_F(MainMenu, UserModeSaveBarLayout)
{
    MainWindow* w = mainWindow();
    for (int s = 0; s < 16; ++s)
        ASSERT_EQ(para->KelUserModeSaved(s), 0);

    // Tool bar, then the save button (toolButton4): save armed, bar open at slot 0.
    kel_test::pressKeys({PanelKey::Left, PanelKey::Ok, PanelKey::Left, PanelKey::Ok});
    ASSERT_EQ(w->l_save_state, 1);
    ASSERT_NE(w->mode_bar(), nullptr);
    EXPECT_TRUE(w->mode_bar()->isVisible() && w->pointer_label()->isVisible());
    // The bar, its pointer and title (9 pt: 13 px); the slots in four columns of four, each
    // slot's frame, number and button (built in that order) at one place.
    const QObjectList bar = w->mode_bar()->children();
    kel_test::expectPlaced({{w->mode_bar(), 11, 6, 270, 230}, {w->pointer_label(), 281, 148, 9, 12}, {qobject_cast<QWidget*>(bar.value(0)), 10, 5, 210, 28, 13}});
    for (int k = 0; k < 16; ++k)
        for (int j = 1; j <= 3; ++j)
            kel_test::expectPlaced({{qobject_cast<QWidget*>(bar.value(3 * k + j)), 15 + 63 * (k % 4), 33 + 45 * (k / 4), j == 2 ? 12 : 50, j == 2 ? 12 : 40}}, std::to_string(k));
    EXPECT_EQ(std::make_pair(int(w->mode_index), style(w->mode_button(0))),
              std::make_pair(0, QString("background-color:transparent;border-radius:5px;border:2px solid rgb(255,171,84);")));
    // No slot saved: the save icon is not lit.
    EXPECT_EQ(iconImage(B("toolButton4"), 24, 36), resourceImage(kel_icon("unsave"), 24, 36));

    // Any slot can be chosen for a save, with wrapping.
    kel_test::pressKey(PanelKey::Left, 1, w);
    const int wrapped = w->mode_index;
    kel_test::pressKeys({PanelKey::Right, PanelKey::Right, PanelKey::Right});
    EXPECT_EQ((std::vector<int>{wrapped, w->mode_index}), (std::vector<int>{15, 2}));
    kel_test::grabScreen("mainwindow-usermode-save");
}

TEST_F(MainMenu, RecallWithNoSavedModeChangesNothing)
{
    MainWindow* w = mainWindow();
    kel_test::pressKeys({PanelKey::Left, PanelKey::Ok, PanelKey::Right, PanelKey::Right, PanelKey::Ok});
    ASSERT_EQ(w->l_call_state, 1);
    EXPECT_EQ(std::make_pair(int(w->mode_index), iconImage(B("toolButton3"), 24, 36)), std::make_pair(0, resourceImage(kel_icon("uncall"), 24, 36)));
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(style(w->mode_button(k)), "background-color:transparent;") << k;

    kel_test::pressKey(PanelKey::Ok, 0, w);   // the block as it was: the two-PC store check
    EXPECT_EQ(std::make_pair(applyFlag(), int(w->tip_pending)), std::make_pair(0, 0));
    EXPECT_EQ(g_mode[0]->styleSheet(), "background-color: #00D65B;border-radius:5px;");
    // Back on the bar disarms the recall and hides the bar.
    kel_test::pressKey(PanelKey::Back, 1, w);
    EXPECT_EQ(std::make_tuple(w->l_call_state, iconImage(B("toolButton3"), 24, 36), w->mode_bar()->isHidden()),
              std::make_tuple(0, resourceImage(kel_icon("uncall"), 24, 36), true));
}

TEST_F(MainMenu, SlotClicksByTouchRebuildTheBarSafelyAndIgnoreForeignSenders)
{
    MainWindow* w = mainWindow();
    w->on_tools_clicked();
    w->on_toolButton4_clicked();
    // Several touches in a row, each deleting the bar that holds it (its save: the store check).
    for (int k : {5, 9, 5, 15}) {
        QPointer<QPushButton> b(w->mode_button(k));
        ASSERT_FALSE(b.isNull());
        b->click();
        kel_test::settle();
        EXPECT_TRUE(b.isNull()) << k;
    }
    // A slot button whose name is not a slot number is ignored.
    QPushButton stray;
    stray.setObjectName("16");
    QObject::connect(&stray, &QPushButton::clicked, w, &MainWindow::kel_button_mode_clicked);
    stray.click();
    EXPECT_EQ((std::vector<int64_t>{para->ram16(P::kModeSaveRequest), g_mode_select}), (std::vector<int64_t>{16, 15}));
}

TEST_F(MainMenu, TickRebootsOnceAndEnablesTheUsbServer)
{
    mainWindow();
    G_timeTicks = 1000;
    G_reboot_tickTicks = 1000;
    g_app_reset_flag = 1;
    kel_test::tick(299);
    const bool early = sim::Journal::hasShell("reboot");
    kel_test::tick(1);
    EXPECT_EQ(std::make_pair(early, sim::Journal::hasShell("reboot")), std::make_pair(false, true));
    kel_test::tick(600);
    int reboots = 0;
    for (const auto& c : sim::Journal::shellCommands())
        reboots += c == "reboot";
    EXPECT_EQ((std::vector<unsigned>{unsigned(reboots), G_timeTicks}), (std::vector<unsigned>{1, 1900}));

    // The USB server's start is held 1000 ticks from its stamp.
    g_delay_usbserver = 0;
    g_delay_usbserver_ticks = 1000;
    std::vector<unsigned> held{g_delay_usbserver};
    for (int ticks : {99, 1}) {
        kel_test::tick(ticks);
        held.push_back(g_delay_usbserver);
    }
    EXPECT_EQ(held, (std::vector<unsigned>{0, 0, 1}));
    g_delay_usbserver_ticks = 0;
}

TEST_F(MainMenu, LanguageSetsPrefixedIconsAndFallsBackToEnglish)
{
    MainWindow* w = mainWindow();
    g_language = 2;
    g_lcd_lang_valid = 0x1F & ~0x04;
    w->language_changed();
    EXPECT_EQ(std::make_pair(kel_icon_prefix(), iconImage(B("option"), 100, 70)), std::make_pair(QString("en_"), resourceImage(":/png/en_option.png", 100, 70)));
    g_lcd_lang_valid = 0x1F;   // the Russian icon, taken on a notification: see the change-notification tests
    EXPECT_NE(resourceImage(":/png/ru_option.png", 100, 70), resourceImage(":/png/en_option.png", 100, 70));
    g_language = 0;
    w->language_changed();
    EXPECT_EQ(iconImage(B("option"), 100, 70), resourceImage(":/png/option.png", 100, 70));
    kel_test::grab(w, "mainwindow-zh");
    // Language-independent icons never take a prefix.
    EXPECT_EQ(std::make_pair(kel_icon_plain("tools"), QIcon(":/png/tools.png").pixmap(16, 16).isNull()), std::make_pair(QString(":/png/tools.png"), false));
}
