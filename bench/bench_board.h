#pragma once
// What every benchmark sets up first: a data root of its own on the simulated board, no
// trace lines in the measured loops, the parameter block with its scaler manager, and a
// link opened on ports moved out of the way of a running controller.

#include "board/sim/Sim.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "scaler/c331_manage.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace bench {

// The data root (removed by the caller at the end).
inline std::string start_board()
{
    std::string root = (std::filesystem::temp_directory_path() / ("kel-bench-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(root);
    sim::SimBoard::setRoot(root);
    g_debugSwitch = 0;
    c331_manage::p_c331_manage = new c331_manage();
    KelRamPara::pInstance();
    return root;
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
