// The round progress ring: range and value rules, the end of a job at 100 %, one ring at a
// time, and the global that never outlives the ring.

#include "gui/QRoundProgressBar.h"
#include "gui/about.h"
#include "gui/dialog.h"
#include "gui/lcd_touch.h"
#include "tests/support/Grab.h"
#include "tests/support/TestRoot.h"
#include "ui_about.h"
#include "ui_dialog.h"

#include <QDialog>
#include <QImage>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct ProgressRing : ::testing::Test {
    kel_test::TestRoot root;
    std::unique_ptr<QDialog> dialog{new QDialog()};
    void SetUp() override { QRoundProgressBar::del_qround_bar(); }
    void TearDown() override { QRoundProgressBar::del_qround_bar(); }
};

// The colour at the top of the ring's rim, where the value arc starts (12 o'clock).
QColor rim_colour_at(QRoundProgressBar* ring, double degreesClockwise)
{
    QImage image = ring->grab().toImage();
    const double w = ring->width();
    const double r = 0.45 * w;   // the inner ellipse of the ring style carries the 10 px pen
    const double a = (90.0 - degreesClockwise) * M_PI / 180.0;
    const int x = int(w / 2 + r * std::cos(a));
    const int y = int(w / 2 - r * std::sin(a));
    return image.pixelColor(x, y);
}

} // namespace

TEST_F(ProgressRing, ReportsMoveTheRingAndHundredOrMoreCloseIt)
{
    QRoundProgressBar::create_qround_bar(dialog.get());
    QRoundProgressBar* ring = g_qround_bar;
    ASSERT_NE(ring, nullptr);
    EXPECT_TRUE(ring->parentWidget() == dialog.get() && ring->barStyle() == QRoundProgressBar::StyleDonut &&
                ring->geometry() == QRect(120, 70, 100, 100));
    // A fresh ring reads 0 % and draws no arc: the rim is the light grey base.
    EXPECT_EQ(std::make_tuple(ring->percentText(), ring->arcDegrees(), rim_colour_at(ring, 90)),
              std::make_tuple(QString("0%"), 0.0, QColor("#DEE3E7")));
    ring->para_sync(40);
    EXPECT_EQ(std::make_tuple(ring->value(), ring->percentText()), std::make_tuple(40.0, QString("40%")));
    EXPECT_DOUBLE_EQ(ring->arcDegrees(), -144.0);
    // The arc covers 40 % clockwise from 12 o'clock: blue at a quarter, grey at three quarters.
    EXPECT_EQ((std::vector<QColor>{rim_colour_at(ring, 90), rim_colour_at(ring, 270)}),
              (std::vector<QColor>{QColor("#2F8DED"), QColor("#DEE3E7")}));
    kel_test::grab(ring, "progress_ring_40");
    ring->para_sync(99);
    EXPECT_TRUE(ring->value() == 99.0 && g_qround_bar == ring);

    // Elapsed-time reports may pass 100: any of them ends the job display.
    ring->para_sync(130);
    // Hidden, still owned by its dialog.
    EXPECT_TRUE(g_qround_bar == nullptr && ring->isHidden() && ring->parentWidget() == dialog.get());

    // A late report after the end is ignored.
    ring->para_sync(50);
    EXPECT_EQ(std::make_tuple(ring->value(), g_qround_bar), std::make_tuple(99.0, static_cast<QRoundProgressBar*>(nullptr)));
}

TEST_F(ProgressRing, ExactlyHundredClosesAndASecondCreationKeepsTheFirst)
{
    QRoundProgressBar::create_qround_bar(dialog.get());
    QRoundProgressBar* first = g_qround_bar;
    first->para_sync(30);
    std::unique_ptr<QDialog> other(new QDialog());
    QRoundProgressBar::create_qround_bar(other.get());
    EXPECT_EQ(std::make_tuple(g_qround_bar, first->value(), other->findChildren<QRoundProgressBar*>().size()),
              std::make_tuple(first, 30.0, 0));

    first->para_sync(100);
    const bool ended = g_qround_bar == nullptr;
    // After the end a new job may show a new ring.
    QRoundProgressBar::create_qround_bar(other.get());
    EXPECT_TRUE(ended && g_qround_bar != nullptr && g_qround_bar != first);
}

TEST_F(ProgressRing, TheGlobalDoesNotOutliveTheRingsDialog)
{
    QRoundProgressBar::create_qround_bar(dialog.get());
    ASSERT_NE(g_qround_bar, nullptr);
    dialog.reset();   // the starting screen closes with the ring on it
    EXPECT_EQ(g_qround_bar, nullptr);
}

TEST_F(ProgressRing, RangeValueAndSetterRules)
{
    QRoundProgressBar ring(nullptr, QRoundProgressBar::StylePie);
    ring.setRange(100, 0);
    EXPECT_EQ((std::vector<double>{ring.minimum(), ring.maximum()}), (std::vector<double>{0, 100}));
    std::vector<double> values;
    for (double v : {150.0, -5.0}) {
        ring.setValue(v);
        values.push_back(ring.value());
    }
    EXPECT_EQ(values, (std::vector<double>{100, 0}));

    ring.setValue(60);
    ring.setRange(10, 50);   // the value is clamped to the nearer end
    EXPECT_EQ(std::make_tuple(ring.value(), ring.percentText()), std::make_tuple(50.0, QString("100%")));
    ring.setMinimum(30);
    ring.setValue(40);
    // The text and the arc count from the minimum: 40 in 30..50 is half way.
    EXPECT_EQ(ring.percentText(), "50%");
    EXPECT_DOUBLE_EQ(ring.arcDegrees(), -180.0);
    ring.setMaximum(20);     // below the minimum: the ends are swapped
    EXPECT_EQ((std::vector<double>{ring.minimum(), ring.maximum(), ring.value()}), (std::vector<double>{20, 30, 30}));

    ring.setDecimals(2);
    const QString twoPlaces = ring.percentText();
    ring.setDecimals(-1);   // refused
    EXPECT_EQ(std::make_pair(twoPlaces, ring.decimals()), std::make_pair(QString("100.00%"), 2));

    // An empty range reads 0 % and has no arc instead of dividing by zero.
    ring.setRange(5, 5);
    ring.setDecimals(0);
    EXPECT_EQ(std::make_tuple(ring.value(), ring.percentText(), ring.arcDegrees()), std::make_tuple(5.0, QString("0%"), 0.0));
    ring.resize(100, 100);
    // Painting an empty range is safe in every style.
    for (auto style : {QRoundProgressBar::StylePie, QRoundProgressBar::StyleLine}) {
        ring.setBarStyle(style);
        EXPECT_FALSE(ring.grab().isNull()) << style;
    }
}

// The spare dialogs and the encoder reader: nothing opens them, but they behave.
TEST(SpareDialogs, ButtonsAcceptTheDialogs)
{
    About about;
    Dialog dialog;
    EXPECT_EQ(std::make_pair(about.size(), dialog.ui->pushButton->text()), std::make_pair(QSize(800, 480), QString::fromUtf8("退出")));
    for (std::pair<QDialog*, QPushButton*> d : {std::pair<QDialog*, QPushButton*>{&about, about.ui->pushButton}, {&dialog, dialog.ui->pushButton}}) {
        QTimer::singleShot(0, d.second, &QPushButton::click);
        EXPECT_EQ(d.first->exec(), int(QDialog::Accepted));
    }
}

TEST(SpareDialogs, UntouchedCounterStopsAt100001)
{
    lcd_touch reader;
    EXPECT_EQ((std::vector<int>{reader.initialize(), reader.lcd_touch_detect(), lcd_touch::lcdmanageThread(nullptr) == nullptr}), (std::vector<int>{0, -1, 1}));
    g_untouched_time = 0;
    int touched = 0;
    for (int i = 0; i < 200000; ++i)
        touched += reader.auto_timeout_back() != -1;
    EXPECT_EQ((std::vector<int64_t>{touched, g_untouched_time}), (std::vector<int64_t>{0, 100001}));
}
