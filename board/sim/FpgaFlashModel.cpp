#include "board/sim/FpgaFlashModel.h"

#include "board/Clock.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SocModel.h"
#include "board/sim/SpiBusModel.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace sim {

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kStatusBusy = 0x01;
constexpr uint8_t kStatusWel = 0x02;
constexpr uint32_t kSelectLine[2] = {0x207860, 0x207950};
constexpr uint32_t kFpgaSelect[2] = {0x207810, 0x207900};
constexpr uint16_t kIdle = 16;

// The flash shares its data lines with its FPGA: it is reached only while that FPGA is
// selected, the other FPGA is off the bus and the flash's own select is low.
bool reachable(int index)
{
    return SocModel::read16(kSelectLine[index]) == 0 && SocModel::read16(kFpgaSelect[index]) == 0 &&
           SocModel::read16(kFpgaSelect[1 - index]) == kIdle;
}

std::mutex g_lock;
bool g_stuckBusy = false;

class Flash : public SpiModel {
public:
    explicit Flash(int index) : m_index(index) { defaultId(); }

    void defaultId()
    {
        const uint8_t id[8] = {0xD5, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, uint8_t(0x70 + m_index)};
        std::copy(id, id + 8, m_uid);
    }

    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t length, uint32_t) override
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (!reachable(m_index))
            return;
        ensureLoaded();
        for (uint32_t i = 0; i < length; ++i) {
            m_message.push_back(tx[i]);
            rx[i] = answer(m_message.size() - 1);
        }
    }

    void endMessage() override
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (m_message.empty())
            return;
        ensureLoaded();
        execute();
        m_message.clear();
    }

    bool busy() const
    {
        if (m_everBusy && (g_stuckBusy || SimBoard::scenarioInt("fpga.flash.stuck_busy", 0) != 0))
            return true;
        return board::Clock::monotonicUs() < m_busyUntil;
    }

    uint8_t status() const { return uint8_t((busy() ? kStatusBusy : 0) | (m_wel ? kStatusWel : 0)); }

    uint32_t address() const
    {
        return (uint32_t(m_message[1]) << 16 | uint32_t(m_message[2]) << 8 | m_message[3]) % FpgaFlashModel::kSize;
    }

    // The byte the part drives while byte pos of the current command is clocked.
    uint8_t answer(size_t pos)
    {
        const uint8_t op = m_message[0];
        if (pos == 0)
            return 0xFF;
        if (op == 0x05)
            return status();
        if (busy())
            return 0xFF;
        switch (op) {
        case 0x03:
            return pos >= 4 ? m_mem[(addressAt() + pos - 4) % FpgaFlashModel::kSize] : 0xFF;
        case 0x0B:
            return pos >= 5 ? m_mem[(addressAt() + pos - 5) % FpgaFlashModel::kSize] : 0xFF;
        case 0x4B:
            return (pos >= 5 && pos < 13) ? m_uid[pos - 5] : 0xFF;
        case 0x9F: {
            static const uint8_t jedec[3] = {0xEF, 0x40, 0x17};
            return pos <= 3 ? jedec[pos - 1] : 0xFF;
        }
        default:
            return 0xFF;
        }
    }

    uint32_t addressAt() const { return m_message.size() >= 4 ? address() : 0; }

    void execute()
    {
        const uint8_t op = m_message[0];
        if (op == 0x05 || busy())
            return;                                 // a busy part takes nothing else
        switch (op) {
        case 0x06:
            m_wel = true;
            break;
        case 0x04:
            m_wel = false;
            break;
        case 0x02:
            if (m_wel && m_message.size() > 4)
                program();
            m_wel = false;
            break;
        case 0x20:
            eraseBlock(4096, "fpga.flash.erase4k_us", 45000);
            break;
        case 0x52:
            eraseBlock(32768, "fpga.flash.erase32k_us", 120000);
            break;
        case 0xD8:
            eraseBlock(65536, "fpga.flash.erase64k_us", 150000);
            break;
        case 0x01:
        case 0x31:
            m_wel = false;
            break;
        default:
            break;
        }
    }

    void program()
    {
        const uint32_t start = address();
        const uint32_t page = start & ~(FpgaFlashModel::kPage - 1);
        size_t first = 4;
        const size_t count = m_message.size() - 4;
        if (count > FpgaFlashModel::kPage)
            first = m_message.size() - FpgaFlashModel::kPage;   // only the last 256 bytes stay
        // Each byte keeps the place in the page that wrapping gave it: the first byte that
        // stays was clocked (first - 4) bytes after the start address.
        uint32_t offset = uint32_t(start + (first - 4)) & (FpgaFlashModel::kPage - 1);
        for (size_t i = first; i < m_message.size(); ++i) {
            m_mem[page + offset] &= m_message[i];
            offset = (offset + 1) & (FpgaFlashModel::kPage - 1);
        }
        save(page, FpgaFlashModel::kPage);
        m_programs++;
        startBusy("fpga.flash.program_us", 700);
    }

    void eraseBlock(uint32_t size, const char* key, long defaultUs)
    {
        if (!m_wel || m_message.size() < 4)
            return;
        m_wel = false;
        const uint32_t base = address() & ~(size - 1);
        std::fill(m_mem.begin() + base, m_mem.begin() + base + size, 0xFF);
        save(base, size);
        m_erases++;
        startBusy(key, defaultUs);
    }

    void startBusy(const char* key, long defaultUs)
    {
        long us = SimBoard::scenarioInt(key, defaultUs);
        m_busyUntil = board::Clock::monotonicUs() + uint64_t(us > 0 ? us : 0);
        m_everBusy = true;
    }

    std::string path() const { return SimBoard::root() + "/sim/fpga" + std::to_string(m_index) + "-flash.bin"; }

    void ensureLoaded()
    {
        const std::string root = SimBoard::root();
        if (m_loaded && root == m_root)
            return;
        m_root = root;
        m_loaded = true;
        m_mem.assign(FpgaFlashModel::kSize, 0xFF);
        std::ifstream in(path(), std::ios::binary);
        if (in)
            in.read(reinterpret_cast<char*>(m_mem.data()), FpgaFlashModel::kSize);
    }

    void save(uint32_t offset, uint32_t length)
    {
        const std::string file = path();
        std::error_code ec;
        fs::create_directories(fs::path(file).parent_path(), ec);
        if (!fs::exists(file, ec)) {
            std::ofstream out(file, std::ios::binary);
            out.write(reinterpret_cast<const char*>(m_mem.data()), FpgaFlashModel::kSize);
            return;
        }
        std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(offset);
        out.write(reinterpret_cast<const char*>(m_mem.data() + offset), length);
    }

    int m_index;
    std::vector<uint8_t> m_mem;
    bool m_loaded = false;
    std::string m_root;
    std::vector<uint8_t> m_message;
    bool m_wel = false;
    bool m_everBusy = false;
    uint64_t m_busyUntil = 0;
    uint8_t m_uid[8] = {};
    uint32_t m_programs = 0;
    uint32_t m_erases = 0;
};

Flash g_flash0(0);
Flash g_flash1(1);

Flash* flashOf(int flash)
{
    if (flash == 0)
        return &g_flash0;
    if (flash == 1)
        return &g_flash1;
    return nullptr;
}

struct Registrar {
    Registrar()
    {
        SpiBusModel::attach(3, &g_flash0);
        SpiBusModel::attach(4, &g_flash1);
        SimBoard::addResetHook([] { FpgaFlashModel::reset(); });
    }
} g_registrar;

} // namespace

std::vector<uint8_t> FpgaFlashModel::read(int flash, uint32_t address, uint32_t length)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Flash* f = flashOf(flash);
    if (!f || address >= kSize)
        return {};
    f->ensureLoaded();
    length = std::min(length, kSize - address);
    return std::vector<uint8_t>(f->m_mem.begin() + address, f->m_mem.begin() + address + length);
}

void FpgaFlashModel::write(int flash, uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Flash* f = flashOf(flash);
    if (!f || address >= kSize || bytes.size() > kSize - address)
        return;
    f->ensureLoaded();
    std::copy(bytes.begin(), bytes.end(), f->m_mem.begin() + address);
    f->save(address, uint32_t(bytes.size()));
}

void FpgaFlashModel::erase(int flash)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Flash* f = flashOf(flash);
    if (!f)
        return;
    f->ensureLoaded();
    std::fill(f->m_mem.begin(), f->m_mem.end(), 0xFF);
    f->save(0, kSize);
}

void FpgaFlashModel::setStuckBusy(bool on)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_stuckBusy = on;
}

bool FpgaFlashModel::busy(int flash)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Flash* f = flashOf(flash);
    return f && f->busy();
}

void FpgaFlashModel::setUniqueId(int flash, const std::vector<uint8_t>& id)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Flash* f = flashOf(flash);
    if (!f)
        return;
    for (size_t i = 0; i < 8; ++i)
        f->m_uid[i] = i < id.size() ? id[i] : 0xFF;
}

uint32_t FpgaFlashModel::programCount(int flash)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Flash* f = flashOf(flash);
    return f ? f->m_programs : 0;
}

uint32_t FpgaFlashModel::eraseCount(int flash)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Flash* f = flashOf(flash);
    return f ? f->m_erases : 0;
}

void FpgaFlashModel::reload()
{
    std::lock_guard<std::mutex> hold(g_lock);
    for (Flash* f : {&g_flash0, &g_flash1}) {
        f->m_loaded = false;
        f->m_message.clear();
        f->m_wel = false;
        f->m_busyUntil = 0;
    }
}

std::string FpgaFlashModel::file(int flash)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Flash* f = flashOf(flash);
    return f ? f->path() : std::string();
}

void FpgaFlashModel::reset()
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_stuckBusy = false;
    for (Flash* f : {&g_flash0, &g_flash1}) {
        f->m_loaded = false;
        f->m_message.clear();
        f->m_wel = false;
        f->m_everBusy = false;
        f->m_busyUntil = 0;
        f->m_programs = 0;
        f->m_erases = 0;
        f->defaultId();
    }
}

} // namespace sim
