#pragma once
// The test-pattern screen (page 16, opened from the settings menu): its title, its way
// back and its refresh; the screen's own settings are not built.

#include "gui/settings/settingsscreen.h"

class test_chart : public SettingsScreen {
    Q_OBJECT
public:
    explicit test_chart(QWidget* parent = nullptr);
    ~test_chart() override;
    void language_changed() override;

protected:
    void clear_pointer() override;
};

extern test_chart* g_test_chart;
