#include "gui/settings/quality.h"

#include "gui/kel_keys.h"

quality* g_quality = nullptr;

quality::quality(QWidget* parent) : SettingsScreen("quality", 11, parent)
{
    menulist_init();
    language_changed();
}

quality::~quality()
{
    clear_pointer();
}

void quality::clear_pointer()
{
    if (g_quality == this)
        g_quality = nullptr;
}

void quality::language_changed()
{
    set_title(kel_text("画质", "Picture quality", "Качество изображения", "Chất lượng hình ảnh", "畫質"));
}
