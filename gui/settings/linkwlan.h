#pragma once
// The network-address screen (page 22, opened from the communication menu): the device's
// address, mask and gateway as twelve octet fields, each typed on the shared number
// keyboard. Storing an edited address is not built.

#include "gui/settings/settingsscreen.h"

#include <QString>

class My_lineEdit;

class linkwlan : public SettingsScreen {
    Q_OBJECT
public:
    static constexpr int kFields = 12;

    explicit linkwlan(QWidget* parent = nullptr);
    ~linkwlan() override;
    void language_changed() override;
    // The octet fields from the device's address, mask and gateway.
    void para_init();
    // A PC's address change or a network reset: the fields follow once what they were
    // drawn from has changed (a field typed on the keypad is kept until then).
    void syncUpdate() override;

    QLabel* label_rows[3];
    My_lineEdit* line_edits[kFields];
    QString style_field;
    QString style_field_focus;

private:
    QString drawn[3];   // address, mask and gateway as the fields were last drawn

public slots:
    void show_numberkeyboard_ui(QString text);
    // The keypad's text for the recorded field: a number from 0 to 255 (a larger one is
    // taken as 255; anything else leaves the field as it was).
    void confirmString(QString text);

protected:
    bool screen_key(int code) override;
    void clear_pointer() override;
};

extern linkwlan* g_linkwlan;
