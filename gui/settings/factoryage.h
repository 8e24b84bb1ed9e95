#pragma once
// The ageing-log screen (page 23, opened from the advanced settings with the access code):
// the newest samples of the main window's ageing log and the five step counts. The tick
// redraws it after each sample (update_agelog); its refresh does nothing.

#include "gui/settings/settingsscreen.h"

class factoryage : public SettingsScreen {
    Q_OBJECT
public:
    static constexpr int kLines = 6;

    explicit factoryage(QWidget* parent = nullptr);
    ~factoryage() override;
    void language_changed() override;
    void syncUpdate() override;
    // Redraws the log lines (newest first) and the five counts.
    void update_agelog();

    QLabel* label_counts;
    QLabel* label_log[kLines];

protected:
    void clear_pointer() override;
};

extern factoryage* g_factoryage;
