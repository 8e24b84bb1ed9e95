// The LED size screen and the smart set-up dialog's frame, parameter curing and mapping
// switch: entry limits, Apply's effects on the block and the FPGA hand-shake, the function
// list and its keys, and the two jobs against simulated receiving cards.

#include "board/sim/Sim.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "gui/QRoundProgressBar.h"
#include "gui/textfit.h"
#include "gui/led/ledset.h"
#include "gui/led/smartmapping.h"
#include "gui/mainwindow.h"
#include "gui/numberkeyboard.h"
#include "gui/option.h"
#include "gui/outputset.h"
#include "scaler/c331_manage.h"
#include "tests/support/CardsFixture.h"
#include "tests/support/Screens.h"
#include "ui_ledset.h"
#include "ui_numberkeyboard.h"
#include "ui_smartmapping.h"

#include <cstring>
#include <thread>

using kel_test::PanelKey;
using P = KelRamPara;
using sim::ReceivingCardModel;

namespace {

const char kOrange[] = "rgb(255,171,84)";

class LedScreens : public kel_test::CardsFixture {
protected:
    void SetUp() override
    {
        CardsFixture::SetUp();
        mainWindow();
        P::put16(para->ram + P::kKeyLock, 0);
        P::put16(para->ram + P::kLedWidth, 1920);
        P::put16(para->ram + P::kLedHeight, 1080);
        std::memcpy(para->ram_backup, para->ram, sizeof para->ram);
        g_set_led_para = 0;
        g_set_led_setup = 0;
        g_send_para.end();
    }

    ledset* openLedset() { return kel_test::openScreen(g_ledset, 13); }
    SmartMapping* openSmart() { return kel_test::openScreen(g_smartmapping, 24); }
    // An FPGA manager (no thread) whose FPGA 0 is up, with cards on ports 0 and 3.
    void fpgaWithCards()
    {
        fpgaUp();
        cards(0, 2);
        cards(3, 2);
    }
    // Runs the posted job of the FPGA manager to its end, with its receive path; the ring
    // takes the progress on the GUI thread.
    void runJob() { CardsFixture::runJob(5000, 1, 50); }
};

} // namespace

// --- LED size screen -------------------------------------------------------------

TEST_F(LedScreens, ApplyStoresTheSizeStartsTheHandShakeAndFreesTheScalerForTheToast)
{
    fpgaWithCards();
    for (int w = 0; w < 6; ++w)
        P::put16(para->ram + P::kLayers + P::kLayerSize * w, 1);
    ledset* s = openLedset();
    s->ui->lineEdit_ledw->setText("0100");
    s->ui->lineEdit_ledh->setText("abc");                    // does not convert: stored as the minimum
    bool freeDuringToast = false;
    int flagDuringToast = -1;
    kel_test::whenModal([&](QWidget*) {
        std::unique_lock<std::mutex> probe = KelRamPara::lock_block(std::try_to_lock);
        freeDuringToast = probe.owns_lock();
        flagDuringToast = applyFlag();
        kel_test::tick(300);
    });
    kel_test::pressKeys({PanelKey::Right, PanelKey::Right});
    EXPECT_TRUE(s->ui->Button_apply->styleSheet().contains(kOrange));
    kel_test::pressKey(PanelKey::Ok, 1, s);
    EXPECT_EQ((std::vector<int>{freeDuringToast, flagDuringToast, g_set_led_para}), (std::vector<int>{1, 1, 1}));
    auto words = [&](std::vector<int> at) {
        for (int& a : at)
            a = para->ram16(a);
        return at;
    };
    // Size and panel mode; both outputs' x, width and height; window 0 fills the new area and
    // stays open; the others' output words.
    EXPECT_EQ(words({P::kLedWidth, P::kLedHeight, P::kPanelMode, 1408, 1412, 1414, 1416, 1420, 1422, 2286, 2288, P::kLayers,
                     2298, 2324, 2350, 2376, 2402}),
              (std::vector<int>{100, 64, 0, 0, 100, 64, 0, 100, 64, 100, 64, 1, 0, 0, 0, 0, 0}));

    // The same size as saved: outputs and splice mode again, no windows, no hand-shake, no toast.
    std::memcpy(para->ram_backup, para->ram, sizeof para->ram);
    P::put16(para->ram + P::kPanelMode, 3);
    P::put16(para->ram + 2298, 1);
    g_set_led_para = 0;
    setApplyFlag(0);
    s->on_Button_apply1_clicked();
    EXPECT_EQ((std::vector<int>{para->ram16(P::kPanelMode), para->ram16(2298), g_set_led_para, applyFlag()}),
              (std::vector<int>{0, 1, 0, 1}));

    // A new height alone while FPGA 0 is not up: windows reset, no hand-shake.
    fpga_manage::MCU_REG_func[0][80] = 2;
    s->ui->lineEdit_ledh->setText("128");
    kel_test::whenModal([](QWidget*) { kel_test::tick(300); });
    s->on_Button_apply1_clicked();
    EXPECT_EQ((std::vector<int>{para->ram16(P::kLedHeight), para->ram16(2298), g_set_led_para}), (std::vector<int>{128, 0, 0}));
}

TEST_F(LedScreens, LedsetFocusBackAndLanguages)
{
    ledset* s = openLedset();
    for (int i = 0; i < 2; ++i) {   // Left wraps to Cancel, Right back to the width field
        kel_test::pressKey(i ? PanelKey::Right : PanelKey::Left, 1 - i, s);
        EXPECT_EQ((std::vector<int>{s->ui_select, s->ui->Button_cancle->styleSheet().contains(kOrange), s->ui->lineEdit_ledw->styleSheet().contains(kOrange)}),
                  (std::vector<int>{i ? 0 : 3, !i, i})) << i;
    }
    // A notification keeps what was typed while the stored size is the same (a changed size
    // reloads the fields: the panel check).
    s->ui->lineEdit_ledw->setText("777");
    s->syncUpdate();
    EXPECT_EQ(s->ui->lineEdit_ledw->text(), "777");

    for (int lang = 0; lang < 5; ++lang) {
        g_language = uint8_t(lang);
        s->language_changed();
        kel_test::expectTextsFit(s, "ledset language " + std::to_string(lang));
        Ui_ledset* u = s->ui;   // fonts 13, 9, 11 and 8 pt: 18, 13, 15 and 11 px
        kel_test::expectPlaced({{u->label_ledset, 50, 10, 220, 18, 18}, {u->frame, 10, 42, 300, 140}, {u->label_note_led_w, 10, 10, 260, 12, 13},
            {u->label_ledw, 5, 51, 50, 12, 13}, {u->lineEdit_ledw, 58, 47, 70, 24}, {u->label_ledh, 143, 51, 50, 12, 13},
            {u->lineEdit_ledh, 196, 47, 70, 24}, {u->label_warning, 10, 116, 16, 16}, {u->label_tip, 28, 118, 260, 12, 11},
            {u->Button_apply, 60, 200, 89, 25, 15}, {u->Button_cancle, 210, 200, 89, 25, 15}}, "ledset " + std::to_string(lang));
        kel_test::grab(s, "ledset-" + std::to_string(lang));
        EXPECT_TRUE(lang != 1 || s->ui->label_tip->text() == "LED max:8188(w),8188(h)") << s->ui->label_tip->text().toStdString();
    }
    g_language = 1;
    kel_test::pressKey(PanelKey::Back, 0, s);
    EXPECT_TRUE(g_ledset == nullptr && g_page_focus == 6);
}

// --- smart set-up dialog ----------------------------------------------------------

TEST_F(LedScreens, FunctionListStepsOverLoadScanWithoutFiles)
{
    SmartMapping* s = openSmart();
    EXPECT_EQ(std::make_pair(int(s->scan_file_avail), s->ui->Button_loadscan->styleSheet().contains("gray")), std::make_pair(0, true));
    std::vector<int> seen;
    for (int i = 0; i < 3; ++i) {
        kel_test::pressKey(PanelKey::Right, i & 1, s);
        seen.push_back(s->menu_index);
    }
    EXPECT_EQ(seen, (std::vector<int>{2, 3, 0}));
    kel_test::pressKey(PanelKey::Left, 0, s);
    EXPECT_EQ((std::vector<int>{s->menu_index, s->ui->stackedWidget->currentIndex()}), (std::vector<int>{3, SmartMapping::kPageMapping}));
    kel_test::pressKeys({PanelKey::Left, PanelKey::Left});
    EXPECT_EQ(std::make_pair(int(s->menu_index), s->ui->Button_shortcut->styleSheet().contains(kOrange)), std::make_pair(0, true));
    kel_test::pressKey(PanelKey::Back, 1, s);
    EXPECT_TRUE(g_smartmapping == nullptr && g_page_focus == 5);
    kel_test::settle();

    // A stored scan-parameter file (any name) makes Load scan reachable; 256 of them count
    // as many as the byte holds, not as none.
    for (int i = 0; i < 256; ++i)
        root.writeFile("/data/smartmapping/" + std::to_string(i) + ".kxfile", "x");
    s = openSmart();
    EXPECT_EQ(s->scan_file_avail, 255);
    kel_test::pressKey(PanelKey::Right, 0, s);
    EXPECT_EQ((std::vector<int>{s->menu_index, s->ui->stackedWidget->currentIndex()}), (std::vector<int>{1, SmartMapping::kPageLoadScan}));
    EXPECT_TRUE(s->ui->Button_loadscan->styleSheet().contains(kOrange));   // shown, not entered
    // Closed by the PC from another thread: queued to the GUI thread.
    std::thread([] { SmartMapping::pc_close(); }).join();
    kel_test::settle();
    EXPECT_EQ(g_smartmapping, nullptr);
}

TEST_F(LedScreens, CuringAndMappingSwitchAgainstTheCards)
{
    fpgaWithCards();
    SmartMapping* s = openSmart();
    // Parameter curing: to the third entry, OK enters it, OK starts job 3.
    kel_test::pressKeys({PanelKey::Right, PanelKey::Ok});
    EXPECT_EQ(std::make_pair(int(s->menu_entered), s->ui->Button_confirm->styleSheet().contains(kOrange)), std::make_pair(1, true));
    // A job still pending in the manager (no ring shown): OK starts nothing.
    g_send_para.post(1);
    kel_test::pressKey(PanelKey::Ok, 0, s);
    EXPECT_TRUE(g_qround_bar == nullptr && g_send_para.job == 1);
    g_send_para.end();
    kel_test::pressKey(PanelKey::Ok, 0, s);
    ASSERT_TRUE(g_qround_bar != nullptr && g_send_para.job == 3) << int(g_send_para.job);
    // While the ring is shown Back only ends the job: the page stays, and the job ends before
    // any card was told.
    kel_test::pressKey(PanelKey::Back, 0, s);
    EXPECT_EQ(s->menu_entered, 1);
    runJob();
    EXPECT_EQ(g_qround_bar, nullptr);
    for (int port : {0, 3})
        EXPECT_EQ(ReceivingCardModel::card(0, port, 1).saves, 0u);

    // Mapping: the entry shows the state read from the FPGA; two toggles give on, then off,
    // each once the cards have switched; a third whose cards are silent, or that finds no
    // card, says it failed and leaves the register and the icon as they were.
    kel_test::pressKeys({PanelKey::Back, PanelKey::Right});
    EXPECT_EQ(std::make_pair(int(s->menu_index), s->ui->Button_mapping_state->property("iconPath").toString()), std::make_pair(3, QString("button_off")));
    kel_test::pressKey(PanelKey::Ok, 0, s);
    const uint8_t values[4] = {9, 0, 9, 9};
    const auto shown = [s] { return std::make_pair(sim::FpgaModel::reg(0, 0) & 0x80, s->ui->Button_mapping_state->property("iconPath").toString()); };
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        for (int port : {0, 3})
            ReceivingCardModel::setFault(0, port, round >= 2 ? ReceivingCardModel::Fault::Silent : ReceivingCardModel::Fault::None);
        if (round == 3)
            cards(0, 0), cards(3, 0);
        const auto before = shown();
        const auto toast = round >= 2 ? kel_test::nextToast("smartmapping-en-mapping-failed") : nullptr;
        kel_test::pressKey(PanelKey::Ok, 1, s);
        EXPECT_EQ((std::vector<int>{int(g_send_para.mapping), g_send_para.job}), (std::vector<int>{values[round], 4}));
        EXPECT_EQ(shown(), before);   // nothing switched yet
        // A toggle while the job runs writes nothing.
        const uint8_t reg0 = sim::FpgaModel::reg(0, 0);
        s->on_Button_mapping_state_clicked();
        EXPECT_EQ(sim::FpgaModel::reg(0, 0), reg0);
        runJob();
        kel_test::settle();
        for (int port : {0, 3})
            EXPECT_TRUE(round >= 2 || ReceivingCardModel::card(0, port, 1).mapping == values[round]) << port;
        EXPECT_EQ(shown(), round >= 2 ? before : std::make_pair(values[round] ? 0x80 : 0, QString(values[round] ? "button_on" : "button_off")));
        if (toast) {
            EXPECT_EQ(*toast, "Mapping switch\nfailed!");
        }
    }
    kel_test::pressKey(PanelKey::Back, 0, s);   // leaves the page for the function list
    EXPECT_TRUE(s->menu_entered == 0 && g_smartmapping == s);
}

// Its entry in the settings menu is disabled; the menu's own action still opens it. (The
// LED size screen is opened from the output menu in the settings screens' entry table.)
TEST_F(LedScreens, TheSettingsMenuOpensTheSmartSetUp)
{
    kel_test::openScreen(g_option, 5);
    kel_test::whenModal([](QWidget* screen) {
        EXPECT_TRUE(screen == g_smartmapping && g_page_focus == 24);
        kel_test::pressKey(PanelKey::Back);
    });
    g_option->on_smart_mapping_clicked();
    EXPECT_TRUE(g_smartmapping == nullptr && g_page_focus == 5);
    kel_test::settle();
}
