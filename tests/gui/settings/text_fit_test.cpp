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
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "upgrade/firmwareupdate.h"

#include <QApplication>
#include <QLabel>
#include <functional>
#include <map>
#include <mutex>
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

class TextFit : public kel_test::GuiFixture {
protected:
    void TearDown() override
    {
        GuiFixture::TearDown();
        delete fpga_manage::p_fpga_manage;   // the version row's
    }
};

using P = KelRamPara;

// Widths are compared in the panel's font at a large size: drawn unhinted, a text's width
// grows in proportion to the size, so the widest there is the widest at any size.
int advance(const QString& text)
{
    QFont f = QApplication::font();
    f.setPixelSize(100);
    f.setHintingPreference(QFont::PreferNoHinting);
    return QFontMetrics(f).horizontalAdvance(text);
}

// The widest text of any value low..high (kept: the ranges repeat).
QString widest(int low, int high, const std::function<QString(int)>& text)
{
    static std::map<std::tuple<int, int, QString, QString>, QString> known;
    QString& best = known[{low, high, text(low), text(high)}];
    if (best.isEmpty())
        for (int v = low; v <= high; ++v)
            best = advance(text(v)) > advance(best) ? text(v) : best;
    return best;
}
QString number(int v) { return QString::number(v); }
QString widestU16() { return widest(0, 65535, number); }
QString widestAddress()
{
    const QString octet = widest(0, 255, number);
    return QStringList{octet, octet, octet, octet}.join('.');
}
// A serial of 24 characters (the length that gives the cloud device id), each the widest of
// the digits and capitals.
QString widestSerial()
{
    QChar c = '0';
    for (const QChar k : QStringLiteral("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"))
        c = advance(k) > advance(c) ? k : c;
    return QString(24, c);
}

void put16(int at, const QString& value) { P::put16(KelRamPara::pInstance()->ram + at, uint16_t(value.toInt())); }

// A label that shows a value the device holds: the widest values put where the device keeps
// them, the texts the label must then show whole (a name of free length may end in an
// ellipsis), and the label on a screen made afterwards.
struct ValueLabel {
    const char* what;
    std::function<QStringList()> widestValues;
    std::function<QLabel*()> label;
    bool elided = false;
};

template <typename Screen>
QLabel* on(const char* name)
{
    QWidget* s = new Screen(nullptr);
    s->setAttribute(Qt::WA_DeleteOnClose);
    s->show();
    return s->findChild<QLabel*>(name);
}

std::vector<ValueLabel> valueLabels(kel_test::TestRoot& root)
{
    const auto address = [] {
        std::lock_guard<std::mutex> lock(g_str_globals_mutex);
        return QStringList{g_str_ip = widestAddress()};
    };
    const auto words = [](std::vector<int> at, const QString& value) {
        return [at, value] {
            for (int a : at)
                put16(a, value);
            return QStringList{value};
        };
    };
    // Each input's width, height and rate words from `at` on, the widest up to sizes and rates.
    const auto formats = [](int at, int sizes, int rates) {
        return [=] {
            const QString size = widest(0, sizes, number), rate = widest(0, rates, number);
            for (int port = 0; port < 4; ++port)
                for (int f = 0; f < 3; ++f)
                    put16(at + 6 * port + 2 * f, f < 2 ? size : rate);
            return QStringList{QStringLiteral("%1x%1@%2Hz").arg(size, rate)};
        };
    };
    // The receivers measure sizes below 8192 and rates up to 60 (a faster input counts as 60).
    const auto inputFormats = formats(P::kInputStatus, 8191, 60);
    const auto alias = [&root](const char* group, std::function<void()> chosen) {   // a name of any length: 80 of the widest letter
        return [&root, group, chosen] {
            chosen();
            root.writeFile("/data/configs/alias.json", std::string(R"({"namelist":{")") + group + R"(":[{"id":0,"valid":"on","name":")" + std::string(80, 'W') + "\"}]}}");
            return QStringList{QString(80, 'W')};
        };
    };
    const QStringList inputs{"DVI", "HDMI1", "HDMI2", "HDMI3"};
    const QString crop = widest(0, 4 * P::kCropCount - 1, [&inputs](int v) { return inputs[v / P::kCropCount] + "_Crop" + number(v % P::kCropCount + 1); });
    const int cropWord = 0x8000 | ((crop.section("Crop", 1).toInt() - 1) << 8) | int(inputs.indexOf(crop.section('_', 0, 0)));
    return {
        {"home: address", address, [] { return on<LockWindow>("label_IPaddr"); }},
        {"main menu: address", address, [] { g_mainwindow->ip_changed(); return g_mainwindow->findChild<QLabel*>("label_IPaddr"); }},
        {"home: LED size", words({P::kLedWidth, P::kLedHeight}, widestU16()), [] { return on<LockWindow>("label_input"); }},
        {"output menu: LED size", words({P::kLedWidth, P::kLedHeight}, widestU16()), [] { return on<OutputSet>("label_info"); }},
        {"home: brightness", words({P::kBrightness}, widest(0, 100, number)), [] { return on<LockWindow>("label_bright"); }},
        {"home: contrast", words({P::kBrightness + 2}, widest(0, 100, number)), [] { return on<LockWindow>("label_contrast"); }},
        {"home: window 2's crop", [words, crop, cropWord] {   // record 0 holds it
             words({P::kCropRecords}, number(cropWord))(), words({P::kLayers + P::kLayerSize + P::kLayerSource}, number(0x8000))();
             return words({P::kLayers + P::kLayerSize + P::kLayerFlags}, "1")(), QStringList{crop};
         }, [] { return on<LockWindow>("image_name1"); }},
        {"home: window 1's input format", inputFormats, [] { return on<LockWindow>("image_state0"); }},
        {"home: an input's alias", alias("source", [] { put16(P::kLayers + P::kLayerSource, "0"); }), [] { return on<LockWindow>("image_name0"); }, true},
        {"user mode: its alias", alias("usermode", [] { g_mode_select = 0; }), [] { return on<CustomMode>("label_name"); }, true},
        {"device state: serial", [] {
             std::lock_guard<std::mutex> lock(g_str_globals_mutex);
             return QStringList{g_str_barcode = widestSerial()};
         }, [] { return on<MachineState>("label_2"); }},
        {"device state: FPGA version", [] {   // registers 28-31: the version's last part, day, month, year
             fpga_manage::pInstance();
             const QString byte = widest(0, 255, [](int v) { return QString::asprintf("%02x", v); });
             const QString year = widest(0, 255, [](int v) { return QString::asprintf("%x", 0x2000 + v); });
             for (int reg = 28; reg < 32; ++reg)
                 fpga_manage::MCU_REG_func[0][reg] = uint8_t(reg == 31 ? year.toInt(nullptr, 16) - 0x2000 : byte.toInt(nullptr, 16));
             return QStringList{QStringLiteral("V11.00.%1 %2-%1-%1").arg(byte, year)};
         }, [] { return on<MachineState>("label_FPGA1"); }},
        {"crop screen: input format", inputFormats, [] { return on<InputCut>("card_format"); }},
        // What an EDID's timing can describe: sizes below 4096, rates below 1000.
        {"EDID screen: timing", formats(P::kEdid, 4095, 999), [] { return on<EDIDset>("card_format"); }},
    };
}

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

// Every label that shows a value the device holds, drawn with the widest value that value
// can take, in every language: the value whole (a name of free length elided), legible and
// inside its label.
TEST_F(TextFit, EveryValueLabelShowsTheWidestValueWholeInEveryLanguage)
{
    mainWindow();
    g_lcd_lang_valid = 0x1F;
    for (int lang = 0; lang < 5; ++lang) {
        g_language = uint8_t(lang);
        para->ram[P::kLanguage] = uint8_t(lang);
        g_mainwindow->language_changed();
        for (const ValueLabel& row : valueLabels(root)) {
            const QStringList values = row.widestValues();
            QLabel* label = row.label();
            ASSERT_NE(label, nullptr) << row.what;
            QString shown = label->text();
            shown.remove('\n');
            const bool cut = shown.endsWith(QChar(0x2026)) || shown.endsWith(QLatin1String("..."));
            for (const QString& v : values)
                EXPECT_TRUE(row.elided ? cut || shown.contains(v) : shown.contains(v))
                    << row.what << " in language " << lang << ": \"" << shown.toStdString() << "\" for " << v.toStdString();
            EXPECT_TRUE(kel_test::labelTextFits(label)) << row.what << " in language " << lang;
            kel_test::grab(label->window(), std::string("value-") + row.what + "-" + std::to_string(lang));
            if (label->window() != g_mainwindow)
                label->window()->close();
            kel_test::settle();
        }
    }
    g_language = 1;
    g_mainwindow->language_changed();
}
