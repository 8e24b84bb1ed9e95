#include "tests/support/SharedManagers.h"

#include "core/config_engine.h"
#include "fpga/fpga_manage.h"
#include "scaler/c331_manage.h"
#include "sources/velinsource.h"

#include <memory>

namespace kel_test {

void resetSharedManagers()
{
    // The scaler manager made here is replaced; the others (and a scaler manager a test
    // pointed to) may be a test's object on its stack, so they are let go, not deleted.
    static std::unique_ptr<c331_manage> scaler;
    scaler = std::make_unique<c331_manage>();
    c331_manage::p_c331_manage = scaler.get();
    velinsource::p_velin_source = nullptr;
    fpga_manage::p_fpga_manage = nullptr;
    delete ConfigEngine::p_config;
    ConfigEngine::p_config = nullptr;
}

} // namespace kel_test
