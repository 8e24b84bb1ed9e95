#pragma once
// The image-quality menu (page 11, opened from the settings menu): two entries, the
// picture-quality screen (page 19) and the colour-temperature screen (page 20).

#include "gui/settings/settingsscreen.h"

class ImageQuality : public SettingsScreen {
    Q_OBJECT
public:
    explicit ImageQuality(QWidget* parent = nullptr);
    ~ImageQuality() override;
    void language_changed() override;

    QPushButton* Button_quality;
    QPushButton* Button_temperature;

public slots:
    void on_Button_quality_clicked();
    void on_Button_temperature_clicked();

protected:
    void open_entry(int index) override;
    void clear_pointer() override;
};

extern ImageQuality* g_imagequality;
