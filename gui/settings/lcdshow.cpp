#include "gui/settings/lcdshow.h"

#include "gui/kel_keys.h"

lcdshow* g_lcdshow = nullptr;

lcdshow::lcdshow(QWidget* parent) : SettingsScreen("lcdshow", 12, parent)
{
    menulist_init();
    language_changed();
}

lcdshow::~lcdshow()
{
    clear_pointer();
}

void lcdshow::clear_pointer()
{
    if (g_lcdshow == this)
        g_lcdshow = nullptr;
}

void lcdshow::language_changed()
{
    set_title(kel_text("LCD显示", "LCD display", "Дисплей LCD", "Màn hình LCD", "LCD顯示"));
}
