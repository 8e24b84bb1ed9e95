#include "board/sim/FpgaFlashModel.h"

#include "board/Clock.h"
#include "board/sim/PowerCut.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SocModel.h"
#include "board/sim/SpiBusModel.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
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

// The part's content in 4 KiB blocks. A block not written since it was last erased holds
// no memory and reads as erased, so a run that never programs the part keeps no 8 MiB
// image resident.
class Image {
public:
    static constexpr uint32_t kBlock = 0x1000;   // the part's erase sector
    static constexpr uint32_t kBlocks = FpgaFlashModel::kSize / kBlock;

    uint8_t get(uint32_t address) const
    {
        const std::unique_ptr<uint8_t[]>& b = m_blocks[address / kBlock];
        return b ? b[address % kBlock] : 0xFF;
    }

    void clearBits(uint32_t address, uint8_t value)
    {
        if (value != 0xFF)
            block(address)[address % kBlock] &= value;
    }

    // Calls f(address, offset in the block, count) for each block-sized piece of a range.
    template <class F>
    static void pieces(uint32_t address, uint32_t length, F f)
    {
        for (uint32_t done = 0; done < length;) {
            const uint32_t at = address + done;
            const uint32_t n = std::min(kBlock - at % kBlock, length - done);
            f(at, at % kBlock, n, done);
            done += n;
        }
    }

    void read(uint32_t address, uint8_t* out, uint32_t length) const
    {
        pieces(address, length, [&](uint32_t at, uint32_t offset, uint32_t n, uint32_t done) {
            const std::unique_ptr<uint8_t[]>& b = m_blocks[at / kBlock];
            if (b)
                std::memcpy(out + done, b.get() + offset, n);
            else
                std::memset(out + done, 0xFF, n);
        });
    }

    void write(uint32_t address, const uint8_t* in, uint32_t length)
    {
        pieces(address, length, [&](uint32_t at, uint32_t offset, uint32_t n, uint32_t done) {
            const bool erased = std::all_of(in + done, in + done + n, [](uint8_t v) { return v == 0xFF; });
            if (erased && !m_blocks[at / kBlock])
                return;
            std::memcpy(block(at) + offset, in + done, n);
        });
    }

    void erase(uint32_t address, uint32_t length)
    {
        pieces(address, length, [&](uint32_t at, uint32_t offset, uint32_t n, uint32_t) {
            std::unique_ptr<uint8_t[]>& b = m_blocks[at / kBlock];
            if (n == kBlock)
                b.reset();
            else if (b)
                std::memset(b.get() + offset, 0xFF, n);
        });
    }

private:
    uint8_t* block(uint32_t address)
    {
        std::unique_ptr<uint8_t[]>& b = m_blocks[address / kBlock];
        if (!b) {
            b.reset(new uint8_t[kBlock]);
            std::memset(b.get(), 0xFF, kBlock);
        }
        return b.get();
    }

    std::unique_ptr<uint8_t[]> m_blocks[kBlocks];
};

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
            return pos >= 4 ? m_mem.get(uint32_t((addressAt() + pos - 4) % FpgaFlashModel::kSize)) : 0xFF;
        case 0x0B:
            return pos >= 5 ? m_mem.get(uint32_t((addressAt() + pos - 5) % FpgaFlashModel::kSize)) : 0xFF;
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
        size_t clocked = m_message.size();
        const bool torn = !PowerCut::step();
        if (torn) {
            // The supply failed: nothing is programmed, unless it failed during this program
            // and the part had programmed the first bytes clocked in (fpga.flash.torn_bytes).
            const long bytes = PowerCut::lost() == 1 ? SimBoard::scenarioInt("fpga.flash.torn_bytes", 0) : 0;
            if (bytes <= 0)
                return;
            clocked = std::min(m_message.size(), 4 + size_t(bytes));
        }
        const uint32_t start = address();
        const uint32_t page = start & ~(FpgaFlashModel::kPage - 1);
        size_t first = 4;
        const size_t count = m_message.size() - 4;
        if (count > FpgaFlashModel::kPage)
            first = m_message.size() - FpgaFlashModel::kPage;   // only the last 256 bytes stay
        // Each byte keeps the place in the page that wrapping gave it: the first byte that
        // stays was clocked (first - 4) bytes after the start address.
        uint32_t offset = uint32_t(start + (first - 4)) & (FpgaFlashModel::kPage - 1);
        for (size_t i = first; i < clocked; ++i) {
            m_mem.clearBits(page + offset, m_message[i]);
            offset = (offset + 1) & (FpgaFlashModel::kPage - 1);
        }
        save(page, FpgaFlashModel::kPage);
        if (torn)
            return;                                 // the part lost its supply
        m_programs++;
        startBusy("fpga.flash.program_us", 700);
    }

    void eraseBlock(uint32_t size, const char* key, long defaultUs)
    {
        if (!m_wel || m_message.size() < 4)
            return;
        m_wel = false;
        if (!PowerCut::step())
            return;
        const uint32_t base = address() & ~(size - 1);
        m_mem.erase(base, size);
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
        m_mem.erase(0, FpgaFlashModel::kSize);
        std::ifstream in(path(), std::ios::binary);
        std::vector<uint8_t> chunk(Image::kBlock);
        for (uint32_t at = 0; in && at < FpgaFlashModel::kSize; at += Image::kBlock) {
            in.read(reinterpret_cast<char*>(chunk.data()), Image::kBlock);
            m_mem.write(at, chunk.data(), uint32_t(in.gcount()));
        }
    }

    void save(uint32_t offset, uint32_t length)
    {
        const std::string file = path();
        std::error_code ec;
        fs::create_directories(fs::path(file).parent_path(), ec);
        if (!fs::exists(file, ec)) {
            offset = 0;
            length = FpgaFlashModel::kSize;
            std::ofstream create(file, std::ios::binary);
        }
        std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(offset);
        std::vector<uint8_t> chunk(Image::kBlock);
        Image::pieces(offset, length, [&](uint32_t at, uint32_t, uint32_t n, uint32_t) {
            m_mem.read(at, chunk.data(), n);
            out.write(reinterpret_cast<const char*>(chunk.data()), n);
        });
    }

    int m_index;
    Image m_mem;
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
    std::vector<uint8_t> bytes(length);
    f->m_mem.read(address, bytes.data(), length);
    return bytes;
}

void FpgaFlashModel::write(int flash, uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Flash* f = flashOf(flash);
    if (!f || address >= kSize || bytes.size() > kSize - address)
        return;
    f->ensureLoaded();
    f->m_mem.write(address, bytes.data(), uint32_t(bytes.size()));
    f->save(address, uint32_t(bytes.size()));
}

void FpgaFlashModel::erase(int flash)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Flash* f = flashOf(flash);
    if (!f)
        return;
    f->ensureLoaded();
    f->m_mem.erase(0, kSize);
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
