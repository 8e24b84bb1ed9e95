#pragma once
// The output-port status screen (page 14, opened from the output menu): its title, its way
// back and its refresh; the screen's own settings are not built.

#include "gui/settings/settingsscreen.h"

class netset : public SettingsScreen {
    Q_OBJECT
public:
    explicit netset(QWidget* parent = nullptr);
    ~netset() override;
    void language_changed() override;

protected:
    void clear_pointer() override;
};

extern netset* g_netset;
