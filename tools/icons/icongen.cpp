// Draws the program's icons from their descriptions and writes them with a Qt resource
// list (prefix "/png"). No picture comes from anywhere else: every icon is a pictogram
// drawn here with QPainter, plus, for the language-dependent icons, a caption in each of
// the five languages (files "<name>.png", "en_<name>.png", "ru_<name>.png",
// "vn_<name>.png", "tn_<name>.png").
//
// Usage: kel_icongen --out <dir> --qrc <file> <description>...
//
// Description lines (see tools/icons/icons.txt; '#' starts a comment):
//   <name> <width>x<height> <pictogram> [key=value ...] ["zh" "en" "ru" "vn" "tn"]
// keys: fg=#rrggbb (pictogram colour), bg=#rrggbb (rounded plate behind it; default none),
//       caption=<text> (the caption of an icon without language variants; _ for a space),
//       text=#rrggbb (caption colour), glyph=<text> (for the pictogram "glyph"),
//       turn=0..3 and outline=#rrggbb (for the pictogram "mirror_f"),
//       route=1..16 (for the pictogram "route": the order in which the receiving cards of a
//       3 x 3 screen are chained, as the shortcut set-up numbers them),
//       scale=<group> (icons of one group share one caption size per language; an icon
//       with a single caption counts as English).
// With five quoted captions the icon is made in the five language variants; without, once.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

struct Icon {
    QString name;
    int width = 0;
    int height = 0;
    QString pictogram;
    QMap<QString, QString> options;
    QStringList captions;   // empty or five
    QString origin;         // file:line, for messages
};

// Splits a description line into words; "quoted text" is one word (\" inside quotes).
bool tokenize(const QString& line, QStringList* words)
{
    int i = 0;
    const int n = line.size();
    while (i < n) {
        while (i < n && line[i].isSpace())
            ++i;
        if (i >= n || line[i] == '#')
            break;
        QString w;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                if (line[i] == '\\' && i + 1 < n) {
                    const QChar c = line[i + 1];
                    w += (c == 'n') ? QChar('\n') : c;
                    i += 2;
                    continue;
                }
                if (line[i] == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                w += line[i++];
            }
            if (!closed)
                return false;
            w.prepend(QChar(0x1));   // marks a caption
        } else {
            while (i < n && !line[i].isSpace())
                w += line[i++];
        }
        words->append(w);
    }
    return true;
}

bool parseFile(const QString& path, QList<Icon>* icons)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "kel_icongen: cannot read %s\n", qPrintable(path));
        return false;
    }
    QTextStream in(&f);
    in.setCodec("UTF-8");
    int lineNo = 0;
    bool ok = true;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        ++lineNo;
        QStringList words;
        const QString where = QString("%1:%2").arg(path).arg(lineNo);
        if (!tokenize(line, &words)) {
            std::fprintf(stderr, "%s: unclosed quote\n", qPrintable(where));
            ok = false;
            continue;
        }
        if (words.isEmpty())
            continue;
        if (words.size() < 3) {
            std::fprintf(stderr, "%s: need name, size and pictogram\n", qPrintable(where));
            ok = false;
            continue;
        }
        Icon icon;
        icon.origin = where;
        icon.name = words[0];
        const QStringList wh = words[1].split('x');
        bool okW = false, okH = false;
        if (wh.size() == 2) {
            icon.width = wh[0].toInt(&okW);
            icon.height = wh[1].toInt(&okH);
        }
        if (!okW || !okH || icon.width < 4 || icon.height < 4 || icon.width > 1024 || icon.height > 1024) {
            std::fprintf(stderr, "%s: bad size %s\n", qPrintable(where), qPrintable(words[1]));
            ok = false;
            continue;
        }
        icon.pictogram = words[2];
        for (int k = 3; k < words.size(); ++k) {
            const QString& w = words[k];
            if (w.startsWith(QChar(0x1))) {
                icon.captions.append(w.mid(1));
            } else {
                const int eq = w.indexOf('=');
                if (eq <= 0) {
                    std::fprintf(stderr, "%s: bad option %s\n", qPrintable(where), qPrintable(w));
                    ok = false;
                    continue;
                }
                icon.options.insert(w.left(eq), w.mid(eq + 1));
            }
        }
        if (!icon.captions.isEmpty() && icon.captions.size() != 5) {
            std::fprintf(stderr, "%s: give five captions (zh en ru vn tn) or none\n", qPrintable(where));
            ok = false;
            continue;
        }
        icons->append(icon);
    }
    return ok;
}

// ---------------------------------------------------------------------------------------
// Pictograms: drawn in a 100 x 100 design box that is scaled into the target rectangle.

struct Pen {
    QColor fg;
    QColor accent;
};

void strokeWidth(QPainter& p, const QColor& c, double w)
{
    QPen pen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
}

void drawMonitor(QPainter& p, const Pen& c)
{
    strokeWidth(p, c.fg, 7);
    p.drawRoundedRect(QRectF(10, 14, 80, 54), 6, 6);
    p.drawLine(QPointF(50, 68), QPointF(50, 82));
    p.drawLine(QPointF(32, 86), QPointF(68, 86));
    strokeWidth(p, c.accent, 6);
    QPainterPath pulse;
    pulse.moveTo(20, 44);
    pulse.lineTo(36, 44);
    pulse.lineTo(44, 28);
    pulse.lineTo(54, 58);
    pulse.lineTo(62, 40);
    pulse.lineTo(80, 40);
    p.drawPath(pulse);
}

void drawInput(QPainter& p, const Pen& c)
{
    strokeWidth(p, c.fg, 7);
    p.drawRoundedRect(QRectF(46, 14, 44, 72), 6, 6);
    strokeWidth(p, c.accent, 8);
    p.drawLine(QPointF(8, 50), QPointF(62, 50));
    p.drawLine(QPointF(62, 50), QPointF(46, 34));
    p.drawLine(QPointF(62, 50), QPointF(46, 66));
}

void drawModes(QPainter& p, const Pen& c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c.fg);
    p.drawRoundedRect(QRectF(12, 12, 34, 34), 5, 5);
    p.drawRoundedRect(QRectF(54, 12, 34, 34), 5, 5);
    p.drawRoundedRect(QRectF(12, 54, 34, 34), 5, 5);
    p.setBrush(c.accent);
    p.drawRoundedRect(QRectF(54, 54, 34, 34), 5, 5);
}

void drawGear(QPainter& p, const Pen& c)
{
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const double a = (i * M_PI) / teeth;
        const double r = (i % 2 == 0) ? 44 : 34;
        const double a0 = a - M_PI / teeth / 2, a1 = a + M_PI / teeth / 2;
        const QPointF p0(50 + r * std::cos(a0), 50 + r * std::sin(a0));
        const QPointF p1(50 + r * std::cos(a1), 50 + r * std::sin(a1));
        if (i == 0)
            gear.moveTo(p0);
        else
            gear.lineTo(p0);
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    gear.addEllipse(QPointF(50, 50), 14, 14);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(Qt::NoPen);
    p.setBrush(c.fg);
    p.drawPath(gear);
}

void drawPadlock(QPainter& p, const Pen& c, bool open)
{
    strokeWidth(p, c.fg, 9);
    QPainterPath shackle;
    if (open) {
        shackle.moveTo(30, 46);
        shackle.lineTo(30, 30);
        shackle.arcTo(QRectF(30, 8, 40, 40), 180, -180);
        shackle.lineTo(70, 36);
        shackle.translate(14, -6);
    } else {
        shackle.moveTo(30, 46);
        shackle.lineTo(30, 30);
        shackle.arcTo(QRectF(30, 10, 40, 40), 180, -180);
        shackle.lineTo(70, 46);
    }
    p.drawPath(shackle);
    p.setPen(Qt::NoPen);
    p.setBrush(c.fg);
    p.drawRoundedRect(QRectF(18, 44, 64, 48), 8, 8);
    p.setBrush(c.accent);
    p.drawEllipse(QPointF(50, 64), 7, 7);
    p.drawRect(QRectF(47, 66, 6, 14));
}

void drawWrench(QPainter& p, const Pen& c)
{
    p.save();
    p.translate(50, 50);
    p.rotate(45);
    p.setPen(Qt::NoPen);
    p.setBrush(c.fg);
    p.drawRoundedRect(QRectF(-7, -12, 14, 56), 6, 6);
    QPainterPath head;
    head.addEllipse(QPointF(0, -26), 20, 20);
    QPainterPath slot;
    slot.addRect(QRectF(-7, -50, 14, 24));
    p.drawPath(head.subtracted(slot));
    p.restore();
}

void drawGlobe(QPainter& p, const Pen& c)
{
    strokeWidth(p, c.fg, 7);
    p.drawEllipse(QPointF(50, 50), 40, 40);
    p.drawEllipse(QPointF(50, 50), 17, 40);
    p.drawLine(QPointF(10, 50), QPointF(90, 50));
    p.drawLine(QPointF(50, 10), QPointF(50, 90));
}

void drawPointer(QPainter& p, const Pen& c)
{
    QPainterPath tri;
    tri.moveTo(10, 5);
    tri.lineTo(90, 50);
    tri.lineTo(10, 95);
    tri.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(c.fg);
    p.drawPath(tri);
}

void drawSlot(QPainter& p, const Pen& c, bool saved)
{
    if (saved) {
        p.setPen(Qt::NoPen);
        p.setBrush(c.fg);
        QPainterPath doc;
        doc.moveTo(22, 8);
        doc.lineTo(62, 8);
        doc.lineTo(80, 26);
        doc.lineTo(80, 92);
        doc.lineTo(22, 92);
        doc.closeSubpath();
        p.drawPath(doc);
        strokeWidth(p, c.accent, 7);
        p.drawLine(QPointF(34, 44), QPointF(68, 44));
        p.drawLine(QPointF(34, 60), QPointF(68, 60));
        p.drawLine(QPointF(34, 76), QPointF(56, 76));
    } else {
        QPen pen(c.fg, 6, Qt::DashLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(20, 10, 60, 80), 6, 6);
        strokeWidth(p, c.fg, 7);
        p.drawLine(QPointF(50, 36), QPointF(50, 64));
        p.drawLine(QPointF(36, 50), QPointF(64, 50));
    }
}

void drawCheck(QPainter& p, const Pen& c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c.accent);
    p.drawEllipse(QPointF(50, 50), 44, 44);
    strokeWidth(p, c.fg, 11);
    QPainterPath tick;
    tick.moveTo(27, 52);
    tick.lineTo(44, 68);
    tick.lineTo(74, 34);
    p.drawPath(tick);
}

void drawBackspace(QPainter& p, const Pen& c)
{
    strokeWidth(p, c.fg, 7);
    QPainterPath key;
    key.moveTo(8, 50);
    key.lineTo(32, 20);
    key.lineTo(92, 20);
    key.lineTo(92, 80);
    key.lineTo(32, 80);
    key.closeSubpath();
    p.drawPath(key);
    p.drawLine(QPointF(48, 36), QPointF(76, 64));
    p.drawLine(QPointF(76, 36), QPointF(48, 64));
}

void drawLed(QPainter& p, const Pen& c, bool dark)
{
    p.setPen(Qt::NoPen);
    p.setBrush(dark ? QColor(60, 60, 70) : c.fg);
    p.drawRoundedRect(QRectF(14, 24, 72, 52), 5, 5);
    if (dark) {
        strokeWidth(p, c.accent, 8);
        p.drawLine(QPointF(34, 36), QPointF(66, 64));
        p.drawLine(QPointF(66, 36), QPointF(34, 64));
    } else {
        p.setBrush(c.accent);
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 4; ++k)
                p.drawEllipse(QPointF(26 + 16 * k, 36 + 14 * r), 4, 4);
    }
}

void drawSpeaker(QPainter& p, const Pen& c, bool on)
{
    QPainterPath body;
    body.moveTo(10, 38);
    body.lineTo(28, 38);
    body.lineTo(50, 18);
    body.lineTo(50, 82);
    body.lineTo(28, 62);
    body.lineTo(10, 62);
    body.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(c.fg);
    p.drawPath(body);
    if (on) {
        strokeWidth(p, c.accent, 6);
        p.drawArc(QRectF(40, 32, 28, 36), -50 * 16, 100 * 16);
        p.drawArc(QRectF(36, 18, 48, 64), -50 * 16, 100 * 16);
    } else {
        strokeWidth(p, c.accent, 7);
        p.drawLine(QPointF(62, 36), QPointF(88, 64));
        p.drawLine(QPointF(88, 36), QPointF(62, 64));
    }
}

void drawRecall(QPainter& p, const Pen& c)
{
    strokeWidth(p, c.fg, 7);
    p.drawRoundedRect(QRectF(14, 40, 72, 48), 5, 5);
    strokeWidth(p, c.accent, 8);
    p.drawLine(QPointF(50, 8), QPointF(50, 62));
    p.drawLine(QPointF(50, 62), QPointF(36, 48));
    p.drawLine(QPointF(50, 62), QPointF(64, 48));
}

void drawSave(QPainter& p, const Pen& c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c.fg);
    QPainterPath disk;
    disk.moveTo(12, 12);
    disk.lineTo(74, 12);
    disk.lineTo(88, 26);
    disk.lineTo(88, 88);
    disk.lineTo(12, 88);
    disk.closeSubpath();
    p.drawPath(disk);
    p.setBrush(c.accent);
    p.drawRect(QRectF(26, 12, 40, 24));
    p.drawRoundedRect(QRectF(24, 52, 52, 30), 3, 3);
}

// A video connector seen from the front: trapezoid (HDMI) or a wide plug with pins (DVI).
void drawConnector(QPainter& p, const Pen& c, bool dvi, const QString& label)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c.fg);
    QPainterPath shell;
    if (dvi) {
        shell.moveTo(8, 22);
        shell.lineTo(92, 22);
        shell.lineTo(86, 62);
        shell.lineTo(14, 62);
        shell.closeSubpath();
    } else {
        shell.moveTo(8, 26);
        shell.lineTo(92, 26);
        shell.lineTo(92, 44);
        shell.lineTo(80, 58);
        shell.lineTo(20, 58);
        shell.lineTo(8, 44);
        shell.closeSubpath();
    }
    p.drawPath(shell);
    p.setBrush(c.accent);
    if (dvi) {
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 8; ++k)
                p.drawRect(QRectF(18 + 8 * k, 28 + 10 * r, 4, 5));
    } else {
        p.drawRect(QRectF(20, 34, 60, 8));
    }
    if (!label.isEmpty()) {
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(24);
        f.setBold(true);
        p.setFont(f);
        p.setPen(c.fg);
        p.drawText(QRectF(0, 64, 100, 34), Qt::AlignCenter, label);
    }
}

void drawGlyph(QPainter& p, const Pen& c, const QString& glyph)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(80);
    f.setBold(true);
    p.setFont(f);
    p.setPen(c.fg);
    p.drawText(QRectF(0, 0, 100, 100), Qt::AlignCenter, glyph);
}

// The letter F on a square plate, turned as a mirror setting turns the picture: 0 upright,
// 1 mirrored left to right, 2 upside down, 3 both (turned by 180 degrees).
void drawMirrorF(QPainter& p, const Pen& c, int turn, const QString& outline)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c.accent);
    p.drawRect(QRectF(0, 0, 100, 100));
    const QColor edge(outline);
    if (edge.isValid()) {
        strokeWidth(p, edge, 6);
        p.drawRect(QRectF(3, 3, 94, 94));
    }
    p.save();
    p.translate(50, 50);
    p.scale((turn & 1) ? -1 : 1, (turn & 2) ? -1 : 1);
    p.setPen(Qt::NoPen);
    p.setBrush(c.fg);
    p.drawRect(QRectF(-20, -30, 12, 60));   // stem
    p.drawRect(QRectF(-20, -30, 40, 12));   // top bar
    p.drawRect(QRectF(-20, -5, 30, 11));    // middle bar
    p.restore();
}

// Cabinet (row, column) of the card at chain position i on a 3 x 3 screen for a wiring
// route: routes 1-4 snake along rows, 5-8 snake along columns, 9-12 run every row the same
// way and 13-16 every column; each group starts at its own corner.
QPointF routeCell(int route, int i)
{
    const int n = 3;
    const bool byColumns = (route >= 5 && route <= 8) || route >= 13;
    const int major = i / n, minor = i % n;
    const bool snake = route <= 8 && (major % 2) == 1;
    const int along = snake ? n - 1 - minor : minor;
    bool fromRight = false, fromBottom = false;
    switch (route) {
    case 1: case 5: case 9: case 13: fromRight = true; fromBottom = true; break;
    case 2: case 8: case 11: case 15: fromBottom = true; break;
    case 3: case 6: case 12: case 16: fromRight = true; break;
    default: break;
    }
    int r, c;
    if (byColumns) {
        c = fromRight ? n - 1 - major : major;
        const int down = fromBottom ? n - 1 - along : along;
        r = down;
    } else {
        r = fromBottom ? n - 1 - major : major;
        c = fromRight ? n - 1 - along : along;
    }
    return QPointF(18 + 32 * c, 18 + 32 * r);
}

void drawRoute(QPainter& p, const Pen& c, int route)
{
    if (route < 1 || route > 16)
        return;
    p.setPen(Qt::NoPen);
    p.setBrush(c.accent.isValid() ? c.accent : QColor("#4777FF"));
    for (int i = 0; i < 9; ++i) {
        const QPointF at = routeCell(route, i);
        p.drawRect(QRectF(at.x() - 13, at.y() - 13, 26, 26));
    }
    QPainterPath path(routeCell(route, 0));
    for (int i = 1; i < 9; ++i)
        path.lineTo(routeCell(route, i));
    p.setBrush(Qt::NoBrush);
    strokeWidth(p, c.fg, 6);
    p.drawPath(path);
    // The first card is marked by a dot, the last by an arrow head.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#00D65B"));
    p.drawEllipse(routeCell(route, 0), 9, 9);
    const QPointF a = routeCell(route, 7), b = routeCell(route, 8);
    const QPointF d = (b - a) / 32.0, e(-d.y(), d.x());
    p.setBrush(c.fg);
    p.drawPolygon(QPolygonF({b + d * 8, b - d * 8 + e * 9, b - d * 8 - e * 9}));
}

bool drawPictogram(QPainter& p, const QRectF& box, const Icon& icon, const Pen& c)
{
    static const QMap<QString, std::function<void(QPainter&, const Pen&, const Icon&)>> table = {
        {"monitor", [](QPainter& q, const Pen& k, const Icon&) { drawMonitor(q, k); }},
        {"input", [](QPainter& q, const Pen& k, const Icon&) { drawInput(q, k); }},
        {"modes", [](QPainter& q, const Pen& k, const Icon&) { drawModes(q, k); }},
        {"gear", [](QPainter& q, const Pen& k, const Icon&) { drawGear(q, k); }},
        {"lock", [](QPainter& q, const Pen& k, const Icon&) { drawPadlock(q, k, false); }},
        {"unlock", [](QPainter& q, const Pen& k, const Icon&) { drawPadlock(q, k, true); }},
        {"wrench", [](QPainter& q, const Pen& k, const Icon&) { drawWrench(q, k); }},
        {"globe", [](QPainter& q, const Pen& k, const Icon&) { drawGlobe(q, k); }},
        {"pointer", [](QPainter& q, const Pen& k, const Icon&) { drawPointer(q, k); }},
        {"slot_saved", [](QPainter& q, const Pen& k, const Icon&) { drawSlot(q, k, true); }},
        {"slot_empty", [](QPainter& q, const Pen& k, const Icon&) { drawSlot(q, k, false); }},
        {"check", [](QPainter& q, const Pen& k, const Icon&) { drawCheck(q, k); }},
        {"backspace", [](QPainter& q, const Pen& k, const Icon&) { drawBackspace(q, k); }},
        {"led_dark", [](QPainter& q, const Pen& k, const Icon&) { drawLed(q, k, true); }},
        {"led_on", [](QPainter& q, const Pen& k, const Icon&) { drawLed(q, k, false); }},
        {"speaker_on", [](QPainter& q, const Pen& k, const Icon&) { drawSpeaker(q, k, true); }},
        {"speaker_off", [](QPainter& q, const Pen& k, const Icon&) { drawSpeaker(q, k, false); }},
        {"recall", [](QPainter& q, const Pen& k, const Icon&) { drawRecall(q, k); }},
        {"save", [](QPainter& q, const Pen& k, const Icon&) { drawSave(q, k); }},
        {"hdmi", [](QPainter& q, const Pen& k, const Icon& i) { drawConnector(q, k, false, i.options.value("label")); }},
        {"dvi", [](QPainter& q, const Pen& k, const Icon& i) { drawConnector(q, k, true, i.options.value("label")); }},
        {"glyph", [](QPainter& q, const Pen& k, const Icon& i) { drawGlyph(q, k, i.options.value("glyph")); }},
        {"mirror_f", [](QPainter& q, const Pen& k, const Icon& i) {
             drawMirrorF(q, k, i.options.value("turn").toInt(), i.options.value("outline"));
         }},
        {"route", [](QPainter& q, const Pen& k, const Icon& i) { drawRoute(q, k, i.options.value("route").toInt()); }},
        {"none", [](QPainter&, const Pen&, const Icon&) {}},
    };
    auto it = table.find(icon.pictogram);
    if (it == table.end())
        return false;
    // Keep the design box square and centred in the target.
    const double side = std::min(box.width(), box.height());
    p.save();
    p.translate(box.center().x() - side / 2, box.center().y() - side / 2);
    p.scale(side / 100.0, side / 100.0);
    it.value()(p, c, icon);
    p.restore();
    return true;
}

QColor option(const Icon& icon, const QString& key, const QColor& fallback)
{
    const QString v = icon.options.value(key);
    if (v.isEmpty())
        return fallback;
    QColor col(v);
    return col.isValid() ? col : fallback;
}

// The caption fills the band below the pictogram: the largest pixel size (in half pixels)
// at which it fits.
double captionPx(const QRectF& band, const QString& text, bool cjk)
{
    QFont f(cjk ? QStringLiteral("WenQuanYi Micro Hei") : QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    const QStringList lines = text.split('\n');
    double px = band.height() / lines.size() * 0.62;
    for (; px > 5; px -= 0.5) {
        f.setPixelSize(int(px));
        QFontMetricsF fm(f);
        double widest = 0;
        for (const QString& l : lines)
            widest = std::max(widest, fm.horizontalAdvance(l));
        if (widest <= band.width() && fm.height() * lines.size() <= band.height() * 1.05)
            break;
    }
    return std::max(5.0, px);
}

// Draws the caption at px, or at its own fitting size when px is 0.
void drawCaption(QPainter& p, const QRectF& band, const QString& text, const QColor& colour, bool cjk, double px = 0)
{
    if (text.isEmpty())
        return;
    QFont f(cjk ? QStringLiteral("WenQuanYi Micro Hei") : QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(int(px > 0 ? px : captionPx(band, text, cjk)));
    p.setFont(f);
    p.setPen(colour);
    p.drawText(band, Qt::AlignCenter, text);
}

// The band below the pictogram that a caption takes.
QRectF captionBand(const Icon& icon)
{
    const double split = icon.height * 0.62;
    return QRectF(1, split, icon.width - 2, icon.height - split - 1);
}

// captionPx: the caption's pixel size (0: its own fitting size).
bool render(const Icon& icon, const QString& caption, bool cjk, const QString& file, double captionPxSize)
{
    QImage img(icon.width, icon.height, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    const QRectF all(0, 0, icon.width, icon.height);
    if (icon.options.contains("bg")) {
        p.setPen(Qt::NoPen);
        p.setBrush(option(icon, "bg", QColor(33, 36, 53)));
        const double r = std::min(icon.width, icon.height) * 0.12;
        p.drawRoundedRect(all, r, r);
    }
    // A narrow upright label (a caption and no pictogram): CJK characters stacked one under
    // the other, other scripts turned on their side, reading upwards.
    if (icon.pictogram == "none" && !icon.captions.isEmpty() && icon.height >= 2 * icon.width) {
        const QColor colour = option(icon, "text", QColor(255, 255, 255));
        if (cjk) {
            QString stacked;
            for (const QChar c : caption)
                stacked += stacked.isEmpty() ? QString(c) : QStringLiteral("\n") + c;
            drawCaption(p, all, stacked, colour, true);
        } else {
            p.translate(0, icon.height);
            p.rotate(-90);
            drawCaption(p, QRectF(0, 0, icon.height, icon.width), caption, colour, false);
        }
        p.end();
        return img.save(file, "PNG");
    }
    Pen pen{option(icon, "fg", QColor(255, 255, 255)), option(icon, "accent", QColor(255, 171, 84))};
    QRectF pictBox = all.adjusted(icon.width * 0.08, icon.height * 0.06, -icon.width * 0.08, -icon.height * 0.06);
    QRectF band;
    // One caption for an icon of one variant: "caption=Word" (underscores stand for spaces).
    const QString single = icon.options.value("caption");
    const QString text = icon.captions.isEmpty() ? QString(single).replace('_', ' ') : caption;
    if (!text.isEmpty()) {
        const double split = icon.height * 0.62;
        pictBox = QRectF(icon.width * 0.1, icon.height * 0.06, icon.width * 0.8, split - icon.height * 0.08);
        band = captionBand(icon);
    }
    if (!drawPictogram(p, pictBox, icon, pen)) {
        std::fprintf(stderr, "%s: unknown pictogram %s\n", qPrintable(icon.origin), qPrintable(icon.pictogram));
        return false;
    }
    if (!text.isEmpty())
        drawCaption(p, band, text, option(icon, "text", QColor(255, 255, 255)), cjk, captionPxSize);
    p.end();
    if (!img.save(file, "PNG")) {
        std::fprintf(stderr, "kel_icongen: cannot write %s\n", qPrintable(file));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's per-user runtime folder, where the build's session has none (nothing is kept there).
    const QString runtime = QStringLiteral("xdg-runtime");
    if (!qEnvironmentVariableIsSet("XDG_RUNTIME_DIR") && QDir().mkpath(runtime) &&
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        qputenv("XDG_RUNTIME_DIR", QDir(runtime).absolutePath().toLocal8Bit());
    QGuiApplication app(argc, argv);
    QString outDir, qrc;
    QStringList descriptions;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--out" && i + 1 < args.size())
            outDir = args[++i];
        else if (args[i] == "--qrc" && i + 1 < args.size())
            qrc = args[++i];
        else
            descriptions << args[i];
    }
    if (outDir.isEmpty() || qrc.isEmpty() || descriptions.isEmpty()) {
        std::fprintf(stderr, "usage: kel_icongen --out <dir> --qrc <file> <description>...\n");
        return 2;
    }
    QList<Icon> icons;
    bool ok = true;
    for (const QString& d : descriptions)
        ok = parseFile(d, &icons) && ok;
    if (!ok)
        return 1;
    QDir().mkpath(outDir);

    static const char* const kPrefix[5] = {"", "en_", "ru_", "vn_", "tn_"};
    static const bool kCjk[5] = {true, false, false, false, true};
    // Icons of one "scale=<group>" share one caption size per language: the largest at which
    // every caption of the group fits.
    QMap<QString, double> groupPx;
    for (const Icon& icon : icons) {
        const QString group = icon.options.value("scale");
        if (group.isEmpty())
            continue;
        for (int v = 0; v < 5; ++v) {
            QString text = icon.captions.isEmpty() ? QString() : icon.captions[v];
            if (icon.captions.isEmpty() && v == 1)
                text = QString(icon.options.value("caption")).replace('_', ' ');
            if (text.isEmpty())
                continue;
            const QString key = group + QChar('/') + QString::number(v);
            const double px = captionPx(captionBand(icon), text, kCjk[v]);
            groupPx[key] = groupPx.contains(key) ? std::min(groupPx[key], px) : px;
        }
    }
    QStringList files;
    QMap<QString, QString> seen;
    for (const Icon& icon : icons) {
        const int variants = icon.captions.isEmpty() ? 1 : 5;
        for (int v = 0; v < variants; ++v) {
            const QString base = (variants == 1 ? QString() : QString(kPrefix[v])) + icon.name + ".png";
            if (seen.contains(base)) {
                std::fprintf(stderr, "%s: %s already described at %s\n", qPrintable(icon.origin), qPrintable(base),
                             qPrintable(seen.value(base)));
                return 1;
            }
            seen.insert(base, icon.origin);
            const QString path = QDir(outDir).filePath(base);
            const QString group = icon.options.value("scale");
            const int language = variants == 1 ? 1 : v;
            const double px = group.isEmpty() ? 0 : groupPx.value(group + QChar('/') + QString::number(language));
            if (!render(icon, variants == 1 ? QString() : icon.captions[v], kCjk[v], path, px))
                return 1;
            files << base;
        }
    }

    QFile out(qrc);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        std::fprintf(stderr, "kel_icongen: cannot write %s\n", qPrintable(qrc));
        return 1;
    }
    QTextStream s(&out);
    s << "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/png\">\n";
    const QDir qrcDir = QFileInfo(qrc).absoluteDir();
    for (const QString& f : files)
        s << "  <file alias=\"" << f << "\">" << qrcDir.relativeFilePath(QDir(outDir).absoluteFilePath(f))
          << "</file>\n";
    s << "</qresource>\n</RCC>\n";
    return 0;
}
