#include "gui/settings/othersetup.h"

#include "gui/kel_keys.h"

othersetup* g_othersetup = nullptr;

othersetup::othersetup(QWidget* parent) : SettingsScreen("othersetup", 12, parent)
{
    menulist_init();
    language_changed();
}

othersetup::~othersetup()
{
    clear_pointer();
}

void othersetup::clear_pointer()
{
    if (g_othersetup == this)
        g_othersetup = nullptr;
}

void othersetup::language_changed()
{
    set_title(kel_text("其他设置", "Other settings", "Другие настройки", "Cài đặt khác", "其他設置"));
}
