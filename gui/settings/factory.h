#pragma once
// The factory-reset screen (page 18, opened from the advanced settings). Three resets put
// the parameter block back to its defaults: one keeps the requested EDIDs and the network
// address, one keeps the network address, one restores everything. Each has every input's
// EEPROM rewritten from the requested EDID, has the scaler apply the whole block again
// (with the user-mode files) and confirms with the toast.

#include "gui/settings/settingsscreen.h"

class factory : public SettingsScreen {
    Q_OBJECT
public:
    enum Reset { KeepIpAndEdid = 0, KeepIp = 1, Everything = 2 };

    explicit factory(QWidget* parent = nullptr);
    ~factory() override;
    void language_changed() override;

    // Carries out one of the resets (the toast included).
    static void factory_reset(Reset which);

    QPushButton* Button_keep_ip_edid;
    QPushButton* Button_keep_ip;
    QPushButton* Button_all;

protected:
    void open_entry(int index) override;
    void clear_pointer() override;
};

extern factory* g_factory;
