#include "tests/support/CardsFixture.h"

#include "board/sim/ReceivingCardModel.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/QRoundProgressBar.h"
#include "tests/support/KeyDriver.h"

#include <mutex>

namespace kel_test {

void CardsFixture::TearDown()
{
    if (g_qround_bar)
        g_qround_bar->para_sync(100);
    g_send_para.end();
    fpga.reset();
    fpga_manage::p_fpga_manage = nullptr;
    GuiFixture::TearDown();
}

void CardsFixture::fpgaUp()
{
    fpga = std::make_unique<fpga_manage>();
    fpga_manage::p_fpga_manage = fpga.get();
    ASSERT_EQ(fpga->initialize(), 0);
    fpga->softinit();
    g_send_para.end();
    fpga_manage::MCU_REG_func[0][80] = 3;
    fpga->link_stage[0] = 7;
    fpga->check_step[0] = 16;
    for (int port = 0; port < 16; ++port)
        sim::ReceivingCardModel::setCards(0, port, 0);
}

void CardsFixture::cards(int port, int count)
{
    sim::ReceivingCardModel::setCards(0, port, count);
    KelRamPara::put16(fpga_manage::MCU_RAM_PARA_func[0] + fpga_manage::kCardCountOffset[port], uint16_t(count));
}

void CardsFixture::runJob(int passes, int irqs, int settleEvery)
{
    for (int i = 0; i < passes && g_send_para.job != 0; ++i) {
        fpga->fpga_manage_deal(nullptr);
        {
            std::lock_guard<std::mutex> hold(fpga->port_path_mutex);
            for (int k = 0; k < irqs; ++k)
                fpga->reg_IRQ_Dealwith(0, 0);
        }
        G_timeTicks += 1;
        if (i % settleEvery == 0)
            settle();
    }
    settle();
    ASSERT_EQ(g_send_para.job, 0);
}

} // namespace kel_test
