// The advanced-settings menu and its receiving-card recovery screen against simulated
// cards, the access code of the ageing log, the factory resets, the network-address fields,
// and every settings, output and communication entry opening its screen and returning.

#include "board/Files.h"
#include "board/sim/Sim.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "gui/QRoundProgressBar.h"
#include "gui/led/rcv_recovery.h"
#include "gui/linkoption.h"
#include "gui/kel_screens.h"
#include "gui/mainwindow.h"
#include "gui/my_lineedit.h"
#include "gui/numberkeyboard.h"
#include "gui/option.h"
#include "gui/outputset.h"
#include "gui/settings/advancedoption.h"
#include "gui/settings/factory.h"
#include "gui/settings/factoryage.h"
#include "gui/settings/imagequality.h"
#include "gui/settings/linkwlan.h"
#include "gui/tip.h"
#include "sources/velinsource.h"
#include "tests/fpga/rcv_package.h"
#include "tests/support/CardsFixture.h"
#include "tests/support/Screens.h"
#include "ui_numberkeyboard.h"
#include "ui_rcv_recovery.h"

#include <QLabel>
#include <QPushButton>
#include <QTextDocument>
#include <cstring>

using kel_test::PanelKey;
using P = KelRamPara;
using sim::ReceivingCardModel;
using namespace rcv_test;

namespace {

const char kOrange[] = "rgb(255,171,84)";

class SettingsScreens : public kel_test::CardsFixture {
protected:
    void SetUp() override
    {
        CardsFixture::SetUp();
        mainWindow();
        P::put16(para->ram + P::kKeyLock, 0);
        std::memcpy(para->ram_backup, para->ram, sizeof para->ram);
        g_send_para.end();
        g_send_para.progress = 65535;
    }

    // Runs the posted check or recovery job to its end with the receive path; the ring,
    // the list and the notification are handled on the GUI thread as they come.
    void runJob() { CardsFixture::runJob(40000, 3, 200); }
    rcv_recovery* openRecovery() { return kel_test::openScreen(g_rcv_recovery, 25); }
    QString emptyText(rcv_recovery* s)
    {
        const auto labels = s->frame_file->findChildren<QLabel*>();
        return labels.size() == 1 ? labels[0]->text() : QString();
    }
};

constexpr uint32_t kConfig = 0xC0FFEE;

// One screen: port 0 with 2 cards and port 1 with 3, each card's operation writing its
// number into RAM 0x300.
Bytes package()
{
    Screen s;
    s.configId = kConfig;
    const int counts[2] = {2, 3};
    for (int p = 0; p < 2; ++p) {
        Port port;
        port.ledx = uint16_t(p);
        for (int c = 0; c < counts[p]; ++c) {
            Op o;
            o.addr = 0x300;
            o.data = {uint8_t(0x10 + p), uint8_t(c)};
            port.cards.push_back({o});
        }
        s.ports.push_back(port);
    }
    return standard({s}).bytes;
}

} // namespace

// --- receiving-card recovery -----------------------------------------------------------

TEST_F(SettingsScreens, RecoveryQueriesListsAndRecoversTheFoundCardOnly)
{
    fpgaUp();
    cards(0, 2);
    cards(1, 3);
    for (int p = 0; p < 2; ++p)
        ReceivingCardModel::setConfigId(0, p, -1, kConfig);
    ReceivingCardModel::setConfigId(0, 1, 2, 0x1234);   // the third card on port 2 differs
    const Bytes pkg = package();
    root.writeFile("/data/rcvrecovery/DIVU", std::string(pkg.begin(), pkg.end()));

    rcv_recovery* s = openRecovery();
    EXPECT_EQ(emptyText(s), "No receiving cards that need to be updated!");
    // Recovery with nothing listed: the focus goes back to Query and no job starts.
    kel_test::pressKeys({PanelKey::Left, PanelKey::Ok});
    EXPECT_TRUE(g_send_para.job == 0 && s->ui_select == 0);
    EXPECT_TRUE(s->ui->Button_check->styleSheet().contains(kOrange));

    kel_test::pressKey(PanelKey::Ok, 1);
    ASSERT_NE(g_qround_bar, nullptr);
    EXPECT_EQ(g_send_para.job, 5);
    // While the ring exists: no focus move, no second job, no mode key.
    kel_test::pressKeys({PanelKey::Right, PanelKey::Mode});
    EXPECT_TRUE(s->ui_select == 0 && g_rcv_recovery == s && g_page_focus == 25);
    runJob();
    EXPECT_EQ(g_qround_bar, nullptr);
    ASSERT_EQ(s->file_list, QStringList{"01/02/03/03"});
    ASSERT_NE(s->row_labels[0], nullptr);
    QTextDocument doc;
    doc.setHtml(s->row_labels[0]->text());
    EXPECT_EQ(doc.toPlainText(), "Find Screen01, LED02, Rcv03");
    EXPECT_TRUE(s->row_labels[0]->text().contains("#FFFFFF"));
    EXPECT_EQ(s->rcv_out_of_range, 0);
    kel_test::grab(s, "rcv_recovery-en-found");

    // Recovery: the stored operation reaches the listed card and no other.
    ReceivingCardModel::clearPackets();
    kel_test::pressKeys({PanelKey::Right, PanelKey::Ok});
    EXPECT_EQ(g_send_para.job, 6);
    runJob();
    const auto ram = ReceivingCardModel::card(0, 1, 2).ram;
    EXPECT_EQ((std::vector<int>{ram[0x300], ram[0x301], ReceivingCardModel::card(0, 1, 1).ram[0x300]}), (std::vector<int>{0x11, 2, 0}));
    EXPECT_TRUE(ReceivingCardModel::packets(0, 0).empty());
    EXPECT_TRUE(s->file_list.isEmpty());

    // A new query empties the shown list at once, the entries too.
    s->set_file_list(QStringList{"01/02/03/03"});
    s->rcv_self_recovery_file_list();
    kel_test::pressKeys({PanelKey::Left, PanelKey::Ok});
    EXPECT_TRUE(s->file_list.isEmpty());
    EXPECT_EQ(emptyText(s), "No receiving cards that need to be updated!");
    kel_test::pressKey(PanelKey::Back);           // ends the query before its first check packet; the dialog stays, no toast
    runJob();
    EXPECT_TRUE(g_rcv_recovery == s && ReceivingCardModel::packets(0, 0).empty());
    // A query that cannot run (a second file in the folder) says so, toast and list.
    root.writeFile("/data/rcvrecovery/other", "x");
    const char* const failed[5] = {"查询失败!", "Query failed!", "Ошибка запроса!", "Tìm hiểu thất bại!", "查詢失敗!"};
    for (int lang = 0; lang < 5; ++lang) {
        g_language = para->ram[768] = para->ram_backup[768] = uint8_t(lang), s->language_changed();
        const auto toast = kel_test::nextToast("rcv_recovery-failed-toast-" + std::to_string(lang));
        kel_test::pressKey(PanelKey::Ok);
        runJob();
        EXPECT_EQ((QStringList{*toast, emptyText(s)}), QStringList({failed[lang], failed[lang]}));
        EXPECT_TRUE(kel_test::allTextsFit(s)) << lang;
        kel_test::grab(s, "rcv_recovery-failed-" + std::to_string(lang));
    }
    g_language = para->ram[768] = para->ram_backup[768] = 1;
    kel_test::pressKey(PanelKey::Back);
    EXPECT_TRUE(g_rcv_recovery == nullptr && g_page_focus == 12);
}

TEST_F(SettingsScreens, RecoveryListRowsPagesAndRefusals)
{
    rcv_recovery* s = openRecovery();
    // A job pending in the manager: OK starts nothing.
    g_send_para.post(3);
    kel_test::pressKey(PanelKey::Ok);
    EXPECT_TRUE(g_qround_bar == nullptr && g_send_para.job == 3);
    g_send_para.end();

    // A card beyond the package's count is red and cannot be recovered; a short entry is
    // not shown.
    s->set_file_list({"01/01/07/05", "01/02", "01/03/01/02", "01/04/01/02", "02/01/01/01"});
    s->syncUpdate(99);
    ASSERT_NE(s->row_labels[0], nullptr);
    EXPECT_TRUE(s->row_labels[0]->text().contains("<font color = #FF0000 >07</font>"));
    EXPECT_EQ(s->row_labels[1], nullptr);
    Ui_rcv_recovery* u = s->ui;   // 11, 9 and 7 pt: 15, 13 and 10 px
    kel_test::expectPlaced({{u->label_title, 33, 10, 254, 22, 15}, {u->frame, 10, 42, 300, 190}, {u->label_rcv_update, 10, 30, 240, 17, 13},
        {u->Button_check, 60, 153, 80, 30, 13}, {u->Button_self_covery, 190, 153, 80, 30, 13}, {s->frame_file, 10, 50, 280, 90}, {s->button_next, 250, 80, 20, 20}});
    for (int r : {2, 0}) {   // each row's label and touch button; a touch selects the row
        QPushButton* button = s->frame_file->findChild<QPushButton*>(QString::number(r));
        kel_test::expectPlaced({{s->row_labels[r], 5, 5 + 25 * r, 220, 20, 10}, {button, 5, 5 + 25 * r, 220, 20}}, std::to_string(r));
        button->click();
        EXPECT_EQ(s->file_select, r);
    }
    EXPECT_EQ(s->rcv_out_of_range, 0);          // the last listed entry is within its count
    EXPECT_EQ(s->button_previous, nullptr);
    ASSERT_NE(s->button_next, nullptr);
    // Next to page 1 (one entry), next again wraps to page 0; previous on 0 stays.
    s->kel_Button_next_clicked();
    EXPECT_TRUE(s->current_page == 1 && s->button_previous && !s->button_next);
    for (auto click : {&rcv_recovery::kel_Button_next_clicked, &rcv_recovery::kel_Button_previous_clicked}) {
        (s->*click)();
        EXPECT_EQ(s->current_page, 0);
    }

    s->set_file_list({"01/01/07/05"});
    s->syncUpdate(99);
    EXPECT_EQ(s->rcv_out_of_range, 1);
    kel_test::pressKeys({PanelKey::Right, PanelKey::Ok});
    EXPECT_TRUE(g_send_para.job == 0 && g_qround_bar == nullptr);

    // Chinese rows.
    g_language = 0;
    s->language_changed();
    QTextDocument doc;
    doc.setHtml(s->row_labels[0]->text());
    EXPECT_EQ((QStringList{doc.toPlainText(), s->ui->Button_self_covery->text()}),
              (QStringList{QString::fromUtf8("发现 屏幕01, 网口LED01, 接收卡07"), QString::fromUtf8("恢复")}));
    kel_test::grab(s, "rcv_recovery-zh-red");
    g_language = 1;
}

TEST_F(SettingsScreens, TheAgeingLogOpensOnlyWithTheAccessCode)
{
    kel_test::openScreen(g_advancedoption, 12);
    kel_test::pressKeys({PanelKey::Right, PanelKey::Right, PanelKey::Right});
    // OK on the ageing entry opens the keypad; the typed code is confirmed there.
    auto typeCode = [](const char* code, std::function<void(QWidget*)> then) {
        kel_test::whenModal([code, then](QWidget* keypad) {
            EXPECT_EQ(keypad, g_numberkeyboard);
            EXPECT_EQ(g_numberkeyboard->form()->label->text(), "Password");
            if (then)
                kel_test::whenModal(then);
            g_numberkeyboard->form()->lineEdit->setText(QString::fromLatin1(code));
            g_numberkeyboard->on_Button_ok_clicked();
        });
        kel_test::pressKey(PanelKey::Ok);
    };
    factoryage_log = {"12-07 10:00 17 0 2", "12-07 10:03 19 0 2"};
    factoryage_log_diff3 = 1;
    typeCode("8888", [](QWidget* screen) {
        EXPECT_TRUE(screen == g_factoryage && g_page_focus == 23);
        EXPECT_EQ(g_factoryage->label_log[0]->text(), "12-07 10:03 19 0 2");
        EXPECT_TRUE(g_factoryage->label_counts->text().startsWith("<3: 1   <5: 0"));
        // The tick redraws the screen at every 3-minute mark, also when it took no sample
        // (no FPGA manager here).
        ASSERT_EQ(fpga_manage::p_fpga_manage, nullptr);
        factoryage_log.append("12-07 10:06 22 0 2");
        G_factoryage_ticks = G_timeTicks.load();
        kel_test::tick(17999);
        EXPECT_EQ(g_factoryage->label_log[0]->text(), "12-07 10:03 19 0 2");
        kel_test::tick(1);
        EXPECT_EQ(g_factoryage->label_log[0]->text(), "12-07 10:06 22 0 2");
        kel_test::grab(g_factoryage, "factoryage-en");
        kel_test::pressKey(PanelKey::Back);
    });
    EXPECT_TRUE(g_factoryage == nullptr && g_page_focus == 12);
    factoryage_log.clear();
    factoryage_log_diff3 = 0;
}

// --- the least screens: opened from their menus, back to the opener -----------------------

TEST_F(SettingsScreens, EveryMenuEntryOpensItsScreenAndBackReturnsToTheMenu)
{
    struct Case {
        const char* screen;
        int opener;         // the menu's page
        int rights;         // Right presses to the entry
        int page;           // the screen's page
        std::function<QWidget*()> pointer;
    };
    const std::vector<Case> cases = {
        {"OutputSet", 5, 0, 6, [] { return g_outputset; }},
        {"LinkOption", 5, 3, 10, [] { return g_linkoption; }},
        {"ImageQuality", 5, 4, 11, [] { return g_imagequality; }},
        {"test_chart", 5, 5, 16, [] { return g_test_chart; }},
        {"AdvancedOption", 5, 7, 12, [] { return g_advancedoption; }},
        {"ledset", 6, 0, 13, [] { return g_ledset; }},
        {"netset", 6, 1, 14, [] { return g_netset; }},
        {"linkcom", 10, 0, 21, [] { return g_linkcom; }},
        {"linkwlan", 10, 1, 22, [] { return g_linkwlan; }},
        {"firmware_usbgrade", 10, 2, 26, [] { return g_firmware_usbgrade; }},
        {"quality", 11, 0, 19, [] { return g_quality; }},
        {"temperature", 11, 1, 20, [] { return g_temperature; }},
        {"lcdshow", 12, 0, 15, [] { return g_lcdshow; }},
        {"othersetup", 12, 1, 17, [] { return g_othersetup; }},
        {"factory", 12, 2, 18, [] { return g_factory; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.screen);
        QDialog* menu = nullptr;
        switch (c.opener) {
        case 5: menu = g_option = new Option(nullptr); break;
        case 6: menu = g_outputset = new OutputSet(nullptr); break;
        case 10: menu = g_linkoption = new LinkOption(nullptr); break;
        case 11: menu = g_imagequality = new ImageQuality(nullptr); break;
        case 12: menu = g_advancedoption = new AdvancedOption(nullptr); break;
        }
        menu->show();
        g_page_focus = uint8_t(c.opener);
        for (int i = 0; i < c.rights; ++i)
            kel_test::pressKey(PanelKey::Right, 0, menu);
        kel_test::whenModal([&c](QWidget* screen) {
            EXPECT_EQ(screen, c.pointer());
            EXPECT_EQ(screen->objectName(), c.screen);
            EXPECT_EQ(g_page_focus, c.page);
            EXPECT_EQ(screen->size(), QSize(320, 240));
            kel_test::pressKey(PanelKey::Back, 1);
        });
        kel_test::pressKey(PanelKey::Ok, 0, menu);
        EXPECT_TRUE(c.pointer() == nullptr && g_page_focus == c.opener);
        EXPECT_TRUE(c.opener != 5 || g_option->ui_select == c.rights);   // the focus stays on the entry that opened the screen
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->close();
        kel_test::settle();
        g_option = nullptr;
        g_outputset = nullptr;
        g_linkoption = nullptr;
        g_imagequality = nullptr;
        g_advancedoption = nullptr;
    }
}

TEST_F(SettingsScreens, TheModeKeyClosesTheWholeMenuChain)
{
    kel_test::openScreen(g_option, 5);
    kel_test::whenModal([](QWidget* advanced) {
        EXPECT_EQ(advanced, g_advancedoption);
        kel_test::whenModal([](QWidget* screen) {
            EXPECT_EQ(screen, g_lcdshow);
            // Locked keys: nothing happens.
            P::put16(KelRamPara::pInstance()->ram + P::kKeyLock, 1);
            kel_test::pressKey(PanelKey::Mode);
            EXPECT_EQ(g_lcdshow, screen);
            P::put16(KelRamPara::pInstance()->ram + P::kKeyLock, 0);
            kel_test::pressKey(PanelKey::Mode, 1);
        });
        kel_test::pressKey(PanelKey::Ok);
    });
    kel_test::pressKey(PanelKey::Left, 0, g_option);   // to the last entry, the advanced settings
    kel_test::pressKey(PanelKey::Ok, 0, g_option);
    kel_test::settle();
    EXPECT_TRUE(!g_lcdshow && !g_advancedoption && !g_option && g_custommode);
    EXPECT_EQ(g_page_focus, 4);
}

TEST_F(SettingsScreens, FactoryResetsRestoreTheDefaultsAndRequestEveryEdid)
{
    velinsource sources;
    velinsource::p_velin_source = &sources;
    const uint16_t defaultEdidWidth = P::get16(default_para_ramlist + 2 + P::kEdid + 6 - 768);
    ASSERT_NE(defaultEdidWidth, 3840);
    // Keeping the EDID or not; either way every input is asked to rewrite its EDID.
    for (const auto mode : {factory::KeepIpAndEdid, factory::KeepIp}) {
        const bool keep = mode == factory::KeepIpAndEdid;
        setApplyFlag(0);
        for (int i = 0; i < 4; ++i)
            sources.edid_request[i] = 0;
        // Changed settings and a requested EDID for input 1.
        P::put16(para->ram + 2176, 17);                        // brightness (default 100)
        P::put16(para->ram + P::kEdid + 6, 3840);
        P::put16(para->ram + P::kEdid + 8, 2160);
        kel_test::whenModal([](QWidget* toast) {
            EXPECT_EQ(toast, g_tip);
            kel_test::tick(300);
        });
        factory::factory_reset(mode);
        EXPECT_EQ((std::vector<int>{P::get16(para->ram + 2176), P::get16(para->ram + P::kEdid + 6), P::get16(para->ram + P::kEdid + 8), applyFlag()}),
                  (std::vector<int>{100, keep ? 3840 : defaultEdidWidth, keep ? 2160 : P::get16(default_para_ramlist + 2 + P::kEdid + 8 - 768), 2}));
        EXPECT_EQ(std::vector<int>(sources.edid_request, sources.edid_request + 4), std::vector<int>(4, 1));
    }

    // Everything: the network settings go back to their defaults too; the others keep them.
    ASSERT_TRUE(ConfigEngine::pInstance()->write_config_variant(ConfigItem::IPAddress, QStringLiteral("10.1.2.3")));
    kel_test::whenModal([](QWidget*) { kel_test::tick(300); });
    factory::factory_reset(factory::Everything);
    kel_test::settle();
    EXPECT_EQ(ConfigEngine::pInstance()->read_config_variant(ConfigItem::IPAddress).toString(), "192.168.0.199");
    velinsource::p_velin_source = nullptr;
}

TEST_F(SettingsScreens, NetworkAddressFieldsTakeOctetsFromTheKeypad)
{
    {
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        g_str_ip = "192.168.0.199";
        g_srt_mask = "255.255.255.0";
        g_str_gateway = "192.168.0.1";
    }
    kel_test::openScreen(g_linkwlan, 22);   // the fields as the settings hold them: the panel check
    // Left from the first field wraps to the gateway's last octet; OK opens the keypad.
    kel_test::pressKey(PanelKey::Left);
    EXPECT_TRUE(g_linkwlan->line_edits[11]->styleSheet().contains(kOrange));
    for (const char* typed : {"254", "999", "x"}) {
        EXPECT_EQ(kel_test::typeOnKeypad(typed), "Gateway");
        EXPECT_EQ(g_linkwlan->line_edits[11]->text(), std::string(typed) == "254" ? "254" : "255") << typed;
    }
    kel_test::grab(g_linkwlan, "linkwlan-en");
    g_linkwlan->close();
}
