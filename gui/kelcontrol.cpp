#include "gui/kelcontrol.h"

#include <QComboBox>
#include <QLabel>

kelcontrol::kelcontrol(QRect comboRect, QRect leftRect, QRect rightRect, QWidget* parent)
    : QWidget(parent),
      label_default_("color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);background-color:rgb(0, 0, 0)"),
      label_modify_("color: rgb(255, 255, 255);border:1px solid rgb(71,119,255);background-color:rgb(0, 0, 0)"),
      combo_default_("QComboBox{color:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);\n}\n"
                     "QComboBox:drop-down{\nborder-style:none\n}"),
      combo_modify_("QComboBox{color:rgb(255,255,255);\nborder:1px solid rgb(71,119,255);\n}\n"
                    "QComboBox:drop-down{\nborder-style:none\n}")
{
    font_.setPointSize(9);
    comboBox = new QComboBox(this);
    comboBox->setObjectName(QStringLiteral("kelcontrol"));
    comboBox->setGeometry(comboRect);
    comboBox->setFocusPolicy(Qt::NoFocus);
    comboBox->setFont(font_);
    leftLabel = new QLabel(QStringLiteral("<"), this);
    leftLabel->setGeometry(leftRect);
    leftLabel->setFont(font_);
    leftLabel->setAlignment(Qt::AlignCenter);
    rightLabel = new QLabel(QStringLiteral(">"), this);
    rightLabel->setGeometry(rightRect);
    rightLabel->setFont(font_);
    rightLabel->setAlignment(Qt::AlignCenter);
    set_box_default();
}

void kelcontrol::set_box_default()
{
    comboBox->setStyleSheet(combo_default_);
    leftLabel->setStyleSheet(label_default_);
    rightLabel->setStyleSheet(label_default_);
}

void kelcontrol::set_box_modify()
{
    comboBox->setStyleSheet(combo_modify_);
    leftLabel->setStyleSheet(label_modify_);
    rightLabel->setStyleSheet(label_modify_);
}

void kelcontrol::set_boxindexsel(char index)
{
    comboBox->setCurrentIndex(static_cast<int>(index));
}
