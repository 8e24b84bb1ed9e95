// The settings, output and communication menus: focus walking, texts and icons per
// language, and navigation with the keys through the pages 0, 1, 2, 5, 6 and 10 and back.

#include "gui/input/inputchoose.h"
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
#include <functional>

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
        EXPECT_TRUE(o->ui_select == 0 && focused(o->ui->output_set));
        kel_test::pressKey(PanelKey::Left, variant, o);
        EXPECT_TRUE(o->ui_select == 7 && o->focus_widget == o->ui->AdvanceButton && focused(o->ui->AdvanceButton) && !focused(o->ui->output_set));
        kel_test::pressKey(PanelKey::Right, variant, o);
        EXPECT_EQ(o->ui_select, 0);
        for (int i = 0; i < 6; ++i)
            kel_test::pressKey(PanelKey::Right, variant, o);
        EXPECT_TRUE(o->focus_widget == o->ui->smart_mapping && focused(o->ui->smart_mapping));
        // A language change keeps the frame on the disabled entry.
        o->language_changed();
        EXPECT_TRUE(focused(o->ui->smart_mapping) && !o->ui->smart_mapping->isEnabled());
        // A pointer click on the disabled entry opens nothing.
        o->ui->smart_mapping->click();
        const int afterClick = g_page_focus;
        kel_test::pressKey(PanelKey::Back, variant, o);
        EXPECT_EQ((std::vector<int>{afterClick, g_option == nullptr, g_page_focus}), (std::vector<int>{0, 1, 1}));
        kel_test::settle();
        g_page_focus = 0;
    }
}

TEST_F(Menus, SettingsMenuTitleAndIconsPerLanguage)
{
    Option o(nullptr);
    const struct {
        int language, valid;
        const char* title;
        QPushButton* entry;
        const char* icon;
    } cases[] = {
        {1, 0x1F, "Setting", o.ui->output_set, ":/png/en_output_set.png"},
        {1, 0x1F, "Setting", o.ui->AdvanceButton, ":/png/en_advance_option.png"},
        {0, 0x1F, "设置", o.ui->AdvanceButton, ":/png/AdvanceButton.png"},
        {2, 0x1F, "Настройки", o.ui->link_set, ":/png/ru_link_set.png"},
        {3, 0x1F, "Cài đặt", o.ui->input_cut, ":/png/vn_input_cut.png"},
        {4, 0x0F, "Setting", o.ui->test_chart, ":/png/en_test_chart.png"},   // not enabled
        {4, 0x1F, "設置", o.ui->test_chart, ":/png/tn_test_chart.png"},
    };
    for (const auto& c : cases) {
        set_language(c.language, c.valid);
        o.language_changed();
        EXPECT_EQ((QStringList{o.ui->label_title->text(), c.entry->property("iconPath").toString()}), (QStringList{QString::fromUtf8(c.title), c.icon}))
            << c.language;
        // Every entry's icon is drawn at one size (one caption scale) in every language.
        for (QPushButton* b : {o.ui->output_set, o.ui->input_cut, o.ui->image_layout, o.ui->link_set,
                               o.ui->image_quality, o.ui->test_chart, o.ui->smart_mapping, o.ui->AdvanceButton})
            EXPECT_EQ(std::make_pair(b->iconSize(), QPixmap(b->property("iconPath").toString()).size()), std::make_pair(QSize(66, 60), QSize(66, 60)))
                << b->objectName().toStdString();
    }

    // The refresh re-translates only after a language change.
    o.ui->label_title->setText("x");
    o.syncUpdate();
    const QString unchanged = o.ui->label_title->text();
    para()->ram[P::kLanguage] = 1;
    o.syncUpdate();
    EXPECT_EQ((QStringList{unchanged, o.ui->label_title->text()}), (QStringList{"x", "Setting"}));
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
    EXPECT_TRUE(grey.format() == QImage::Format_Grayscale8 && grey.size() == colour.size());
}

TEST_F(Menus, OutputMenuFocusTextsAndSize)
{
    OutputSet* m = new OutputSet(nullptr);
    g_outputset = m;
    m->show();
    EXPECT_EQ((QStringList{m->ui->label_title->text(), m->ui->Button_ledset->text(), m->ui->Button_lanset->text(),
                           m->ui->label_info->text()}),
              
              (QStringList{"Output Setting", "LED Setting", "Port output", "LED Screen can be set:1920x1080"}));
    EXPECT_TRUE(focused(m->ui->Button_ledset));

    for (int i = 0; i < 4; ++i) {   // Left wraps to the second entry; Right goes round: 0, 1, 0
        kel_test::pressKey(i ? PanelKey::Right : PanelKey::Left, i % 2, m);
        EXPECT_TRUE(m->ui_select == (i + 1) % 2 && focused(m->ui->Button_lanset) == (i % 2 == 0) && focused(m->ui->Button_ledset) == (i % 2 == 1)) << i;
    }

    put16(P::kLedWidth, 3840);   // for the texts below
    put16(P::kLedHeight, 1200);
    m->language_changed();

    const struct {
        int language;
        QLabel* label;
        const char* text;
    } texts[] = {
        {2, m->ui->label_info, "Текущий размер LED (px): 3840x1200"},
        {3, m->ui->label_title, "Thông số đầu ra"},
        {3, m->ui->label_info, "Gợi ý: Kích thước màn hình LED hiện tại:3840x1200"},
        {4, m->ui->label_info, "當前設置LED屏寬高爲: 3840x1200"},
    };
    for (const auto& t : texts) {
        set_language(t.language, 0x1F);
        m->language_changed();
        EXPECT_EQ(t.label->text(), QString::fromUtf8(t.text)) << t.language;
    }
    set_language(2, 0x1F);
    m->language_changed();
    EXPECT_EQ(m->ui->Button_ledset->text(), QString::fromUtf8("Настройки\nLED"));

    delete m;
}

TEST_F(Menus, CommunicationMenuFocusTextsAndNoClicks)
{
    LinkOption* m = new LinkOption(nullptr);
    g_linkoption = m;
    g_page_focus = 10;
    m->show();
    EXPECT_EQ((QStringList{m->label_title->text(), m->Button_com->text(), m->Button_wlan->text(), m->Button_usb->text()}),
              (QStringList{"Communication", "Serial port", "Net connect", "USB UPDATE"}));
    EXPECT_TRUE(m->Button_usb->geometry() == QRect(215, 47, 90, 80) && focused(m->Button_com));

    for (int i = 0; i < 5; ++i) {   // Left wraps to the last entry; Right goes round: 0, 1, 2, 0
        kel_test::pressKey(i ? PanelKey::Right : PanelKey::Left, i % 2, m);
        EXPECT_TRUE(m->ui_select == (i + 2) % 3 && focused(m->Button_usb) == (i % 3 == 0) && focused(m->Button_com) == (i % 3 == 1)) << i;
    }

    // Pointer clicks do nothing.
    for (QPushButton* b : {m->Button_com, m->Button_wlan, m->Button_usb})
        b->click();
    EXPECT_TRUE(g_page_focus == 10 && m->isVisible());

    const struct {
        int language, valid;
        QWidget* widget;
        const char* text;
    } texts[] = {
        {3, 0x1F, m->label_title, "Cài đặt giao tiếp"},
        {3, 0x1F, m->Button_com, "Cài đặt cổng\n nối tiếp"},
        {3, 0x1F, m->Button_usb, "Sử dụng ổ USB\nđể cập nhập"},
        {0, 0x1F, m->Button_wlan, "网口设置"},
        {2, 0x1B, m->Button_wlan, "Net connect"},   // Russian not enabled
    };
    for (const auto& t : texts) {
        set_language(t.language, t.valid);
        m->language_changed();
        EXPECT_EQ(t.widget->property("text").toString(), QString::fromUtf8(t.text)) << t.language;
    }

    delete m;
}

// The main menu's entries that open a screen modally, with both codes of every key: the
// entry's page while it is open, the main menu's page after its Back; Back on the main menu
// shows the home screen.
TEST_F(Menus, MainMenuEntriesOpenTheirPagesAndBackReturns)
{
    const struct {
        int rights;
        int page;
        std::function<QWidget*()> screen;
    } entries[] = {
        {0, 2, [] { return g_machinestate; }},
        {1, 3, [] { return g_inputchoose; }},
        {3, 5, [] { return g_option; }},
    };
    for (int v = 0; v < 2; ++v) {
        g_mainwindow->show();
        for (const auto& e : entries) {
            g_mainwindow->menulist_init();
            g_page_focus = 1;
            for (int i = 0; i < e.rights; ++i)
                kel_test::pressKey(PanelKey::Right, v, g_mainwindow);
            bool seen = false;
            kel_test::whenModal([&](QWidget* screen) {
                seen = true;
                EXPECT_TRUE(screen == e.screen() && g_page_focus == e.page);
                kel_test::pressKey(PanelKey::Back, v);
            });
            kel_test::pressKey(PanelKey::Ok, v, g_mainwindow);
            EXPECT_EQ(std::make_tuple(seen, int(g_page_focus), e.screen()), std::make_tuple(true, 1, static_cast<QWidget*>(nullptr))) << e.page;
        }
        kel_test::pressKey(PanelKey::Back, v, g_mainwindow);
        EXPECT_EQ(g_page_focus, 0);
        ASSERT_TRUE(g_lockwindow != nullptr && g_lockwindow->isVisible());
        g_lockwindow->setAttribute(Qt::WA_DeleteOnClose);
        g_lockwindow->close();
        kel_test::settle();
    }
}

// The mode key on the menus and the input and LED screens: refused under the key lock;
// without the lock it leaves for the user-mode screen, closing the menu chain.
TEST_F(Menus, ModeKeyOnEveryScreen)
{
    constexpr int kKeyLockWord = 772; // the PC software sets the lock at this offset
    put16(kKeyLockWord, 1);
    const std::function<QDialog*()> screens[] = {
        [] { return g_option = new Option(nullptr); },
        [] { return g_outputset = new OutputSet(nullptr); },
        [] { return g_linkoption = new LinkOption(nullptr); },
        [] { return new ledset(nullptr); }, [] { return new SmartMapping(nullptr); }, [] { return new rcv_recovery(nullptr); },
        [] { return new InputChoose(nullptr); }, [] { return new InputCut(nullptr); }, [] { return new EDIDset(nullptr); },
        [] { return new ImageLayout(nullptr); },
    };
    for (int i = 0; i < 10; ++i) {
        QPointer<QDialog> screen(screens[i]());
        screen->show();
        kel_test::pressKey(PanelKey::Mode, i % 2, screen);
        EXPECT_TRUE(screen->isVisible()) << i;
        delete screen.data();
    }
    EXPECT_EQ((std::vector<int>{g_mode_shortcut_key, g_page_focus}), (std::vector<int>{0, 0}));
    put16(kKeyLockWord, 0);

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
    EXPECT_EQ((std::vector<int>{sawOutput, g_page_focus, g_option == nullptr, g_outputset == nullptr, g_custommode != nullptr, g_mode_shortcut_key}),
              (std::vector<int>{1, 4, 1, 1, 1, 1}));
}
