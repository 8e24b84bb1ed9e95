// The input selection screen: the three rows and their keys, switching a window to an input
// or a crop (with the toast), crop names and the in-use entry, paging, texts per language.

#include "gui/input/custommode.h"
#include "gui/input/imagelayout.h"
#include "gui/input/inputchoose.h"
#include "gui/tip.h"
#include "tests/gui/input/input_fixture.h"
#include "tests/support/Screens.h"
#include "ui_inputchoose.h"

using namespace input_test;
using kel_test::PanelKey;

namespace {

InputChoose* open_choose() { return kel_test::openScreen(g_inputchoose, 3); }

// The texts of the entries panel, page by page as shown.
QStringList entry_names(InputChoose* c)
{
    QStringList names;
    for (QLabel* l : c->frame->findChildren<QLabel*>(QStringLiteral("entry_name")))
        names << l->text();
    return names;
}

int badges(InputChoose* c)
{
    return c->frame->findChildren<QLabel*>(QStringLiteral("badge")).size();
}

} // namespace

TEST_F(InputScreenTest, WindowRowRingsThroughWindowsAndButtons)
{
    set_window(0, 1, 1);
    InputChoose* c = open_choose();   // the windows the row counts: the panel check
    const std::pair<PanelKey, int> ring[] = {{PanelKey::Right, 4}, {PanelKey::Right, 5}, {PanelKey::Right, 0}, {PanelKey::Left, 5}};
    for (int i = 0; i < 4; ++i) {   // the one window, then the two buttons, framed in turn
        kel_test::pressKey(ring[i].first, i % 2, c);
        EXPECT_EQ((std::vector<int>{c->ui_select, c->ui->button_inputcut->styleSheet().contains("rgb(255,171,84)")}), (std::vector<int>{ring[i].second, i == 0})) << i;
    }
    delete c;

    // Windows 1 and 3 shown, window 3 current: the cursor starts on row position 1.
    set_window(2, 1, 2);
    g_image_current = 2;
    int notified = 0;
    QObject listener;   // the connection ends with the test
    QObject::connect(para(), &KelRamPara::sig_update_para, &listener, [&](int code) { notified += code == 1; });
    c = open_choose();
    // Two windows, the second focused, HDMI2 highlighted in the input row.
    EXPECT_EQ((std::vector<int>{c->image_num, c->ui_select, c->source_listseq}), (std::vector<int>{2, 1, 1}));
    EXPECT_EQ(std::make_tuple(c->image_focus->geometry(), c->image_label[2]->text()), std::make_tuple(QRect(57, 0, 51, 46), QString("HDMI2")));
    kel_test::pressKey(PanelKey::Left, 0, c);
    EXPECT_EQ((std::vector<int>{g_image_current, notified}), (std::vector<int>{0, 1}));
    kel_test::pressKey(PanelKey::Right, 0, c);
    kel_test::pressKey(PanelKey::Right, 0, c);
    EXPECT_EQ((std::vector<int>{c->ui_select, g_image_current}), (std::vector<int>{4, 2}));   // a button changes nothing but the styles

    // Back closes to the main menu, or to the picture layout screen when one is open.
    kel_test::pressKey(PanelKey::Back, 0, c);
    EXPECT_EQ((std::vector<int>{g_page_focus, g_inputchoose == nullptr}), (std::vector<int>{1, 1}));
    kel_test::settle();
    g_imagelayout = new ImageLayout(nullptr);
    c = open_choose();
    kel_test::pressKey(PanelKey::Back, 0, c);
    EXPECT_EQ(g_page_focus, 9);
    delete g_imagelayout;
    kel_test::settle();
}

TEST_F(InputScreenTest, SwitchingAWindowToAnInputAndToACrop)
{
    set_window(0, 1, 0), set_window(2, 1, 1);   // window 3 at the row's second place: window 2 is hidden
    g_image_current = 2;
    set_input(2, 1920, 1080, 60);
    set_input(1, 1920, 0, 60);     // a width and a rate without a height: no signal
    set_crop(0, 2, 1, 640, 480);   // HDMI2 crop 1
    mark_saved();
    InputChoose* c = open_choose();
    EXPECT_TRUE(c->ui->sourcelistseq1name->text().contains("HDMI2")) << c->ui->sourcelistseq1name->text().toStdString();   // its count: the panel check
    EXPECT_EQ((std::vector<bool>{c->ui->sourcelistseq0pixmap->property("online").toBool(),
                                 c->ui->sourcelistseq1pixmap->property("online").toBool()}),
              (std::vector<bool>{false, true}));
    EXPECT_EQ(entry_names(c), QStringList({"HDMI1"}));

    kel_test::pressKeys({PanelKey::Ok});   // into the input row, on HDMI1
    EXPECT_EQ((std::vector<int>{c->ui_seltype, c->ui_select}), (std::vector<int>{1, 0}));
    kel_test::pressKey(PanelKey::Right, 1);   // HDMI2
    EXPECT_EQ(std::make_tuple(c->ui->frame1->geometry(), entry_names(c)), std::make_tuple(QRect(54, 95, 53, 33), QStringList({"HDMI2", "HDMI2_crop1"})));
    QLabel* format = c->frame->findChildren<QLabel*>(QStringLiteral("entry_format")).value(0);
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->text(), "1920x1080@60Hz");

    delete c;
}

TEST_F(InputScreenTest, CropsAreNamedByTheirOwnNumbersAndPaged)
{
    // HDMI1 crops numbered 2 and 1 in records 0 and 1 (records not in number order); the
    // window shows record 0, crop number 2.
    set_crop(0, 1, 2, 320, 240);
    set_crop(1, 1, 1, 640, 480);
    set_window(0, 1, 0x8000);
    mark_saved();
    InputChoose* c = open_choose();
    EXPECT_EQ(c->image_label[0]->property("source").toString(), "HDMI1_Crop2");
    kel_test::pressKeys({PanelKey::Ok, PanelKey::Ok});
    EXPECT_EQ(entry_names(c), QStringList({"HDMI1", "HDMI1_crop1", "HDMI1_crop2"}));
    // Three frames, the cursor on the entry in use, one badge.
    EXPECT_EQ((std::vector<int>{int(c->frame->findChildren<QFrame*>(QStringLiteral("source_frame")).size()), c->ui_select, badges(c)}),
              (std::vector<int>{3, 2, 1}));
    delete c;

    // Four crops: pages (input, 1, 2) and (3, 4); the ring runs over both.
    set_crop(2, 1, 3, 100, 100);
    set_crop(3, 1, 4, 100, 100);
    set_window(0, 1, 1);
    mark_saved();
    c = open_choose();
    kel_test::pressKeys({PanelKey::Ok, PanelKey::Ok, PanelKey::Left});
    EXPECT_EQ(std::make_tuple(c->current_page, c->ui_select, entry_names(c)), std::make_tuple(1, 1, QStringList({"HDMI1_crop3", "HDMI1_crop4"})));
    kel_test::pressKey(PanelKey::Right);
    EXPECT_EQ((std::vector<int>{c->current_page, c->ui_select}), (std::vector<int>{0, 0}));
    // An input without crops has one entry; the cursor stays on it.
    kel_test::pressKey(PanelKey::Back);
    kel_test::pressKeys({PanelKey::Left, PanelKey::Ok, PanelKey::Right});
    EXPECT_EQ(std::make_tuple(c->source_number, c->ui_select, entry_names(c)), std::make_tuple(0, 0, QStringList({"DVI"})));
    delete c;
}

TEST_F(InputScreenTest, InputChoiceRefreshModeKeyAndTexts)
{
    set_window(0, 1, 1);
    write_alias(R"({"namelist":{"source":[{"id":1,"valid":"on","name":"Cam"}]}})");   // the tab's and the input's entry name
    mark_saved();
    InputChoose* c = open_choose();
    // A PC write of a crop record (or code 103) recounts the entries (the tabs' counts: the panel check).
    set_crop(4, 1, 1, 10, 10);
    c->syncUpdate(1);
    EXPECT_TRUE(c->ui->sourcelistseq0name->text().contains(">Cam<"));
    EXPECT_EQ(entry_names(c), QStringList({"Cam", "HDMI1_crop1"}));

    kel_test::pressKey(PanelKey::Mode, 1, c);
    EXPECT_EQ((std::vector<int>{g_inputchoose == nullptr, g_page_focus}), (std::vector<int>{1, 4}));
    ASSERT_NE(g_custommode, nullptr);
    delete g_custommode;
    kel_test::settle();

    set_language(2, 0x1F & ~0x04);   // Russian not enabled: English
    c = open_choose();
    EXPECT_EQ(c->ui->label_title->text(), "Source switch");
    delete c;
    set_crop(0, 1, 2, 640, 480);
    set_window(0, 1, 0x8000);
    set_window(2, 1, 2);
    for (int lang = 0; lang < 5; ++lang) {
        set_language(lang, 0x1F);
        c = open_choose();
        EXPECT_TRUE(kel_test::allTextsFit(c)) << lang;
        // Where the screen puts its widgets: windows 1 and 3 in the row's first two boxes (a
        // window's label two lines high, for a crop's name), the entries of HDMI1 (the input,
        // its crops 1 and 2); 12, 8 and 7 pt: 17, 11 and 10 px.
        Ui_InputChoose* u = c->ui;
        const QString tag = QString::number(lang);
        kel_test::expectPlaced({{u->line, 0, 90, 320, 1}, {u->label_title, 10, 10, 300, 22, 17}, {u->button_inputcut, 53, 206, 99, 24, 11},
            {u->button_EDID, 163, 206, 99, 24, 11}, {c->image_frame, 0, 42, 320, 47}, {c->image_focus, 7, 0, 51, 46}, {u->frame1, 1, 95, 53, 33},
            {c->image_label[0]->parentWidget(), 10, 3, 45, 40}, {c->image_label[2]->parentWidget(), 60, 3, 45, 40}, {c->image_label[2], 0, 1, 32, 24},
            {c->image_label[2]->parentWidget()->findChildren<QLabel*>().value(1), 33, 1, 7, 7}, {c->frame, 1, 127, 318, 70}}, tag.toStdString(), KelFit::Ink);
        for (int k = 0; k < 4; ++k)
            kel_test::expectPlaced({{c->findChild<QLabel*>(QString("sourcelistseq%1name").arg(k)), 2 + 53 * k, 96, 51, 14},
                {c->findChild<QLabel*>(QString("sourcelistseq%1pixmap").arg(k)), 7 + 53 * k - (k == 3), 111, 40, 12}}, tag.toStdString());
        const auto entries = c->frame->findChildren<QFrame*>(QStringLiteral("source_frame"));
        ASSERT_EQ(entries.size(), 3);
        for (int i = 0; i < 3; ++i)
            kel_test::expectPlaced({{entries[i], 14 + 95 * i, 10, 92, 50}, {entries[i]->findChildren<QLabel*>().value(0), 3, 5, 7, 7},
                {entries[i]->findChildren<QLabel*>().value(1), 12, 5, 25, 8}, {entries[i]->findChild<QLabel*>("entry_name"), 3, 15, 80, 12, 10},
                {entries[i]->findChild<QLabel*>("entry_format"), 3, 30, 88, 12, 10}}, tag.toStdString(), KelFit::Ink);
        kel_test::grab(c, "inputchoose_" + std::to_string(lang));
        delete c;
    }
}
