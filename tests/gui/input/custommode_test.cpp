// The user-mode screen: slot browsing, the preview of a saved mode, Invoke and Delete, the
// action row, the way back, texts per language.

#include "gui/input/custommode.h"
#include "gui/kelcontrol.h"
#include "gui/lockwindow.h"
#include "scaler/omenu.h"
#include "tests/gui/input/input_fixture.h"
#include "tests/support/OmenuFile.h"
#include "tests/support/Screens.h"
#include "ui_custommode.h"

#include <QComboBox>
#include <QFontMetrics>

using namespace input_test;
using kel_test::PanelKey;

namespace {

const char kFocus[] = "border:1px solid rgb(255, 171, 84)";

CustomMode* open_screen() { return kel_test::openScreen(g_custommode, 4); }

QStringList preview_texts(CustomMode* m)
{
    QStringList texts;
    if (m->widget_preview)
        for (QLabel* l : m->widget_preview->findChildren<QLabel*>())
            texts << l->text();
    return texts;
}

// A saved mode 3 (slot 2) with a picture the preview can be checked against.
void save_mode_three()
{
    save_slot(2, 0x11);
    slot_put16(2, P::kLedWidth, 3840);
    slot_put16(2, P::kLedHeight, 1080);
    slot_put16(2, P::kBrightness, 70);
    slot_put16(2, P::kBrightness + 2, 40);
    para()->mode_slot[2][2 + P::kAudioWindow - P::kModeArea] = 1;
    slot_put16(2, P::kLayers + P::kLayerSize + P::kLayerVolume, 0x8000);   // window 1 sound on
    for (int w = 0; w < 4; ++w) {
        const int layer = P::kLayers + P::kLayerSize * w;
        slot_put16(2, layer + P::kLayerFlags, w == 2 ? 0 : 1);
        const uint16_t rect[4] = {0, 0, 1920, 1080};
        for (int i = 0; i < 4; ++i)
            slot_put16(2, layer + P::kLayerWindow + 2 * i, rect[i]);
    }
    // Window 2 shows crop record 3, which cuts HDMI1 (port 1).
    slot_put16(2, P::kLayers + P::kLayerSize * 2 + P::kLayerSource, 0x8003);
    slot_put16(2, P::kCropRecords + P::kCropRecordSize * 3, 0x8001);
    slot_put16(2, P::kLayers + P::kLayerSource, 2);
}

} // namespace

TEST_F(InputScreenTest, UserModesOpenOnTheCurrentModeAndWrap)
{
    CustomMode* m = open_screen();
    EXPECT_EQ((QStringList{m->ui->label_ID->text(), QString::number(m->mode_box->comboBox->count()), m->mode_box->comboBox->itemText(15)}),
              (QStringList{"ID:1", "16", "MODE 16"}));
    kel_test::pressKey(PanelKey::Left, 0, m);
    EXPECT_EQ(std::make_tuple(m->ui->label_ID->text(), int(g_mode_select), m->mode_box->comboBox->currentIndex()), std::make_tuple(QString("ID:16"), 15, 15));
    kel_test::pressKey(PanelKey::Right, 1, m);
    EXPECT_EQ(g_mode_select, 0);
    // OK on an empty slot does not enter the action row; the notice replaces the lines.
    kel_test::pressKey(PanelKey::Ok, 0, m);
    EXPECT_TRUE(m->edit_state == 0 && m->ui->label_blank->isVisibleTo(m) && !m->ui->Button_use->isVisibleTo(m) && !m->widget_preview);
    delete m;

    put16(P::kCurrentMode, 5);
    m = open_screen();
    EXPECT_EQ(std::make_tuple(m->ui->label_ID->text(), int(m->ui_select)), std::make_tuple(QString("ID:5"), 4));
    delete m;
}

TEST_F(InputScreenTest, PreviewOfASavedMode)
{
    save_mode_three();
    put16(P::kCurrentMode, 3);
    CustomMode* m = open_screen();
    EXPECT_EQ((QStringList{m->ui->label_name->text(), m->ui->label_LED->text(), m->ui->label_brightness->text()}),
              (QStringList{"Name:Mode3", "LED size:3840x1080", "Bri:70 CTRST:40 Volume:ON"}));
    EXPECT_EQ((std::vector<int>{m->ui->label_using->isVisibleTo(m), m->ui->Button_more->isVisibleTo(m), m->button_hidden}),
              (std::vector<int>{1, 0, 1}));
    // Per window: a tile, its source line and its area line, in two columns of two rows.
    const struct {
        int tileX, lineX, y;
        const char* source;
    } windows[4] = {
        {0, 24, 2, "HDMI2 ON"}, {0, 24, 32, "DVI ON"}, {145, 171, 2, "HDMI1_Crop4 OFF"}, {145, 171, 32, "DVI ON"}};
    const auto labels = m->widget_preview->findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 12);
    for (int w = 0; w < 4; ++w) {
        const auto& e = windows[w];
        EXPECT_EQ((std::vector<QRect>{labels[3 * w]->geometry(), labels[3 * w + 1]->geometry(), labels[3 * w + 2]->geometry()}),
                  (std::vector<QRect>{{e.tileX, e.y, 24, 24}, {e.lineX, e.y, 100, 12}, {e.lineX, e.y + 14, 140, 12}})) << w;
        EXPECT_EQ((QStringList{labels[3 * w]->text(), labels[3 * w + 1]->text(), labels[3 * w + 2]->text()}),
                  (QStringList{QString::number(w + 1), e.source, "[0,0]1920x1080"})) << w;
    }

    // An audio window past the six windows has no sound.
    para()->mode_slot[2][2 + P::kAudioWindow - P::kModeArea] = 7;
    m->lcd_para_init();
    EXPECT_EQ(m->ui->label_brightness->text(), "Bri:70 CTRST:40 Volume:OFF");
    // A long alias cut to the label: TextFit.EveryValueLabelShowsTheWidestValueWholeInEveryLanguage.
    delete m;
}

TEST_F(InputScreenTest, MoreShowsTheOverlayOfTheMode)
{
    save_mode_three();
    slot_put16(2, P::kOsdOn, 1);
    put16(P::kCurrentMode, 3);
    CustomMode* m = open_screen();
    EXPECT_EQ((std::vector<int>{m->button_hidden, m->ui->Button_more->isVisibleTo(m)}), (std::vector<int>{0, 1}));
    kel_test::pressKeys({PanelKey::Ok, PanelKey::Left});
    // The mode's overlay file is missing: the page stays empty instead of showing zeros.
    EXPECT_EQ((std::vector<int>{m->button_select, int(preview_texts(m).size())}), (std::vector<int>{2, 0}));
    kel_test::pressKey(PanelKey::Right, 0, m);
    EXPECT_EQ((std::vector<int>{m->button_select, int(preview_texts(m).size())}), (std::vector<int>{0, 12}));
    kel_test::OmenuItem fiveLines;
    fiveLines.text = "1\n2\n3\n4\n5";
    root.writeFile(CustomMode::osd_file_name(3).toStdString(), kel_test::omenuJson(fiveLines));
    kel_test::pressKey(PanelKey::Left, 0, m);   // an overlay of five lines: its sample shows the first three
    EXPECT_TRUE(preview_texts(m).contains("1\n2\n3"));
    delete m;

    EXPECT_TRUE(CustomMode::osd_file_name(10).endsWith("/data/modes/MO0a.json") && CustomMode::osd_file_name(16).endsWith("MO10.json"));
    OMENU_PARA item;
    item.pos_w = 256;
    item.pos_h = 32;
    item.fontw = item.fonth = 16;
    item.speed = 2;
    item.effect = 4;
    EXPECT_EQ(CustomMode::osd_detail_text(item),
              "osd [x:0,y:0,w:256,h:32] font size:16*16\nspace [h:0,v:0] char[x:0,y:0] speed:2,effect:move left");
    item.effect = 7;
    set_language(0, 0x1F);
    EXPECT_TRUE(CustomMode::osd_detail_text(item).endsWith(QString::fromUtf8("速度:2,特技:静止")));
    set_language(2, 0x1F);   // Russian has no overlay texts of its own
    EXPECT_TRUE(CustomMode::osd_detail_text(item).endsWith("effect:static"));
}

TEST_F(InputScreenTest, BackLeadsToTheMenuOrHome)
{
    CustomMode* m = open_screen();
    kel_test::pressKey(PanelKey::Back, 1, m);
    EXPECT_EQ((std::vector<int>{g_custommode == nullptr, g_page_focus}), (std::vector<int>{1, 1}));
    kel_test::settle();

    g_mode_shortcut_key = 1;
    m = open_screen();
    kel_test::pressKey(PanelKey::Back, 0, m);
    EXPECT_EQ((std::vector<int>{g_mode_shortcut_key, g_page_focus}), (std::vector<int>{0, 0}));
    ASSERT_TRUE(g_lockwindow != nullptr && g_lockwindow->isVisible());
    kel_test::settle();
}

TEST_F(InputScreenTest, UserModeTextsFitInEveryLanguage)
{
    save_mode_three();
    slot_put16(2, P::kOsdOn, 1);
    put16(P::kCurrentMode, 3);
    for (int lang = 0; lang < 5; ++lang) {
        set_language(lang, 0x1F);
        CustomMode* m = open_screen();
        EXPECT_TRUE(kel_test::allTextsFit(m)) << lang;
        Ui_CustomMode* u = m->ui;   // 11 and 8 pt: 15 and 11 px; the in-use badge wider for "Использовать"
        kel_test::expectPlaced({{u->label_title, 50, 5, 220, 22, 15}, {u->frame, 3, 57, 314, 180}, {u->Button_delete, 140, 155, 60, 20, 11},
            {u->Button_use, 60, 155, 60, 20, 11}, {u->label, 5, 5, 80, 50}, {u->label_ID, 86, 4, 54, 12}, {u->label_name, 86, 17, 171, 12},
            {u->label_LED, 86, 30, 191, 12}, {u->label_brightness, 86, 42, 225, 12}, {u->label_using, 140, 4, lang == 2 ? 90 : 60, 12, 11},
            {u->Button_more, 220, 155, 60, 20}, {m->mode_box, 3, 28, 320, 24}}, std::to_string(lang), KelFit::Ink);
        kel_test::grab(m, "custommode_" + std::to_string(lang));
        kel_test::pressKey(PanelKey::Ok), slot_put16(2, P::kBrightness, 7 + lang), kel_test::pressKey(PanelKey::Ok);   // a PC changed it: Invoke refused
        EXPECT_EQ((std::vector<int>{kel_test::allTextsFit(m), m->label_refuse->isVisibleTo(m), para()->ram16(P::kBrightness) != 7 + lang}), (std::vector<int>{1, 1, 1})) << lang;
        kel_test::grab(m, "custommode_changed_" + std::to_string(lang));
        if (lang <= 1) {
            g_mode_select = 0;
            m->ui_select = 0;
            m->kel_button_mode_clicked();
            kel_test::grab(m, "custommode_empty_" + std::to_string(lang));
            EXPECT_TRUE(kel_test::allTextsFit(m));
        }
        delete m;
    }
}
