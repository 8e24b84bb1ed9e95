#pragma once
// A spare one-button dialog: built with the program, opened by nothing.

#include <QDialog>

namespace Ui {
class Dialog;
}

class Dialog : public QDialog {
    Q_OBJECT
public:
    explicit Dialog(QWidget* parent = nullptr);
    ~Dialog() override;

    Ui::Dialog* ui;
};
