// The picture layout screen: stepping through the four windows, what it shows of each, the
// way back and the mode key, texts per language.

#include "gui/input/custommode.h"
#include "gui/input/imagelayout.h"
#include "gui/option.h"
#include "tests/gui/input/input_fixture.h"
#include "tests/support/Screens.h"
#include "ui_imagelayout.h"

#include <QPointer>

using namespace input_test;
using kel_test::PanelKey;

namespace {

ImageLayout* open_layout() { return kel_test::openScreen(g_imagelayout, 9); }

void layout_picture()
{
    set_window(0, 1, 1);
    set_window(1, 1, 0);
    set_window(2, 0, 0x8005);   // off, showing crop record 5 ...
    set_crop(5, 2, 1, 640, 480);   // ... which cuts HDMI2
    set_window(3, 1, 3, 0x100);
    put16(layer(3) + P::kLayerDbd, 9);
    put16(layer(3) + P::kLayerAttribute, 2);
    put16(layer(3) + P::kLayerWindow, 100);
    put16(layer(3) + P::kLayerWindow + 4, 1920);
    put16(layer(3) + P::kLayerWindow + 6, 1080);
    put16(layer(0) + P::kLayerAttribute, 0);
    put16(layer(1) + P::kLayerAttribute, 4);
    put16(layer(2) + P::kLayerAttribute, 0);
    mark_saved();
}

} // namespace

TEST_F(InputScreenTest, LayoutStepsThroughFourWindows)
{
    layout_picture();
    int notified = 0;
    QObject listener;   // the connection ends with the test
    QObject::connect(para(), &KelRamPara::sig_update_para, &listener, [&](int code) { notified += code == 1; });
    ImageLayout* l = open_layout();
    EXPECT_EQ(l->ui->comboBox_P2P->currentIndex(), 0);
    EXPECT_EQ((QStringList{l->ui->image_source->text(), l->ui->image_state->text(), l->ui->mirror1->property("iconPath").toString(),
                           l->ui->mirror2->property("iconPath").toString()}),
              (QStringList{"Source:HDMI1", "Image state:ON", ":/png/mirror1_on.png", ":/png/mirror2_off.png"}));
    // A PC moves, widens, re-sources and switches off the window shown: the screen follows.
    put16(layer(0) + P::kLayerWindow, 100), put16(layer(0) + P::kLayerWindow + 4, 960), set_window(0, 0, 3);
    l->syncUpdate();
    EXPECT_EQ((QStringList{l->ui->lineEdit_X->text(), l->ui->lineEdit_W->text(), l->ui->image_source->text(), l->ui->image_state->text()}),
              (QStringList{"100", "960", "Source:HDMI3", "Image state:OFF"}));

    kel_test::pressKey(PanelKey::Left, 0, l);   // window 0 -> 3
    EXPECT_EQ((std::vector<int>{l->ui_select, g_image_current, notified, l->ui->comboBox_P2P->currentIndex()}),
              (std::vector<int>{3, 3, 1, 3}));
    EXPECT_EQ(l->ui->frame_image->geometry(), QRect(160, 39, 51, 49));
    EXPECT_EQ((QStringList{l->ui->image_source->text(), l->ui->lineEdit_X->text(), l->ui->lineEdit_W->text()}),
              (QStringList{"Source:HDMI3", "100", "1920"}));
    EXPECT_EQ(l->ui->mirror3->property("iconPath").toString(), ":/png/mirror3_on.png");

    kel_test::pressKey(PanelKey::Right, 1, l);   // 3 -> 0 (the window a step selects: the panel check)
    kel_test::pressKeys({PanelKey::Right, PanelKey::Right});   // window 2: off, a crop of HDMI2
    EXPECT_EQ((QStringList{l->ui->image_state->text(), l->ui->image_source->text(), l->ui->image_name->text()}),
              (QStringList{"Image state:OFF", "Source:HDMI2", "Name:Image3"}));
    kel_test::settle();   // a window switched off is selected too: the panel check
    kel_test::pressKey(PanelKey::Left, 0, l);   // window 1: mirror value 4 leaves window 2's icons
    EXPECT_EQ((QStringList{l->ui->mirror1->property("iconPath").toString(), l->ui->mirror3->property("iconPath").toString()}),
              (QStringList{":/png/mirror1_on.png", ":/png/mirror3_off.png"}));

    write_alias(R"({"namelist":{"win":[{"id":1,"valid":"on","name":"Stage"}]}})");
    l->image_para_update();
    EXPECT_EQ(l->ui->image_name->text(), "Name:Stage");
    set_language(2, 0x1F);
    l->image_para_update();
    EXPECT_EQ(l->ui->image_name->text(), QString::fromUtf8("Название:Stage"));

    kel_test::pressKey(PanelKey::Back, 0, l);
    EXPECT_TRUE(g_imagelayout == nullptr && g_page_focus == 5);
    kel_test::settle();
}

TEST_F(InputScreenTest, LayoutTextsFitInEveryLanguage)
{
    layout_picture();
    for (int lang = 0; lang < 5; ++lang) {
        set_language(lang, 0x1F);
        g_image_current = 1;   // a mirror value past 3: the icons show nothing, not a placeholder
        ImageLayout* l = open_layout();
        EXPECT_TRUE(kel_test::allTextsFit(l)) << lang;
        Ui_ImageLayout* u = l->ui;   // the tab on window 2's tile; the W and H captions and the combo box widened
        kel_test::expectPlaced({{u->label_title, 50, 10, 220, 22}, {u->frame, 7, 87, 306, 148}, {u->frame_image, 58, 39, 51, 49},
            {u->image_source, 155, 6, 140, 20}, {u->image_name, 5, 6, 120, 20}, {u->image_state, 5, 34, 120, 16}, {u->label_W, 131, 88, 39, 16},
            {u->label_H, 213, 88, 45, 16}, {u->label_mirror, 5, 119, 106, 16}, {u->label_P2P, 5, 55, 105, 20}, {u->label_X, 3, 87, 8, 16},
            {u->label_Y, 78, 88, 8, 16}, {u->lineEdit_H, 259, 86, 40, 20}, {u->lineEdit_X, 16, 86, 40, 20}, {u->lineEdit_Y, 89, 86, 40, 20},
            {u->lineEdit_W, 171, 86, 40, 20}, {u->comboBox_P2P, 110, 55, 120, 20}, {u->mirror1, 117, 109, 32, 32}, {u->mirror2, 168, 109, 32, 32},
            {u->mirror3, 221, 109, 32, 32}, {u->mirror4, 263, 109, 32, 32}, {u->label1, 10, 42, 45, 40}, {u->label2, 61, 43, 45, 38},
            {u->label3, 112, 42, 45, 40}, {u->label4, 163, 42, 45, 40}}, std::to_string(lang));
        kel_test::pressKeys({PanelKey::Right, PanelKey::Right});
        kel_test::grab(l, "imagelayout_" + std::to_string(lang));
        delete l;
    }
}
