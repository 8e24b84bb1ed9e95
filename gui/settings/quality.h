#pragma once
// The picture-quality screen (page 19, opened from the image-quality menu): its title, its way
// back and its refresh; the screen's own settings are not built.

#include "gui/settings/settingsscreen.h"

class quality : public SettingsScreen {
    Q_OBJECT
public:
    explicit quality(QWidget* parent = nullptr);
    ~quality() override;
    void language_changed() override;

protected:
    void clear_pointer() override;
};

extern quality* g_quality;
