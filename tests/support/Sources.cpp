#include "tests/support/Sources.h"

#include "board/sim/I2cBusModel.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "sources/velinsource.h"

namespace kel_test {

void dropSources()
{
    delete velinsource::p_velin_source;
    delete KelRamPara::p_kelrampara_config;
    KelRamPara::p_kelrampara_config = nullptr;
    delete ConfigEngine::p_config;
}

void SourcesFixture::SetUp()
{
    dropSources();
    ConfigEngine::pInstance();
    para = KelRamPara::pInstance();
}

void SourcesFixture::openSources()
{
    src = velinsource::pInstance();
    src->open_bus();
}

void resetSourceGlobals()
{
    G_timeTicks = 0;
    g_source_online = 0;
    g_fpga_lcd_on = 0;
    g_c331_source_online = 0;
}

std::vector<std::pair<int, int>> i2cWrites(int address8)
{
    std::vector<std::pair<int, int>> out;
    for (const auto& r : sim::I2cBusModel::log())
        if (r.address8 == address8 && !r.read && r.data.size() == 2)
            out.emplace_back(r.data[0], r.data[1]);
    return out;
}

} // namespace kel_test
