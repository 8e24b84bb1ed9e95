#include "gui/settings/linkcom.h"

#include "gui/kel_keys.h"

linkcom* g_linkcom = nullptr;

linkcom::linkcom(QWidget* parent) : SettingsScreen("linkcom", 10, parent)
{
    menulist_init();
    language_changed();
}

linkcom::~linkcom()
{
    clear_pointer();
}

void linkcom::clear_pointer()
{
    if (g_linkcom == this)
        g_linkcom = nullptr;
}

void linkcom::language_changed()
{
    set_title(kel_text("串口连接", "Serial port", "COM-порт", "Cổng nối tiếp", "串口連接"));
}
