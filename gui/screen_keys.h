#pragma once
// The front-panel keys as every menu screen takes them. A press is swallowed (at most a
// trace line for OK and back), so that Enter and Escape never close a dialog. A release is
// traced and handed to the screen's own action for it; the mode key leaves for the user
// modes (kel_mode_shortcut) unless the screen has none. Then the code goes on to the USB
// keypad handler, except a mode key refused by the key lock or by the screen.

#include "gui/kel_keyboard.h"

#include <functional>

class QKeyEvent;
class QWidget;

struct ScreenKeys {
    std::function<void(int step)> move{};   // left -1, right +1
    std::function<void()> ok{};
    std::function<void()> back{};
    // Mode key: clears the pointers to what closes with the screen; a screen without it
    // leaves the mode key to the keypad handler alone.
    std::function<void()> forget{};
    // Mode key: true while the screen refuses to close (a job runs); the key goes nowhere.
    std::function<bool()> mode_refused{};
    // A key the screen takes itself before all of the above (true: taken).
    std::function<bool(int code)> own_key{};
};

void screen_key_press(const char* name, const QKeyEvent* event);
// The screen may be gone once this returns (its own back or mode action closed it).
void screen_key_release(QWidget* screen, const char* name, int code, kel_keyboard& keyboard, const ScreenKeys& keys);
