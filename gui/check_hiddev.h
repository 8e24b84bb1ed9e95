#pragma once
// The USB keypad (vendor 0x28E9, product 0x0380) is looked for once, first thing at
// start-up; main keeps the answer in g_kel_keys.
constexpr unsigned short KEL_KEYPAD_VID = 0x28E9;
constexpr unsigned short KEL_KEYPAD_PID = 0x0380;

// 1 when the keypad is attached, else 0.
int check_hiddev();
