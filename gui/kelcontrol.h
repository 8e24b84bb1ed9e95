#pragma once
// A focus box: a combo box between a "<" and a ">" label, all three framed. Orange frames
// while the box has the focus (set_box_default), blue while its value is being changed
// (set_box_modify). The owner fills the combo box and moves the selection itself.
#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;

class kelcontrol : public QWidget {
    Q_OBJECT
public:
    kelcontrol(QRect comboRect, QRect leftRect, QRect rightRect, QWidget* parent);

    void set_box_default();
    void set_box_modify();
    void set_boxindexsel(char index);

    QComboBox* comboBox;   // object name "kelcontrol"; filled by the owner
    QLabel* leftLabel;     // "<"
    QLabel* rightLabel;    // ">"

private:
    QFont font_;
    QString label_default_;
    QString label_modify_;
    QString combo_default_;
    QString combo_modify_;
};
