// Receiving-card package ("/data/rcvrecovery/DIVU") and standalone scan-parameter files
// ("/data/smartmapping/*.kxfile") read by the FPGA manager's jobs against simulated card
// chains. Byte 0 picks the job (check, recovery, scan-parameter load), the rest is the file.
// Promise checked: the job only reads the file (it is unchanged afterwards). A job that
// goes on past a bound of passes (a file may ask for long sleeps) is ended there.
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fpga/rcv_package.h"

#include "board/sim/Sim.h"
#include "core/global.h"
#include "fpga/fpga_manage.h"
#include "fpga/rcv_recovery_file.h"

#include <memory>

namespace {

using kel_fuzz::Bytes;

fpga_manage* manager = nullptr;
const char* const kPackage = "/data/rcvrecovery/DIVU";
const char* const kScan = "/data/smartmapping/t.kxfile";
constexpr int kPassLimit = 20000;

void setUp()
{
    kel_fuzz::board();
    G_timeTicks = 1000;
    pc_cmd_valid = 0;
    g_set_led_para = 0;
    g_freeze_out = 0;
    ScreenState = 1;
    g_clock_record = CLOCK_RECORD{};
    manager = new fpga_manage();
    fpga_manage::p_fpga_manage = manager;
    if (manager->initialize() != 0)
        kel_fuzz::fail("fpga_manage::initialize");
    manager->softinit();
    fpga_manage::MCU_REG_func[0][80] = 3;
    manager->link_stage[0] = 7;
    manager->check_step[0] = 16;
    static const uint16_t offsets[3] = {100, 102, 108};
    const int counts[3] = {2, 3, 1};
    for (int port = 0; port < 16; ++port)
        sim::ReceivingCardModel::setCards(0, port, port < 3 ? counts[port] : 0);
    for (int port = 0; port < 3; ++port) {
        fpga_manage::MCU_RAM_PARA_func[0][offsets[port]] = uint8_t(counts[port]);
        fpga_manage::MCU_RAM_PARA_func[0][offsets[port] + 1] = 0;
    }
    {
        std::lock_guard<std::mutex> hold(g_kxfile_name_mutex);
        g_kxfile_name = kScan;
    }
    line_type.port = 1;
}

// One pass of the manager loop, whose dispatch runs the posted job, then its answers.
void pass()
{
    manager->fpga_manage_deal(nullptr);
    {
        std::lock_guard<std::mutex> hold(manager->port_path_mutex);
        for (int i = 0; i < 3; ++i)
            manager->reg_IRQ_Dealwith(0, 0);
    }
    G_timeTicks += 1;
}

rcv_test::Op op(uint8_t type, uint8_t target, uint32_t addr, Bytes data)
{
    rcv_test::Op o;
    o.type = type;
    o.target = target;
    o.addr = addr;
    o.ms = 20;
    o.data = std::move(data);
    return o;
}

void makeSeeds(const std::string& dir)
{
    using namespace rcv_test;
    Screen s;
    s.configId = 0x12345678;
    s.para = {op(1, 2, 0, {5, 6, 7}), op(1, 1, 0x400, {0xAB, 0xCD, 0xEF}), op(6, 1, 0, {})};
    const int counts[3] = {2, 3, 1};
    for (int p = 0; p < 3; ++p) {
        Port port;
        port.ledx = uint16_t(p);
        for (int c = 0; c < counts[p]; ++c)
            port.cards.push_back({op(1, 1, 0x300, {uint8_t(p), uint8_t(c)})});
        s.ports.push_back(port);
    }
    const Bytes pack = standard({s}).bytes;
    const Bytes scan = kxfile({op(1, 1, 0x2000, Bytes(300, 0x11)), op(1, 2, 0, {9, 8}), op(6, 1, 0, {})});
    for (uint8_t job : {0, 1}) {
        Bytes d = {job};
        d.insert(d.end(), pack.begin(), pack.end());
        kel_fuzz::writeSeed(dir, "package-" + std::to_string(job), d);
    }
    Bytes d = {2};
    d.insert(d.end(), scan.begin(), scan.end());
    kel_fuzz::writeSeed(dir, "scan", d);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    kel_fuzz::seedMode(argc, argv, makeSeeds);
    setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 16384)
        return 0;
    static const uint8_t jobs[3] = {5, 6, 2};
    const int kind = data[0] % 3;
    const char* path = kind == 2 ? kScan : kPackage;
    const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
    kel_fuzz::writeFile(path, content);
    g_send_para.sub_step = 0;
    g_send_para.progress = 65535;
    g_send_para.post(jobs[kind]);
    int passes = 0;
    while (g_send_para.job != 0 && passes < kPassLimit) {
        pass();
        ++passes;
    }
    if (g_send_para.job != 0)
        g_send_para.end();
    KEL_FUZZ_CHECK(kel_fuzz::readFile(path) == content);
    kel_fuzz::removeFile(path);
    return 0;
}
