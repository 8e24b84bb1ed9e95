#include "board/sim/Sim.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/check_hiddev.h"
#include "gui/kel_keys.h"
#include "gui/kelcontrol.h"
#include "gui/mainwindow.h"
#include "gui/my_lineedit.h"
#include "gui/numberkeyboard.h"
#include "gui/sourceinfo.h"
#include "gui/tip.h"
#include "tests/support/GuiFixture.h"
#include "tests/support/Screens.h"

#include <QComboBox>
#include <gtest/gtest-spi.h>
#include <QCoreApplication>
#include <QDialog>
#include <QDirIterator>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <vector>

using kel_test::PanelKey;
using P = KelRamPara;

namespace {

// A screen with a numeric field, as the screens of the menus build it.
class FieldScreen : public QDialog {
    Q_OBJECT
public:
    explicit FieldScreen(const QString& name) : field(new My_lineEdit(this))
    {
        setObjectName(name);
        field->setText("1920");
        connect(field, SIGNAL(send_show(QString)), this, SLOT(show_numberkeyboard_ui(QString)));
        connect(g_numberkeyboard, SIGNAL(sendKeyBoardUIDataToLineEdit(QString)), this, SLOT(confirmString(QString)));
    }
    My_lineEdit* field;
    QStringList received;

public slots:
    void show_numberkeyboard_ui(QString)
    {
        g_lineedit = qobject_cast<QLineEdit*>(sender());
        g_numberkeyboard->label_show("W", g_lineedit->text());
        g_numberkeyboard->exec();
    }
    void confirmString(QString text)
    {
        received << text;
        if (g_lineedit)
            g_lineedit->setText(text);
    }
};

class Widgets : public kel_test::GuiFixture {
protected:
    void SetUp() override
    {
        GuiFixture::SetUp();
        mainWindow();   // builds the shared keypad and toast
        kb = g_numberkeyboard;
        QObject::connect(kb, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, [this](QString t) { sent << t; });
    }
    // Moves the keypad's focus to index with right keys.
    void focusTo(int index)
    {
        for (int keys = 0; keys < 20 && kb->ui_select != index; ++keys)
            kel_test::pressKey(PanelKey::Right, 0, kb);
        ASSERT_EQ(kb->ui_select, index) << "the focus never reached the key";
    }
    void typeKey(int index)
    {
        focusTo(index);
        kel_test::pressKey(PanelKey::Ok, 1, kb);
    }
    QString line() { return kb->findChild<QLineEdit*>("lineEdit")->text(); }
    QPushButton* key(const char* name) { return kb->findChild<QPushButton*>(name); }

    NumberKeyboard* kb = nullptr;
    QStringList sent;
};

} // namespace

// --- toast -----------------------------------------------------------------------------

TEST_F(Widgets, ToastShowsForThreeHundredTicks)
{
    int visibleAt299 = -1;
    kel_test::whenModal([&](QWidget* modal) {
        ASSERT_NE(g_tip->tip_frame(), nullptr);
        QLabel* image = g_tip->tip_frame()->findChild<QLabel*>("tip_image");
        ASSERT_NE(image, nullptr);
        // Its place and frame, the picture's place; keys go to the toast, not to the screen below it.
        EXPECT_TRUE(modal == g_tip && g_tip->geometry() == QRect(100, 60, 120, 120) && image->geometry() == QRect(20, 20, 80, 80) &&
                    !image->pixmap(Qt::ReturnByValue).isNull() && kel_test::currentScreen() == g_tip);
        EXPECT_EQ(g_tip->tip_frame()->styleSheet(), "background-color:rgb(136, 138, 133);");
        kel_test::grab(g_tip, "toast-check");
        kel_test::tick(299);
        visibleAt299 = g_tip->isVisible() && g_tip_flag == 1 && g_tip->tip_counter() == 299;
        kel_test::tick(1);
    });
    g_tip->tip_create(1);
    // Shown until tick 299, then gone, its flag and counter cleared.
    EXPECT_EQ((std::vector<int>{visibleAt299, g_tip->isVisible(), g_tip_flag, g_tip->tip_counter()}), (std::vector<int>{1, 0, 0, 0}));
}

TEST_F(Widgets, ToastReplacedWhileShowingKeepsTheRemainingTime)
{
    bool second_returned = false;
    kel_test::whenModal([&](QWidget*) {
        EXPECT_EQ(g_tip->geometry(), QRect(50, 60, 220, 120));
        kel_test::tick(100);
        g_tip->tip_create(4);   // returns at once: the toast is already running
        second_returned = true;
        QLabel* text = g_tip->tip_frame()->findChild<QLabel*>("tip_text");
        ASSERT_NE(text, nullptr);
        EXPECT_EQ((std::vector<int>{text->text() == "USB drive is unplugged.", text->font().pixelSize()}), (std::vector<int>{1, 15}));
        kel_test::grab(g_tip, "toast-usb-removed");
        kel_test::tick(199);
        const bool stillShown = g_tip->isVisible();
        // An unknown type removes the content but the toast stays until its time is up.
        g_tip->tip_create(2);
        EXPECT_TRUE(stillShown && g_tip->tip_frame() == nullptr && g_tip->isVisible());
        kel_test::tick(1);
    });
    g_tip->tip_create(3);
    EXPECT_EQ((std::vector<int>{second_returned, g_tip->isVisible(), g_tip_flag}), (std::vector<int>{1, 0, 0}));

    // Types outside 1, 3, 4, 5 show nothing and return at once.
    for (int type : {0, 2, 6, -1}) {
        g_tip->tip_create(type);
        EXPECT_EQ((std::vector<int>{g_tip->isVisible(), g_tip_flag}), (std::vector<int>{0, 0})) << type;
    }
}

// A screen its test left open fails that test once nothing happened in it for the guard's
// limit, named, and is closed: the test ends instead of waiting for CI's limit.
TEST_F(Widgets, AScreenLeftOpenFailsItsTestNamingItAndIsClosed)
{
    QDialog screen;
    screen.setObjectName("left_open");
    kel_test::setModalLimit(300);
    EXPECT_NONFATAL_FAILURE(screen.exec(), "a modal screen was left open: QDialog \"left_open\"");
    kel_test::setModalLimit(0);
    EXPECT_FALSE(screen.isVisible());
}

TEST_F(Widgets, ToastTextsFollowTheLanguageRule)
{
    const struct {
        int language, valid, type;
        const char* text;
    } cases[] = {
        {2, 0x1F & ~0x04, 3, "USB driver is connected,please wait..."},
        {2, 0x1F, 3, "Драйвер USB подключен,\nпожалуйста,подождите..."},
        {2, 0x1F, 4, "USB-накопитель отключен \nот сети."},
        {0, 0x1F, 5, "正在读取中，请稍候…"},
        {4, 0x1F, 3, "U盤已接入\n請稍候…"},
        {3, 0x1F, 4, "USB Thì không kết nối."},
        {1, 0x1F, 5, "Reading the data,pls wait"},
        {1, 0x1F, 1, ""},
    };
    for (const auto& c : cases) {
        g_language = uint8_t(c.language);
        g_lcd_lang_valid = c.valid;
        EXPECT_EQ(TIP::tip_text(c.type), QString::fromUtf8(c.text)) << c.language << " " << c.type;
    }

    for (int language = 0; language < 5; ++language)   // each fits its box, grabbed
        for (int type = 3; type <= 5; ++type) {
            g_language = uint8_t(language);
            const auto toast = kel_test::nextToast("toast-usb-" + std::to_string(type) + "-" + std::to_string(language));
            g_tip->tip_create(type);
        }
    g_language = 1;
}

// --- number keyboard ---------------------------------------------------------------------

TEST_F(Widgets, NumberKeyboardEntry)
{
    // Keys by index: 0-8 the digits 1-9, 9 the 0, 10 C, 11 X, 13 OK.
    const struct {
        const char* old;
        std::vector<int> keys;
        const char* line;
    } cases[] = {
        {"1920", {13}, "1920"},          // OK at once sends the old value
        {"1920", {2, 9}, "30"},          // typing replaces the old value
        {"1920", {8, 9, 9}, "900"},      // a 0 is appended like any digit
        {"1920", {11, 4}, "1925"},       // X edits the old value, digits append to the rest
        {"1920", {10, 13}, "0"},         // C then OK sends "0"
        {"", {11, 13}, ""},              // X on an empty line leaves it empty
    };
    for (const auto& c : cases) {
        kb->label_show("W", c.old);
        sent.clear();
        for (int k : c.keys)
            typeKey(k);
        EXPECT_EQ(std::make_pair(line(), sent), std::make_pair(QString(c.line), c.keys.back() == 13 ? QStringList{c.line} : QStringList()))
            << c.old << " " << c.keys.size();
    }

    // Back and Cancel close without sending.
    const int before = sent.size();
    kb->show();
    kel_test::pressKey(PanelKey::Back, 0, kb);
    const bool backClosed = !kb->isVisible();
    kb->show();
    typeKey(12);
    EXPECT_TRUE(backClosed && !kb->isVisible() && sent.size() == before);

    // A touch on a digit key does nothing.
    kb->label_show("W", "77");
    key("Button5")->click();
    // Letters typed into the edit line are refused by its validator.
    QString letters = "7a";
    int pos = 0;
    EXPECT_EQ(std::make_pair(line(), kb->findChild<QLineEdit*>("lineEdit")->validator()->validate(letters, pos)), std::make_pair(QString("77"), QValidator::Invalid));
}

TEST_F(Widgets, NumberKeyboardFocusFrame)
{
    // After construction index 0 is selected but unframed; the first right frames "2".
    EXPECT_EQ(std::make_tuple(int(kb->ui_select), key("Button1")->styleSheet()), std::make_tuple(0, QString("background-color: rgb(255, 255, 255);")));
    kel_test::pressKey(PanelKey::Right, 0, kb);
    EXPECT_EQ(std::make_tuple(int(kb->ui_select), key("Button2")->styleSheet()),
              std::make_tuple(1, QString("background-color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);")));
    kel_test::pressKey(PanelKey::Left, 1, kb);
    kel_test::pressKey(PanelKey::Left, 0, kb);
    EXPECT_EQ(std::make_tuple(int(kb->ui_select), key("Button_ok")->styleSheet(), key("Button1")->styleSheet()),
              std::make_tuple(13, QString("background-color: rgb(71, 119, 255);border:1px solid rgb(255,171,84);"),
                              QString("background-color: rgb(255, 255, 255);border:1px ;")));
    kel_test::pressKey(PanelKey::Right, 1, kb);
    EXPECT_EQ(std::make_tuple(int(kb->ui_select), key("Button_ok")->styleSheet()), std::make_tuple(0, QString("background-color: rgb(71, 119, 255);border:1px ;")));

    // Keypad letter keys and the mode key do nothing here.
    kb->label_show("W", "5");
    for (int key : {66, 73, 78, 77, 0x01000063}) {
        kel_test::sendKey(key, kb);
        EXPECT_EQ(std::make_tuple(int(kb->ui_select), line()), std::make_tuple(0, QString("5"))) << key;
    }

    // Texts: the language's own while its bit is set, else "Cancel" / "OK".
    g_language = 3;
    for (const auto& [valid, cancel, ok] : {std::tuple{0x1F, "Hủy bỏ", "Đồng ý"}, {0x1F & ~0x08, "Cancel", "OK"}}) {
        g_lcd_lang_valid = valid;
        kb->language_changed();
        EXPECT_EQ((QStringList{key("Button_close")->text(), key("Button_ok")->text()}), (QStringList{QString::fromUtf8(cancel), QString::fromUtf8(ok)}));
    }
    g_lcd_lang_valid = 0x1F;
    g_language = 1;
}

TEST_F(Widgets, NumberKeyboardHandsItsTextOnlyToTheScreenThatOpenedIt)
{
    FieldScreen parent("parent");
    FieldScreen child("child");
    parent.field->setText("10");

    kel_test::whenModal([&](QWidget* modal) {
        ASSERT_EQ(modal, &child);
        // A touch on the child's field opens the keypad through the hand-shake.
        kel_test::whenModal([&](QWidget* keypad) {
            ASSERT_EQ(keypad, g_numberkeyboard);
            EXPECT_EQ(kb->findChild<QLabel*>("label")->text(), "W");
            EXPECT_EQ(line(), "1920");
            typeKey(0);
            typeKey(1);
            typeKey(13);
        });
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(child.field, &press);
        child.accept();
    });
    child.exec();

    EXPECT_EQ((QStringList{child.received.join(","), child.field->text(), parent.received.join(","), parent.field->text()}),
              (QStringList{"12", "12", "", "10"}));
    // Not broadcast: other listeners of the signal heard nothing.
    EXPECT_TRUE(sent.isEmpty());
}

// --- input names and icons ---------------------------------------------------------------

TEST_F(Widgets, SourceNamesPositionsTemplatesAndIcons)
{
    QStringList byId, bySeq;
    for (unsigned char i = 0; i < 4; ++i) {
        byId << sourceinfo::get_source_name_by_sourceid(i);
        bySeq << sourceinfo::get_source_name_by_listseq(i);
        EXPECT_EQ(sourceinfo::get_listseq_by_source_id(sourceinfo::get_source_id_by_listseq(i)), i);
    }
    EXPECT_EQ(std::make_pair(byId, bySeq), std::make_pair(QStringList{"DVI", "HDMI1", "HDMI2", "HDMI3"}, QStringList{"HDMI1", "HDMI2", "HDMI3", "DVI"}));
    EXPECT_TRUE(sourceinfo::get_source_name_by_sourceid(4).isEmpty() && sourceinfo::get_source_name_by_listseq(200).isEmpty());
    EXPECT_EQ((std::vector<int>{sourceinfo::get_source_id_by_listseq(3), sourceinfo::get_source_id_by_listseq(9),
                                sourceinfo::get_listseq_by_source_id(4),
                                sourceinfo::get_listseq_by_source_id(0)}),
              (std::vector<int>{0, 0, 0, 3}));

    EXPECT_EQ((QStringList{sourceinfo::get_source_specialstyle0_by_sourceid(3), sourceinfo::get_source_specialstyle0_by_sourceid(1)}),
              (QStringList{"<font style = 'font-size:9px' color = #51BB28 >%1</font>", "<font style = 'font-size:9px' color = #ffffff >%1</font>"}));
    EXPECT_EQ(sourceinfo::get_source_specialstyle1_by_sourceid(1, "Cam", 2),
              "<font style = 'font-size:9px' color = #ffffff >Cam</font>"
              "<font style = 'font-size:9px' color = #4777ff >(</font>"
              "<font style = 'font-size:9px' color = #4777ff >2</font>"
              "<font style = 'font-size:9px' color = #4777ff >)</font>");
    EXPECT_TRUE(sourceinfo::get_source_specialstyle1_by_sourceid(3, "HDMI3", 0).startsWith("<font style = 'font-size:9px' color = #12BB32 >HDMI3</font>") &&
                sourceinfo::get_source_specialstyle1_by_sourceid(4, "X", 1).isEmpty());

    // HDMI1 and HDMI2 share icons; HDMI3's offline icon is its plain icon.
    EXPECT_EQ((QStringList{sourceinfo::source_icon(1), sourceinfo::source_icon_online(3, 0), sourceinfo::source_icon_online(0, 1)}),
              (QStringList{sourceinfo::source_icon(2), sourceinfo::source_icon(3), ":/png/dvilv.png"}));
    QLabel label;
    sourceinfo::set_sourceonline_pixmap(&label, 1, 1);
    const QImage online = label.pixmap(Qt::ReturnByValue).toImage();
    // Unknown inputs leave the picture; input 0 is the DVI one.
    sourceinfo::set_source_pixmap(&label, 4);
    sourceinfo::set_sourceonline_pixmap(&label, 7, 0);
    const QImage kept = label.pixmap(Qt::ReturnByValue).toImage();
    sourceinfo::set_source_pixmap(&label, 0);
    EXPECT_EQ((std::vector<QImage>{online, kept, label.pixmap(Qt::ReturnByValue).toImage()}),
              (std::vector<QImage>{QPixmap(":/png/HDMI13_lv.png").toImage(), online, QPixmap(":/png/DVI.png").toImage()}));
    for (unsigned char id = 0; id < 4; ++id)
        EXPECT_FALSE(QPixmap(sourceinfo::source_icon_online(id, 0)).isNull() || QPixmap(sourceinfo::source_icon_online(id, 1)).isNull()) << int(id);
}

// The program looks for no plugins after start-up: each built-in picture must be a PNG
// that Qt's own reader takes without asking any image-format plugin.
TEST_F(Widgets, EveryBuiltInPictureIsAPngReadWithoutPlugins)
{
    kel_icons_init();
    int pictures = 0;
    for (QDirIterator it(QStringLiteral(":/png"), QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        QImageReader reader(path, "png");
        reader.setAutoDetectImageFormat(false);
        EXPECT_FALSE(reader.read().isNull()) << path.toStdString();
        ++pictures;
    }
    EXPECT_GE(pictures, 170);
}

// --- focus box -----------------------------------------------------------------------------

TEST_F(Widgets, FocusBoxFrames)
{
    QWidget owner;
    kelcontrol box(QRect(19, 0, 100, 22), QRect(0, 0, 20, 22), QRect(118, 0, 20, 22), &owner);
    const QString orangeLabel = "color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);background-color:rgb(0, 0, 0)";
    const QString blueLabel = "color: rgb(255, 255, 255);border:1px solid rgb(71,119,255);background-color:rgb(0, 0, 0)";
    EXPECT_EQ((QStringList{box.leftLabel->styleSheet(), box.rightLabel->styleSheet(), box.comboBox->objectName(), box.leftLabel->text(),
                           box.rightLabel->text()}),
              (QStringList{orangeLabel, orangeLabel, "kelcontrol", "<", ">"}));
    EXPECT_TRUE(box.comboBox->styleSheet().contains("border:1px solid rgb(255,171,84);") && box.comboBox->focusPolicy() == Qt::NoFocus &&
                box.comboBox->geometry() == QRect(19, 0, 100, 22));

    box.set_box_modify();
    EXPECT_EQ(std::make_pair(box.leftLabel->styleSheet(), box.comboBox->styleSheet().contains("border:1px solid rgb(71,119,255);")),
              std::make_pair(blueLabel, true));
    box.set_box_default();
    EXPECT_EQ(std::make_pair(box.rightLabel->styleSheet(), box.comboBox->styleSheet().contains("border:1px solid rgb(255,171,84);")),
              std::make_pair(orangeLabel, true));

    box.comboBox->addItems({"M1", "M2"});
    box.set_boxindexsel(1);
    const int chosen = box.comboBox->currentIndex();
    box.set_boxindexsel(5);
    EXPECT_EQ((std::vector<int>{chosen, box.comboBox->currentIndex()}), (std::vector<int>{1, -1}));
}

// --- USB keypad ------------------------------------------------------------------------------

TEST_F(Widgets, KeypadPresenceCheck)
{
    sim::KeypadModel::setPresent(false);
    const int absent = check_hiddev();
    sim::KeypadModel::setPresent(true);
    EXPECT_EQ((std::vector<int>{absent, check_hiddev()}), (std::vector<int>{0, 1}));
}

#include "framework_widgets_test.moc"
