#include "gui/settings/test_chart.h"

#include "gui/kel_keys.h"

test_chart* g_test_chart = nullptr;

test_chart::test_chart(QWidget* parent) : SettingsScreen("test_chart", 5, parent)
{
    menulist_init();
    language_changed();
}

test_chart::~test_chart()
{
    clear_pointer();
}

void test_chart::clear_pointer()
{
    if (g_test_chart == this)
        g_test_chart = nullptr;
}

void test_chart::language_changed()
{
    set_title(kel_text("测试图", "Test chart", "Тестовое изображение", "Mẫu thử", "測試圖"));
}
