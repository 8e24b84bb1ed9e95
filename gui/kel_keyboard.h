#pragma once
// The USB keypad's letter keys. Every screen holds one kel_keyboard and, after its own key
// handling, passes every released key code to update_usb_keyEvent: B C E F select window
// 0 to 3, I J K L put input 3, 0, 1, 2 on the current window, N toggles freeze and P black
// of the current window. Nothing happens while the front-panel key lock is set.
class kel_keyboard {
public:
    kel_keyboard() {}
    void update_usb_keyEvent(int key);
};
