#pragma once
// A screen fixture with receiving cards. fpgaUp() makes an FPGA manager (no thread) whose
// FPGA 0 is up with no cards on its 16 ports; cards() puts simulated cards on a port of
// FPGA 0 and gives the manager their count; runJob() runs the manager loop pass by pass,
// whose dispatch runs the posted card job, with its receive path while the GUI handles the
// ring and the notifications. TearDown
// closes a ring left open, ends the job and removes the manager.
#include "fpga/fpga_manage.h"
#include "tests/support/GuiFixture.h"

#include <memory>

namespace kel_test {

class CardsFixture : public GuiFixture {
protected:
    void TearDown() override;

    void fpgaUp();
    static void cards(int port, int count);
    // At most `passes` loop passes, each followed by `irqs` turns of the receive path and a
    // tick; events are handled every `settleEvery` passes and at the end. The job must be over.
    void runJob(int passes, int irqs, int settleEvery);

    std::unique_ptr<fpga_manage> fpga;
};

} // namespace kel_test
