#pragma once
// The LCD display screen (page 15, opened from the advanced settings): its title, its way
// back and its refresh; the screen's own settings are not built.

#include "gui/settings/settingsscreen.h"

class lcdshow : public SettingsScreen {
    Q_OBJECT
public:
    explicit lcdshow(QWidget* parent = nullptr);
    ~lcdshow() override;
    void language_changed() override;

protected:
    void clear_pointer() override;
};

extern lcdshow* g_lcdshow;
