// The smart set-up dialog's shortcut wizard and scan-parameter loading, driven by the
// panel keys, with the FPGA manager's jobs run against the simulated cards; the texts of
// all its pages.
#include "board/sim/ReceivingCardModel.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "gui/QRoundProgressBar.h"
#include "gui/textfit.h"
#include "gui/led/smartmapping.h"
#include "gui/numberkeyboard.h"
#include "tests/fpga/rcv_package.h"
#include "tests/support/CardsFixture.h"
#include "tests/support/Screens.h"
#include "ui_numberkeyboard.h"
#include "ui_smartmapping.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <tuple>
#include <vector>

using kel_test::PanelKey;
using P = KelRamPara;
using sim::ReceivingCardModel;

namespace {

constexpr PanelKey L = PanelKey::Left, R = PanelKey::Right, OK = PanelKey::Ok, BACK = PanelKey::Back;

class SmartWizard : public kel_test::CardsFixture {
protected:
    void SetUp() override
    {
        CardsFixture::SetUp();
        mainWindow();
        P::put16(para->ram + P::kKeyLock, 0);
        g_send_para.end();
        fpgaUp();
        for (int port = 0; port < 16; ++port)
            cards(port, 0);
    }
    SmartMapping* openSmart() { return kel_test::openScreen(g_smartmapping, 24); }
    void keys(std::initializer_list<PanelKey> list) { kel_test::pressKeys(list); }
    // The posted job run pass by pass with its receive path; the ring takes the progress.
    void runJob()
    {
        CardsFixture::runJob(20000, 1, 50);
        EXPECT_EQ(g_qround_bar, nullptr);
    }
    static uint16_t cardWord(int port, int card, int at)
    {
        const auto& ram = ReceivingCardModel::card(0, port, card).ram;
        return uint16_t(ram[at] | ram[at + 1] << 8);
    }
};

} // namespace

TEST_F(SmartWizard, DefaultsThenTheSixCabinetExampleReachTheCards)
{
    cards(0, 300);                                // silent: the job waits for every card
    ReceivingCardModel::setFault(0, 0, ReceivingCardModel::Fault::Silent);
    cards(1, 6);
    SmartMapping* s = openSmart();
    keys({OK});                                   // Shortcut entered, width field focused
    EXPECT_EQ(std::make_tuple(int(s->menu_entered), s->ui->lineEdit_X->styleSheet().contains("rgb(255,171,84)"), s->ui->label_step1->text()),
              std::make_tuple(1, true, QString("Step 1 Cabinet setup")));
    const QString width = s->ui->lineEdit_X->text();
    s->ui->lineEdit_X->setText("0");              // Next refused: the keys stay on page 0
    keys({L, OK});
    EXPECT_EQ((std::vector<int>{s->ui->stackedWidget->currentIndex(), s->shortcut_step}), (std::vector<int>{0, 0}));
    s->ui->lineEdit_X->setText(width);
    keys({OK});                                   // Next, the width field no longer focused
    EXPECT_EQ((std::vector<int>{s->ui->stackedWidget->currentIndex(), s->ui->lineEdit_X->styleSheet().contains("rgb(255,171,84)")}), (std::vector<int>{1, 0}));
    EXPECT_EQ(s->ui->Button_wlan1->text(), "LED1~8");
    keys({L, OK});                                // Next of page 1
    ASSERT_EQ(s->ui->stackedWidget->currentIndex(), 2);
    keys({L, OK});                                // Send
    ASSERT_EQ(g_send_para.job, 1);
    ASSERT_NE(g_qround_bar, nullptr);
    const uint8_t fresh[12] = {128, 0, 96, 0, 0, 0, 0, 0, 0, 1, 1, 1};
    EXPECT_EQ(std::memcmp(&line_type, fresh, 12), 0);
    // While the job runs: a second Send and Previous change nothing; Back ends the job at
    // the card it waits for (the third), the ring goes and the keys work again.
    line_type.rows = 7;
    s->on_Button_send_clicked();
    for (int i = 0; i < 3000; ++i, ++G_timeTicks)
        fpga->fpga_manage_deal(nullptr);
    keys({L, OK, BACK});
    EXPECT_EQ((std::vector<int>{line_type.rows, s->ui->stackedWidget->currentIndex()}), (std::vector<int>{7, 2}));
    line_type.rows = 1;
    runJob();
    EXPECT_EQ(ReceivingCardModel::packets(0, 0).size(), 3u);

    // Route 10 on the route page: focus opens on the current route, nine steps right.
    keys({L, L, L, OK});
    ASSERT_EQ(s->ui->stackedWidget->currentIndex(), 3);
    EXPECT_EQ(s->route_focus, 0);
    keys({R, R, R, R, R, R, R, R, R, OK});
    // The route, its caption (on one line or two) and its icon.
    EXPECT_EQ(std::make_tuple(int(line_type.route), s->ui->Button_route->text().simplified(), s->ui->Button_route->property("iconPath").toString()),
              std::make_tuple(10, QString("Routing 10"), QString("line10")));
    // Port LED2 in the grid: Back to page 1, to the first tab, OK, one right, OK.
    keys({BACK});                                 // page 2's Back: page 1
    EXPECT_EQ(s->ui->stackedWidget->currentIndex(), 1);
    keys({R, OK, R});
    keys({OK});
    EXPECT_EQ(std::make_pair(int(line_type.port), s->port_frames[1]->styleSheet().contains("#00D65B")), std::make_pair(1, true));
    keys({L, OK});                                // Next of page 1
    ASSERT_EQ(s->ui->stackedWidget->currentIndex(), 2);
    // Rows through the keys and the shared keypad (OK on the focused rows field).
    EXPECT_EQ((QStringList{kel_test::typeOnKeypad("2"), s->ui->lineEdit_line->text()}), (QStringList{"rows", "2"}));
    const std::pair<QLineEdit*, const char*> fields[] = {
        {s->ui->lineEdit_column, "3"}, {s->ui->lineEdit_horzion, "10"}, {s->ui->lineEdit_vert, "20"}};
    for (const auto& f : fields) {
        g_lineedit = f.first;
        s->confirmString(QString::fromLatin1(f.second));
    }
    keys({L, OK});
    ASSERT_EQ(g_send_para.job, 1);
    runJob();
    line_type.port = 2;                           // the same Send to a port without cards
    const auto toast = kel_test::nextToast("smartmapping-en-send-nocards");
    keys({OK});
    runJob();
    EXPECT_EQ(*toast, "No receiving card\non this port!");
    const uint16_t expected[6][2] = {{10, 20}, {138, 20}, {266, 20}, {10, 116}, {138, 116}, {266, 116}};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ((std::vector<int>{cardWord(1, i, 0x180), cardWord(1, i, 0x182)}), (std::vector<int>{expected[i][0], expected[i][1]})) << i;
    // A number the cards cannot take is refused at entry with the range, the field keeps its
    // number; each field's edges, from the set-up's words and bytes (no row or column: no card).
    const std::tuple<QLineEdit*, const char*, const char*, const char*, const char*> edges[] = {
        {s->ui->lineEdit_X, "0", "65536", "65535", "1 to 65535"}, {s->ui->lineEdit_Y, "", "70000", "1", "1 to 65535"},
        {s->ui->lineEdit_line, "0", "256", "255", "1 to 255"}, {s->ui->lineEdit_column, "0", "300", "1", "1 to 255"},
        {s->ui->lineEdit_horzion, "-1", "65536", "65535", "0 to 65535"}, {s->ui->lineEdit_vert, "x", "99999", "0", "0 to 65535"}};
    for (const auto& [field, low, high, edge, range] : edges) {
        const QString before = field->text();
        for (const char* typed : {low, high, edge}) {   // the edge taken, the refusal gone
            g_lineedit = field, s->confirmString(typed);
            EXPECT_EQ((QStringList{field->text(), s->label_refuse->isHidden() ? "" : s->label_refuse->text()}),
                      (typed == edge ? QStringList{edge, ""} : QStringList{before, QString("Must be ") + range})) << typed;
        }
    }
    // A far column past 65535 (two columns of 65535 px) would wrap round: Send refuses it.
    g_lineedit = s->ui->lineEdit_column, s->confirmString("2");
    s->on_Button_next_clicked(), s->on_Button_send_clicked();
    EXPECT_EQ((QStringList{QString::number(g_send_para.job), s->label_refuse->isHidden() ? "" : s->label_refuse->text()}), (QStringList{"0", "Cabinets go past 65535"}));
    g_lineedit = s->ui->lineEdit_column, s->confirmString("1");
    s->on_Button_send_clicked();
    EXPECT_EQ((std::vector<int>{line_type.width, line_type.height, line_type.rows, line_type.cols, line_type.x_offset, line_type.y_offset}),
              (std::vector<int>{65535, 1, 255, 1, 65535, 0}));
}

TEST_F(SmartWizard, FileListsThreeAPageAndLoadToAPortWithAndWithoutCards)
{
    using namespace rcv_test;
    cards(3, 2);
    const Bytes file = kxfile({Op{1, 1, 0x2000, 100, {0x5A, 0xA5, 0x11}}});
    root.writeFile("/data/smartmapping/\xc9\xa8\xc3\xe8.kxfile", std::string(file.begin(), file.end()));   // GBK
    root.writeFile("/data/smartmapping/\xe9t\xe9.kxfile", std::string(file.begin(), file.end()));   // Latin-1
    root.writeFile("/data/smartmapping/notes.txt", "x");
    root.writeFile("/mnt/usb1/c.kxfile", std::string(file.begin(), file.end()));
    root.writeFile("/mnt/usb1/d.kxfile", std::string(file.begin(), file.end()));
    root.writeFile("/mnt/usb1/old_kxfile", "x");     // no suffix "kxfile": not listed
    root.writeFile("/mnt/usb1/b.oldkxfile", "x");
    SmartMapping* s = openSmart();
    keys({R, OK});                                // Load scan entered on tab LED1~8
    ASSERT_EQ(s->menu_index, 1);
    keys({R, OK, R});                             // the second tab's grid: LED10
    EXPECT_EQ(line_type.port, 9);
    keys({OK, L, OK, R, R, R, OK});               // confirmed; the first tab's grid: LED4 chosen
    EXPECT_EQ(line_type.port, 3);
    keys({R, R, OK});                             // Next: the file page
    ASSERT_EQ(s->ui->stackedWidget->currentIndex(), 5);
    EXPECT_EQ((std::vector<int>{s->file_num, s->smart_file_num, s->page_max}), (std::vector<int>{4, 2, 1}));
    // The selected stored row filled blue with the orange border, a plain stored row, a
    // plain USB row in green.
    const char* const styles[3] = {"background-color:#4777FF;color: #FFFFFF;border:1px solid rgb(255,171,84);",
                                   "background-color: rgb(33, 36, 53);color: #FFFFFF",
                                   "background-color: rgb(33, 36, 53);color: #00FF00"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(s->file_labels[i], nullptr);
        EXPECT_EQ(s->file_labels[i]->styleSheet(), styles[i]) << i;
        EXPECT_EQ(s->file_paths[i].startsWith("/data/smartmapping/"), i < 2) << i;
    }
    QPushButton* const next = s->file_frame->findChild<QPushButton*>("next");   // page 0: the next arrow only
    ASSERT_TRUE(next && !s->file_frame->findChild<QPushButton*>("prev"));
    EXPECT_EQ((std::vector<QRect>{next->geometry(), QRect(QPoint(), next->iconSize())}), (std::vector<QRect>{{200, 55, 15, 20}, {0, 0, 15, 20}}));
    keys({R, R, R});                              // past the last row: page 1, one USB row
    EXPECT_TRUE(s->current_page == 1 && !s->file_labels[1] && s->file_frame->findChild<QPushButton*>("prev") &&
                !s->file_frame->findChild<QPushButton*>("next"));
    EXPECT_TRUE(g_kxfile_name == s->file_paths[0] && g_kxfile_name.startsWith("/mnt/usb1/")) << g_kxfile_name.toStdString();
    keys({R});                                    // wraps to row 0 of page 0
    EXPECT_TRUE(s->current_page == 0 && g_kxfile_name == s->file_paths[0]);
    keys({OK});                                   // the row: selected, the keys on the buttons
    EXPECT_EQ(s->file_labels[0]->styleSheet(), "background-color:#4777FF;color: #FFFFFF;border:1px solid rgb(255,255,255);");
    keys({OK});                                   // Load
    ASSERT_EQ(g_send_para.job, 2);
    runJob();
    for (int c = 0; c < 2; ++c)
        EXPECT_EQ(cardWord(3, c, 0x2000), 0xA55A) << c;

    // A port without cards. While the job runs Back only asks it to end, and Previous leaves
    // the keys on the file page on screen: after the job, Right and OK are Load again.
    ReceivingCardModel::clearPackets();
    line_type.port = 5;
    keys({OK, OK});
    ASSERT_EQ(g_send_para.job, 2);
    keys({OK, L, BACK});                          // a row, Previous focused, Back
    EXPECT_EQ((std::vector<int>{g_send_para.cancel.load(), s->file_buttons_active}), (std::vector<int>{1, 1}));
    keys({OK});
    EXPECT_EQ(s->scan_step, 1);
    runJob();
    keys({R, OK});
    EXPECT_EQ((std::vector<int>{s->ui->stackedWidget->currentIndex(), line_type.port}), (std::vector<int>{5, 5}));
    ASSERT_EQ(g_send_para.job, 2);
    const auto toast = kel_test::nextToast("smartmapping-en-load-failed");   // not a success
    runJob();
    EXPECT_EQ((QStringList{QString::number(ReceivingCardModel::packets(0, 5).size()), *toast}), QStringList({"0", "Load failed!"}));

    // The stick pulled: listed afresh without its files, the first row selected.
    std::remove(root.host("/mnt/usb1/c.kxfile").c_str());
    std::remove(root.host("/mnt/usb1/d.kxfile").c_str());
    s->syncUpdate(101);
    EXPECT_TRUE(s->file_num == 2 && s->file_select == 0 && g_kxfile_name == s->file_paths[0]);
    // A stick mounted again is listed afresh as well.
    root.writeFile("/mnt/usb1/c.kxfile", "x");
    s->syncUpdate(102);                           // three: one whole page, no next arrow
    EXPECT_TRUE(s->file_num == 3 && s->file_labels[2] && !s->file_frame->findChild<QPushButton*>("next"));
    // The stored files gone: the stick's file alone, counted and listed as a USB file;
    // then none, and the page says so and nothing can be loaded.
    std::remove(root.host("/data/smartmapping/\xc9\xa8\xc3\xe8.kxfile").c_str());
    std::remove(root.host("/data/smartmapping/\xe9t\xe9.kxfile").c_str());
    s->syncUpdate(101);
    EXPECT_TRUE(s->file_num == 1 && s->smart_file_num == 0 && g_kxfile_name == "/mnt/usb1/c.kxfile");
    ASSERT_NE(s->file_labels[0], nullptr);
    EXPECT_EQ(s->file_labels[0]->styleSheet(), "background-color:#4777FF;color: #00FF00;border:1px solid rgb(255,171,84);");
    std::remove(root.host("/mnt/usb1/c.kxfile").c_str());
    s->syncUpdate(101);
    EXPECT_TRUE(s->file_num == 0 && g_kxfile_name.isEmpty());
    const auto labels = s->file_frame->findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0]->text(), "No loaded file!");
    // Another function shown: a stick event no longer brings the file page back.
    s->on_Button_shortcut_clicked();
    s->syncUpdate(102);
    EXPECT_EQ(s->ui->stackedWidget->currentIndex(), 0);
}

TEST_F(SmartWizard, EveryPageFitsInEveryLanguage)
{
    root.writeFile("/data/smartmapping/a_rather_long_scan_parameter_name.kxfile", "x");
    g_lcd_lang_valid = 0x1F;
    const char* const tags[5] = {"zh", "en", "ru", "vn", "tn"};
    for (int lang = 0; lang < 5; ++lang) {
        g_language = uint8_t(lang);
        SmartMapping* s = openSmart();
        const std::function<void()> show[8] = {
            [s] { s->on_Button_shortcut_clicked(); },
            [s] { s->on_Button_next_clicked(); },
            [s] { s->on_Button_next_2_clicked(); },
            [s] { s->on_Button_route_clicked(); },
            [s] { s->on_Button_loadscan_clicked(); s->menulist_loadscan_page1_init(1); },
            [s] { s->on_Button_next_5_clicked(); },
            [s] { s->on_Button_paraweld_clicked(); },
            [s] { s->on_Button_mapping_clicked(); }};
        for (int page = 0; page < 8; ++page) {
            show[page]();
            if (page == 0 || page == 2)   // a number refused, with the widest range
                g_lineedit = page ? s->ui->lineEdit_horzion : s->ui->lineEdit_X, s->confirmString("70000");
            ASSERT_EQ(s->ui->stackedWidget->currentIndex(), page);
            kel_test::expectTextsFit(s, std::string(tags[lang]) + " page " + std::to_string(page));
            std::set<QByteArray> pictures;   // sixteen distinct 40 x 25 route pictures (SixteenDistinctRoutePictures folded in)
            for (int k = 1; page == 3 && k <= 16; ++k) {   // each route's number whole, whatever is cut
                EXPECT_TRUE(s->route_list[k - 1]->text().contains(QRegularExpression(QString("(^|\\D)%1$").arg(k)))) << tags[lang] << k;
                const QImage image = QPixmap(QStringLiteral(":/png/line%1.png").arg(k)).toImage();
                EXPECT_TRUE(image.size() == QSize(40, 25) && pictures.insert(QByteArray((const char*)image.constBits(), int(image.sizeInBytes()))).second) << k;
            }
            kel_test::grab(s, std::string("smartmapping-") + tags[lang] + "-wizard" + std::to_string(page));
        }
        // The failures of Send (no card on the port, a card that did not answer), Load,
        // curing and the mapping switch: each says its own.
        std::set<QString> said;
        for (const auto& [job, why] : {std::pair<int, int>{1, fpga_manage::kJobNoCard}, {1, fpga_manage::kJobCardSilent}, {2, 0}, {3, 0}, {4, 0}}) {
            const auto toast = kel_test::nextToast(std::string("smartmapping-") + tags[lang] + "-failed" + std::to_string(job) + "-" + std::to_string(why));
            s->job_started = uint8_t(job), s->card_job_failed(why);
            kel_test::settle();
            said.insert(*toast);
        }
        EXPECT_TRUE(said.size() == 5 && !said.count(QString())) << tags[lang];
        // Every page's widgets where the screen puts them; the function column two rows apart
        // in the longer languages (and wider, for their longest lines); fonts of 9, 7 and 6 pt
        // (13, 10 and 8 px) by language.
        Ui_SmartMapping* u = s->ui;
        const bool zh = lang == 0 || lang == 4;
        const int list[5][4] = {{13, 13, 13, 13}, {10, 10, 10, 10}, {8, 8, 10, 10}, {8, 10, 10, 10}, {13, 13, 13, 13}};
        const int rowY[2][4] = {{42, 77, 111, 145}, {42, 87, 132, 177}};
        for (int i = 0; i < 4; ++i)
            kel_test::expectPlaced({{s->menu_list[i], zh ? 5 : 3, rowY[!zh][i], zh ? 65 : 70, zh ? 20 : 30, list[lang][i]}}, tags[lang]);
        const int f[5][15] = {{13, 13, 13, 13, 13, 13, 13, 0, 13, 13, 13, 13, 13, 13, 13}, {10, 10, 10, 10, 10, 13, 13, 0, 13, 13, 13, 13, 8, 13, 13},
                              {10, 10, 10, 8, 8, 10, 10, 10, 10, 10, 10, 10, 8, 10, 10}, {10, 10, 10, 10, 10, 10, 10, 0, 10, 10, 10, 10, 8, 8, 8},
                              {13, 13, 13, 13, 13, 13, 13, 0, 13, 13, 13, 13, 13, 13, 13}}, *p = f[lang];
        kel_test::expectPlaced({{u->label_title, 33, 10, 254, 22}, {u->stackedWidget, 75, 42, 235, 190}, {u->frame, 74, 41, 242, 192},
            {u->label_step1, 10, 10, 220, 17}, {u->label_boxwidth, 10, 40, 140, 17}, {u->label_boxheight, 10, 70, 140, 17},
            {u->lineEdit_X, 170, 40, 60, 24}, {u->lineEdit_Y, 170, 70, 60, 24}, {u->Button_next, 150, 153, 80, 30, p[8]},
            {u->label_step2, 10, 10, 220, 17}, {u->Button_wlan1, 10, 32, 55, 17}, {u->Button_wlan2, 70, 32, 55, 17}, {u->line_2, 10, 55, 220, 1},
            {s->port_grid, 1, 59, 230, 88}, {u->Button_front_2, 63, 153, 80, 30, p[9]}, {u->Button_next_2, 150, 153, 80, 30, p[10]},
            {u->label_step3, 10, 10, 220, 17, p[7]}, {u->label_boxline, 10, 39, 150, 15, p[0]}, {u->lineEdit_line, 175, 35, 60, 24},
            {u->label_boxlcolumn, 10, 68, 150, 15, p[1]}, {u->lineEdit_column, 175, 65, 60, 24}, {u->label_routeway, 10, 98, 145, 15, p[2]},
            {u->Button_route, 157, 95, 78, 24}, {u->label_horizon, 10, 125, 71, 26, p[3]}, {u->lineEdit_horzion, 83, 125, 40, 24},
            {u->label_vert, 125, 125, 66, 26, p[4]}, {u->lineEdit_vert, 195, 125, 40, 24}, {u->Button_front_3, 65, 158, 80, 30, p[6]},
            {u->Button_send, 150, 158, 80, 30, p[5]}, {u->Button_cancel, 150, 161, 50, 20}, {u->label_step1_5, 10, 10, 220, 17},
            {u->Button_wlan5, 10, 32, 55, 17}, {u->Button_wlan6, 70, 32, 55, 17}, {u->line, 58, 10, 1, 220}, {u->Button_next_5, 150, 153, 80, 30, p[11]},
            {u->label_step2_6, 10, 10, 220, 17}, {u->label_step2_7, 10, 32, 220, 20, p[12]}, {u->Button_front_6, 65, 153, 80, 30, p[13]},
            {u->Button_load, 150, 153, 80, 30, p[14]}, {s->file_frame, 10, 55, 220, 90}, {u->label_step1_6, 10, 10, 220, 17, lang == 2 ? 10 : 13},
            {u->Button_confirm, 150, 153, 80, 30}, {u->label_step1_7, 10, 10, 170, 17, lang == 2 ? 10 : 13}, {u->Button_mapping_state, 190, 10, 40, 20}}, tags[lang]);
        const QObjectList tile = s->port_grid->children();   // each port tile: frame, icon, name (8 px), touch button
        for (int k = 1; k <= 16; ++k) {
            auto at = [&](int j) { return qobject_cast<QWidget*>(tile.value(4 * (k - 1) % 32 + j)); };
            const int x = 55 * ((k - 1) % 4), y = 45 * ((k - 1) / 4 % 2);
            kel_test::expectPlaced({{s->route_list[k - 1], 10 + 45 * ((k - 1) % 5), 5 + 45 * ((k - 1) / 5), 40, 40}, {at(0), 10 + x, 2 + y, 50, 40},
                {at(1), 25 + x, 5 + y, 22, 15}, {at(2), 14 + x, 20 + y, 45, 20, 8}, {at(3), 11 + x, 3 + y, 48, 38}}, tags[lang]);
        }
        // Russian selected but not enabled: English texts.
        if (lang == 2) {
            g_lcd_lang_valid = 0x1F & ~4;
            s->on_Button_next_2_clicked();
            EXPECT_EQ(s->ui->label_boxline->text(), "Number of Cabinet in rows");
            g_lcd_lang_valid = 0x1F;
        }
        s->Button_back_clicked();
        kel_test::settle();
    }
    g_language = 1;
}

// The port grid of page 1: each tab's tiles wrap inside the tab, every move sets the port
// at once, OK confirms a tile and Back returns to the port confirmed before.
TEST_F(SmartWizard, PortGridKeysWrapInsideEachTab)
{
    SmartMapping* s = openSmart();
    keys({OK, L, OK});                            // Shortcut, Next: page 1 on the first tab
    ASSERT_EQ(s->ui->stackedWidget->currentIndex(), 1);
    const struct {
        PanelKey key;
        int port;
    } steps[] = {
        {R, 0},                                   // second tab: its tiles, no port change
        {OK, 8}, {R, 9}, {R, 8}, {L, 9},          // LED9 and LED10 only, wrapping both ways
        {OK, 9},                                  // LED10 confirmed
        {L, 9},                                   // first tab
        {OK, 0}, {L, 7}, {R, 0}, {L, 7},          // LED1 to LED8 wrap
        {BACK, 9},                                // the confirmed LED10 again
    };
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        keys({steps[i].key});
        EXPECT_EQ(line_type.port, steps[i].port) << "step " << i;
        if (i == 1) {
            QStringList names;
            for (QLabel* l : s->port_grid->findChildren<QLabel*>())
                if (l->text().startsWith("LED"))
                    names << l->text();
            EXPECT_EQ(names, QStringList({"LED9", "LED10"}));
        }
    }
    EXPECT_EQ(s->port_saved, 9);
}
