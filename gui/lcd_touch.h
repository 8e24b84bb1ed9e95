#pragma once
// Reader of the rotary-encoder character device "/dev/ec11". Present for completeness:
// nothing in the program constructs it, and touch detection is not provided.

#include <cstdint>

class lcd_touch {
public:
    static lcd_touch* pInstance();
    static lcd_touch* p_lcd_touch;

    lcd_touch();
    ~lcd_touch();

    void lcd_touch_init();
    int initialize();
    static void* lcdmanageThread(void* arg);
    int lcd_touch_detect();
    int auto_timeout_back();
};

// Polls in a row that found no touch; stops counting at 100001.
extern uint32_t g_untouched_time;

// SIGIO handler for the encoder device: reads one byte and prints it.
void fifth_testsignal(int signum);
