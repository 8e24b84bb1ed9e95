// Every text of every built screen (the LED size, layout and input selection screens in
// their own tests) fits its label or button in all five languages at the LCD's density and
// in a legible size. Grabs of the screens in every language are kept for review.

#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/mainwindow.h"
#include "gui/numberkeyboard.h"
#include "gui/textfit.h"
#include "tests/support/GuiFixture.h"
#include "tests/support/Grab.h"
#include "tests/support/TextFit.h"
#include "upgrade/firmwareupdate.h"

#include <QApplication>
#include <QLabel>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Screen {
    const char* name;
    std::function<QWidget*()> make;   // a new screen, or the lasting one (main window, keypad)
    bool lasting = false;
};

std::vector<Screen> screens()
{
    return {
        {"mainwindow", [] { g_mainwindow->language_changed(); return static_cast<QWidget*>(g_mainwindow); }, true},
        // The keypad with the language's longest title the screens give it.
        {"numberkeyboard", [] { static const char* const title[5] = {"箱体宽度", "Horizontal", "Пароль", "Mật khẩu", "箱體高度"};
                                g_numberkeyboard->label_show(QString::fromUtf8(title[g_language]), "1920"); return static_cast<QWidget*>(g_numberkeyboard); }, true},
        {"lockwindow", [] { return new LockWindow(nullptr); }},
        {"machinestate", [] { return new MachineState(nullptr); }},
        {"option", [] { return new Option(nullptr); }},
        {"outputset", [] { return new OutputSet(nullptr); }},
        {"linkoption", [] { return new LinkOption(nullptr); }},
        {"smartmapping", [] { return new SmartMapping(nullptr); }},
        {"rcv_recovery", [] { return new rcv_recovery(nullptr); }},
        {"imagequality", [] { return new ImageQuality(nullptr); }},
        {"advancedoption", [] { return new AdvancedOption(nullptr); }},
        {"netset", [] { return new netset(nullptr); }},
        {"lcdshow", [] { return new lcdshow(nullptr); }},
        {"test_chart", [] { return new test_chart(nullptr); }},
        {"othersetup", [] { return new othersetup(nullptr); }},
        {"factory", [] { return new factory(nullptr); }},
        {"quality", [] { return new quality(nullptr); }},
        {"temperature", [] { return new temperature(nullptr); }},
        {"linkcom", [] { return new linkcom(nullptr); }},
        {"linkwlan", [] { return new linkwlan(nullptr); }},
        {"factoryage", [] { return new factoryage(nullptr); }},
        {"firmware_usbgrade", [] { return new firmware_usbgrade(nullptr); }},
        {"firmwareupdate", [] { return new FirmwareUpdate(nullptr); }},
        {"custommode", [] { return new CustomMode(nullptr); }},
        {"inputcut", [] { return new InputCut(nullptr); }},
        {"edidset", [] { return new EDIDset(nullptr); }},
    };
}

class TextFit : public kel_test::GuiFixture {};

} // namespace

TEST_F(TextFit, EveryTextOfEveryBuiltScreenFitsInEveryLanguage)
{
    mainWindow();
    const char* const tags[5] = {"zh", "en", "ru", "vn", "tn"};
    g_lcd_lang_valid = 0x1F;
    for (int lang = 0; lang < 5; ++lang) {
        g_language = uint8_t(lang);
        for (const Screen& s : screens()) {
            QWidget* screen = s.make();
            screen->show();
            // With the focus on each entry in turn: its frame takes room from the text.
            for (int step = 0; step < 6; ++step) {
                EXPECT_TRUE(kel_test::allTextsFit(screen)) << tags[lang] << " " << s.name << " focus step " << step;
                if (s.name != std::string("numberkeyboard"))
                    kel_test::pressKey(kel_test::PanelKey::Right, 0, screen);
            }
            if (s.name != std::string("numberkeyboard")) {
                EXPECT_EQ(screen->size(), QSize(320, 240)) << s.name;
            }
            kel_test::grab(screen, std::string("fit-") + s.name + "-" + tags[lang]);
            if (!s.lasting) {
                screen->hide();
                delete screen;
            }
        }
    }
    g_language = 1;
    g_mainwindow->language_changed();
}

// The panel draws its text unhinted (the program sets it up so, as the test programs do);
// the widths and line heights every fitted size was chosen by are those of the hinted text.
TEST_F(TextFit, UnhintedTextMeasuresAsHintedText)
{
    EXPECT_EQ(QApplication::font().hintingPreference(), QFont::PreferNoHinting);
    const char* const texts[] = {"LED屏:1920 x 1080", "输入源 HDMI1", "Input Source", "Размер LED:1920 x 1080",
                                 "Độ sáng màn hình", "亮度設置"};
    for (int px = 6; px <= 24; ++px) {
        QFont hinted = QApplication::font();
        hinted.setPixelSize(px);
        hinted.setHintingPreference(QFont::PreferDefaultHinting);
        QFont unhinted = hinted;
        unhinted.setHintingPreference(QFont::PreferNoHinting);
        const QFontMetrics h(hinted), u(unhinted);
        EXPECT_EQ(std::make_pair(u.height(), u.lineSpacing()), std::make_pair(h.height(), h.lineSpacing())) << px;
        for (const char* text : texts)
            EXPECT_EQ(u.horizontalAdvance(QString::fromUtf8(text)), h.horizontalAdvance(QString::fromUtf8(text)))
                << px << " " << text;
    }
}

TEST_F(TextFit, DeviceStateCaptionsAreDrawnPerLanguageAndSoftHyphensAreNotDrawn)
{
    // The side captions of the device-state screen: the English one is not the Chinese one.
    EXPECT_TRUE(QPixmap(":/png/en_output_state.png").toImage() != QPixmap(":/png/output_state.png").toImage() &&
                QPixmap(":/png/vn_input_state.png").toImage() != QPixmap(":/png/input_state.png").toImage());
    // "使用中" carries a soft hyphen in its literal; the label shows the three characters.
    g_lcd_lang_valid = 0x1F;
    g_language = 0;
    EXPECT_EQ(kel_text("使用中\u00AD", "Using", "Использовать", "sử dụng", "使用中\u00AD"), QString::fromUtf8("使用中"));
    g_language = 1;
    // A number that ends a line stays whole; words with no room for one letter go, not
    // leaving an ellipsis alone before it.
    QLabel label;
    for (int width = 10; width < 80; ++width) {
        label.setFixedSize(width, 14);
        kel_fit_text_px(&label, QStringLiteral("Routing 12"), 8, KelFit::LineBox);
        EXPECT_FALSE(label.text().startsWith(QChar(0x2026)) || !label.text().endsWith("12")) << width << " " << label.text().toStdString();
    }
}
