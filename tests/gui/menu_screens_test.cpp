// The settings, output and communication menus: focus walking, texts and icons per
// language, and navigation with the keys through the pages 0, 1, 2, 5, 6 and 10 and back.

#include "gui/kel_screens.h"
#include "gui/linkoption.h"
#include "gui/lockwindow.h"
#include "gui/machinestate.h"
#include "gui/option.h"
#include "gui/outputset.h"
#include "tests/gui/screen_fixture.h"
#include "tests/support/Grab.h"
#include "ui_option.h"
#include "ui_outputset.h"

#include <QPointer>
#include <QPushButton>
#include <filesystem>

using namespace screen_test;
using kel_test::PanelKey;

namespace {

const char kFocused[] = "border:2px solid rgb(255,171,84)";

bool focused(QWidget* w)
{
    return w->styleSheet().contains(kFocused);
}

struct Menus : ScreenTest {
    void SetUp() override
    {
        ScreenTest::SetUp();
        g_mainwindow->menulist_init();
    }
};

} // namespace

TEST_F(Menus, SettingsMenuFocusWrapsBothWays)
{
    for (int variant = 0; variant < 2; ++variant) {
        Option* o = new Option(nullptr);
        g_option = o;
        o->show();
        EXPECT_EQ(o->ui_select, 0);
        EXPECT_TRUE(focused(o->ui->output_set));
        kel_test::pressKey(PanelKey::Left, variant, o);
        EXPECT_EQ(o->ui_select, 7);
        EXPECT_EQ(o->focus_widget, o->ui->AdvanceButton);
        EXPECT_TRUE(focused(o->ui->AdvanceButton));
        EXPECT_FALSE(focused(o->ui->output_set));
        kel_test::pressKey(PanelKey::Right, variant, o);
        EXPECT_EQ(o->ui_select, 0);
        for (int i = 0; i < 6; ++i)
            kel_test::pressKey(PanelKey::Right, variant, o);
        EXPECT_EQ(o->focus_widget, o->ui->smart_mapping);
        EXPECT_TRUE(focused(o->ui->smart_mapping));
        // A language change keeps the frame on the disabled entry.
        o->language_changed();
        EXPECT_TRUE(focused(o->ui->smart_mapping));
        EXPECT_FALSE(o->ui->smart_mapping->isEnabled());
        // A pointer click on the disabled entry opens nothing.
        o->ui->smart_mapping->click();
        EXPECT_EQ(g_page_focus, 0);
        kel_test::pressKey(PanelKey::Back, variant, o);
        EXPECT_EQ(g_option, nullptr);
        EXPECT_EQ(g_page_focus, 1);
        kel_test::settle();
        g_page_focus = 0;
    }
}

TEST_F(Menus, SettingsMenuTitleAndIconsPerLanguage)
{
    Option o(nullptr);
    EXPECT_EQ(o.ui->label_title->text(), "Setting");
    EXPECT_EQ(o.ui->output_set->property("iconPath").toString(), ":/png/en_output_set.png");
    EXPECT_EQ(o.ui->AdvanceButton->property("iconPath").toString(), ":/png/en_advance_option.png");
    // Every entry's icon is drawn at one size (one caption scale) in every language.
    auto oneScale = [&o] {
        for (QPushButton* b : {o.ui->output_set, o.ui->input_cut, o.ui->image_layout, o.ui->link_set,
                               o.ui->image_quality, o.ui->test_chart, o.ui->smart_mapping, o.ui->AdvanceButton}) {
            EXPECT_EQ(b->iconSize(), QSize(66, 60)) << b->objectName().toStdString();
            EXPECT_EQ(QPixmap(b->property("iconPath").toString()).size(), QSize(66, 60)) << b->objectName().toStdString();
        }
    };
    oneScale();

    set_language(0, 0x1F);
    o.language_changed();
    EXPECT_EQ(o.ui->label_title->text(), QString::fromUtf8("设置"));
    EXPECT_EQ(o.ui->AdvanceButton->property("iconPath").toString(), ":/png/AdvanceButton.png");
    oneScale();

    set_language(2, 0x1F);
    o.language_changed();
    EXPECT_EQ(o.ui->label_title->text(), QString::fromUtf8("Настройки"));
    EXPECT_EQ(o.ui->link_set->property("iconPath").toString(), ":/png/ru_link_set.png");
    oneScale();

    set_language(3, 0x1F);
    o.language_changed();
    EXPECT_EQ(o.ui->label_title->text(), QString::fromUtf8("Cài đặt"));
    EXPECT_EQ(o.ui->input_cut->property("iconPath").toString(), ":/png/vn_input_cut.png");

    // Traditional Chinese not enabled: English title and "en_" icons.
    set_language(4, 0x0F);
    o.language_changed();
    EXPECT_EQ(o.ui->label_title->text(), "Setting");
    EXPECT_EQ(o.ui->test_chart->property("iconPath").toString(), ":/png/en_test_chart.png");
    set_language(4, 0x1F);
    o.language_changed();
    EXPECT_EQ(o.ui->label_title->text(), QString::fromUtf8("設置"));
    EXPECT_EQ(o.ui->test_chart->property("iconPath").toString(), ":/png/tn_test_chart.png");

    // The refresh re-translates only after a language change.
    o.ui->label_title->setText("x");
    o.syncUpdate();
    EXPECT_EQ(o.ui->label_title->text(), "x");
    para()->ram[P::kLanguage] = 1;
    o.syncUpdate();
    EXPECT_EQ(o.ui->label_title->text(), "Setting");
}

TEST_F(Menus, UsbStickScanCountsOnlyPlainKxfiles)
{
    namespace fs = std::filesystem;
    root.writeFile("/mnt/usb1/a.kxfile", "1");
    root.writeFile("/mnt/usb1/b.kxfile", "2");
    root.writeFile("/mnt/usb1/.hidden.kxfile", "3");
    root.writeFile("/mnt/usb1/c.KXFILE", "4");
    root.writeFile("/mnt/usb1/d.kxfile.bak", "5");
    fs::create_directories(root.host("/mnt/usb1/folder.kxfile"));
    fs::create_symlink(root.host("/mnt/usb1/a.kxfile"), root.host("/mnt/usb1/link.kxfile"));
    Option o(nullptr);
    EXPECT_EQ(o.get_file_list_usbpath(), 2);

    QImage colour(4, 4, QImage::Format_RGB32);
    colour.fill(QColor(200, 10, 10));
    const QImage grey = o.converToGrayscale(colour);
    EXPECT_EQ(grey.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(grey.size(), colour.size());
}

TEST_F(Menus, OutputMenuFocusTextsAndSize)
{
    OutputSet* m = new OutputSet(nullptr);
    g_outputset = m;
    m->show();
    EXPECT_EQ(m->ui->label_title->text(), "Output Seeting");
    EXPECT_EQ(m->ui->Button_ledset->text(), "LED Setting");
    EXPECT_EQ(m->ui->Button_lanset->text(), "Port output");
    EXPECT_EQ(m->ui->label_info->text(), "LED Screen can be set:1920x1080");
    EXPECT_TRUE(focused(m->ui->Button_ledset));

    kel_test::pressKey(PanelKey::Left, 0, m);
    EXPECT_EQ(m->ui_select, 1);
    EXPECT_TRUE(focused(m->ui->Button_lanset));
    EXPECT_FALSE(focused(m->ui->Button_ledset));
    kel_test::pressKey(PanelKey::Right, 1, m);
    kel_test::pressKey(PanelKey::Right, 1, m);
    EXPECT_EQ(m->ui_select, 1);
    kel_test::pressKey(PanelKey::Right, 0, m);
    EXPECT_EQ(m->ui_select, 0);
    EXPECT_EQ(m->focus_widget, m->ui->Button_ledset);

    // A size changed elsewhere shows only after a language change or a return.
    put16(P::kLedWidth, 3840);
    put16(P::kLedHeight, 1200);
    m->syncUpdate();
    EXPECT_EQ(m->ui->label_info->text(), "LED Screen can be set:1920x1080");
    m->language_changed();
    EXPECT_EQ(m->ui->label_info->text(), "LED Screen can be set:3840x1200");

    set_language(2, 0x1F);
    m->language_changed();
    EXPECT_EQ(m->ui->Button_ledset->text(), QString::fromUtf8("Настройки\nLED"));
    EXPECT_EQ(m->ui->label_info->text(), QString::fromUtf8("Текущий размер LED (px): 3840x1200"));
    set_language(3, 0x1F);
    m->language_changed();
    EXPECT_EQ(m->ui->label_title->text(), QString::fromUtf8("Thông số đầu ra"));
    EXPECT_EQ(m->ui->label_info->text(), QString::fromUtf8("Gợi ý: Kích thước màn hình LED hiện tại::3840x1200"));
    set_language(4, 0x1F);
    m->language_changed();
    EXPECT_EQ(m->ui->label_info->text(), QString::fromUtf8("當前設置LED屏寬高爲: 3840x1200"));

    g_page_focus = 6;
    kel_test::pressKey(PanelKey::Back, 0, m);
    EXPECT_EQ(g_page_focus, 5);
    EXPECT_EQ(g_outputset, nullptr);
    kel_test::settle();
}

TEST_F(Menus, CommunicationMenuFocusTextsAndNoClicks)
{
    LinkOption* m = new LinkOption(nullptr);
    g_linkoption = m;
    g_page_focus = 10;
    m->show();
    EXPECT_EQ(m->label_title->text(), "Communication");
    EXPECT_EQ(m->Button_com->text(), "Serial port");
    EXPECT_EQ(m->Button_wlan->text(), "Net connect");
    EXPECT_EQ(m->Button_usb->text(), "USB UPDATE");
    EXPECT_EQ(m->Button_usb->geometry(), QRect(215, 47, 90, 80));
    EXPECT_TRUE(focused(m->Button_com));

    kel_test::pressKey(PanelKey::Left, 1, m);
    EXPECT_EQ(m->ui_select, 2);
    EXPECT_TRUE(focused(m->Button_usb));
    for (int i = 0; i < 3; ++i)
        kel_test::pressKey(PanelKey::Right, i % 2, m);
    EXPECT_EQ(m->ui_select, 2);
    kel_test::pressKey(PanelKey::Right, 0, m);
    EXPECT_EQ(m->ui_select, 0);
    EXPECT_EQ(m->focus_widget, m->Button_com);

    // Pointer clicks do nothing.
    m->Button_com->click();
    m->Button_wlan->click();
    m->Button_usb->click();
    EXPECT_EQ(g_page_focus, 10);
    EXPECT_TRUE(m->isVisible());

    set_language(3, 0x1F);
    m->language_changed();
    EXPECT_EQ(m->label_title->text(), QString::fromUtf8("Cài đặt giao tiếp"));
    EXPECT_EQ(m->Button_com->text(), QString::fromUtf8("Cài đặt cổng\n nối tiếp"));
    EXPECT_EQ(m->Button_usb->text(), QString::fromUtf8("Sử dụng ổ USB\nđể cập nhập"));
    set_language(0, 0x1F);
    m->language_changed();
    EXPECT_EQ(m->Button_wlan->text(), QString::fromUtf8("网口设置"));
    set_language(2, 0x1B);   // Russian not enabled
    m->language_changed();
    EXPECT_EQ(m->Button_wlan->text(), "Net connect");

    kel_test::pressKey(PanelKey::Back, 1, m);
    EXPECT_EQ(g_page_focus, 5);
    EXPECT_EQ(g_linkoption, nullptr);
    kel_test::settle();
}

// Home -> main menu -> device state -> back -> settings -> output -> back -> communication
// -> back -> back -> home, with both codes of every key.
TEST_F(Menus, NavigationThroughThePagesAndBack)
{
    for (int v = 0; v < 2; ++v) {
        g_mainwindow->menulist_init();
        QPointer<LockWindow> home(new LockWindow(nullptr));
        g_lockwindow = home;
        g_page_focus = 0;
        home->show();
        kel_test::pressKey(PanelKey::Ok, v, home);
        EXPECT_EQ(g_page_focus, 1);
        EXPECT_TRUE(g_mainwindow->isVisible());
        kel_test::settle();
        EXPECT_TRUE(home.isNull());

        // Page 2.
        bool sawDeviceState = false;
        kel_test::whenModal([&](QWidget* screen) {
            sawDeviceState = true;
            EXPECT_EQ(screen, g_machinestate);
            EXPECT_EQ(g_page_focus, 2);
            kel_test::pressKey(PanelKey::Back, v);
        });
        kel_test::pressKey(PanelKey::Ok, v, g_mainwindow);
        EXPECT_TRUE(sawDeviceState);
        EXPECT_EQ(g_page_focus, 1);
        EXPECT_EQ(g_machinestate, nullptr);

        // Page 5 and its children 6 and 10.
        kel_test::pressKeys({PanelKey::Right, PanelKey::Right, PanelKey::Right}, v);
        bool sawOutput = false;
        bool sawLink = false;
        bool sawOption = false;
        kel_test::whenModal([&](QWidget* screen) {
            sawOption = true;
            EXPECT_EQ(screen, g_option);
            EXPECT_EQ(g_page_focus, 5);
            kel_test::whenModal([&](QWidget* child) {
                sawOutput = true;
                EXPECT_EQ(child, g_outputset);
                EXPECT_EQ(g_page_focus, 6);
                kel_test::pressKeys({PanelKey::Right, PanelKey::Right}, v);
                EXPECT_EQ(g_outputset->ui_select, 0);
                kel_test::pressKey(PanelKey::Back, v);
            });
            kel_test::pressKey(PanelKey::Ok, v);
            EXPECT_EQ(g_page_focus, 5);
            EXPECT_EQ(g_outputset, nullptr);
            ASSERT_NE(g_option, nullptr);
            EXPECT_EQ(g_option->ui_select, 0);

            kel_test::pressKeys({PanelKey::Right, PanelKey::Right, PanelKey::Right}, v);
            EXPECT_EQ(g_option->ui_select, 3);
            kel_test::whenModal([&](QWidget* child) {
                sawLink = true;
                EXPECT_EQ(child, g_linkoption);
                EXPECT_EQ(g_page_focus, 10);
                kel_test::pressKey(PanelKey::Left, v);
                EXPECT_EQ(g_linkoption->ui_select, 2);
                kel_test::pressKey(PanelKey::Back, v);
            });
            kel_test::pressKey(PanelKey::Ok, v);
            EXPECT_EQ(g_page_focus, 5);
            EXPECT_EQ(g_linkoption, nullptr);
            ASSERT_NE(g_option, nullptr);
            EXPECT_EQ(g_option->ui_select, 3);   // the focus stays on the entry that opened it
            kel_test::pressKey(PanelKey::Back, v);
        });
        kel_test::pressKey(PanelKey::Ok, v, g_mainwindow);
        EXPECT_TRUE(sawOption);
        EXPECT_TRUE(sawOutput);
        EXPECT_TRUE(sawLink);
        EXPECT_EQ(g_page_focus, 1);
        EXPECT_EQ(g_option, nullptr);

        // Back to the home screen (page 0).
        kel_test::pressKey(PanelKey::Back, v, g_mainwindow);
        EXPECT_EQ(g_page_focus, 0);
        ASSERT_NE(g_lockwindow, nullptr);
        EXPECT_TRUE(g_lockwindow->isVisible());
        g_lockwindow->setAttribute(Qt::WA_DeleteOnClose);
        g_lockwindow->close();
        kel_test::settle();
        kel_test::pressKeys({PanelKey::Left, PanelKey::Left, PanelKey::Left}, v);   // main focus back to 0
    }
}

// The mode key on every screen of this family: refused under the key lock (and not passed
// on); without the lock it leaves for the user-mode screen, closing the menu chain.
TEST_F(Menus, ModeKeyOnEveryScreen)
{
    put16(P::kKeyLock, 1);
    {
        QPointer<LockWindow> home(new LockWindow(nullptr));
        g_lockwindow = home;
        home->show();
        kel_test::pressKey(PanelKey::Mode, 0, home);
        EXPECT_TRUE(home->isVisible());
        QPointer<MachineState> ms(new MachineState(nullptr));
        g_machinestate = ms;
        kel_test::pressKey(PanelKey::Mode, 1, ms);
        EXPECT_EQ(g_machinestate, ms.data());
        QPointer<Option> o(new Option(nullptr));
        g_option = o;
        kel_test::pressKey(PanelKey::Mode, 0, o);
        EXPECT_EQ(g_option, o.data());
        QPointer<OutputSet> out(new OutputSet(nullptr));
        g_outputset = out;
        kel_test::pressKey(PanelKey::Mode, 1, out);
        EXPECT_EQ(g_outputset, out.data());
        QPointer<LinkOption> link(new LinkOption(nullptr));
        g_linkoption = link;
        kel_test::pressKey(PanelKey::Mode, 0, link);
        EXPECT_EQ(g_linkoption, link.data());
        EXPECT_EQ(g_mode_shortcut_key, 0);
        EXPECT_EQ(g_page_focus, 0);
        delete link.data();
        delete out.data();
        delete o.data();
        delete ms.data();
        delete home.data();
    }
    put16(P::kKeyLock, 0);

#ifdef KEL_HAVE_CUSTOMMODE
    // From the output menu: both menus close, the user-mode screen shows.
    bool sawOutput = false;
    g_mainwindow->show();
    for (int i = 0; i < 3; ++i)
        kel_test::pressKey(PanelKey::Right, 0, g_mainwindow);
    kel_test::whenModal([&](QWidget*) {
        kel_test::whenModal([&](QWidget*) {
            sawOutput = true;
            kel_test::pressKey(PanelKey::Mode, 1);
        });
        kel_test::pressKey(PanelKey::Ok, 0);
    });
    kel_test::pressKey(PanelKey::Ok, 0, g_mainwindow);
    kel_test::settle();
    EXPECT_TRUE(sawOutput);
    EXPECT_EQ(g_page_focus, 4);
    EXPECT_EQ(g_option, nullptr);
    EXPECT_EQ(g_outputset, nullptr);
    EXPECT_NE(g_custommode, nullptr);
    EXPECT_EQ(g_mode_shortcut_key, 1);
#else
    // Without the user-mode screen in the build the key leaves every screen where it is.
    QPointer<Option> o(new Option(nullptr));
    g_option = o;
    g_page_focus = 5;
    kel_test::pressKey(PanelKey::Mode, 0, o);
    EXPECT_EQ(g_option, o.data());
    EXPECT_EQ(g_page_focus, 5);
    delete o.data();
#endif
}

TEST_F(Menus, GrabsInEnglishAndSimplifiedChinese)
{
    Option o(nullptr);
    OutputSet out(nullptr);
    LinkOption link(nullptr);
    for (int zh = 0; zh < 2; ++zh) {
        if (zh)
            set_language(0, 0x1F);
        o.language_changed();
        out.language_changed();
        link.language_changed();
        const std::string suffix = zh ? "_zh" : "_en";
        EXPECT_EQ(kel_test::grab(&o, "settings_menu" + suffix).size(), QSize(320, 240));
        EXPECT_EQ(kel_test::grab(&out, "output_menu" + suffix).size(), QSize(320, 240));
        EXPECT_EQ(kel_test::grab(&link, "communication_menu" + suffix).size(), QSize(320, 240));
    }
}
