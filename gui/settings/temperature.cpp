#include "gui/settings/temperature.h"

#include "gui/kel_keys.h"

temperature* g_temperature = nullptr;

temperature::temperature(QWidget* parent) : SettingsScreen("temperature", 11, parent)
{
    menulist_init();
    language_changed();
}

temperature::~temperature()
{
    clear_pointer();
}

void temperature::clear_pointer()
{
    if (g_temperature == this)
        g_temperature = nullptr;
}

void temperature::language_changed()
{
    set_title(kel_text("色温", "Color temperature", "Цветовая температура", "Nhiệt độ màu", "色溫"));
}
