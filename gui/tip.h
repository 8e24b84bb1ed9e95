#pragma once
// The one shared toast (g_tip, built by MainWindow). tip_create(type) shows it modally and
// returns when it has hidden: the 10 ms tick (MainWindow::slot_update_timer_ticks) calls
// tip_outtime_deal while g_tip_flag is set and hides the toast after 300 ticks (3 s).
// Types: 1 done (check mark), 3 USB stick connected, 4 USB stick removed, 5 reading data.
// A toast requested while one shows replaces its content and shares the rest of its time;
// that caller returns at once.
#include <QDialog>
#include <QString>

namespace Ui {
class TIP;
}
class QFrame;

class TIP : public QDialog {
    Q_OBJECT
public:
    explicit TIP(QWidget* parent = nullptr);
    ~TIP() override;

    void tip_create(int type);
    // A text toast (the look of types 3 to 5) with the caller's text, e.g. a job's failure.
    void tip_message(const QString& text);
    void tip_show();
    void tip_outtime_deal();

    // The text of a toast type in the current language (empty for type 1 and unknown types).
    static QString tip_text(int type);
    // The text of a toast telling that a setting could not be stored (a full or broken disc).
    static QString not_saved_text();
    QFrame* tip_frame() const { return frame_; }
    int tip_counter() const { return counter_; }

private:
    Ui::TIP* ui;
    QFrame* frame_;
    int counter_;
};

extern TIP* g_tip;
