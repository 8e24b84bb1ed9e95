// The table of commands (protocol/commands.md) against the handler: every command the handler
// answers is listed, and every failure a row names is brought about on a fresh simulated board
// and answered as the row says, a refused command changing nothing.
#include "tests/protocol/handler_fixture.h"

#include "board/sim/FpgaFlashModel.h"
#include "board/sim/FpgaModel.h"
#include "board/sim/Journal.h"
#include "board/sim/PowerCut.h"
#include "board/sim/ScalerModel.h"
#include "cloud/message_deal_4g.h"
#include "core/config_engine.h"
#include "core/kel_file_deal.h"
#include "sources/velinsource.h"
#include "tests/protocol/file_frames.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

using handler_test::Bytes;
namespace fs = std::filesystem;
using namespace fileframes;

// One failure of a row: the reply bytes it is answered with (frame offset, value) and what
// brings it about.
struct Failure {
    std::vector<std::pair<int, int>> answer;
    std::string text;
};
struct Row {
    std::string group, sub, dest, mask, test;
    std::vector<Failure> failures;   // none: the row says it cannot fail
    bool cannotFail = false;
};

std::vector<Row> tableRows()
{
    std::ifstream in(std::string(KEL_SOURCE_DIR) + "/protocol/commands.md");
    std::vector<Row> rows;
    const std::regex answerAt("\\[(\\d+)\\] (\\d+)");
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        std::stringstream row(line);
        for (std::string cell; std::getline(row, cell, '|');)
            cells.push_back(QString::fromStdString(cell).trimmed().toStdString());
        if (cells.size() < 7 || cells[1].rfind("0x", 0) != 0)
            continue;
        Row r{cells[1], cells[2], cells[3], cells[4], cells[6], {}, cells[5].rfind("cannot fail: ", 0) == 0};
        std::stringstream failures(cells[5]);
        for (std::string f; !r.cannotFail && std::getline(failures, f, ';');) {
            f = QString::fromStdString(f).trimmed().toStdString();
            const size_t colon = f.find(": ");
            Failure one{{}, colon == std::string::npos ? f : f.substr(colon + 2)};
            const std::string head = colon == std::string::npos ? "" : f.substr(0, colon);
            for (auto it = std::sregex_iterator(head.begin(), head.end(), answerAt); it != std::sregex_iterator(); ++it)
                one.answer.push_back({std::stoi((*it)[1]), std::stoi((*it)[2])});
            r.failures.push_back(one);
        }
        rows.push_back(r);
    }
    return rows;
}

pc::Frame req(uint8_t group, const Bytes& data, uint16_t dest = pc::kController, uint8_t fpga = 0)
{
    pc::Frame f;
    f.group = group, f.data = data, f.dest = dest, f.sub = fpga;
    return f;
}

// A fresh simulated board for each failure: the parameter block, the scaler (up, on the
// virtual clock) and FPGA managers, the settings, and two links (the second another PC).
struct World {
    kel_test::TestRoot root;
    std::unique_ptr<fpga_manage> manager;
    message_deal udp{message_deal::REPLY_LIMIT_UDP}, other{message_deal::REPLY_LIMIT_TCP};
    Bytes buf = Bytes(message_deal::FRAME_BUF_SIZE, 0), notes;   // notes: the panel's notifications
    int flashFd = -1;
    const bool clock = sim::SimBoard::virtualClock();
    c331_manage scaler;
    c331_manage* earlier = nullptr;

    World()
    {
        udptest::freshParameters();
        sim::SimBoard::useVirtualClock(true);
        earlier = udptest::scalerUp(scaler);
        EXPECT_GE(scaler.c331_fd, 0);
        manager = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = manager.get();
        EXPECT_EQ(manager->initialize(), 0);
        manager->softinit();
        flashFd = manager->fpga_vbyone1_flash_fd;
        ConfigEngine::pInstance();
        velinsource::pInstance();   // the input side that takes EDID images
        g_kel_file_deal_para = KelFileDeal{};
        g_yp_s_file = YP_FILE{}, g_yp_r_file = YP_FILE{};
        other.peer = 7;
        std::memset(g_4G_RAM, 0, sizeof g_4G_RAM);
        {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            g_str_ip = "192.168.0.50", g_srt_mask = "255.255.255.0", g_str_gateway = "192.168.0.1", g_str_barcode = "";
        }
        g_port = 5005;
        EXPECT_TRUE(ConfigEngine::p_config->write_config_variant(ConfigItem::IPAddress, "192.168.0.50"));   // stored, as a start reads it
        factoryage_log = {"an ageing result"};
        QObject::connect(KelRamPara::p_kelrampara_config, &KelRamPara::sig_update_para, [this](int code) { notes.push_back(uint8_t(code)); });
        // FPGA 0's screen and the LED area differ, so a save that fits one to the other shows.
        KelRamPara* p = KelRamPara::p_kelrampara_config;
        p->put16(p->ram + KelRamPara::kLedWidth, 1344), p->put16(p->ram + KelRamPara::kLedHeight, 1056);
        uint8_t* image = fpga_manage::MCU_RAM_PARA_func[0];
        std::memset(image + 56, 0, 8);
        KelRamPara::put16(image + 60, 1280), KelRamPara::put16(image + 62, 1024);
        fpga_manage::MCU_REG_func[0][80] = 3;
    }
    ~World()
    {
        sim::PowerCut::restore();
        for (message_deal* md : {&udp, &other})   // a read left open closes
            send(req(0xC0, {6}), *md);
        delete velinsource::p_velin_source;
        sim::FpgaFlashModel::setStuckBusy(false);
        manager->fpga_vbyone1_flash_fd = flashFd;
        fpga_manage::p_fpga_manage = nullptr;
        manager.reset();
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        FileBufOwner::reset();
        message_deal::file_read_hold.reset();
        g_kel_file_deal_para = KelFileDeal{};
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        g_str_barcode = "", factoryage_log.clear();
        udptest::dropParameters();
        c331_manage::p_c331_manage = earlier;
        sim::SimBoard::useVirtualClock(clock);
    }
    // The reply from [10] on: one answered later (a command that stores) once the scaler's
    // apply and the store pass after it, as the device makes them, have ended.
    Bytes send(const pc::Frame& f, message_deal& md)
    {
        const Bytes plain = pc::encode(f);
        std::fill(buf.begin(), buf.end(), 0);
        std::copy(plain.begin(), plain.end(), buf.begin());
        auto answer = std::make_shared<Bytes>();
        md.later = [answer](std::vector<unsigned char> frame, unsigned len) { *answer = Bytes(frame.begin() + 10, frame.begin() + 10 + len); };
        const int r = md.message_group_deal(buf.data(), unsigned(plain.size() - 1), 5);
        md.later = nullptr;
        if (r != message_deal::kLater)
            return Bytes(buf.begin() + 10, buf.begin() + 10 + std::max(r, 0));
        // An apply waits while the FPGA manager takes a new LED size over: its part is played
        // here, on the ticks.
        for (int n = 0; n < 8 && !udptest::applyAndStore(scaler); ++n)
            manager->set_led_para_deal(), G_timeTicks += 40;
        EXPECT_FALSE(answer->empty()) << "a command answered later was not answered by its store";
        return *answer;
    }
    void folderAt(const std::string& path) { fs::remove_all(root.host(path)), root.writeFile(path + "/x", "x"); }
};

pc::Frame flash(uint8_t group, uint32_t a, const Bytes& tail)
{
    Bytes d;
    pc::put32(d, a);
    d.insert(d.end(), tail.begin(), tail.end());
    return req(group, d);
}
Bytes le16(unsigned v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes cat(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
const Bytes kMac = {0, 0, 0, 0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
Bytes address(uint32_t ip, uint32_t mask, uint32_t gw, uint16_t port)
{
    Bytes d = {1, 0, 0, 0};
    for (uint32_t v : {ip, mask, gw})
        d.insert(d.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    return cat(d, le16(port));
}
Bytes edid(uint8_t input, unsigned length, size_t carried) { return cat({1, input, 0, 0, 0, 0, 0, uint8_t(length), uint8_t(length >> 8)}, Bytes(carried, 0x5C)); }
Bytes cloudStart(const char* name, uint32_t size) { Bytes d(name, name + 4); pc::put32(d, size); d.push_back(1); return d; }
// An upload begun by this PC: size bytes announced, the first `sent` of them sent.
void cloudUpload(World& w, uint32_t size, uint32_t sent)
{
    EXPECT_EQ(w.send(req(0xCC, cloudStart("F002", size)), w.udp)[0], 0);
    if (sent) {
        EXPECT_EQ(w.send(req(0xC5, cat(cat(le16(101), {0, 0, 0, 0}), cat(le16(sent), Bytes(sent, '{')))), w.udp)[0], 0);
    }
}
// A read of an existing file by the other PC.
void othersRead(World& w)
{
    w.root.writeFile("/data/configs/alias.json", "{\"namelist\":{}}");
    EXPECT_EQ(w.send(req(0xC0, {4, 0, 0, 'A', 'L', 'I', 'S'}), w.other)[2], 1);
}
const char* const kParaFile = "/data/ram_device_info";
// A stored CA file: its marker, id and size, then its bytes.
const std::string kCaFile("\xAA\x65\x00\x02\x00\x00\x00{}", 9);
Bytes readBlock(uint32_t at, uint32_t n)
{
    Bytes d = {5, 0, 0, 0, 0};
    pc::put32(d, at);
    pc::put32(d, n);
    return d;
}

using Bring = std::function<pc::Frame(World&)>;
// Each failure the table names, brought about: keyed "group sub mask: failure".
const std::map<std::string, Bring>& bringers()
{
    static const std::map<std::string, Bring> b = {
        {"0x60 - -: a range past the block's end", [](World&) { return pc::writeRam(0xFFE, {1, 2, 3, 4}); }},
        {"0x60 - -: a range past its user-mode slot", [](World&) { return pc::writeRam(0x1FFF, {1, 2, 3, 4}); }},
        {"0x60 - -: the 4G status area run past its 256 bytes", [](World&) { return pc::writeRam(0xA1000080, Bytes(0x81, 7)); }},
        {"0x60 - -: the register image, the description blocks or any address no row keeps (read only)", [](World&) { return pc::writeRam(0x600880, {1}); }},
        {"0x60 - -: an FPGA area run past its 1024 bytes", [](World&) { return pc::writeRam(0x3FF, {1, 2}, 1); }},
        {"0x60 - -: a write that did not reach the FPGA (FPGA 1)", [](World&) { pc::Frame f = pc::writeRam(0x10, {1, 2}, 1); return f.sub = 2, f; }},
        {"0x61 - -: a range that reaches where nothing is kept", [](World&) { return pc::readRam(0x20000, 16); }},
        {"0x61 - -: an FPGA area run past its 1024 bytes", [](World&) { return pc::readRam(0x3FF, 2, 1); }},
        {"0x61 - -: a reply the link cannot carry", [](World&) { return pc::readRam(0, 0xFFFF); }},
        {"0x70 - -: a range off the chip", [](World&) { return flash(0x70, 0x027FF000, {1, 2}); }},
        {"0x70 - -: a range outside chip 0's window", [](World&) { return flash(0x70, 0x00400000, {1, 1}); }},
        {"0x70 - -: FPGA 1's flash (chip 3, never opened)", [](World&) { return flash(0x70, 0x03100000, {1, 1}); }},
        {"0x70 - -: a flash that stays busy once it started (what it took before stays all the same)", [](World&) { return sim::FpgaFlashModel::setStuckBusy(true), flash(0x70, 0x02100000, {1, 1}); }},
        {"0x71 - -: a range off the chip", [](World&) { return flash(0x71, 0x027FFFF8, cat(le16(16), Bytes(18, 3))); }},
        {"0x71 - -: a range outside chip 0's window", [](World&) { return flash(0x71, 0x00400000, cat(le16(16), Bytes(18, 3))); }},
        {"0x71 - -: FPGA 1's flash (chip 3, never opened)", [](World&) { return flash(0x71, 0x03100000, cat(le16(16), Bytes(18, 3))); }},
        {"0x71 - -: a flash that stays busy once it started (what it took before stays all the same)", [](World&) { return sim::FpgaFlashModel::setStuckBusy(true), flash(0x71, 0x02100000, cat(le16(16), Bytes(18, 3))); }},
        {"0x72 - -: a range off the chip", [](World&) { return flash(0x72, 0x027FFFF8, le16(16)); }},
        {"0x72 - -: a range outside chip 0's window", [](World&) { return flash(0x72, 0x00400000, le16(16)); }},
        {"0x72 - -: FPGA 1's flash (chip 3, never opened)", [](World&) { return flash(0x72, 0x03100000, le16(16)); }},
        {"0x72 - -: a reply the link cannot carry", [](World&) { return flash(0x72, 0x02000000, le16(0xFFFF)); }},
        {"0x81 - -: no FPGA manager", [](World&) { return fpga_manage::p_fpga_manage = nullptr, req(0x81, {}); }},
        {"0x81 - -: FPGA 1 (its flash is never opened)", [](World&) { return req(0x81, {}, 1, 2); }},
        {"0x81 - -: FPGA 0's flash not reached", [](World& w) { return w.manager->fpga_vbyone1_flash_fd = -1, req(0x81, {}, 1, 1); }},
        {"0x83 - -: no FPGA manager", [](World&) { return fpga_manage::p_fpga_manage = nullptr, req(0x83, {}); }},
        {"0x83 - -: FPGA 0's flash not reached (no id is invented)", [](World& w) { return w.manager->fpga_vbyone1_flash_fd = -1, req(0x83, {}); }},
        {"0x84 - -: a length other than 0 or 1 data bytes", [](World&) { return req(0x84, {2, 0}, 1); }},
        {"0x84 - -: the boot block not read (FPGA 0's flash not reached)", [](World& w) { return w.manager->fpga_vbyone1_flash_fd = -1, req(0x84, {}, 1); }},
        {"0x87 - -: not BCD", [](World&) { return req(0x87, {0x2A, 0x20, 1, 1, 0, 0, 0}); }},
        {"0x87 - -: a date or time that does not exist (30 February)", [](World&) { return req(0x87, {0x26, 0x20, 2, 0x30, 0, 0, 0}); }},
        {"0x87 - -: the clock not set", [](World&) { return sim::Journal::setShellStatus("date", 256), req(0x87, {0x26, 0x20, 2, 0x28, 0, 0, 0}); }},
        {"0x8E - -: a sub-command other than 1", [](World&) { return req(0x8E, {2}); }},
        {"0x8F - -: the 4G module's status not valid and no cloud link", [](World&) { return req(0x8F, {}); }},
        {"0xA0 R11 bit 1: the parameter file cannot be stored (all the same)", [](World& w) { return w.folderAt(kParaFile), pc::writeRegister(11, 2, 2); }},
        {"0xA0 R11 bit 1: a disc that refuses the parameter file's write (all the same)", [](World&) { return sim::PowerCut::failAfter(0, EIO), pc::writeRegister(11, 2, 2); }},
        {"0xA0 R11 bit 2: a user-mode file cannot be stored (all the same)",
         [](World& w) {
             EXPECT_EQ(w.send(pc::writeRam(KelRamPara::kModeSaveRequest, {3, 0}), w.udp), Bytes{0});   // the PC's save request
             return w.folderAt(KelRamPara::mode_file_name(3)), pc::writeRegister(11, 4, 4);
         }},
        {"0xA0 R14 bit 0: an upload of a program, kernel or logo under way",
         [](World& w) {
             w.root.writeFile("/data/app/kelM57N2", "new program");
             EXPECT_EQ(w.send(req(0xC0, start("FKRN", 0, 4096)), w.other)[0], 0);
             return pc::writeRegister(14, 1, 1);
         }},
        {"0xA0 R14 bit 0: no verified image waiting", [](World&) { return pc::writeRegister(14, 1, 1); }},
        {"0xA0 R14 bit 0: the loader's settings not stored (all the same)",
         [](World& w) { return w.root.writeFile("/data/app/kelM57N2", "new program"), w.folderAt("/data/configs/led_load_config.ini"), pc::writeRegister(14, 1, 1); }},
        {"0xA0 R14 bit 1: the reboot refused by the system", [](World&) { return sim::Journal::setShellStatus("reboot", 256), pc::writeRegister(14, 2, 2); }},
        {"0xA0 R14 bit 1: an upload of a program, kernel or logo under way", [](World& w) { return w.send(req(0xC0, start("LOGO", 0, 4096)), w.other), pc::writeRegister(14, 2, 2); }},
        {"0xA0 R16 bit 0: the user-mode files could not be removed (all the same)",
         [](World& w) { return w.root.writeFile("/data/modes/custom_mode3", "m"), sim::PowerCut::failAfter(0, EIO), pc::writeRegister(16, 1, 1); }},
        {"0xA0 R16 bit 0: the parameter file cannot be stored (all the same)", [](World& w) { return w.folderAt(kParaFile), pc::writeRegister(16, 1, 1); }},
        {"0xA0 R16 bit 1: the parameter file cannot be stored (all the same)", [](World& w) { return w.folderAt(kParaFile), pc::writeRegister(16, 0x02, 0x02); }},
        {"0xA0 R16 bit 4: the parameter file cannot be stored (all the same)", [](World& w) { return w.folderAt(kParaFile), pc::writeRegister(16, 0x10, 0x10); }},
        {"0xA0 R16 bit 5: the network settings not stored", [](World&) { return sim::PowerCut::failAfter(0, EIO), pc::writeRegister(16, 0x20, 0x20); }},
        {"0xA0 R0xA1 bits 0-5: the parameter file cannot be stored after window 0's dot-by-dot changed (all the same)",
         [](World& w) { return w.folderAt(kParaFile), pc::writeRegister(0xA1, 0x08, 0x08); }},
        {"0xA0 R other -: no such register (170 on)", [](World&) { return pc::writeRegister(170, 0xFF, 1); }},
        {"0xA0 R other -: a register no command acts on (its image byte is written all the same)", [](World&) { return pc::writeRegister(7, 0xFF, 0x5A); }},
        {"0xA0 R any -: register 170 on", [](World&) { return pc::writeRegister(170, 0xFF, 1, 1); }},
        {"0xA0 R any -: a write that did not reach the FPGA (FPGA 1)", [](World&) { pc::Frame f = pc::writeRegister(20, 0xFF, 1, 1); return f.sub = 2, f; }},
        {"0xA1 - -: register 170 on", [](World&) { return pc::readRegister(170); }},
        {"0xA2 0x1E -: a length past the frame", [](World&) { return req(0xA2, {0x1E, 5, 0, '1', '2'}); }},
        {"0xA2 0x1E -: no character", [](World&) { return req(0xA2, {0x1E, 2, 0}); }},
        {"0xA2 0x1E -: not stored", [](World&) { return sim::PowerCut::failAfter(0, EIO), req(0xA2, {0x1E, 4, 0, '7', '8'}); }},
        {"0xA2 0x1F -: a reply the link cannot carry",
         [](World&) {
             std::lock_guard<std::mutex> hold(g_str_globals_mutex);
             return g_str_barcode = QString(30000, QChar(0xA5)), req(0xA2, {0x1F});
         }},
        {"0xA2 0x20 -: no header", [](World&) { return req(0xA2, {0x20, 36, 0, 0xAA, 0x56, 2, 0x1F, 0}); }},
        {"0xA2 0x20 -: not stored", [](World&) { return sim::PowerCut::failAfter(0, EIO), req(0xA2, {0x20, 36, 0, 0xAA, 0x55, 1, 0x02, 0}); }},
        {"0xA4 0x00 -: all zeros", [](World&) { return req(0xA4, Bytes(9, 0)); }},
        {"0xA4 0x00 -: multicast", [](World&) { return req(0xA4, {0, 0, 0, 0x03, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}); }},
        {"0xA4 0x00 -: the interface file not stored", [](World&) { return sim::PowerCut::failAfter(0, EIO), req(0xA4, kMac); }},
        {"0xA4 0x01 -: an address that is no host of its network", [](World&) { return req(0xA4, address(0x0A0100FF, 0xFFFFFF00, 0, 5006)); }},
        {"0xA4 0x01 -: a mask not of 1-30 leading ones", [](World&) { return req(0xA4, address(0x0A010203, 0xFFFFFFFE, 0, 5006)); }},
        {"0xA4 0x01 -: a gateway off the network", [](World&) { return req(0xA4, address(0x0A010203, 0xFFFFFF00, 0x0A020301, 5006)); }},
        {"0xA4 0x01 -: a gateway at the network's broadcast address", [](World&) { return req(0xA4, address(0x0A010203, 0xFFFFFF00, 0x0A0102FF, 5006)); }},
        {"0xA4 0x01 -: a gateway at the device's own address", [](World&) { return req(0xA4, address(0x0A010203, 0xFFFFFF00, 0x0A010203, 5006)); }},
        {"0xA4 0x01 -: port 0 or 10002", [](World&) { return req(0xA4, address(0x0A010203, 0xFFFFFF00, 0, 10002)); }},
        {"0xA4 0x01 -: the settings not stored", [](World&) { return sim::PowerCut::failAfter(0, EIO), req(0xA4, address(0x0A010203, 0xFFFFFF00, 0, 5006)); }},
        {"0xB0 any -: not '1'", [](World&) { return req(0xB0, {0x32, 0, 6, 50, 0}); }},
        {"0xB0 any -: an item refused (the items before it stay, not applied) (all the same)", [](World&) { return pc::singleSettings({{6, 50}, {50, 2}}); }},
        {"0xB0 any -: the parameter file cannot be stored (all the same)", [](World& w) { return w.folderAt(kParaFile), pc::singleSettings({{6, 70}}); }},
        {"0xB0 any -: a disc that refuses the parameter file's write (all the same)", [](World&) { return sim::PowerCut::failAfter(0, EIO), pc::singleSettings({{6, 70}}); }},
        {"0xC0 0x01 -: a size past its area", [](World&) { return req(0xC0, start("ALIS", 0, 0x60001)); }},
        {"0xC0 0x01 -: a size past the free space", [](World&) { return sim::SimBoard::setScenario("data.capacity", std::to_string(1 << 20)), req(0xC0, start("MO04", 0, 512 << 10)); }},
        {"0xC0 0x01 -: the buffer in another's hands", [](World& w) { return w.send(req(0xC0, start("ALIS", 0, 100)), w.other), req(0xC0, start("ALIS", 0, 100)); }},
        {"0xC0 0x01 -: a program, kernel or logo once a reboot went", [](World& w) { return w.send(pc::writeRegister(14, 2, 2), w.other), req(0xC0, start("FKRN", 0, 4096)); }},
        {"0xC0 0x02 -: no transfer of the sender's", [](World&) { return req(0xC0, block(0, Bytes(16, 1), 0, 16)); }},
        {"0xC0 0x02 -: a block past its area", [](World& w) { return w.send(req(0xC0, start("ALIS", 0, 100)), w.udp), req(0xC0, block(0x60000 - 8, Bytes(16, 1), 0, 16)); }},
        {"0xC0 0x02 -: a block announcing more than it carries",
         [](World& w) {
             w.send(req(0xC0, start("ALIS", 0, 100)), w.udp);
             Bytes d = block(0, Bytes(16, 1), 0, 16);
             return d[10] = 1, req(0xC0, d);   // 256 bytes more
         }},
        {"0xC0 0x03 -: a digest that differs", [](World& w) { return w.send(req(0xC0, start("ALIS", 0, 0)), w.udp), req(0xC0, end(Bytes(16, 0))); }},
        {"0xC0 0x03 -: an image not covered whole",
         [](World& w) {
             w.send(req(0xC0, start("FMCU", 0, 8192)), w.udp), w.send(req(0xC0, block(0, Bytes(4096, 9), 0, 4096)), w.udp);
             return req(0xC0, end(md5Of(Bytes(4096, 9))));
         }},
        {"0xC0 0x03 -: a file not usable",
         [](World& w) {
             w.send(req(0xC0, start("ALIS", 0, 16)), w.udp), w.send(req(0xC0, block(0, Bytes(16, 'n'), 0, 16)), w.udp);
             return req(0xC0, end(md5Of(Bytes(16, 'n'))));
         }},
        {"0xC0 0x03 -: not stored",
         [](World& w) {
             const Bytes doc = {'{', '"', 'n', 'a', 'm', 'e', 'l', 'i', 's', 't', '"', ':', '{', '}', '}'};
             w.send(req(0xC0, start("ALIS", 0, uint32_t(doc.size()))), w.udp), w.send(req(0xC0, block(0, doc, 0, doc.size())), w.udp);
             return sim::PowerCut::failAfter(0, EIO), req(0xC0, end(md5Of(doc)));
         }},
        {"0xC0 0x03 -: an image whose upload lapsed before a reboot went", [](World& w) {
             w.send(req(0xC0, start("FKRN", 0, 16)), w.udp), w.send(req(0xC0, block(0, Bytes(16, 7), 0, 16)), w.udp), G_timeTicks += FileBufOwner::kIdleTicks;
             return w.send(pc::writeRegister(14, 2, 2), w.other), req(0xC0, end(md5Of(Bytes(16, 7)))); }},
        {"0xC0 0x03 -: no transfer of the sender's", [](World&) { return req(0xC0, end(md5Of({}))); }},
        {"0xC0 0x04 -: another's read under way", [](World& w) { return othersRead(w), req(0xC0, {4, 0, 0, 'A', 'L', 'I', 'S'}); }},
        {"0xC0 0x04 -: no such file", [](World&) { return req(0xC0, {4, 0, 0, 'O', 'S', 'D', 'S'}); }},
        {"0xC0 0x05 -: another's read under way", [](World& w) { return othersRead(w), req(0xC0, readBlock(0, 4)); }},
        {"0xC0 0x05 -: no read open", [](World&) { return req(0xC0, readBlock(0, 16)); }},
        {"0xC0 0x05 -: a range past the file",
         [](World& w) { return w.root.writeFile("/data/configs/alias.json", "{}"), w.send(req(0xC0, {4, 0, 0, 'A', 'L', 'I', 'S'}), w.udp), req(0xC0, readBlock(0, 16)); }},
        {"0xC0 0x05 -: a reply the link cannot carry",
         [](World& w) {
             w.root.writeFile("/data/configs/alias.json", std::string(70000, char(0xA5)));
             return w.send(req(0xC0, {4, 0, 0, 'A', 'L', 'I', 'S'}), w.udp), req(0xC0, readBlock(0, 40000));
         }},
        {"0xC0 0x06 -: another's read under way", [](World& w) { return othersRead(w), req(0xC0, {6}); }},
        {"0xC0 0x06 -: no read open (no digest)", [](World&) { return req(0xC0, {6}); }},
        {"0xC0 0x07 -: a type that names no file folder", [](World&) { return req(0xC0, named(7, "P1", 5, 100)); }},
        {"0xC0 0x07 -: a name that is no file name", [](World&) { return req(0xC0, named(7, "../x", 9, 100)); }},
        {"0xC0 0x07 -: the buffer in another's hands", [](World& w) { return w.send(req(0xC0, start("ALIS", 0, 100)), w.other), req(0xC0, named(7, "P1", 9, 100)); }},
        {"0xC0 0x08 -: another's read under way", [](World& w) { return othersRead(w), req(0xC0, named(8, "ALIS", 5, 0)); }},
        {"0xC0 0x08 -: no such file", [](World&) { return req(0xC0, named(8, "P1", 9, 0)); }},
        {"0xC0 0x0A -: a file that could not be removed", [](World& w) { return w.root.writeFile("/data/smartmapping/KXFR", "k"), sim::PowerCut::failAfter(0, EIO), req(0xC0, {10}); }},
        {"0xC0 0x0A -: no file to remove", [](World&) { return req(0xC0, {10}); }},
        {"0xC1 0x01 -: a record not whole", [](World&) { return req(0xC1, edid(0, 288, 200)); }},
        {"0xC1 0x01 -: no such input", [](World&) { return req(0xC1, edid(4, 288, 288)); }},
        {"0xC1 0x01 -: not stored", [](World&) { return sim::PowerCut::failAfter(0, EIO), req(0xC1, edid(1, 288, 288)); }},
        {"0xC3 0x0B -: a length past the frame", [](World&) { return req(0xC3, cat(cat({11, 0}, Bytes(48, 0)), {0, 0, 40})); }},
        {"0xC3 0x0B -: the settings not stored", [](World&) { return sim::PowerCut::failAfter(0, EIO), req(0xC3, cat(cat({11, 0}, Bytes(48, 0)), {0, 0, 1, 'h', 0x50, 0x1F, 1, 'u', 1, 'n'})); }},
        {"0xC4 any -: a sub-command other than the status report", [](World&) { return req(0xC4, {2, 1, 0, 0xAA}); }},
        {"0xC4 any -: a report past the frame", [](World&) { return req(0xC4, {1, 4, 0, 0xAA}); }},
        {"0xC5 - -: no cloud file sent by this PC", [](World&) { return req(0xC5, cat(cat(le16(101), {0, 0, 0, 0}), cat(le16(2), {'{', '}'}))); }},
        {"0xC5 - -: a block out of order", [](World& w) { return cloudUpload(w, 10, 0), req(0xC5, cat(cat(le16(101), {1, 0, 0, 0}), cat(le16(2), {'{', '}'}))); }},
        {"0xC5 - -: a block past its size", [](World& w) { return cloudUpload(w, 2, 0), req(0xC5, cat(cat(le16(101), {0, 0, 0, 0}), cat(le16(4), {'{', '}', '{', '}'}))); }},
        {"0xC6 - -: no cloud file sent by this PC", [](World&) { return req(0xC6, cat(le16(101), {2, 0, 0, 0})); }},
        {"0xC6 - -: the file not whole", [](World& w) { return cloudUpload(w, 4, 2), req(0xC6, cat(le16(101), {4, 0, 0, 0})); }},
        {"0xC6 - -: the file not stored", [](World& w) { return cloudUpload(w, 2, 2), sim::PowerCut::failAfter(0, EIO), req(0xC6, cat(le16(101), {2, 0, 0, 0})); }},
        {"0xC7 - -: no such transfer of this PC's", [](World&) { return req(0xC7, le16(101)); }},
        {"0xC8 - -: no such file", [](World&) { return req(0xC8, {'F', '0', '0', '2'}); }},
        {"0xC8 - -: another's read under way",
         [](World& w) { return w.root.writeFile("/data/configs/cloud_cafile", kCaFile), w.send(req(0xC8, {'F', '0', '0', '2'}), w.other), req(0xC8, {'F', '0', '0', '2'}); }},
        {"0xC9 - -: not the reader's read", [](World&) { return req(0xC9, cat(le16(101), {0, 0, 0, 0})); }},
        {"0xC9 - -: a range not where the read stands",
         [](World& w) { return w.root.writeFile("/data/configs/cloud_cafile", kCaFile), w.send(req(0xC8, {'F', '0', '0', '2'}), w.udp), req(0xC9, cat(le16(101), {1, 0, 0, 0})); }},
        {"0xCA - -: no read of the reader's", [](World&) { return req(0xCA, cat(le16(101), {2, 0, 0, 0})); }},
        {"0xCB - -: no read of the reader's", [](World&) { return req(0xCB, le16(101)); }},
        {"0xCC - -: a start whose size is past the buffer", [](World&) { return req(0xCC, cloudStart("F002", 32769)); }},
        {"0xCC - -: the buffer in another's hands", [](World&) { return static_cast<void>(FileBufOwner::acquire(FileBufOwner::PcFileTransfer)), req(0xCC, cloudStart("F002", 100)); }},
    };
    return b;
}

// What a refused command must leave as it was.
struct State {
    std::map<std::string, Bytes> parts;
    static State now(World& w)
    {
        State s;
        KelRamPara* p = KelRamPara::p_kelrampara_config;
        auto take = [&](const std::string& name, const uint8_t* from, size_t n) { s.parts[name] = Bytes(from, from + n); };
        take("the block", p->ram, sizeof p->ram);
        take("its applied copy", p->ram_applied, sizeof p->ram_applied);
        take("its saved copy", p->ram_backup, sizeof p->ram_backup);
        take("the user-mode slots", &p->mode_slot[0][0], sizeof p->mode_slot);
        take("the register image", p->reg_image, sizeof p->reg_image);
        take("the 4G block", g_4G_RAM, sizeof g_4G_RAM);
        const std::string log = QStringList(factoryage_log).join('\n').toStdString();
        s.parts["the panel's notifications and ageing log"] = cat(w.notes, Bytes(log.begin(), log.end()));
        s.parts["the apply request"] = {c331_manage::p_c331_manage->c331_apply_flag};
        for (int F = 0; F < 2; ++F) {
            take("FPGA " + std::to_string(F) + "'s parameter image", fpga_manage::MCU_RAM_PARA_func[F], 1024);
            take("FPGA " + std::to_string(F) + "'s register shadow", fpga_manage::MCU_REG_func[F], 170);
        }
        for (int r = 0; r < 256; ++r)
            s.parts["FPGA 0's registers"].push_back(sim::FpgaModel::reg(0, r));
        s.parts["FPGA 0's RAM 10"] = sim::FpgaModel::ram(0, 10, 0, 256);
        s.parts["FPGA 0's restart request"] = {uint8_t(w.manager->reset_pending[0])};
        s.parts["FPGA 0's flash"] = sim::FpgaFlashModel::read(0, 0, sim::FpgaFlashModel::kSize);
        for (int bank = 0; bank < 256; ++bank)   // the scaler chip: its windows, LED size, everything it holds
            for (int r = 0; r < 128; ++r)
                s.parts["the scaler chip's registers"].push_back(sim::ScalerModel::reg(bank, r));
        {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            const std::string net = (g_str_ip + " " + g_srt_mask + " " + g_str_gateway + " " + g_str_barcode).toStdString() + " " + std::to_string(g_port);
            s.parts["the network settings and barcode"] = Bytes(net.begin(), net.end());
        }
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(w.root.path(), ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            const std::string rel = it->path().string().substr(w.root.path().size());
            if (it->is_directory() || rel.rfind("/sim/", 0) == 0)
                continue;   // folders by what they hold; the simulator's own backing files by what they back
            std::ifstream in(it->path(), std::ios::binary);
            const std::string content = (std::stringstream() << in.rdbuf()).str();
            s.parts["file " + rel] = Bytes(content.begin(), content.end());
        }
        return s;
    }
    std::vector<std::string> changedFrom(const State& before) const
    {
        std::vector<std::string> out;
        for (const auto& [name, bytes] : parts)
            if (!before.parts.count(name) || before.parts.at(name) != bytes)
                out.push_back(name);
        for (const auto& [name, bytes] : before.parts)
            if (!parts.count(name))
                out.push_back(name + " (gone)");
        return out;
    }
};

std::string key(const Row& r, const std::string& failure) { return r.group + " " + r.sub + " " + r.mask + ": " + failure; }

// Every failure each row names, brought about on a fresh board; the answer held to the row's;
// a refused command to changing nothing unless the row says it keeps what it did. A failure
// the check cannot bring about, or one it brings about that no row names, fails it.
TEST(DispatchTable, EveryFailureARowNamesIsBroughtAboutAndAnsweredSo)
{
    const std::vector<Row> rows = tableRows();
    ASSERT_GT(rows.size(), 50u);
    std::set<std::string> named;
    int brought = 0;
    for (const Row& r : rows)
        for (const Failure& f : r.failures) {
            const std::string k = key(r, f.text);
            named.insert(k);
            const auto b = bringers().find(k);
            if (f.text.find("(not brought about: ") != std::string::npos)
                continue;
            if (b == bringers().end()) {
                ADD_FAILURE() << "no way to bring about " << k;
                continue;
            }
            ASSERT_FALSE(f.answer.empty()) << k << ": no answer";
            World w;
            const pc::Frame frame = b->second(w);
            const State before = State::now(w);
            const Bytes got = w.send(frame, w.udp);
            fpga_manage::p_fpga_manage = w.manager.get();
            bool agrees = true;
            for (const auto& [at, v] : f.answer)
                agrees = agrees && size_t(at - 10) < got.size() && got[size_t(at - 10)] == v;
            const bool refused = f.answer[0].second != 0 || (f.answer.size() > 1 && f.answer[1].second != 0);
            ++brought;
            EXPECT_TRUE(agrees) << k << "\n  answered " << pc::hex(got);
            if (refused && f.text.find("all the same") == std::string::npos) {
                std::vector<std::string> changed = State::now(w).changedFrom(before);
                if (r.group == "0xA0" && r.dest == "controller")   // a register write keeps its image byte
                    changed.erase(std::remove(changed.begin(), changed.end(), "the register image"), changed.end());
                EXPECT_EQ(changed, std::vector<std::string>{}) << k << ": a refused command changed these";
            }
        }
    // Nothing brought about that no row names.
    for (const auto& [k, b] : bringers())
        EXPECT_TRUE(named.count(k)) << "brought about but named by no row: " << k;
    std::cout << "  failures brought about: " << brought << "\n";
}

// Every group, sub-command and register the handler answers is listed, and every test the
// table names exists.
TEST(DispatchTable, EveryCommandTheHandlerTakesIsListed)
{
    std::map<int, std::set<std::string>> listed;   // group: its sub column's entries
    std::set<std::string> tests;
    for (const Row& r : tableRows()) {
        listed[std::stoi(r.group, nullptr, 16)].insert(r.sub);
        tests.insert(r.test);
    }
    ASSERT_GT(listed.size(), 20u);
    std::string sources;
    for (const auto& f : fs::recursive_directory_iterator(std::string(KEL_SOURCE_DIR) + "/tests"))
        if (f.path().extension() == ".cpp")
            sources += (std::stringstream() << std::ifstream(f.path()).rdbuf()).str();
    for (const std::string& test : tests) {
        const size_t dot = test.find('.');
        ASSERT_NE(dot, std::string::npos) << test;
        EXPECT_TRUE(std::regex_search(sources, std::regex("TEST(_F)?\\(" + test.substr(0, dot) + ", " + test.substr(dot + 1) + "\\)"))) << test;
    }
    World w;
    const auto hex = [](int v) { return QString::asprintf("0x%02X", v).toStdString(); };
    // Many thousands of requests: the buffer is not cleared between them, only the frame laid in.
    const auto probe = [&](const pc::Frame& f) {
        const Bytes plain = pc::encode(f);
        std::copy(plain.begin(), plain.end(), w.buf.begin());
        return w.udp.message_group_deal(w.buf.data(), unsigned(plain.size() - 1), 5);
    };
    for (int g = 0; g < 256; ++g) {
        const std::set<std::string> subs = listed.count(g) ? listed[g] : std::set<std::string>{};
        if (subs.count("-") || subs.count("any")) {
            for (uint16_t dest : {pc::kController, uint16_t(0x0001)})
                EXPECT_GE(probe(req(uint8_t(g), Bytes(24, 0), dest)), 0);   // any request of it is one of its rows
            continue;
        }
        for (int sub = 0; sub < 256; ++sub)
            for (uint16_t dest : {pc::kController, uint16_t(0x0001)}) {
                Bytes data(24, 0);
                data[0] = uint8_t(sub);
                const int r = probe(req(uint8_t(g), data, dest));
                if (r <= 0)
                    continue;
                if (g == 0xA0) {
                    // A register write answers every register; one that acts answers 0 to a
                    // write with no bit in its mask, the others 1.
                    const bool acts = dest == pc::kController && w.buf[10] == 0;
                    const std::string reg = sub >= 0xA0 ? "R" + hex(sub) : "R" + std::to_string(sub);
                    EXPECT_TRUE(dest != pc::kController ? subs.count("R any") > 0 : acts ? subs.count(reg) > 0 : subs.count("R other") > 0)
                        << "register " << reg << " is answered but not listed";
                    continue;
                }
                EXPECT_TRUE(subs.count(hex(sub))) << "group " << hex(g) << " sub-command " << hex(sub) << " to " << dest << " is answered but not listed";
            }
    }
}

} // namespace
