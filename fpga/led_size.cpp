#include "fpga/led_size.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"

#include <mutex>

namespace led_size {

bool follow(uint8_t* ram, const uint8_t* saved)
{
    using P = KelRamPara;
    bool changed = false;
    for (int at : {P::kLedWidth, P::kLedHeight, P::kPanelMode})
        changed = changed || P::get16(ram + at) != P::get16(saved + at);
    if (!changed)
        return false;
    // Only a running FPGA 0 takes the hand-shake.
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (fpga && fpga->reg_shadow(80, 0) == 3) {
        std::lock_guard<std::mutex> hold(Utils::_led_para_init_mutex);
        g_set_led_para = 1;
        g_set_led_setup = 0;
    }
    P::put16(ram + P::kAudioWindow, 0);
    return true;
}

} // namespace led_size
