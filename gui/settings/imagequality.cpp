#include "gui/settings/imagequality.h"

#include "gui/kel_keys.h"
#include "gui/kel_screens.h"

#include <QPushButton>

ImageQuality* g_imagequality = nullptr;

ImageQuality::ImageQuality(QWidget* parent) : SettingsScreen("ImageQuality", 5, parent)
{
    Button_quality = add_entry("Button_quality", 40, 70, 110, 80);
    Button_temperature = add_entry("Button_temperature", 170, 70, 110, 80);
    menulist_init();
    language_changed();
}

ImageQuality::~ImageQuality()
{
    clear_pointer();
}

void ImageQuality::clear_pointer()
{
    if (g_imagequality == this)
        g_imagequality = nullptr;
}

void ImageQuality::language_changed()
{
    set_title(kel_text("画质设置", "Image quality", "Качество изображения", "Chất lượng hình ảnh", "畫質設置"));
    set_entry_text(Button_quality, kel_text("画质", "Picture\nquality", "Качество", "Chất lượng", "畫質"), 11);
    set_entry_text(Button_temperature,
                   kel_text("色温", "Color\ntemperature", "Цветовая\nтемпература", "Nhiệt độ\nmàu", "色溫"), 11);
}

void ImageQuality::on_Button_quality_clicked()
{
    KEL_OPEN_MODAL(quality, g_quality, 19);
}

void ImageQuality::on_Button_temperature_clicked()
{
    KEL_OPEN_MODAL(temperature, g_temperature, 20);
}

void ImageQuality::open_entry(int index)
{
    if (index == 0)
        on_Button_quality_clicked();
    else
        on_Button_temperature_clicked();
}
