#include "board/sim/ScenarioCheck.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace sim {

namespace {

enum class Form { Number, Flag, Timing, Address, Mac, Choice };

struct Key {
    // "<a-b>" stands for a decimal index from a to b; "<F>" for nothing or "1" (the first or
    // the second FPGA: "fpga.cards.port0", "fpga1.cards.port0").
    const char* pattern;
    Form form;
    const char* choices = nullptr;    // Form::Choice: the words, separated by '|'
};

// Inputs 0 to 2 are IT6602 receivers, input 3 the IT6805; the timing keys serve all four.
const Key kKeys[] = {
    {"input<0-3>.timing", Form::Timing},
    {"input<0-3>.signal", Form::Flag},
    {"input<0-3>.interlaced", Form::Flag},
    {"input<0-3>.hact", Form::Number},
    {"input<0-3>.vact", Form::Number},
    {"input<0-3>.htotal", Form::Number},
    {"input<0-3>.vtotal", Form::Number},
    {"input<0-3>.hz", Form::Number},
    {"input<0-3>.hfp", Form::Number},
    {"input<0-3>.hsync", Form::Number},
    {"input<0-3>.vfp", Form::Number},
    {"input<0-3>.vsync", Form::Number},
    {"input<0-3>.hpol", Form::Flag},
    {"input<0-3>.vpol", Form::Flag},
    {"input<0-3>.osc", Form::Number},
    {"input<0-3>.colorimetry", Form::Number},
    {"input<0-3>.vic", Form::Number},
    {"input<0-3>.audio", Form::Flag},
    {"input<0-3>.scan", Form::Number},
    {"input<0-3>.relock", Form::Number},
    {"input<0-3>.5v_glitch", Form::Number},
    {"input<0-3>.avmute", Form::Flag},
    {"input<0-2>.cable", Form::Flag},
    {"input<0-2>.pclk", Form::Number},
    {"input<0-2>.hdmi", Form::Flag},
    {"input<0-2>.colour", Form::Choice, "rgb|yuv422|yuv444"},
    {"input<0-3>.range", Form::Number},
    {"input<0-2>.depth", Form::Number},
    {"input<0-2>.audiofs", Form::Number},
    {"input<0-2>.audioch", Form::Number},
    {"input<0-2>.rxaddr", Form::Number},
    {"input<0-2>.scdt", Form::Flag},
    {"input<0-2>.pclkreg", Form::Flag},
    {"input<0-2>.3d", Form::Choice, "none|framepacking|topbottom|sidebyside"},
    {"input3.chip", Form::Choice, "present|absent"},
    {"input3.5v", Form::Flag},
    {"input3.dvi", Form::Flag},
    {"input3.depth", Form::Number},
    {"input3.colour", Form::Number},
    {"input3.hdmi2", Form::Flag},
    {"input3.extcolorimetry", Form::Number},
    {"input3.audio_fs", Form::Number},
    {"input3.audio_status_fs", Form::Number},
    {"input3.avi_flip", Form::Number},
    {"input3.sync_lag", Form::Number},
    {"input3.parity", Form::Number},
    {"input3.caof", Form::Number},
    {"input3.cec_tx_result", Form::Number},
    {"input3.chipid", Form::Number},
    {"input3.id2", Form::Number},
    {"input3.eq_passes", Form::Number},
    {"input3.eq_saturated", Form::Number},
    {"input3.osc_ready", Form::Flag},
    {"input3.vbo_clock", Form::Flag},
    {"i2c.clock", Form::Choice, "present|absent"},
    {"i2c.eeprom<0-3>", Form::Choice, "valid|blank|corrupt|absent"},
    {"fpga<F>.cards.port<0-15>", Form::Number},
    {"fpga<F>.configid.port<0-15>", Form::Number},
    {"fpga<F>.funccard.port<0-15>", Form::Flag},
    {"fpga<F>.funccard.port<0-15>.power", Form::Number},
    {"fpga<F>.funccard.port<0-15>.light", Form::Number},
    {"fpga<F>.fault.port<0-15>", Form::Choice, "none|silent|badbcc"},
    {"fpga<F>.delay_us.port<0-15>", Form::Number},
    {"fpga<F>.link.port<0-15>", Form::Flag},
    {"fpga<F>.reg.<0-255>", Form::Number},
    {"fpga<F>.measured.width", Form::Number},
    {"fpga<F>.measured.height", Form::Number},
    {"fpga<F>.measured.clock", Form::Number},
    {"fpga<F>.sendbusy", Form::Number},
    {"fpga<F>.link.error", Form::Flag},
    {"fpga<F>.link.train", Form::Flag},
    {"fpga<F>.outputcheck", Form::Flag},
    {"fpga<F>.ram1.stuck", Form::Number},
    {"fpga.flash.stuck_busy", Form::Flag},
    {"fpga.flash.program_us", Form::Number},
    {"fpga.flash.erase4k_us", Form::Number},
    {"fpga.flash.erase32k_us", Form::Number},
    {"fpga.flash.erase64k_us", Form::Number},
    {"soc.uid<0-2>", Form::Number},
    {"keypad.present", Form::Flag},
    {"data.capacity", Form::Number},
    {"data.modes.refused", Form::Flag},
    {"net.eth0.address", Form::Address},
    {"net.eth0.mask", Form::Address},
    {"net.eth0.gateway", Form::Address},
    {"net.eth0.mac", Form::Mac},
    {"net.wlan<0-1>.address", Form::Address},
    {"net.wlan<0-1>.mask", Form::Address},
    {"net.wlan<0-1>.gateway", Form::Address},
    {"net.wlan<0-1>.mac", Form::Mac},
};

// Whether key, from position k, matches pattern from position p.
bool matches(const std::string& pattern, size_t p, const std::string& key, size_t k)
{
    if (p == pattern.size())
        return k == key.size();
    if (pattern.compare(p, 3, "<F>") == 0)
        return matches(pattern, p + 3, key, k) || (k < key.size() && key[k] == '1' && matches(pattern, p + 3, key, k + 1));
    if (pattern[p] == '<') {
        const size_t close = pattern.find('>', p);
        const long low = std::strtol(pattern.c_str() + p + 1, nullptr, 10);
        const long high = std::strtol(pattern.c_str() + pattern.find('-', p) + 1, nullptr, 10);
        size_t end = k;
        while (end < key.size() && std::isdigit(static_cast<unsigned char>(key[end])))
            ++end;
        // No leading zeros: "input01" is not input 1.
        if (end == k || end - k > 3 || (key[k] == '0' && end - k > 1))
            return false;
        const long n = std::strtol(key.substr(k, end - k).c_str(), nullptr, 10);
        return n >= low && n <= high && matches(pattern, close + 1, key, end);
    }
    return k < key.size() && key[k] == pattern[p] && matches(pattern, p + 1, key, k + 1);
}

// The pattern as the README writes it: "input<N>.timing", "fpga.cards.port<N>".
std::string shown(const std::string& pattern)
{
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '<') {
            out += pattern[i];
            continue;
        }
        const size_t close = pattern.find('>', i);
        if (pattern.compare(i, 3, "<F>") != 0)
            out += "<N>";
        i = close;
    }
    return out;
}

size_t distance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

bool isNumber(const std::string& v)
{
    char* end = nullptr;
    std::strtol(v.c_str(), &end, 0);
    return !v.empty() && end && *end == '\0';
}

bool digits(const std::string& v, size_t& i)
{
    const size_t start = i;
    while (i < v.size() && std::isdigit(static_cast<unsigned char>(v[i])))
        ++i;
    return i > start && v[start] != '0';
}

// WIDTHxHEIGHT, then "i" for interlaced, then "@HZ": what the input models read.
bool isTiming(const std::string& v)
{
    if (v == "none" || v == "1080i")
        return true;
    size_t i = 0;
    if (!digits(v, i) || i == v.size() || v[i++] != 'x' || !digits(v, i))
        return false;
    if (i < v.size() && v[i] == 'i')
        ++i;
    if (i < v.size() && v[i] == '@') {
        // The rate may have decimals ("@59.94").
        if (!digits(v, ++i))
            return false;
        if (i < v.size() && v[i] == '.')
            while (++i < v.size() && std::isdigit(static_cast<unsigned char>(v[i])))
                ;
        return i == v.size() && v.back() != '.';
    }
    return i == v.size();
}

bool isMac(const std::string& v)
{
    if (v.size() != 17)
        return false;
    for (size_t i = 0; i < v.size(); ++i)
        if (i % 3 == 2 ? v[i] != ':' : !std::isxdigit(static_cast<unsigned char>(v[i])))
            return false;
    return true;
}

bool isChoice(const std::string& v, const std::string& choices)
{
    return ("|" + choices + "|").find("|" + v + "|") != std::string::npos;
}

} // namespace

std::string ScenarioCheck::problem(const std::string& key, const std::string& value)
{
    for (const Key& k : kKeys) {
        if (!matches(k.pattern, 0, key, 0))
            continue;
        switch (k.form) {
        case Form::Number:
            return isNumber(value) ? std::string() : "not a number; accepted: a whole number (0x.. hexadecimal)";
        case Form::Flag:
            return value == "0" || value == "1" ? std::string() : "not a flag; accepted: 0 or 1";
        case Form::Timing:
            return isTiming(value) ? std::string()
                                   : "not a timing; accepted: WIDTHxHEIGHT@HZ (1920x1080@60), an i after the "
                                     "height for interlaced (1920x1080i@60), or none";
        case Form::Address: {
            in_addr a{};
            return inet_pton(AF_INET, value.c_str(), &a) == 1 ? std::string()
                                                              : "not an address; accepted: four numbers (192.168.0.199)";
        }
        case Form::Mac:
            return isMac(value) ? std::string() : "not a MAC; accepted: six hexadecimal pairs (02:00:00:00:00:01)";
        case Form::Choice:
            return isChoice(value, k.choices) ? std::string() : std::string("not a known value; accepted: ") + k.choices;
        }
    }
    // The nearest key, compared with every index written as one digit.
    std::string normal;
    for (size_t i = 0; i < key.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(key[i])) || i == 0 || !std::isdigit(static_cast<unsigned char>(key[i - 1])))
            normal += std::isdigit(static_cast<unsigned char>(key[i])) ? '0' : key[i];
    // Only a key a slip of the fingers away is named: a quarter of its letters, at least two.
    std::string nearest;
    size_t best = std::string::npos;
    for (const Key& k : kKeys) {
        std::string p = shown(k.pattern);
        const std::string name = p;
        for (size_t at; (at = p.find("<N>")) != std::string::npos;)
            p.replace(at, 3, "0");
        const size_t d = distance(normal, p);
        if (d < best && d <= std::max<size_t>(2, p.size() / 4)) {
            best = d;
            nearest = name;
        }
    }
    return nearest.empty() ? "unknown key" : "unknown key; the nearest is " + nearest;
}

} // namespace sim
