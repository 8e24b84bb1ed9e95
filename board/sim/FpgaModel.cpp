#include "board/sim/FpgaModel.h"

#include "board/Clock.h"
#include "board/sim/InputSideModel.h"
#include "board/sim/ReceivingCardModel.h"
#include "board/sim/ScalerModel.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SocModel.h"
#include "board/sim/SpiBusModel.h"

#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace sim {

namespace {

constexpr uint16_t kLineIdle = 16;
constexpr size_t kLogLimit = 100000;
constexpr int kReceivePairs = 5;                 // pairs 0..4 have receive registers
constexpr uint8_t kSendLengthReg[8] = {26, 134, 136, 138, 154, 155, 156, 157};
constexpr uint8_t kAnswerLengthReg[kReceivePairs] = {24, 133, 135, 137, 149};
// RAM 1 bytes 116-123 hold what the driver wrote until the link trains; from then on the
// FPGA keeps its input measurement there.
constexpr uint32_t kMeasuredFirst = 116;
constexpr uint32_t kMeasuredEnd = 124;

// The picture the FPGA measures is the scaler's output: the active window of output
// channel 0 (bank 0x08: horizontal start and end at 0x28/0x2A, vertical at 0x2C/0x2E, 16-bit
// little-endian). false while the scaler has not set a window up.
bool scalerPicture(long& width, long& height)
{
    auto word = [](int reg) { return long(ScalerModel::reg(0x08, reg) | ScalerModel::reg(0x08, reg + 1) << 8); };
    const long hst = word(0x28), hend = word(0x2A), vst = word(0x2C), vend = word(0x2E);
    if (hend <= hst || vend <= vst)
        return false;
    width = hend - hst;
    height = vend - vst;
    return true;
}

std::mutex g_lock;

struct Lines {
    uint32_t select, command, reset, irq;
};
constexpr Lines kLines[2] = {{0x207810, 0x207838, 0x207858, 0x207908},
                             {0x207900, 0x207954, 0x207864, 0x207910}};

std::string prefix(int fpga) { return fpga ? "fpga1." : "fpga."; }

class Fpga : public SpiModel {
public:
    explicit Fpga(int index) : m_index(index) {}

    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t length, uint32_t) override
    {
        std::lock_guard<std::mutex> hold(g_lock);
        const Lines& lines = kLines[m_index];
        if (SocModel::read16(lines.reset) == 0) {
            m_held = true;                        // in reset: the bus reads high
            return;
        }
        if (m_held || !m_powered)
            powerOnLocked();
        if (SocModel::read16(lines.select) != 0)
            return;
        refreshAnswers();
        if (SocModel::read16(lines.command) != 0) {
            for (uint32_t i = 0; i < length; ++i) {
                m_commandBytes.push_back(tx[i]);
                if (m_commandBytes.size() == 4)
                    decode();
            }
            return;
        }
        dataPhase(tx, rx, length);
        refreshAnswers();
    }

    // A command word arrives within one message; a message cut short leaves no bytes behind.
    void endMessage() override
    {
        std::lock_guard<std::mutex> hold(g_lock);
        m_commandBytes.clear();
    }

    void powerOnLocked()
    {
        for (auto& r : m_regs)
            r = 0;
        m_regs[31] = 33;
        m_regs[30] = 0x06;
        m_regs[29] = 0x15;
        m_regs[28] = 0x12;
        m_regs[7] = 0x01;
        m_regs[22] = 0x00;
        m_regs[40] = 45;
        const std::string p = prefix(m_index);
        for (int r = 0; r < 256; ++r) {
            long v = SimBoard::scenarioInt(p + "reg." + std::to_string(r), -1);
            if (v >= 0)
                m_regs[r] = uint8_t(v);
        }
        m_rams.clear();
        const long width = SimBoard::scenarioInt(p + "measured.width", 1920);
        const long height = SimBoard::scenarioInt(p + "measured.height", 1080);
        m_sizeFixed = SimBoard::scenarioInt(p + "measured.width", -1) >= 0 ||
                      SimBoard::scenarioInt(p + "measured.height", -1) >= 0;
        const long clock = SimBoard::scenarioInt(p + "measured.clock", 800000);
        m_measured[0] = uint8_t(width);
        m_measured[1] = uint8_t(width >> 8);
        m_measured[2] = uint8_t(height);
        m_measured[3] = uint8_t(height >> 8);
        for (int i = 0; i < 4; ++i)
            m_measured[4 + i] = uint8_t(clock >> (8 * i));
        for (int pair = 0; pair < kReceivePairs; ++pair) {
            m_answers[pair].clear();
            m_shown[pair] = false;
        }
        m_commandBytes.clear();
        m_haveCommand = false;
        m_held = false;
        m_powered = true;
        m_sendBusyPairs = uint8_t(SimBoard::scenarioInt(p + "sendbusy", 0));
        for (bool& armed : m_ackArmed)
            armed = false;
        m_trained = false;
        m_linkError = SimBoard::scenarioInt(p + "link.error", 0) != 0;
        m_trainable = SimBoard::scenarioInt(p + "link.train", 1) != 0;
        m_outputCheck = SimBoard::scenarioInt(p + "outputcheck", 1) != 0;
        m_ramStuck = SimBoard::scenarioInt(p + "ram1.stuck", -1);
        m_scripted.clear();
        SocModel::write16(kLines[m_index].irq, 0);
    }

    // A read over the bus: a scripted answer first, if a test queued one.
    uint8_t busRead(int r)
    {
        auto it = m_scripted.find(r);
        if (it != m_scripted.end() && !it->second.empty()) {
            const uint8_t v = it->second.front();
            it->second.pop_front();
            return v;
        }
        return readReg(r);
    }

    uint8_t readReg(int r)
    {
        switch (r) {
        case 22: {
            // Bit 3 link error, bit 4 link trained, bit 7 output check seen; the others are
            // stored (bit 5 answer arrived, bit 6 set-up lost, bit 2 output refresh busy).
            uint8_t v = uint8_t(m_regs[22] & ~0x98);
            if (m_linkError)
                v |= 0x08;
            if (m_trained && m_trainable)
                v |= 0x10;
            if (m_trained && m_outputCheck)
                v |= 0x80;
            return v;
        }
        case 40:
            // Bits 2-4: the three lanes of the link are locked once it has trained.
            return uint8_t((m_regs[40] & ~0x1C) | (m_trained && m_trainable ? 0x1C : 0));
        case 128:
            return linkBits(0);
        case 144:
            return linkBits(8);
        case 129:
        case 145: {
            // Per pair of the group: bit 2k answer ready, bit 2k + 1 transmitter busy.
            const int firstPair = r == 129 ? 0 : 4;
            uint8_t v = 0;
            for (int k = 0; k < 4; ++k) {
                const int pair = firstPair + k;
                if (pair < kReceivePairs && m_shown[pair])
                    v |= uint8_t(1u << (2 * k));
                if (m_sendBusyPairs & (1u << pair))
                    v |= uint8_t(2u << (2 * k));
            }
            return v;
        }
        default:
            return m_regs[r & 0xFF];
        }
    }

    void writeReg(int r, uint8_t mask, uint8_t value)
    {
        m_regs[r] = uint8_t((m_regs[r] & ~mask) | (value & mask));
        if (r == 3) {
            // Stage bits 6 and 7 train the link, on the clock the input side programmed.
            m_trained = (m_regs[3] & 0xC0) == 0xC0 && InputSideModel::clockChip().outputEnabled();
            if (m_regs[3] & 0x04) {
                m_regs[3] = uint8_t(m_regs[3] & ~0x04);
                sendBrightness();
            }
        }
        if (r == 131 || r == 147) {
            // An answer is released only by the pair's bit set in 130/146 and then cleared
            // here; a driver that leaves this bit set keeps the answer shown.
            const int firstPair = r == 131 ? 0 : 4;
            for (int b = 0; b < 4; ++b) {
                const int pair = firstPair + b;
                if ((mask & (1u << b)) && !(m_regs[r] & (1u << b)) && pair < kReceivePairs && m_ackArmed[pair]) {
                    m_ackArmed[pair] = false;
                    acknowledge(pair);
                }
            }
            return;
        }
        if (r != 130 && r != 146)
            return;
        const int firstPair = r == 130 ? 0 : 4;
        const uint8_t v = m_regs[r];
        m_regs[r] = 0;                             // start and acknowledge bits clear themselves
        for (int b = 0; b < 4; ++b)
            if ((v & (1u << b)) && firstPair + b < kReceivePairs)
                m_ackArmed[firstPair + b] = true;
        for (int b = 0; b < 4; ++b)
            if (v & (0x10u << b))
                send(firstPair + b);
    }


    std::vector<uint8_t>& ramOf(int ram)
    {
        auto it = m_rams.find(ram);
        if (it == m_rams.end())
            it = m_rams.emplace(ram, std::vector<uint8_t>(FpgaModel::kRamBytes, 0)).first;
        return it->second;
    }

    void ramWrite(int ram, uint32_t address, uint8_t byte)
    {
        address %= FpgaModel::kRamBytes;
        if (ram == 1 && long(address) == m_ramStuck)
            return;                                 // a RAM cell that keeps its value
        ramOf(ram)[address] = byte;
    }

    uint8_t ramRead(int ram, uint32_t address)
    {
        address %= FpgaModel::kRamBytes;
        if (ram == 1 && address >= kMeasuredFirst && address < kMeasuredEnd && measuring()) {
            long width = 0, height = 0;
            if (address < kMeasuredFirst + 4 && !m_sizeFixed && scalerPicture(width, height)) {
                const uint32_t size = uint32_t(width & 0xFFFF) | uint32_t(height & 0xFFFF) << 16;
                return uint8_t(size >> (8 * (address - kMeasuredFirst)));
            }
            return m_measured[address - kMeasuredFirst];
        }
        return ramOf(ram)[address];
    }

    // A test sets what the FPGA measures by writing those RAM 1 bytes from outside.
    void setMeasured(uint32_t address, uint8_t byte)
    {
        address %= FpgaModel::kRamBytes;
        if (address >= kMeasuredFirst && address < kMeasuredEnd)
            m_measured[address - kMeasuredFirst] = byte;
        if (address >= kMeasuredFirst && address < kMeasuredFirst + 4)
            m_sizeFixed = true;
    }

    bool measuring() const { return m_trained && m_trainable; }

    bool linkUp(int port)
    {
        if (port < 0 || port >= ReceivingCardModel::kPorts)
            return readLinkUp(port);
        // The link status registers are read on every pass of the manager: the ports' links
        // are worked out again only when the scenario or the card counts changed. The
        // versions are read before the values, so a change made meanwhile is seen next time.
        const uint64_t generation = SimBoard::scenarioGeneration();
        const uint64_t cards = ReceivingCardModel::cardsVersion();
        if (generation != m_linkGeneration || cards != m_linkCards) {
            m_linkGeneration = generation;
            m_linkCards = cards;
            m_links = 0;
            for (int p = 0; p < ReceivingCardModel::kPorts; ++p)
                if (readLinkUp(p))
                    m_links = uint16_t(m_links | 1u << p);
        }
        return (m_links >> port) & 1;
    }

    bool readLinkUp(int port)
    {
        long fallback = ReceivingCardModel::cards(m_index, port) > 0 ? 1 : 0;
        return SimBoard::scenarioInt(prefix(m_index) + "link.port" + std::to_string(port), fallback) != 0;
    }

    uint8_t linkBits(int firstPort)
    {
        uint8_t v = 0;
        for (int i = 0; i < 8; ++i)
            if (linkUp(firstPort + i))
                v |= uint8_t(1u << i);
        return v;
    }

    // A packet leaves the pair's transmit RAM on each selected port of the pair.
    void send(int pair)
    {
        const int shift = 2 * (pair % 4);
        const uint8_t high = uint8_t((m_regs[pair < 4 ? 27 : 158] >> shift) & 3);
        const uint32_t length = (uint32_t(high) << 8 | m_regs[kSendLengthReg[pair]]) + 1;
        const auto& tram = ramOf(3 + 2 * pair);
        std::vector<uint8_t> packet(tram.begin(), tram.begin() + length);
        const uint8_t select = uint8_t((m_regs[pair < 4 ? 132 : 148] >> shift) & 3);
        for (int b = 0; b < 2; ++b) {
            if (!(select & (1u << b)))
                continue;
            deliverTo(2 * pair + b, packet);
        }
    }

    // The packet leaves on the port as if sent from the port's pair; answers come back there.
    void deliverTo(int port, const std::vector<uint8_t>& packet, bool keepAnswers = true)
    {
        FpgaModel::Op op;
        op.kind = FpgaModel::OpKind::Send;
        op.port = port;
        op.data = packet;
        record(std::move(op));
        if (!linkUp(port))
            return;
        auto answers = ReceivingCardModel::deliver(m_index, port, packet.data(), packet.size());
        for (auto& a : answers) {
            // An answer held back by a sweep comes in on its own port's pair.
            const int pair = (a.port >= 0 ? a.port : port) / 2;
            if (keepAnswers && pair < kReceivePairs)
                m_answers[pair].push_back(std::move(a));
        }
    }

    // The FPGA takes the brightness of register 6 over and hands it to the cards itself.
    void sendBrightness()
    {
        for (int port = 0; port < ReceivingCardModel::kPorts; ++port) {
            if (!linkUp(port))
                continue;
            std::vector<uint8_t> p = {0xFF, uint8_t(0x0F | ((port & 3) << 4)), 0x00, 0xF0, 0x10, 0x66, 0x01,
                                      uint8_t(port + 1), 0x00, 0x60};
            for (int i = 0; i < 4; ++i)
                p.push_back(uint8_t(FpgaModel::kBrightnessAddress >> (8 * i)));
            p.insert(p.end(), {0x01, 0x00, 0x00, 0x00, m_regs[6]});
            uint8_t x = 0;
            for (uint8_t b : p)
                x ^= b;
            p.push_back(x);
            deliverTo(port, p, false);
        }
    }

    void acknowledge(int pair)
    {
        if (pair >= kReceivePairs || !m_shown[pair])
            return;
        m_answers[pair].pop_front();
        m_shown[pair] = false;
    }

    // Shows the first due answer of each pair in its receive RAM and raises the line.
    void refreshAnswers()
    {
        const uint64_t now = board::Clock::monotonicUs();
        bool waiting = false;
        for (int pair = 0; pair < kReceivePairs; ++pair) {
            auto& q = m_answers[pair];
            if (!m_shown[pair] && !q.empty() && q.front().readyAtUs <= now) {
                auto& bytes = q.front().bytes;
                if (bytes.size() > 1024)
                    bytes.resize(1024);
                auto& rram = ramOf(2 + 2 * pair);
                std::copy(bytes.begin(), bytes.end(), rram.begin());
                const uint32_t last = uint32_t(bytes.size() - 1);
                m_regs[kAnswerLengthReg[pair]] = uint8_t(last & 0xFF);
                const int highReg = pair < 4 ? 25 : 153;
                const int shift = pair < 4 ? 2 * pair : 0;
                m_regs[highReg] = uint8_t((m_regs[highReg] & ~(3u << shift)) | (((last >> 8) & 3) << shift));
                m_regs[22] |= 0x20;
                m_shown[pair] = true;
            }
            waiting = waiting || m_shown[pair];
        }
        SocModel::write16(kLines[m_index].irq, waiting ? 1 : 0);
    }

    void record(FpgaModel::Op&& op)
    {
        if (!SimBoard::recording())
            return;
        if (m_log.size() >= kLogLimit)
            m_log.erase(m_log.begin(), m_log.begin() + kLogLimit / 2);
        m_log.push_back(std::move(op));
    }

    void decode()
    {
        const uint32_t c = uint32_t(m_commandBytes[0]) | uint32_t(m_commandBytes[1]) << 8 |
                           uint32_t(m_commandBytes[2]) << 16 | uint32_t(m_commandBytes[3]) << 24;
        m_commandBytes.clear();
        const bool read = c & 1;
        const int op = int((c >> 1) & 0x0F);
        m_haveCommand = op == 1 || op == 2;
        if (!m_haveCommand)
            return;
        FpgaModel::Op entry;
        entry.command = c;
        if (op == 2) {
            entry.kind = read ? FpgaModel::OpKind::RegisterRead : FpgaModel::OpKind::RegisterWrite;
            entry.reg = int((c >> 16) & 0xFF);
            entry.mask = uint8_t(c >> 24);
        } else {
            entry.kind = read ? FpgaModel::OpKind::RamRead : FpgaModel::OpKind::RamWrite;
            entry.ram = int((c >> 8) & 0xFF);
            entry.address = (c >> 16) & 0x0FFF;
        }
        m_cursor = entry.address;
        m_registerDone = false;
        m_current = entry;
        // The data phase adds its bytes to this entry; with recording off there is none,
        // and the bytes must not go into an older entry (which would then grow for ever).
        const bool recorded = SimBoard::recording();
        record(std::move(entry));
        m_currentIndex = recorded ? m_log.size() - 1 : size_t(-1);
    }

    void dataPhase(const uint8_t* tx, uint8_t* rx, uint32_t length)
    {
        if (!m_haveCommand || length == 0)
            return;
        FpgaModel::Op* op = m_currentIndex < m_log.size() ? &m_log[m_currentIndex] : nullptr;
        switch (m_current.kind) {
        case FpgaModel::OpKind::RegisterWrite:
            if (m_registerDone)
                return;
            m_registerDone = true;
            if (op)
                op->data.push_back(tx[0]);
            writeReg(m_current.reg, m_current.mask, tx[0]);
            break;
        case FpgaModel::OpKind::RegisterRead:
            if (m_registerDone)
                return;
            m_registerDone = true;
            rx[0] = busRead(m_current.reg);
            if (op)
                op->data.push_back(rx[0]);
            break;
        case FpgaModel::OpKind::RamWrite:
            for (uint32_t i = 0; i < length; ++i) {
                ramWrite(m_current.ram, m_cursor++, tx[i]);
                if (op)
                    op->data.push_back(tx[i]);
            }
            break;
        case FpgaModel::OpKind::RamRead:
            for (uint32_t i = 0; i < length; ++i) {
                rx[i] = ramRead(m_current.ram, m_cursor++);
                if (op)
                    op->data.push_back(rx[i]);
            }
            break;
        case FpgaModel::OpKind::Send:
            break;
        }
    }

    int m_index;
    uint8_t m_regs[256] = {};
    std::map<int, std::vector<uint8_t>> m_rams;
    std::vector<uint8_t> m_commandBytes;
    bool m_haveCommand = false;
    bool m_registerDone = false;
    uint32_t m_cursor = 0;
    FpgaModel::Op m_current;
    size_t m_currentIndex = size_t(-1);
    bool m_held = false;
    bool m_powered = false;
    uint8_t m_sendBusyPairs = 0;                // bit k: pair k's transmitter stays busy
    bool m_ackArmed[kReceivePairs] = {};
    uint8_t m_measured[kMeasuredEnd - kMeasuredFirst] = {};
    bool m_sizeFixed = false;            // width and height set by the scenario or a test
    bool m_trained = false;
    uint64_t m_linkGeneration = 0, m_linkCards = 0;   // what m_links was worked out from
    uint16_t m_links = 0;                             // bit per port: link up
    bool m_linkError = false;
    bool m_trainable = true;
    bool m_outputCheck = true;
    long m_ramStuck = -1;
    std::map<int, std::deque<uint8_t>> m_scripted;
    std::deque<CardAnswer> m_answers[kReceivePairs];
    bool m_shown[kReceivePairs] = {};
    std::vector<FpgaModel::Op> m_log;
};

Fpga g_fpga0(0);
Fpga g_fpga1(1);

Fpga* fpgaOf(int fpga)
{
    if (fpga == 0)
        return &g_fpga0;
    if (fpga == 1)
        return &g_fpga1;
    return nullptr;
}

// Accessors from tests power the FPGA up as a transfer would.
Fpga* powered(int fpga)
{
    Fpga* f = fpgaOf(fpga);
    if (f) {
        if (!f->m_powered)
            f->powerOnLocked();
    }
    return f;
}

struct Registrar {
    Registrar()
    {
        SpiBusModel::attach(1, &g_fpga0);
        SpiBusModel::attach(2, &g_fpga1);
        SimBoard::addResetHook([] { FpgaModel::reset(); });
        // The reset lines have pull-ups on the board: the window keeps them over its resets,
        // applied at the reset itself, so a line the program drives afterwards stays driven.
        SocModel::pullUp(kLines[0].reset, kLineIdle);
        SocModel::pullUp(kLines[1].reset, kLineIdle);
    }
} g_registrar;

} // namespace

uint8_t FpgaModel::reg(int fpga, int reg)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Fpga* f = powered(fpga);
    return (f && reg >= 0 && reg < 256) ? f->readReg(reg) : 0xFF;
}

void FpgaModel::setReg(int fpga, int reg, uint8_t value)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Fpga* f = powered(fpga);
    if (f && reg >= 0 && reg < 256)
        f->m_regs[reg] = value;
}

std::vector<uint8_t> FpgaModel::ram(int fpga, int ram, uint32_t address, uint32_t length)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Fpga* f = powered(fpga);
    std::vector<uint8_t> out;
    if (!f)
        return out;
    f->refreshAnswers();
    for (uint32_t i = 0; i < length; ++i)
        out.push_back(f->ramRead(ram, address + i));
    return out;
}

void FpgaModel::setRam(int fpga, int ram, uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Fpga* f = powered(fpga);
    if (!f)
        return;
    for (size_t i = 0; i < bytes.size(); ++i) {
        f->ramOf(ram)[(address + i) % kRamBytes] = bytes[i];
        if (ram == 1)
            f->setMeasured(uint32_t(address + i), bytes[i]);
    }
}

void FpgaModel::setLinkError(int fpga, bool on)
{
    std::lock_guard<std::mutex> hold(g_lock);
    if (Fpga* f = powered(fpga))
        f->m_linkError = on;
}

bool FpgaModel::linkTrained(int fpga)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Fpga* f = powered(fpga);
    return f && f->m_trained;
}

void FpgaModel::scriptReads(int fpga, int reg, const std::vector<uint8_t>& values)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Fpga* f = powered(fpga);
    if (!f || reg < 0 || reg > 255)
        return;
    auto& q = f->m_scripted[reg];
    q.insert(q.end(), values.begin(), values.end());
}

void FpgaModel::queueAnswer(int fpga, int pair, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Fpga* f = powered(fpga);
    if (!f || pair < 0 || pair >= kReceivePairs || bytes.empty())
        return;
    CardAnswer answer;
    answer.bytes = bytes;
    f->m_answers[pair].push_back(std::move(answer));
    f->refreshAnswers();
}

bool FpgaModel::inReset(int fpga)
{
    std::lock_guard<std::mutex> hold(g_lock);
    return (fpga == 0 || fpga == 1) && SocModel::read16(kLines[fpga].reset) == 0;
}

size_t FpgaModel::pendingAnswers(int fpga, int pair)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Fpga* f = powered(fpga);
    if (!f || pair < 0 || pair >= kReceivePairs)
        return 0;
    f->refreshAnswers();
    return f->m_answers[pair].size();
}

std::vector<FpgaModel::Op> FpgaModel::log(int fpga)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Fpga* f = fpgaOf(fpga);
    return f ? f->m_log : std::vector<Op>();
}

void FpgaModel::clearLog()
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_fpga0.m_log.clear();
    g_fpga1.m_log.clear();
    g_fpga0.m_currentIndex = g_fpga1.m_currentIndex = size_t(-1);
}

void FpgaModel::powerOn(int fpga)
{
    std::lock_guard<std::mutex> hold(g_lock);
    if (Fpga* f = fpgaOf(fpga))
        f->powerOnLocked();
}

void FpgaModel::reset()
{
    std::lock_guard<std::mutex> hold(g_lock);
    for (Fpga* f : {&g_fpga0, &g_fpga1}) {
        f->m_powered = false;
        f->m_held = false;
        f->m_log.clear();
        f->m_currentIndex = size_t(-1);
        f->m_commandBytes.clear();
        f->m_haveCommand = false;
    }
}

} // namespace sim
