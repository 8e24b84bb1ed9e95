#pragma once
// What the command handler's files share: the objects they reach and the lock under
// which parameter-block edits are made.
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "scaler/c331_manage.h"

#include <mutex>

namespace mdshared {

// The parameter object and the scaler manager; null in a process that has not created them.
inline KelRamPara* para() { return KelRamPara::p_kelrampara_config; }
inline c331_manage* scaler() { return c331_manage::p_c331_manage; }

// The file-transfer type codes of the images the device starts from: the program (1), the
// kernel (3) and the boot logo (4). They are installed only whole, and a restart during
// their upload would tear them.
inline bool installed_image(uint8_t type) { return type == 1 || type == 3 || type == 4; }

// Block edits are made under the block's lock, as every other
// writer of scaler settings does; without a scaler manager there is nothing to apply.
class ScalerLock {
public:
    ScalerLock() : m_lock(KelRamPara::lock_block()) {}
    // false with no scaler to apply (and so nothing that would store the edit).
    bool apply(uint8_t value)
    {
        if (!scaler())
            return false;
        scaler()->raise_apply_flag(value);
        return true;
    }
private:
    std::unique_lock<std::mutex> m_lock;
};

// FPGA manager shadow register, 0 without a manager.
inline uint8_t fpga_reg(int reg, int fpga)
{
    fpga_manage* f = fpga_manage::p_fpga_manage;
    return f ? f->reg_shadow(reg, fpga) : 0;
}

} // namespace mdshared
