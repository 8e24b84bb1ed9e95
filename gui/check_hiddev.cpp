#include "gui/check_hiddev.h"

#include "board/Console.h"
#include "board/Keypad.h"

int check_hiddev()
{
    // The keypad check writes its lines whatever the trace switch says.
    const bool found = board::Keypad::present(KEL_KEYPAD_VID, KEL_KEYPAD_PID);
    if (found)
        board::Console::trace("\t VendorID = %02x , ProductID = %02x \n", KEL_KEYPAD_VID, KEL_KEYPAD_PID);
    // Left open as the other traces leave theirs: a warning that follows ends the line.
    board::Console::trace("\t check_hiddev over");
    return found ? 1 : 0;
}
