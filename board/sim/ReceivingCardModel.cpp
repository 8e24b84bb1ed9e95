#include "board/sim/ReceivingCardModel.h"

#include "board/Clock.h"
#include "board/sim/FunctionCardModel.h"
#include "board/sim/SimBoard.h"
#include "board/sim/spi/SparseMemory.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

namespace sim {

namespace {
// Packets kept per port for tests; the oldest half goes when it is full.
constexpr size_t kPacketLimit = 20000;

// A card as its chain keeps it: the RAM in pages that hold memory only once written, so
// the chains of a host run do not keep 64 KiB per card of which a few bytes are used.
// The vector of the base stays empty; card() fills it in for the copy it hands out.
struct ChainCard : ReceivingCard {
    ChainCard() { ram = std::vector<uint8_t>(); }
    SparseMemory ramPages{0, kRamSize};
};

struct Chain {
    std::vector<ChainCard> cards;
    bool functionCard = false;
    ReceivingCardModel::Fault fault = ReceivingCardModel::Fault::None;
    uint64_t delayUs = 0;
    std::vector<std::vector<uint8_t>> packets;
};

std::mutex g_lock;
Chain g_chains[2][ReceivingCardModel::kPorts];
bool g_configured = false;
std::atomic<uint64_t> g_cardsVersion{1};

// The sweep's failure point (under g_lock).
struct AnswerPlan {
    uint64_t k = 0;
    ReceivingCardModel::AnswerFault fault = ReceivingCardModel::AnswerFault::None;
    GivenAnswer early;
    uint64_t given = 0;
    std::vector<GivenAnswer> log;
    std::vector<CardAnswer> held;
};
AnswerPlan g_plan;

bool validPort(int fpga, int port)
{
    return (fpga == 0 || fpga == 1) && port >= 0 && port < ReceivingCardModel::kPorts;
}

std::string key(int fpga, const char* what, int port)
{
    return std::string(fpga ? "fpga1." : "fpga.") + what + ".port" + std::to_string(port);
}

// Reads the scenario once after a reset; explicit settings made later override it.
void configure()
{
    if (g_configured)
        return;
    g_configured = true;
    for (int f = 0; f < 2; ++f) {
        for (int p = 0; p < ReceivingCardModel::kPorts; ++p) {
            Chain& c = g_chains[f][p];
            long fallback = (f == 0 && p < 2) ? 2 : 0;
            long count = SimBoard::scenarioInt(key(f, "cards", p), fallback);
            if (count < 0)
                count = 0;
            if (count > 0x0FFD)
                count = 0x0FFD;
            ChainCard blank;
            blank.configId = uint32_t(SimBoard::scenarioInt(key(f, "configid", p), 0));
            c.cards.assign(size_t(count), blank);
            c.functionCard = SimBoard::scenarioInt(key(f, "funccard", p), 0) != 0;
            std::string fault = SimBoard::scenario(key(f, "fault", p));
            c.fault = fault == "silent"   ? ReceivingCardModel::Fault::Silent
                      : fault == "badbcc" ? ReceivingCardModel::Fault::WrongCheck
                                          : ReceivingCardModel::Fault::None;
            long delay = SimBoard::scenarioInt(key(f, "delay_us", p), 0);
            c.delayUs = delay > 0 ? uint64_t(delay) : 0;
        }
    }
}

uint8_t xorOf(const uint8_t* data, size_t n)
{
    uint8_t x = 0;
    for (size_t i = 0; i < n; ++i)
        x ^= data[i];
    return x;
}

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// The answer frame: header, payload, check byte.
std::vector<uint8_t> answerTo(const uint8_t* packet, int port, uint16_t card, const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> a(10);
    a.reserve(10 + payload.size() + 1);
    a[0] = packet[2];                      // to the packet's source
    a[1] = packet[3];
    const uint16_t source = uint16_t(((port & 3) << 12) | (card & 0x0FFF));
    a[2] = uint8_t(source & 0xFF);
    a[3] = uint8_t(source >> 8);
    a[4] = 0x10;
    a[5] = packet[5];
    a[6] = 0x01;
    a[7] = packet[7];
    a[8] = 0;
    a[9] = packet[9];
    a.insert(a.end(), payload.begin(), payload.end());
    a.push_back(xorOf(a.data(), a.size()));
    return a;
}

// Carries out the command on one card and returns the answer's payload.
std::vector<uint8_t> execute(ChainCard& card, const uint8_t* packet, size_t length)
{
    const uint8_t command = packet[9];
    const uint8_t* payload = packet + 10;
    const size_t n = length - 11;          // payload bytes before the check byte
    std::vector<uint8_t> out{0};           // byte 10: done
    switch (command) {
    case 0x60:                             // write card RAM: address, length, 2 zero, data
        if (n >= 8) {
            const uint32_t address = le32(payload);
            size_t count = le16(payload + 4);
            if (count > n - 8)
                count = n - 8;
            if (address < ReceivingCard::kRamSize) {
                if (count > ReceivingCard::kRamSize - address)
                    count = ReceivingCard::kRamSize - address;
                card.ramPages.write(address, payload + 8, uint32_t(count));
            }
        }
        break;
    case 0x61:                             // read card RAM: done, then the data from byte 11
        if (n >= 8) {
            const uint32_t address = le32(payload);
            const size_t count = le16(payload + 4);
            for (size_t i = 0; i < count && out.size() < 1000; ++i)
                out.push_back(address + i < ReceivingCard::kRamSize ? card.ramPages.get(uint32_t(address + i)) : 0xFF);
        }
        break;
    case 0x81:
        card.saves++;
        break;
    case 0x84:
        card.reconfigs++;
        break;
    case 0xA0:
        if (SimBoard::recording())             // a record for tests; a host run keeps none
            card.registerWrites.emplace_back(payload, payload + n);
        if (n >= 4 && payload[0] == 0x03 && payload[1] == 0x0F && payload[2] == 0x01)
            card.mapping = payload[3];
        break;
    case 0xB4:
        card.activations++;
        break;
    default:
        break;
    }
    return out;
}

} // namespace

void ReceivingCardModel::setCards(int fpga, int port, int count)
{
    if (!validPort(fpga, port))
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    configure();
    g_chains[fpga][port].cards.assign(size_t(count < 0 ? 0 : (count > 0x0FFD ? 0x0FFD : count)), ChainCard());
    ++g_cardsVersion;
}

uint64_t ReceivingCardModel::cardsVersion()
{
    return g_cardsVersion;
}

int ReceivingCardModel::cards(int fpga, int port)
{
    if (!validPort(fpga, port))
        return 0;
    std::lock_guard<std::mutex> hold(g_lock);
    configure();
    return int(g_chains[fpga][port].cards.size());
}

void ReceivingCardModel::setConfigId(int fpga, int port, int index, uint32_t id)
{
    if (!validPort(fpga, port))
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    configure();
    auto& cards = g_chains[fpga][port].cards;
    for (size_t i = 0; i < cards.size(); ++i)
        if (index < 0 || size_t(index) == i)
            cards[i].configId = id;
}

void ReceivingCardModel::setCardSilent(int fpga, int port, int index, bool silent)
{
    if (!validPort(fpga, port))
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    configure();
    auto& cards = g_chains[fpga][port].cards;
    if (index >= 0 && size_t(index) < cards.size())
        cards[size_t(index)].silent = silent;
}

void ReceivingCardModel::setFunctionCard(int fpga, int port, bool on)
{
    if (!validPort(fpga, port))
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    configure();
    g_chains[fpga][port].functionCard = on;
}

bool ReceivingCardModel::functionCard(int fpga, int port)
{
    if (!validPort(fpga, port))
        return false;
    std::lock_guard<std::mutex> hold(g_lock);
    configure();
    return g_chains[fpga][port].functionCard;
}

void ReceivingCardModel::setFault(int fpga, int port, Fault fault)
{
    if (!validPort(fpga, port))
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    configure();
    g_chains[fpga][port].fault = fault;
}

void ReceivingCardModel::setDelayUs(int fpga, int port, uint64_t microseconds)
{
    if (!validPort(fpga, port))
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    configure();
    g_chains[fpga][port].delayUs = microseconds;
}

std::vector<std::vector<uint8_t>> ReceivingCardModel::packets(int fpga, int port)
{
    if (!validPort(fpga, port))
        return {};
    std::lock_guard<std::mutex> hold(g_lock);
    return g_chains[fpga][port].packets;
}

void ReceivingCardModel::clearPackets()
{
    std::lock_guard<std::mutex> hold(g_lock);
    for (auto& fpga : g_chains)
        for (auto& chain : fpga)
            chain.packets.clear();
}

ReceivingCard ReceivingCardModel::card(int fpga, int port, int index)
{
    if (!validPort(fpga, port))
        return ReceivingCard();
    std::lock_guard<std::mutex> hold(g_lock);
    configure();
    const auto& cards = g_chains[fpga][port].cards;
    if (index < 0 || size_t(index) >= cards.size())
        return ReceivingCard();
    const ChainCard& kept = cards[size_t(index)];
    ReceivingCard copy = kept;
    copy.ram.resize(ReceivingCard::kRamSize);
    kept.ramPages.read(0, copy.ram.data(), ReceivingCard::kRamSize);
    return copy;
}

std::vector<CardAnswer> ReceivingCardModel::deliver(int fpga, int port, const uint8_t* packet, size_t length)
{
    if (!validPort(fpga, port) || !packet)
        return {};
    std::lock_guard<std::mutex> hold(g_lock);
    configure();
    Chain& chain = g_chains[fpga][port];
    if (SimBoard::recording()) {
        if (chain.packets.size() >= kPacketLimit)
            chain.packets.erase(chain.packets.begin(), chain.packets.begin() + kPacketLimit / 2);
        chain.packets.emplace_back(packet, packet + length);
    }
    // The shortest packet is the header, the command and the check byte.
    if (length < 11 || xorOf(packet, length - 1) != packet[length - 1])
        return {};
    if (chain.functionCard && FunctionCardModel::addressed(packet, length)) {
        if (chain.fault == Fault::Silent)
            return {};
        // The function card answers from its own address.
        CardAnswer answer;
        answer.bytes = answerTo(packet, port, 0, FunctionCardModel::execute(fpga, port, packet, length));
        const uint16_t own = uint16_t(0x4000 | ((port & 3) << 12));
        answer.bytes[2] = uint8_t(own & 0xFF);
        answer.bytes[3] = uint8_t(own >> 8);
        answer.bytes.back() = xorOf(answer.bytes.data(), answer.bytes.size() - 1);
        if (chain.fault == Fault::WrongCheck)
            answer.bytes.back() ^= 0xFF;
        answer.readyAtUs = board::Clock::monotonicUs() + chain.delayUs;
        return {answer};
    }
    if (chain.cards.empty())
        return {};
    const uint16_t target = le16(packet);
    const uint16_t index = target & 0x0FFF;
    const bool broadcast = index == 0x0FFF || index == 0x0FFE;
    if (!broadcast && (index >= chain.cards.size() || chain.cards[index].silent))
        return {};
    // A job packet of the controller: the sweep's failure points count its answer.
    const bool check = length >= 30 && packet[9] == 0x10 && (packet[16] & 1);
    const bool job = (packet[5] == 0x67 || check) && le16(packet + 2) == 0xF000 && chain.fault == Fault::None;
    std::vector<CardAnswer> released;
    uint64_t n = 0;
    if (job) {
        released.swap(g_plan.held);
        n = ++g_plan.given;
        if (n == g_plan.k && g_plan.fault == AnswerFault::Early)
            return released;                     // the packet is lost on its way out
        if (n == g_plan.k && g_plan.fault == AnswerFault::Stale && !g_plan.log.empty()) {
            CardAnswer again;                    // lost too, and the last answer repeated
            again.bytes = g_plan.log.back().bytes;
            again.port = g_plan.log.back().port;
            again.readyAtUs = board::Clock::monotonicUs() + chain.delayUs;
            released.push_back(again);
            return released;
        }
    }

    std::vector<uint8_t> payload;
    uint16_t answering = index;
    if (packet[9] == 0x10) {
        // Search: the chain reports its length and whether a function card is on it.
        const uint16_t count = uint16_t(chain.cards.size());
        payload = {0, uint8_t(count & 0xFF), uint8_t(count >> 8), uint8_t(chain.functionCard ? 1 : 0)};
        answering = uint16_t(count - 1);
        // A check packet (30 bytes, byte 16 = 1) carries a configuration identity: the
        // answer echoes it at bytes 18-21 and gives at 22-23 the index of the first card
        // that holds another one, or 255 when every card holds it.
        if (length >= 30 && (packet[16] & 1)) {
            const uint32_t id = le32(packet + 17);
            uint16_t result = 255;
            for (size_t i = 0; i < chain.cards.size(); ++i) {
                if (chain.cards[i].configId != id) {
                    result = uint16_t(i);
                    break;
                }
            }
            payload.resize(8, 0);
            for (int i = 0; i < 4; ++i)
                payload.push_back(uint8_t(id >> (8 * i)));
            payload.push_back(uint8_t(result & 0xFF));
            payload.push_back(uint8_t(result >> 8));
        }
    } else if (broadcast) {
        for (auto& card : chain.cards)
            payload = execute(card, packet, length);
        answering = uint16_t(chain.cards.size() - 1);   // the last card closes the chain
    } else {
        payload = execute(chain.cards[index], packet, length);
    }
    if (chain.fault == Fault::Silent)
        return {};
    CardAnswer answer;
    answer.bytes = answerTo(packet, port, answering, payload);
    if (chain.fault == Fault::WrongCheck)
        answer.bytes.back() ^= 0xFF;
    answer.readyAtUs = board::Clock::monotonicUs() + chain.delayUs;
    answer.port = port;
    if (!job)
        return {answer};
    g_plan.log.push_back({port, answer.bytes});
    std::vector<CardAnswer> out = released;
    const bool hit = n == g_plan.k;
    if (!hit || g_plan.fault == AnswerFault::Early)
        out.push_back(answer);
    else if (g_plan.fault == AnswerFault::Duplicate)
        out.insert(out.end(), {answer, answer});
    else if (g_plan.fault == AnswerFault::Delay)
        g_plan.held.push_back(answer);
    if (g_plan.fault == AnswerFault::Early && n + 1 == g_plan.k) {
        CardAnswer early;
        early.bytes = g_plan.early.bytes;
        early.port = g_plan.early.port;
        early.readyAtUs = answer.readyAtUs;
        out.push_back(early);
    }
    return out;
}

void ReceivingCardModel::setAnswerFault(uint64_t k, AnswerFault fault, const GivenAnswer& early)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_plan = AnswerPlan();
    g_plan.k = k;
    g_plan.fault = fault;
    g_plan.early = early;
}

uint64_t ReceivingCardModel::jobAnswers()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_plan.given;
}

std::vector<GivenAnswer> ReceivingCardModel::jobAnswerLog()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_plan.log;
}

void ReceivingCardModel::reset()
{
    std::lock_guard<std::mutex> hold(g_lock);
    for (auto& fpga : g_chains)
        for (auto& chain : fpga)
            chain = Chain();
    g_plan = AnswerPlan();
    g_configured = false;
    ++g_cardsVersion;
}

namespace {
struct Registrar {
    Registrar() { SimBoard::addResetHook([] { ReceivingCardModel::reset(); }); }
} g_registrar;
} // namespace

} // namespace sim
