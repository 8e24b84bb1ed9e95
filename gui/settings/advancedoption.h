#pragma once
// The advanced-settings menu (page 12, opened from the settings menu): LCD display (15),
// other settings (17), factory reset (18), the ageing log (23, behind an access code typed
// on the number keyboard) and the receiving-card self-recovery (25, offered only while
// "/data/rcvrecovery" holds package files).

#include "gui/settings/settingsscreen.h"

#include <QString>

class My_lineEdit;

class AdvancedOption : public SettingsScreen {
    Q_OBJECT
public:
    // The code that opens the ageing-log screen.
    static const char kAgeingAccessCode[];

    explicit AdvancedOption(QWidget* parent = nullptr);
    ~AdvancedOption() override;
    // Texts for the language; greys the recovery entry when the package folder is empty.
    void language_changed() override;
    // A stored or deleted card package (a file notification) enables or greys the
    // recovery entry.
    void syncUpdate() override;

    QPushButton* Button_lcdshow;
    QPushButton* Button_othersetup;
    QPushButton* Button_factory;
    QPushButton* Button_factoryage;
    QPushButton* Button_rcv_recovery;
    // Where the keypad's text for the access code goes (not shown).
    My_lineEdit* lineEdit_password;
    // Whether "/data/rcvrecovery" held files when the entry was last drawn.
    bool rcv_files = false;
    // Set by confirmString when the typed text was the access code.
    bool access_granted = false;

public slots:
    void on_Button_lcdshow_clicked();
    void on_Button_othersetup_clicked();
    void on_Button_factory_clicked();
    void on_Button_factoryage_clicked();
    void on_Button_rcv_recovery_clicked();
    void show_numberkeyboard_ui(QString text);
    // The keypad's text: compared with the access code.
    void confirmString(QString text);

protected:
    // The recovery entry from what "/data/rcvrecovery" holds now.
    void rcv_entry_init();
    void open_entry(int index) override;
    void clear_pointer() override;
};

extern AdvancedOption* g_advancedoption;
