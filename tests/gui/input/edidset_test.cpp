// The custom EDID screen: choosing the input, editing width, height and refresh rate with
// the keypad and the keys, saving and cancelling, the refused values, and the saved EDID
// reaching the input's EEPROM once the scaler and the input side have applied it.

#include "board/sim/Sim.h"
#include "gui/input/edidset.h"
#include "gui/kel_keys.h"
#include "scaler/c331_drv.h"
#include "gui/numberkeyboard.h"
#include "sources/velinsource.h"
#include "tests/gui/input/input_fixture.h"
#include "tests/support/Screens.h"
#include "ui_edidset.h"
#include "ui_numberkeyboard.h"

#include <array>

using namespace input_test;
using kel_test::PanelKey;

namespace {

EDIDset* open_edid() { return kel_test::openScreen(g_edidset, 8); }

void set_edid(int input, unsigned w, unsigned h, unsigned hz)
{
    put16(P::kEdid + 6 * input, w);
    put16(P::kEdid + 6 * input + 2, h);
    put16(P::kEdid + 6 * input + 4, hz);
}

} // namespace

TEST_F(InputScreenTest, EdidOutOfRangeValuesAreRefused)
{
    set_edid(1, 1920, 1080, 60);
    mark_saved();
    EDIDset* e = open_edid();
    kel_test::pressKey(PanelKey::Ok, 0, e);
    // Each refused with its reason, the record and the flag as they were; a rate other than 30
    // or 60 is refused unless it is the stored one left as it is.
    const char* const size = "W and H must be 1 to 4095", *const rate = "Refresh rate must be 30 or 60";
    const std::array<const char*, 3> bad[] = {{"", "60", size}, {"4095", "50", rate}};   // the bounds: the panel check
    for (const auto& [w, hz, why] : bad) {
        e->ui->lineEdit_W->setText(w), e->ui->label_rate->setText(hz), e->ui_line_select = 5;
        kel_test::pressKey(PanelKey::Ok);
        EXPECT_EQ((QStringList{QString::number(e->ui_seltype), e->label_refuse->isVisibleTo(e) ? e->label_refuse->text() : "",
                               QString::number(para()->ram16(P::kEdid + 6)), QString::number(apply_flag())}), (QStringList{"1", why, "1920", "0"})) << w << "@" << hz;
    }
    e->ui->label_rate->setText("60");
    kel_test::pressKey(PanelKey::Ok);
    EXPECT_EQ((std::vector<int>{e->ui_seltype, e->label_refuse->isVisibleTo(e), para()->ram16(P::kEdid + 6)}),
              (std::vector<int>{0, 0, 4095}));
    set_edid(1, 1920, 1080, 50);
    kel_test::pressKey(PanelKey::Ok);
    e->ui_line_select = 5;
    kel_test::pressKey(PanelKey::Ok);
    EXPECT_EQ((std::vector<int64_t>{e->ui_seltype, para()->ram16(P::kEdid + 10)}), (std::vector<int64_t>{0, 50}));
    delete e;
}

TEST_F(InputScreenTest, EdidTextsFitInEveryLanguage)
{
    set_edid(1, 1920, 1080, 60);
    for (int lang = 0; lang < 5; ++lang) {
        set_language(lang, 0x1F);
        EDIDset* e = open_edid();
        kel_test::pressKey(PanelKey::Ok, 0, e);
        e->ui->lineEdit_W->setText("0");
        e->ui_line_select = 5;
        kel_test::pressKey(PanelKey::Ok);   // the refusal shows too
        EXPECT_TRUE(kel_test::allTextsFit(e)) << lang;
        Ui_EDIDset* u = e->ui;   // 11 and 7 pt: 15 and 10 px; the buttons 9 px, wider for "Сохранить"
        kel_test::expectPlaced({{u->label_title, 50, 10, 220, 22, 15}, {u->frame_add, 10, 155, 291, 41}, {u->label_edid_source, 10, 0, 231, 12, 10},
            {u->label_W, 0, 22, 40, 12, 10}, {u->lineEdit_W, 40, 20, 40, 16}, {u->label_H, 88, 22, 40, 12, 10}, {u->lineEdit_H, 130, 20, 40, 16},
            {u->label_freq, 170, 22, 60, 12, 10}, {u->label_rate, 230, 20, 40, 16}, {e->frame_select, 4, 38, 50, 43}, {e->frame_source, 4, 80, 310, 120},
            {e->button_delete, 60, 214, 60, 20, 9}, {e->button_cancel, 130, 214, 60, 20, 9}, {e->button_save, 200, 214, 60, 20, 9}}, std::to_string(lang), KelFit::Ink);
        for (int k = 0; k < 4; ++k)
            kel_test::expectPlaced({{e->findChild<QLabel*>(QString("sourcelistseq%1name").arg(k)), 10 + 52 * k, 40, 40, 12, 10}}, std::to_string(lang), KelFit::Ink);
        kel_test::grab(e, "edidset_" + std::to_string(lang));
        set_edid(1, 1280, 720, 60), e->syncUpdate();   // a PC changed it: the edit says so
        EXPECT_TRUE(kel_test::allTextsFit(e) && e->label_refuse->text() == kel_text("该EDID已被更改", "This EDID was changed", "EDID изменён", "EDID đã bị đổi", "該EDID已被更改")) << lang;
        kel_test::grab(e, "edidset_changed_" + std::to_string(lang));
        set_edid(1, 1920, 1080, 60);
        delete e;
    }
}

TEST_F(InputScreenTest, SavedEdidReachesTheInputsEeprom)
{
    // The scaler's apply passes the request on; the input side writes the EEPROM.
    c331_manage* scaler = c331_manage::p_c331_manage;
    scaler->c331_fd = scaler->drv->initialize();
    scaler->load_system_param();
    scaler->define_param();
    velinsource* inputs = velinsource::pInstance();
    inputs->open_bus();
    inputs->thread_state = velinsource::kStateRun;   // past the start-up, no input polled
    inputs->clock_done[0] = 1;
    inputs->clock_state[0] = 2;
    inputs->check_mask = 0;
    set_edid(2, 1920, 1080, 60);
    mark_saved();

    EDIDset* e = open_edid();
    kel_test::pressKeys({PanelKey::Right, PanelKey::Ok});   // HDMI2
    ASSERT_EQ(e->source_id, 2);
    EXPECT_EQ(kel_test::typeOnKeypad("1600"), "W");
    kel_test::pressKey(PanelKey::Right);
    EXPECT_EQ(kel_test::typeOnKeypad("900"), "H");
    kel_test::pressKeys({PanelKey::Left, PanelKey::Left, PanelKey::Ok});   // Save
    ASSERT_EQ(apply_flag(), 1);
    delete e;

    scaler->c331managerdeal();
    EXPECT_EQ((std::vector<int64_t>{apply_flag(), inputs->edid_request[2]}), (std::vector<int64_t>{0, 1}));
    inputs->checksource_pass();
    ASSERT_EQ(inputs->edid_done[2], 1);
    const auto stored = sim::InputSideModel::eeprom(2).contents();
    const uint8_t* dtd = stored.data() + 54;   // the first timing the input announces
    EXPECT_EQ((std::vector<int>{dtd[2] | (dtd[4] >> 4) << 8, dtd[5] | (dtd[7] >> 4) << 8}), (std::vector<int>{1600, 900}));
    delete velinsource::p_velin_source;
    velinsource::p_velin_source = nullptr;
}
