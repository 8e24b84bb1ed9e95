#include "gui/kel_keyboard.h"

#include "core/global.h"
#include "core/kelrampara.h"

#include <cstdio>

namespace {
// Read under the block's lock: PC links switch the layers on their threads.
bool window_enabled(KelRamPara* p, int window)
{
    return (p->locked16(KelRamPara::kLayers + KelRamPara::kLayerSize * window + KelRamPara::kLayerFlags) & 1) != 0;
}

void select_window(KelRamPara* p, int window)
{
    if (window_enabled(p, window) && g_image_current != window) {
        g_image_current = static_cast<u8>(window);
        p->test_signal(1);
    }
}
} // namespace

void kel_keyboard::update_usb_keyEvent(int key)
{
    // The keypad handler writes its line whatever the trace switch says.
    std::printf("\n======update_usb_keyEvent===== key = %#x\n", key);
    std::fflush(stdout);
    KelRamPara* p = KelRamPara::pInstance();
    if (p->locked16(KelRamPara::kKeyLock) != 0 || key < 66 || key > 80)
        return;
    switch (key) {
    case 66:   // B
        select_window(p, 0);
        break;
    case 67:   // C
        select_window(p, 1);
        break;
    case 69:   // E
        select_window(p, 2);
        break;
    case 70:   // F
        select_window(p, 3);
        break;
    case 73:   // I
        p->KelSetImageSource(0, 3, static_cast<char>(g_image_current.load()));
        break;
    case 74:   // J
        p->KelSetImageSource(0, 0, static_cast<char>(g_image_current.load()));
        break;
    case 75:   // K
        p->KelSetImageSource(0, 1, static_cast<char>(g_image_current.load()));
        break;
    case 76:   // L
        p->KelSetImageSource(0, 2, static_cast<char>(g_image_current.load()));
        break;
    case 78:   // N
        p->KelSetImageFreeze();
        break;
    case 80:   // P
        p->KelSetImageBlack();
        break;
    default:   // D G H M O: nothing
        break;
    }
}
