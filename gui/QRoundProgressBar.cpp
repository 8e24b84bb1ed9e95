#include "gui/QRoundProgressBar.h"

#include "core/global.h"

#include <QDialog>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

QRoundProgressBar* g_qround_bar = nullptr;

namespace {
const QColor kBaseColor("#DEE3E7");
const QColor kDataColor("#2F8DED");
const QColor kOutlineColor("#FFFFFF");
const QColor kTextColor("#606266");
constexpr double kRingPen = 10.0;
} // namespace

QRoundProgressBar::QRoundProgressBar(QWidget* parent, BarStyle style)
    : QWidget(parent),
      m_min(0),
      m_max(100),
      m_value(0),
      m_barStyle(style),
      m_decimals(0),
      m_startAngle(90),
      m_outlinePenWidth(0),
      m_dataPenWidth(0)
{
}

QRoundProgressBar::~QRoundProgressBar()
{
    // The ring goes with its dialog; the global must not outlive it.
    if (g_qround_bar == this)
        g_qround_bar = nullptr;
}

void QRoundProgressBar::setStartAngle(double angle)
{
    if (angle != m_startAngle) {
        m_startAngle = angle;
        update();
    }
}

void QRoundProgressBar::setOutlinePenWidth(double width)
{
    if (width != m_outlinePenWidth) {
        m_outlinePenWidth = width;
        update();
    }
}

void QRoundProgressBar::setDataPenWidth(double width)
{
    if (width != m_dataPenWidth) {
        m_dataPenWidth = width;
        update();
    }
}

void QRoundProgressBar::setBarStyle(BarStyle style)
{
    if (style != m_barStyle) {
        m_barStyle = style;
        update();
    }
}

void QRoundProgressBar::setDecimals(int count)
{
    if (count >= 0 && count != m_decimals) {
        m_decimals = count;
        update();
    }
}

void QRoundProgressBar::setRange(double min, double max)
{
    if (min > max)
        std::swap(min, max);
    m_min = min;
    m_max = max;
    m_value = std::clamp(m_value, m_min, m_max);
    update();
}

void QRoundProgressBar::setMinimum(double min)
{
    setRange(min, m_max);
}

void QRoundProgressBar::setMaximum(double max)
{
    setRange(m_min, max);
}

void QRoundProgressBar::setValue(double value)
{
    if (value == m_value)
        return;
    m_value = std::clamp(value, m_min, m_max);
    update();
}

void QRoundProgressBar::setValue(int value)
{
    setValue(double(value));
}

QString QRoundProgressBar::percentText() const
{
    const double span = m_max - m_min;
    const double percent = span > 0 ? (m_value - m_min) / span * 100.0 : 0.0;
    return QString::number(percent, 'f', m_decimals) + "%";
}

double QRoundProgressBar::arcDegrees() const
{
    const double span = m_max - m_min;
    if (span <= 0)
        return 0.0;
    return -360.0 / span * (m_value - m_min);
}

void QRoundProgressBar::create_qround_bar(QDialog* parent)
{
    if (g_qround_bar != nullptr)
        return;
    g_qround_bar = new QRoundProgressBar(parent, StyleDonut);
    g_qround_bar->setGeometry(120, 70, 100, 100);
    g_qround_bar->setValue(0);
    g_qround_bar->show();
    KEL_TRACE("\n create_qround_bar");
}

void QRoundProgressBar::del_qround_bar()
{
    g_qround_bar = nullptr;
}

void QRoundProgressBar::para_sync(int percent)
{
    QRoundProgressBar* ring = g_qround_bar;
    if (ring == nullptr)
        return;
    if (percent <= 99) {
        ring->setValue(percent);
        ring->update();
        return;
    }
    // Hidden, not deleted: the ring stays a child of its dialog and goes with it.
    ring->close();
    g_qround_bar = nullptr;
}

void QRoundProgressBar::paintEvent(QPaintEvent*)
{
    const double w = width();
    const QRectF base(0, 0, w, w);
    double inner = w;
    if (m_barStyle == StyleDonut)
        inner = 0.9 * w;
    else if (m_barStyle == StyleLine)
        inner = w - m_outlinePenWidth;
    const double delta = (w - inner) / 2.0;
    const QRectF innerRect(delta, delta, inner, inner);

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.fillRect(base, Qt::transparent);

    // Base.
    switch (m_barStyle) {
    case StyleDonut: {
        QPainterPath path;
        path.setFillRule(Qt::OddEvenFill);
        path.addEllipse(innerRect);
        p.setPen(QPen(kBaseColor, kRingPen));
        p.setBrush(QColor(Qt::white));
        p.drawPath(path);
        break;
    }
    case StylePie:
        p.setPen(QPen(kOutlineColor, m_outlinePenWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        p.setBrush(kBaseColor);
        p.drawEllipse(base);
        break;
    case StyleLine: {
        p.setPen(QPen(kOutlineColor, m_outlinePenWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        p.setBrush(Qt::NoBrush);
        const double h = m_outlinePenWidth / 2.0;
        p.drawEllipse(base.adjusted(h, h, -h, -h));
        break;
    }
    }

    // Value arc, nothing at the minimum.
    if (m_value != m_min) {
        const double span = arcDegrees();
        const int start16 = int(m_startAngle * 16);
        const int span16 = int(span * 16);
        switch (m_barStyle) {
        case StyleDonut:
            p.setPen(QPen(kDataColor, kRingPen, Qt::SolidLine, Qt::RoundCap));
            p.setBrush(Qt::NoBrush);
            p.drawArc(innerRect, start16, span16);
            break;
        case StylePie: {
            QPainterPath path;
            path.setFillRule(Qt::WindingFill);
            path.moveTo(base.center());
            path.arcTo(base, m_startAngle, span);
            path.lineTo(base.center());
            p.setPen(QPen(kDataColor, m_dataPenWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
            p.setBrush(kDataColor);
            p.drawPath(path);
            break;
        }
        case StyleLine:
            p.setPen(QPen(kDataColor));
            p.setBrush(Qt::NoBrush);
            p.drawArc(base, start16, span16);
            break;
        }
    }

    // Percentage in the centre.
    QFont font(QString::fromUtf8("微软雅黑"));
    font.setPixelSize(36);
    p.setFont(font);
    p.setPen(kTextColor);
    p.drawText(base, Qt::AlignCenter, percentText());
}
