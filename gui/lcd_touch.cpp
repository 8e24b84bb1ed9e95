#include "gui/lcd_touch.h"

#include "board/Clock.h"
#include "core/global.h"

#include <unistd.h>

lcd_touch* lcd_touch::p_lcd_touch = nullptr;
uint32_t g_untouched_time = 0;

namespace {
// Descriptor of the encoder device; -1 while it is not open.
int ecll_fd = -1;
} // namespace

lcd_touch* lcd_touch::pInstance()
{
    if (p_lcd_touch == nullptr)
        p_lcd_touch = new lcd_touch();
    return p_lcd_touch;
}

lcd_touch::lcd_touch()
{
    lcd_touch_init();
}

lcd_touch::~lcd_touch()
{
}

void lcd_touch::lcd_touch_init()
{
    // The board layer offers no operation for the encoder device, so the descriptor stays
    // closed; no SIGIO handler is installed for a device that cannot raise it.
    ecll_fd = -1;
    KEL_TRACE("\n lcd_touch: encoder device not available\n");
}

void fifth_testsignal(int)
{
    if (ecll_fd < 0)
        return;
    unsigned char key = 0;
    if (::read(ecll_fd, &key, 1) == 1)
        KEL_TRACE("signumkey_val: %#x\n\n", key);
}

int lcd_touch::initialize()
{
    return 0;
}

void* lcd_touch::lcdmanageThread(void* arg)
{
    if (arg == nullptr)
        return nullptr;
    for (;;)
        board::Clock::sleepMs(1);
    return nullptr;
}

int lcd_touch::lcd_touch_detect()
{
    return -1;
}

int lcd_touch::auto_timeout_back()
{
    const int result = lcd_touch_detect();
    if (result == 0)
        g_untouched_time = 0;
    else if (g_untouched_time <= 100000)
        ++g_untouched_time;
    return result;
}
