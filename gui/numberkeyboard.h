#pragma once
// The one shared on-screen number keypad (g_numberkeyboard, built by MainWindow, placed by
// main over the right half of the screen). Hand-shake with a screen that has numeric
// fields (My_lineEdit):
//  1. the screen connects each field's send_show(QString) to its show_numberkeyboard_ui
//     and g_numberkeyboard's sendKeyBoardUIDataToLineEdit(QString) to its confirmString;
//  2. show_numberkeyboard_ui stores the field in g_lineedit, calls
//     g_numberkeyboard->label_show(title, field text) and runs g_numberkeyboard->exec();
//  3. OK hands the typed text to the screen that opened the keypad (its confirmString, or
//     the signal when the opener has none) and hides the keypad; Cancel/back only hide it;
//  4. confirmString(text) writes text into g_lineedit.
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QString>
#include <functional>

namespace Ui {
class NumberKeyboard;
}

class NumberKeyboard : public QDialog {
    Q_OBJECT
public:
    explicit NumberKeyboard(QWidget* parent = nullptr);
    ~NumberKeyboard() override;

    // Shows text in the field under a title; the title is asked for again in the new
    // language when the language changes while the keypad is open.
    void label_show(std::function<QString()> title, QString text);
    // A title that reads the same in every language.
    void label_show(const QString& title, QString text);
    void language_changed();
    void menulist_init();

    unsigned char ui_select;
    Ui::NumberKeyboard* form() const { return ui; }
    QWidget* focused_widget() const { return focus_widget_; }
    // The screen that called label_show (the top modal screen at that moment).
    QWidget* opener() const { return opener_; }

signals:
    void sendKeyBoardUIDataToLineEdit(QString text);

public slots:
    void on_ButtonC_clicked();
    void on_ButtonX_clicked();
    void on_Button_ok_clicked();
    void on_Button_close_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void move_focus(int index);
    void digit(int index);

    Ui::NumberKeyboard* ui;
    QWidget* focus_widget_;
    QString style_key_;
    QString style_key_focus_;
    QString style_ok_;
    QString style_ok_focus_;
    QWidget* focus_list_[14];
    QPointer<QWidget> opener_;
    std::function<QString()> title_;
};

extern NumberKeyboard* g_numberkeyboard;
// The field being edited; a guarded pointer, so a field deleted with its screen reads null.
extern QPointer<QLineEdit> g_lineedit;
// The digits typed since the keypad was last opened.
extern QString l_str;
