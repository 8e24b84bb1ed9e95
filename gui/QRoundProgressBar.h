#pragma once
// The round progress ring that a screen shows in its middle while the FPGA manager runs a
// long receiving-card job. One ring exists at a time (g_qround_bar); while it is set the
// starting screens accept no new job and refuse to close.

#include <QWidget>

class QDialog;

class QRoundProgressBar : public QWidget {
    Q_OBJECT
public:
    enum BarStyle { StyleDonut = 0, StylePie = 1, StyleLine = 2 };

    QRoundProgressBar(QWidget* parent, BarStyle style);
    ~QRoundProgressBar() override;

    void setStartAngle(double angle);
    void setOutlinePenWidth(double width);
    void setDataPenWidth(double width);
    void setBarStyle(BarStyle style);
    void setDecimals(int count);
    void setRange(double min, double max);
    void setMinimum(double min);
    void setMaximum(double max);
    void setValue(double value);
    void setValue(int value);

    double minimum() const { return m_min; }
    double maximum() const { return m_max; }
    double value() const { return m_value; }
    int decimals() const { return m_decimals; }
    BarStyle barStyle() const { return m_barStyle; }
    // The centre text: (value - minimum) / (maximum - minimum) as a percentage; an empty
    // range reads 0 % rather than dividing by zero.
    QString percentText() const;
    // Degrees of the value arc (negative: drawn clockwise); 0 for an empty range.
    double arcDegrees() const;

    // Creates the ring in the middle of parent unless one is shown already.
    static void create_qround_bar(QDialog* parent);
    // Forgets the ring without touching the widget.
    static void del_qround_bar();

public slots:
    // A job's progress report: below 100 moves the ring; 100 or more (time-based reports can
    // pass 100) closes it and clears g_qround_bar. Acts on g_qround_bar, whichever object
    // the connection reached.
    void para_sync(int percent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_min;
    double m_max;
    double m_value;
    BarStyle m_barStyle;
    int m_decimals;
    double m_startAngle;
    double m_outlinePenWidth;
    double m_dataPenWidth;
};

// The ring being shown, or null. Written and read on the GUI thread only; the ring's
// destructor clears it, so a ring destroyed with its dialog leaves no dangling pointer.
extern QRoundProgressBar* g_qround_bar;
