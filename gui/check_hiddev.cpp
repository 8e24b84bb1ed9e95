#include "gui/check_hiddev.h"

#include "board/Keypad.h"

#include <cstdio>

int check_hiddev()
{
    // The keypad check writes its lines whatever the trace switch says.
    const bool found = board::Keypad::present(KEL_KEYPAD_VID, KEL_KEYPAD_PID);
    if (found)
        std::printf("\t VendorID = %02x , ProductID = %02x \n", KEL_KEYPAD_VID, KEL_KEYPAD_PID);
    std::printf("\t check_hiddev over");
    std::fflush(stdout);
    return found ? 1 : 0;
}
