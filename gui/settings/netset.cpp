#include "gui/settings/netset.h"

#include "gui/kel_keys.h"

netset* g_netset = nullptr;

netset::netset(QWidget* parent) : SettingsScreen("netset", 6, parent)
{
    menulist_init();
    language_changed();
}

netset::~netset()
{
    clear_pointer();
}

void netset::clear_pointer()
{
    if (g_netset == this)
        g_netset = nullptr;
}

void netset::language_changed()
{
    set_title(kel_text("网口输出", "Port output", "Выходные порты", "Cổng đầu ra", "網口輸出"));
}
