#pragma once
// The receiving-card self-recovery screen (page 25, opened from the advanced settings).
// Query has the FPGA manager check the cards against the stored package (job 5) and lists
// the card the check found; Recovery writes the stored configuration back into that card
// (job 6). The jobs run on the FPGA manager thread; this screen only posts them in
// g_send_para, shows their progress on the shared ring and shows the list the manager hands
// over through set_file_list. While the ring exists the screen ignores Back, the mode key,
// Left/Right and OK, so it stays open for the whole job.

#include "gui/kel_keyboard.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;

namespace Ui {
class rcv_recovery;
}

class rcv_recovery : public QDialog {
    Q_OBJECT
public:
    static constexpr int kRowsPerPage = 4;

    explicit rcv_recovery(QWidget* parent = nullptr);
    ~rcv_recovery() override;

    void syncUpdate(int code);
    void language_changed();
    void menulist_init();
    void menulist_sel_left();
    void menulist_sel_right();
    void menulist_button_ok_page();
    void menulist_back_page();
    void rcv_self_recovery_file_list();

    // The text of a list entry "screen/port/card/count" in the current language, the card
    // number coloured red when it lies beyond the package's card count; empty for an entry
    // of fewer than four fields.
    static QString row_text(const QString& entry);

    Ui::rcv_recovery* ui;
    QStringList file_list;
    uint8_t file_count = 0;
    uint8_t ui_select = 0;
    int rcv_out_of_range = 0;
    int8_t current_page = 0;
    uint8_t page_last = 0;
    uint8_t file_select = 0;
    QFrame* frame_file = nullptr;
    QLabel* row_labels[kRowsPerPage] = {};
    QString row_texts[kRowsPerPage];
    QPushButton* button_previous = nullptr;
    QPushButton* button_next = nullptr;
    QWidget* menulist[2] = {};
    QWidget* focus_widget = nullptr;
    kel_keyboard keyboard;
    uint8_t job_started = 0;    // 5 query, 6 recovery: the last job this screen started
    bool check_failed = false;  // the last query could not run: the list says so

signals:
    void sig_qround_bar_update(int percent);

public slots:
    // The FPGA manager's list of cards to recover (queued to the GUI thread); an empty list
    // means none. The change notification that follows redraws the list.
    void set_file_list(const QStringList& list);
    void kel_Button_previous_clicked();
    void kel_Button_next_clicked();
    void kel_button_file_clicked();
    // The FPGA manager's report that the job ended without doing its work (why: one of
    // fpga_manage's kJob... reasons): a toast says so.
    void card_job_failed(int why = 0);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    bool start_job(uint8_t code);
};

extern rcv_recovery* g_rcv_recovery;
