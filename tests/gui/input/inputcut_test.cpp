// The input crop screen: tabs and counts, the crop list and its pages, adding, changing and
// deleting crops with the number keypad, the refused values, the crop reaching the scaler,
// the way back and the mode key, texts per language.

#include "gui/input/custommode.h"
#include "gui/input/imagelayout.h"
#include "gui/input/inputchoose.h"
#include "gui/input/inputcut.h"
#include "gui/numberkeyboard.h"
#include "gui/option.h"
#include "scaler/c331_drv.h"
#include "tests/gui/input/input_fixture.h"
#include "tests/support/Screens.h"
#include "ui_inputchoose.h"
#include "ui_inputcut.h"
#include "ui_numberkeyboard.h"

#include <QPointer>
#include <algorithm>
#include <array>
#include <functional>

using namespace input_test;
using kel_test::PanelKey;

namespace {

const char kPicked[] = "background-color: #212435;border:1px solid #FFA854;";   // the selected item's box

InputCut* open_cut() { return kel_test::openScreen(g_inputcut, 7); }

QStringList card_names(InputCut* c, const char* label = "card_name")
{
    QStringList names;
    for (QFrame* f : c->frame_source->findChildren<QFrame*>(QString::fromLatin1(label)))   // a label's text, a box's style
        names << (qobject_cast<QLabel*>(f) ? qobject_cast<QLabel*>(f)->text() : f->styleSheet());
    return names;
}

int crop_field(int record, int field)   // field 0: the port and number word
{
    return para()->ram16(P::kCropRecords + P::kCropRecordSize * record + 2 * field);
}

} // namespace

TEST_F(InputScreenTest, AddingACropTakesTheLowestFreeNumber)
{
    set_input(1, 1920, 1080, 60);
    write_alias(R"({"namelist":{"source":[{"id":1,"valid":"on","name":"Cam"}]}})");   // the tab's and the card's name
    mark_saved();
    InputCut* c = open_cut();
    EXPECT_TRUE(c->ui->sourcelistseq0name->text().contains(">Cam<") && c->ui->sourcelistseq0name->text().contains(">1<"));
    EXPECT_EQ(card_names(c) + card_names(c, "card_format"), QStringList({"Cam", "1920x1080@60Hz"}));
    EXPECT_EQ(c->button_add->styleSheet(), "border:0px solid rgb(0,0,0);");
    kel_test::pressKey(PanelKey::Ok, 0, c);   // into the list, on the add button
    EXPECT_EQ((std::vector<int>{c->ui_seltype, c->ui_select}), (std::vector<int>{1, 0}));
    EXPECT_EQ(c->button_add->styleSheet(), "border:1px solid rgb(255,171,84);");
    kel_test::pressKey(PanelKey::Right, 1);   // the input item: OK does nothing
    kel_test::pressKey(PanelKey::Ok);
    EXPECT_EQ(QStringList{QString::number(c->ui_seltype)} + card_names(c, "card_box"), QStringList({"1", kPicked}));
    kel_test::pressKeys({PanelKey::Left, PanelKey::Ok});   // add
    EXPECT_EQ((QStringList{QString::number(c->ui_seltype), c->ui->label_change_source->text(), c->ui->lineEdit_W->text(),
                           QString::number(c->button_delete->isVisibleTo(c))}), QStringList({"2", "Name:HDMI1-Crop-1", "1920", "0"}));
    // Right from H goes to Cancel (Delete skipped); left from X wraps to OK.
    kel_test::pressKeys({PanelKey::Right, PanelKey::Right, PanelKey::Right, PanelKey::Right});
    EXPECT_EQ(c->ui_select, 1 + 5);
    kel_test::pressKey(PanelKey::Left);   // the frame moves with the selection
    EXPECT_EQ((std::vector<int>{c->ui_select, c->ui->lineEdit_H->styleSheet().contains("rgb(255,171,84)"), c->button_cancel->styleSheet().contains("rgb(255,171,84)")}),
              (std::vector<int>{1 + 3, 1, 0}));
    EXPECT_EQ(kel_test::typeOnKeypad("720"), "H");
    kel_test::pressKeys({PanelKey::Right, PanelKey::Right, PanelKey::Ok});   // OK
    EXPECT_EQ((std::vector<int>{c->ui_seltype, crop_field(0, 0), crop_field(0, 4), apply_flag()}), (std::vector<int>{1, 0x8001, 720, 1}));
    EXPECT_EQ(card_names(c), QStringList({"Cam", "HDMI1_crop1"}));   // the tabs' counts: the panel check
    delete c;
}

TEST_F(InputScreenTest, CropListPagesSixItems)
{
    for (int k = 0; k < 6; ++k)
        set_crop(k, 1, unsigned(k + 1), 100 + k, 50);
    set_window(0, 1, 0x8005), set_window(1, 1, 0x8002);   // window 0 shows the crop deleted below
    mark_saved();
    InputCut* c = open_cut();
    EXPECT_EQ((std::vector<int>{c->source_current_check(), c->max_pag, int(card_names(c).size())}), (std::vector<int>{7, 1, 6}));
    kel_test::pressKeys({PanelKey::Ok, PanelKey::Left});   // add button -> last item, page 1
    EXPECT_EQ((std::vector<int>{c->current_pag, c->ui_select}), (std::vector<int>{1, 0}));
    EXPECT_EQ(card_names(c) + card_names(c, "card_box"), QStringList({"HDMI1_crop6", kPicked}));
    kel_test::pressKey(PanelKey::Right);   // past the last item: back to the add button
    EXPECT_EQ((std::vector<int>{c->current_pag, c->ui_select}), (std::vector<int>{0, 0}));
    // Changing panel: all seven positions, Right from OK wraps to X.
    kel_test::pressKeys({PanelKey::Left, PanelKey::Ok});
    EXPECT_EQ((QStringList{QString::number(c->ui_seltype), c->ui->lineEdit_W->text()}), QStringList({"3", "105"}));
    kel_test::pressKeys({PanelKey::Right, PanelKey::Right, PanelKey::Right, PanelKey::Right, PanelKey::Right, PanelKey::Right});
    EXPECT_EQ(c->ui_select, 7 + 6);
    kel_test::pressKey(PanelKey::Right);
    EXPECT_EQ(c->ui_select, 7);
    // Delete: the record cleared whole, its window back on HDMI1 uncropped, the other kept; the
    // selection moves onto the new last item (the tabs' counts: the panel check).
    kel_test::pressKeys({PanelKey::Left, PanelKey::Left, PanelKey::Left, PanelKey::Ok});
    const uint8_t* rec = para()->ram + P::kCropRecords + 5 * P::kCropRecordSize;
    EXPECT_EQ((std::vector<int>{int(std::count(rec, rec + 10, 0)), para()->ram16(layer(0) + P::kLayerSource), para()->ram16(layer(1) + P::kLayerSource),
                                apply_flag(), c->ui_seltype, c->current_pag, c->ui_select}), (std::vector<int>{10, 1, 0x8002, 1, 1, 0, 6}));
    delete c;
}

TEST_F(InputScreenTest, CropValuesAreCheckedAndAChangeReachesTheScaler)
{
    c331_manage* scaler = c331_manage::p_c331_manage;
    scaler->c331_fd = scaler->drv->initialize();
    scaler->c331_stage = 8;
    scaler->wincnt = 6;
    set_input(1, 1920, 1080, 60);
    set_crop(0, 1, 1, 640, 480);
    set_window(0, 1, 0x8000);   // window 0 shows the crop
    mark_saved();
    InputCut* c = open_cut();
    kel_test::pressKeys({PanelKey::Ok, PanelKey::Right, PanelKey::Right, PanelKey::Ok});
    ASSERT_EQ(c->ui_seltype, 3);
    const int n = 2;
    auto press_ok_button = [&] {
        c->ui_select = uint8_t(n + 6);
        kel_test::pressKey(PanelKey::Ok);
    };
    // Both edges of the picture an input can be asked for (4095 square), on either axis; a
    // refused OK leaves the record and the flag as they were and says why.
    auto fields = [c](const std::array<const char*, 4>& v) { for (int f = 0; f < 4; ++f) c->findChild<QLineEdit*>(c->field_names[f])->setText(v[f]); };
    QString why;
    const std::pair<std::array<const char*, 4>, bool> edges[] = {{{"0", "0", "4095", "4095"}, true}, {{"4094", "4094", "1", "1"}, true},
        {{"1", "0", "4095", "480"}, false}, {{"0", "1", "640", "4095"}, false}, {{"0", "4095", "640", "1"}, false}, {{"0", "0", "0", "480"}, false},
        {{"0", "0", "", "480"}, false}, {{"0", "0", "640", "0"}, false}, {{"0", "0", "640", "99999"}, false}};
    for (const auto& [v, ok] : edges)
        EXPECT_EQ((fields(v), c->crop_values_ok(&why)), ok) << v[0] << "," << v[1] << " " << v[2] << "x" << v[3];
    for (const auto& v : {std::array<const char*, 4>{"0", "0", "0", "480"}, {"3300", "0", "800", "480"}}) {
        fields(v), press_ok_button();
        EXPECT_EQ((std::vector<int>{c->ui_seltype, c->label_refuse->isVisibleTo(c), crop_field(0, 3), apply_flag()}), (std::vector<int>{3, 1, 640, 0}));
    }
    EXPECT_EQ(c->label_refuse->text(), "Crop must lie within 4095x4095");
    // A crop of a 4K source may be made while the 1080p one is connected.
    c->ui->lineEdit_X->setText("3000");
    c->ui->lineEdit_H->setText("2000");
    press_ok_button();
    EXPECT_EQ((std::vector<int>{c->ui_seltype, crop_field(0, 1)}), (std::vector<int>{1, 3000}));
    kel_test::pressKeys({PanelKey::Ok});
    ASSERT_EQ(c->ui_seltype, 3);
    c->ui->lineEdit_X->setText("16");
    c->ui->lineEdit_Y->setText("8");
    c->ui->lineEdit_H->setText("480");
    press_ok_button();
    // Number and record kept; applied now, not with some later change.
    EXPECT_EQ((std::vector<int>{c->ui_seltype, c->label_refuse->isVisibleTo(c), crop_field(0, 0), crop_field(0, 1), crop_field(0, 3),
                                apply_flag()}),
              (std::vector<int>{1, 0, 0x8001, 16, 800, 1}));
    delete c;

    scaler->clear_deferred_calls();
    scaler->c331manage_pass();
    const auto calls = scaler->deferred_calls_copy();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "c331_SetCrop(0,1,16,8,800,480)"), calls.end());
    EXPECT_EQ(apply_flag(), 0);
}

TEST_F(InputScreenTest, CropTextsFitInEveryLanguage)
{
    for (int lang = 0; lang < 5; ++lang) {
        set_crop(0, 1, 1, 640, 480), set_crop(1, 1, 2, 320, 240);
        set_language(lang, 0x1F);
        InputCut* c = open_cut();
        kel_test::pressKeys({PanelKey::Ok, PanelKey::Right, PanelKey::Right, PanelKey::Ok});
        c->ui->lineEdit_W->setText("0");
        c->ui_select = uint8_t(3 + 6);
        kel_test::pressKey(PanelKey::Ok);   // refused: the reason shows
        EXPECT_TRUE(kel_test::allTextsFit(c)) << lang;
        // Where the screen puts its widgets (the list's last item is the third, in the third
        // column; the width caption wider for "Ширина"); 11 and 7 pt: 15 and 10 px.
        Ui_InputCut* u = c->ui;
        const std::string tag = std::to_string(lang);
        const QObjectList parts = c->frame_source->children();   // each item's box, state, type, name and format
        auto part = [&parts](int i) { return qobject_cast<QWidget*>(parts.value(i)); };
        kel_test::expectPlaced({{u->label_title, 50, 10, 220, 22, 15}, {u->frame_add, 6, 145, 310, 45}, {u->label_change_source, 5, 5, 160, 12, 10},
            {u->label_X, 36, 30, 10, 14}, {u->lineEdit_X, 48, 30, 36, 14}, {u->label_Y, 94, 30, 10, 14},
            {u->lineEdit_Y, 108, 30, 36, 14}, {u->label_W, 146, 30, 38, 14, 10}, {u->lineEdit_W, 186, 30, 40, 14}, {u->label_H, 228, 30, 40, 14, 10},
            {u->lineEdit_H, 270, 30, 40, 14}, {c->frame_select, 1, 40, 53, 41}, {c->frame_source, 1, 80, 318, 120}, {part(10), 195, 10, 92, 45},
            {part(11), 200, 12, 7, 7}, {part(12), 210, 12, 25, 8}, {part(13), 197, 23, 80, 12, 10}, {part(14), 197, 38, 88, 12, 10},
            {c->button_add, 292, 10, 20, 20}}, tag, KelFit::Ink);
        for (int k = 0; k < 4; ++k)
            kel_test::expectPlaced({{c->findChild<QLabel*>(QString("sourcelistseq%1name").arg(k)), 2 + 53 * k, 43, 51, 14},
                {c->findChild<QLabel*>(QString("sourcelistseq%1pixmap").arg(k)), 7 + 53 * k, 58, 40, 12}}, tag);
        kel_test::grab(c, "inputcut_" + std::to_string(lang));
        put16(P::kCropRecords, 0), c->syncUpdate(1);   // a PC deletes the panel's crop: the panel says so
        EXPECT_TRUE(kel_test::allTextsFit(c) && c->label_refuse->isVisibleTo(c)) << lang;
        kel_test::grab(c, "inputcut_deleted_" + std::to_string(lang));
        delete c;
        set_crop(0, 1, 1, 640, 480), c = open_cut();
        kel_test::pressKeys({PanelKey::Ok, PanelKey::Right, PanelKey::Right, PanelKey::Ok});
        put16(P::kCropRecords + 6, 100), c->syncUpdate(1);   // a PC resizes it: the panel says so
        EXPECT_TRUE(kel_test::allTextsFit(c) && c->label_refuse->isVisibleTo(c)) << lang;
        kel_test::grab(c, "inputcut_changed_" + std::to_string(lang));
        delete c;
    }
}
