#pragma once
// A numeric field: a touch announces it with send_show(text) so that its screen opens the
// shared number keyboard for it.
#include <QLineEdit>

class My_lineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit My_lineEdit(QWidget* parent = nullptr);

signals:
    void send_show(QString data);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
