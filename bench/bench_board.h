#pragma once
// What every benchmark sets up first: a data root of its own on the simulated board, no
// transaction logs of its models (a host run keeps none) and no trace lines in the measured
// loops, the parameter block with its scaler manager, and a link opened on ports moved out
// of the way of a running controller.

#include "board/sim/InputSideModel.h"
#include "board/sim/ReceivingCardModel.h"
#include "board/sim/Sim.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "scaler/c331_manage.h"
#include "sources/velinsource.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

namespace bench {

// The data root (removed by the caller at the end).
inline std::string start_board()
{
    std::string root = (std::filesystem::temp_directory_path() / ("kel-bench-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(root);
    sim::SimBoard::setRoot(root);
    sim::SimBoard::setRecording(false);
    g_debugSwitch = 0;
    c331_manage::p_c331_manage = new c331_manage();
    KelRamPara::pInstance();
    return root;
}

// The FPGA manager with FPGA 0 brought up, as the device's start leaves it: its receiving
// cards answer only once the link to them is up, which waits for the input side's start-up
// (kept in source, with no thread of its own). Port 1's cards answer; ports 0, 2 and 3 stay
// silent (a card or a cable missing). Null when it is not up within 3,000 passes.
inline std::unique_ptr<fpga_manage> bring_up_cards(std::unique_ptr<velinsource>& source)
{
    source = std::make_unique<velinsource>();
    velinsource::p_velin_source = source.get();
    source->clock_state[0] = 2;
    sim::InputSideModel::clockChip().loadRunningImage();
    auto m = std::make_unique<fpga_manage>();
    fpga_manage::p_fpga_manage = m.get();
    if (m->initialize() == 0) {
        m->softinit();
        for (int pass = 0; pass < 3000 && m->get_fpga_status() != 1; ++pass) {
            G_timeTicks = G_timeTicks + 1;
            m->fpga_manage_deal(nullptr);
        }
    }
    for (int port : {0, 2, 3})
        sim::ReceivingCardModel::setFault(0, port, sim::ReceivingCardModel::Fault::Silent);
    if (m->get_fpga_status() == 1)
        return m;
    std::fprintf(stderr, "bench: the FPGA did not come up\n");
    fpga_manage::p_fpga_manage = nullptr;
    return nullptr;
}

// Waits until the card path keeps no request and awaits no answer (an earlier case's
// requests are given up PassbyQueue::PC_WAIT_TICKS after they came); false after 30 s.
inline bool cards_idle(fpga_manage& m)
{
    for (int k = 0; k < 600; ++k) {
        {
            std::lock_guard<std::mutex> path(m.port_path_mutex);
            if (m.passby.kept() == 0 && !m.passby.busy())
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Opens the link on the ports moved by KEL_PORT_OFFSET when it is set (null when they are
// taken); otherwise tries port offsets until open() gives a link whose ports are all open,
// null after 50.
template <class Link, class Open>
Link* open_link(int& offset, Open open)
{
    const char* given = std::getenv("KEL_PORT_OFFSET");
    for (int attempt = 0; attempt < 50; ++attempt) {
        offset = given && *given ? std::atoi(given) : 20000 + (::getpid() + attempt * 997) % 25000;
        sim::SimBoard::setPortOffset(offset);
        if (Link* link = open())
            return link;
        if (given && *given) {
            std::fprintf(stderr, "the ports moved by KEL_PORT_OFFSET=%s cannot all be opened\n", given);
            break;
        }
    }
    return nullptr;
}

} // namespace bench
