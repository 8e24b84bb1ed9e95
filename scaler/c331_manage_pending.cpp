// Operations that belong to the scaler's window-setter and pattern modules. The
// start-up stages and the apply step already call them by their names; until their modules are built each keeps the state it is handed
// where that is plain, and records its call so that what was asked of it can be seen.
#include "scaler/c331_manage.h"

#include <string>

namespace {
std::string call(const char* name, long a)
{
    return std::string(name) + "(" + std::to_string(a) + ")";
}
std::string call(const char* name, long a, long b)
{
    return std::string(name) + "(" + std::to_string(a) + "," + std::to_string(b) + ")";
}
} // namespace

// --- window setters ---
void c331_manage::c331_SetWinAttr(int win, int value)
{
    if (kelApi_IsWinValid(win)) {
        PM_WIN_ATTR0[win] = value & 1;
        PM_WIN_ATTR1[win] = (value >> 1) & 1;
        g_chg_attr[win] = 1;
    }
    record_call(call("c331_SetWinAttr", win, value));
}
void c331_manage::c331_SetInputsourceCrop(int win, int word) { record_call(call("c331_SetInputsourceCrop", win, word)); }
void c331_manage::c331_SetWinOutput(int, int win, int value) { record_call(call("c331_SetWinOutput", win, value)); }
void c331_manage::c331_SetWinDbdMode(int, int win, int value) { record_call(call("c331_SetWinDbdMode", win, value)); }

// --- test patterns: the input-following half rests while one is shown ---
void c331_manage::c331_SetPattern(int pattern)
{
    pattern_gen_on = (pattern >= 1 && pattern <= 8) ? 1 : 0;
    record_call(call("c331_SetPattern", pattern));
}
