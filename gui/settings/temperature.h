#pragma once
// The colour-temperature screen (page 20, opened from the image-quality menu): its title, its way
// back and its refresh; the screen's own settings are not built.

#include "gui/settings/settingsscreen.h"

class temperature : public SettingsScreen {
    Q_OBJECT
public:
    explicit temperature(QWidget* parent = nullptr);
    ~temperature() override;
    void language_changed() override;

protected:
    void clear_pointer() override;
};

extern temperature* g_temperature;
