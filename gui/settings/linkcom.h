#pragma once
// The serial-port information screen (page 21, opened from the communication menu): its title, its way
// back and its refresh; the screen's own settings are not built.

#include "gui/settings/settingsscreen.h"

class linkcom : public SettingsScreen {
    Q_OBJECT
public:
    explicit linkcom(QWidget* parent = nullptr);
    ~linkcom() override;
    void language_changed() override;

protected:
    void clear_pointer() override;
};

extern linkcom* g_linkcom;
