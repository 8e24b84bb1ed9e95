#pragma once
// The other-settings screen (page 17, opened from the advanced settings): its title, its way
// back and its refresh; the screen's own settings are not built.

#include "gui/settings/settingsscreen.h"

class othersetup : public SettingsScreen {
    Q_OBJECT
public:
    explicit othersetup(QWidget* parent = nullptr);
    ~othersetup() override;
    void language_changed() override;

protected:
    void clear_pointer() override;
};

extern othersetup* g_othersetup;
