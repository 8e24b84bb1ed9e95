#pragma once
// A spare "about" dialog: built with the program, opened by nothing.

#include <QDialog>

namespace Ui {
class About;
}

class About : public QDialog {
    Q_OBJECT
public:
    explicit About(QWidget* parent = nullptr);
    ~About() override;

    Ui::About* ui;
};
