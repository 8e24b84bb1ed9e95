#include "gui/my_lineedit.h"

My_lineEdit::My_lineEdit(QWidget* parent) : QLineEdit(parent) {}

void My_lineEdit::mousePressEvent(QMouseEvent* event)
{
    emit send_show(text());
    QLineEdit::mousePressEvent(event);
}
