#include "core/kelrampara.h"

#include "board/Clock.h"
#include "board/Files.h"
#include "core/global.h"
#include "core/utils.h"
#include "scaler/c331_manage.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

KelRamPara* KelRamPara::p_kelrampara_config = nullptr;
uint8_t g_cut_source_state[kCutSourcePorts * kCutSourceBytesPerPort];

namespace {
const char* const kParaFile = "/data/ram_device_info";
const char* const kOsdFile = "/data/configs/omenu.json";

// --- the built-in default image -------------------------------------------------------

struct DefaultImage {
    uint8_t b[KelRamPara::kRamSize];
};

// Image byte 2 + k holds block byte 768 + k.
constexpr void def16(DefaultImage& d, int blockOffset, uint16_t v)
{
    const int i = blockOffset - KelRamPara::kSavedStart + 2;
    d.b[i] = uint8_t(v & 0xFF);
    d.b[i + 1] = uint8_t(v >> 8);
}

constexpr DefaultImage buildDefaultImage()
{
    DefaultImage d{};
    d.b[0] = 0xAA;
    d.b[1] = 0xAA;
    def16(d, 770, 100);
    // Requested EDID: the HDMI 1.4 inputs ask for 1080p60, the V-by-One inputs for 2160p60.
    for (int i = 0; i < 6; ++i) {
        def16(d, 896 + 6 * i, i < 4 ? 1920 : 3840);
        def16(d, 898 + 6 * i, i < 4 ? 1080 : 2160);
        def16(d, 900 + 6 * i, 60);
    }
    def16(d, KelRamPara::kLedWidth, 1920);
    def16(d, KelRamPara::kLedHeight, 1080);
    def16(d, 1386, 1);
    def16(d, 1388, 1);
    def16(d, 1390, 1920);
    def16(d, 1392, 1080);
    for (int out = 0; out < 2; ++out) {
        def16(d, 1408 + 8 * out + 4, 1920);
        def16(d, 1408 + 8 * out + 6, 1080);
    }
    // Forty crop records, not in use; the pattern runs on through 2111 (64 records in all,
    // the 63rd of them with width 0).
    for (int r = 0; r < 64; ++r) {
        const int base = KelRamPara::kCropRecords + KelRamPara::kCropRecordSize * r;
        def16(d, base, 0x0002);
        def16(d, base + 6, r == 62 ? 0 : 1920);
        def16(d, base + 8, 1080);
    }
    def16(d, KelRamPara::kBrightness, 100);
    def16(d, 2178, 50);   // contrast
    def16(d, 2180, 10);   // sharpness
    def16(d, 2182, 50);   // saturation
    def16(d, 2184, 2);    // colour temperature: nature
    def16(d, 2186, 64);
    def16(d, 2188, 64);
    def16(d, 2190, 64);
    for (int p = 0; p < 16; ++p)
        def16(d, KelRamPara::kLayerPriority + 2 * p, uint16_t(p));
    def16(d, 2270, 1);
    for (int l = 0; l < KelRamPara::kLayerCount; ++l) {
        const int base = KelRamPara::kLayers + KelRamPara::kLayerSize * l;
        def16(d, base + KelRamPara::kLayerFlags, l == 0 ? 1 : 0);
        def16(d, base + KelRamPara::kLayerSource, 1);
        def16(d, base + KelRamPara::kLayerWindow + 4, 1920);
        def16(d, base + KelRamPara::kLayerWindow + 6, 1080);
    }
    return d;
}

constexpr DefaultImage kDefaultImage = buildDefaultImage();
static_assert(sizeof(kDefaultImage.b) == 4096, "the default image is 4096 bytes");
static_assert(KelRamPara::kSavedLength == 3328 && KelRamPara::kModeAreaLength == 3200, "block regions");
static_assert(KelRamPara::kSlotOsdOn == 1230, "OSD word of a slot");

// --- the scaler manager's lock and apply flag ------------------------------------------

// An edit of scaler settings in the block: holds the block's lock for its lifetime. Before
// the scaler manager exists nothing applies the block, so there is no flag to raise.
class ScalerEdit {
public:
    ScalerEdit() : manager_(c331_manage::p_c331_manage), hold_(KelRamPara::lock_block()) {}
    void raise(uint8_t value)
    {
        if (manager_)
            manager_->raise_apply_flag(value);
    }

private:
    c331_manage* manager_;
    std::unique_lock<std::mutex> hold_;
};

// The block's own lock (see lock_block): a leaf, no other lock is taken while it is held
// but the input-status lock, so that every thread's wait for it is one copy long.
std::mutex g_block_mutex;

void pauseMs(unsigned ms) { board::Clock::sleepMs(ms); }
void pauseUs(unsigned us) { board::Clock::sleepUs(us); }

// Reads at most max bytes of a file under the data root; -1 when no file can be read there
// (anything but a regular file is none: a pipe would hold the start for ever).
long readFile(const std::string& systemPath, uint8_t* out, long max, long skip = 0)
{
    std::string bytes;
    if (board::Files::readAll(systemPath, bytes, size_t(max), uint64_t(skip)) != 0)
        return -1;
    std::memcpy(out, bytes.data(), bytes.size());
    return long(bytes.size());
}

int firstEnabledLanguage(int mask)
{
    for (int lang = 0; lang < 5; ++lang)
        if (mask & (1 << lang))
            return lang;
    return -1;
}

bool languageEnabled(int lang, int mask) { return lang >= 0 && lang < 5 && (mask & (1 << lang)); }
} // namespace

const uint8_t (&default_para_ramlist)[4096] = kDefaultImage.b;

// --- construction and start-up ----------------------------------------------------------

KelRamPara::KelRamPara(QObject* parent) : QObject(parent)
{
    std::memset(ram, 0, sizeof ram);
    std::memset(ram_backup, 0, sizeof ram_backup);
    std::memset(mode_slot, 0, sizeof mode_slot);
    std::memset(reg_image, 0, sizeof reg_image);
}

KelRamPara* KelRamPara::pInstance()
{
    if (!p_kelrampara_config) {
        auto* p = new KelRamPara(nullptr);
        p_kelrampara_config = p;
        p->loadParameterFile();
        p->startupCleanup();
        for (int n = 0; n < kModeSlots; ++n) {
            static_cast<void>(p->mode_file_deal(n, 0));   // 0: no file, the slot marked empty
            pauseUs(100);
        }
        p->setRegisterStartValues();
    }
    return p_kelrampara_config;
}

// Writes the default image as the parameter file; false when it cannot be written.
bool KelRamPara::recreateParameterFile()
{
    const bool ok = board::Files::writeAtomically(kParaFile, default_para_ramlist, sizeof default_para_ramlist);
    board::Files::sync();
    return ok;
}

void KelRamPara::loadParameterFile()
{
    const std::string path = kParaFile;
    bool valid = false;
    if (!board::Files::exists(path)) {
        KEL_TRACE("\n %s file un exist \n", kParaFile);
    } else {
        KEL_TRACE("\n %s file exist \n", kParaFile);
        std::vector<uint8_t> file(4096, 0);
        const long n = readFile(path, file.data(), long(file.size()));
        if (n < 0) {
            pauseMs(100);
        } else if (n >= 2 + kSavedLength && file[0] == 0xAA && file[1] == 0xAA) {
            std::memcpy(ram + kSavedStart, file.data() + 2, kSavedLength);
            pauseMs(100);
            valid = true;
        } else {
            // A bad marker, or a file too short to hold the block: both are replaced.
            KEL_TRACE("\n ram_valid = %#x,%#x \n", n > 0 ? file[0] : 0u, n > 1 ? file[1] : 0u);
            board::Files::remove(path);
            KEL_TRACE("\n delete %s ,use the default para\n", kParaFile);
            pauseMs(100);
        }
    }
    if (valid)
        return;
    const bool written = recreateParameterFile();
    pauseMs(100);
    const long n = written ? readFile(path, ram + kSavedStart, kSavedLength, 2) : -1;
    if (n != kSavedLength) {
        // The file could not be written back; the block still starts from the defaults.
        KEL_TRACE("\n %s cannot be written, defaults kept in memory \n", kParaFile);
        std::memcpy(ram + kSavedStart, default_para_ramlist + 2, kSavedLength);
    }
    pauseMs(100);
}

void KelRamPara::startupCleanup()
{
    // 1. Language: with both bit 0 and bit 17 set only bits 1-15 of the mask count.
    g_language = ram[kLanguage];
    int mask = g_lcd_lang_valid;
    if ((mask & 0x1) && (mask & (1 << 17))) {
        mask &= 0xFFFE;
        g_lcd_lang_valid = mask;
    }
    if (!languageEnabled(ram[kLanguage], mask)) {
        const int first = firstEnabledLanguage(mask);
        if (first >= 0) {
            ram[kLanguage] = uint8_t(first);
            g_language = uint8_t(first);
        }
    }
    // 2. No layer starts frozen.
    for (int l = 0; l < kLayerCount; ++l) {
        uint8_t* out = ram + kLayers + kLayerSize * l + kLayerOutput;
        put16(out, uint16_t(get16(out) & ~0x0002));
    }
    // 3. Screen lit, no test pattern, no current mode, no save pending, no panel mode.
    put16(ram + kScreenDark, 0);
    ram[kTestPattern] = 0;
    ram[kTestPattern + 1] = 0;
    put16(ram + kCurrentMode, 0);
    ram[kModeSaveRequest + 1] = 0;
    put16(ram + kPanelMode, 0);
    // 4. The sixteen window entries.
    for (int e = 0; e < 16; ++e) {
        ram[kWindowEntries + 4 * e] = 60;
        ram[kWindowEntries + 4 * e + 2] = 60;
    }
    // 5.-6.
    crop_bitmap_from_records();
    std::memcpy(ram_backup, ram, sizeof ram);
}

void KelRamPara::setRegisterStartValues()
{
    // Registers 0-52 keep the zeros of construction, but for the three status bytes.
    reg_image[37] = 0x80;
    reg_image[38] = 0x1F;
    reg_image[39] = 0x07;
    reg_image[53] = 0xC3;
    reg_image[54] = 0x10;
    reg_image[55] = 0xFF;
    reg_image[56] = 0xFF;
    reg_image[57] = 0xFF;
    reg_image[58] = 0xFF;
    reg_image[59] = 0xC0;
    std::memset(reg_image + 60, 0xFF, 1061 - 60);
}

// --- change notification ----------------------------------------------------------------

int KelRamPara::test_signal(int code)
{
    if (merge_notes && code >= 0 && code < 32 && (notes_waiting.fetch_or(1u << code) & (1u << code)))
        return 1;
    std::lock_guard<std::mutex> hold(Utils::_test_signal_mutex);
    emit sig_update_para(code);
    return 1;
}

int KelRamPara::ram_para_save() { return test_signal(1); }

void KelRamPara::take_note(int code)
{
    if (code >= 0 && code < 32)
        notes_waiting &= ~(1u << code);
}

// --- PC writes --------------------------------------------------------------------------

std::unique_lock<std::mutex> KelRamPara::lock_block() { return std::unique_lock<std::mutex>(g_block_mutex); }
std::unique_lock<std::mutex> KelRamPara::lock_block(std::try_to_lock_t t) { return std::unique_lock<std::mutex>(g_block_mutex, t); }

bool KelRamPara::apply_pending() const { return apply_coming() || pc_edit_pending != 0; }

bool KelRamPara::apply_coming() const
{
    const c331_manage* scaler = c331_manage::p_c331_manage;
    return (scaler && scaler->c331_apply_flag != 0) || scaler_applying != 0;
}

void KelRamPara::copy_block(BlockCopy& out)
{
    std::unique_lock<std::mutex> block = lock_block();
    copy_block_locked(out.ram, out.saved);
}

void KelRamPara::copy_block_locked(uint8_t ram_out[kRamSize], uint8_t saved_out[kRamSize])
{
    std::lock_guard<std::mutex> status(mutex);
    std::memcpy(ram_out, ram, kRamSize);
    if (saved_out)
        std::memcpy(saved_out, ram_backup, kRamSize);
}

void KelRamPara::copy_bytes(int offset, uint8_t* out, int n, bool saved)
{
    if (offset < 0 || n <= 0 || n > kRamSize - offset)
        return;
    std::unique_lock<std::mutex> block = lock_block();
    std::lock_guard<std::mutex> status(mutex);
    std::memcpy(out, (saved ? ram_backup : ram) + offset, size_t(n));
}

bool KelRamPara::changed_bytes(int offset, int n)
{
    if (offset < 0 || n <= 0 || n > kRamSize - offset)
        return false;
    std::unique_lock<std::mutex> block = lock_block();
    std::lock_guard<std::mutex> status(mutex);
    return std::memcmp(ram + offset, ram_backup + offset, size_t(n)) != 0;
}

int KelRamPara::KelRamParaDeal(const uint8_t* data, uint16_t length, uint32_t address)
{
    if (address > uint32_t(kRamSize) || length > uint32_t(kRamSize) - address)
        return 1;
    if (length == 0)
        return 0;
    if (!data)
        return 1;
    ScalerEdit edit;
    {
        // The input-status bytes are also read under the status lock alone.
        // The inputs' measurements are the receivers' alone (published only when the signal
        // changes): a PC restoring the whole block leaves them as measured.
        const uint32_t end = address + length, keepLo = kInputStatus, keepHi = kInputStatus + 36;
        std::lock_guard<std::mutex> status(mutex);
        for (uint32_t a = address; a < end;) {
            const uint32_t to = a < keepLo ? std::min(end, keepLo) : a < keepHi ? std::min(end, keepHi) : end;
            if (a < keepLo || a >= keepHi)
                std::memcpy(ram + a, data + (a - address), to - a);
            a = to;
        }
    }
    // Only bytes the scaler applies (the stored part of the block) wait for its apply; the
    // volatile bytes below it are never applied, so a write there must not hold saves back.
    if (address + length > uint32_t(kSavedStart))
        pc_edit_pending = 1;
    if (address < uint32_t(kCurrentMode + 2) && address + length > uint32_t(kCurrentMode))
        mode_recall_asked = 1;
    return 0;
}

void KelRamPara::set_mode_words_locked(int current, int request)
{
    for (uint8_t* copy : {ram, ram_applied, ram_backup}) {
        if (current >= 0)
            put16(copy + kCurrentMode, uint16_t(current));
        if (request >= 0)
            put16(copy + kModeSaveRequest, uint16_t(request));
    }
    ++mode_words_set;
}

int KelRamPara::KelModeUserRamParaDeal(const uint8_t* data, uint16_t length, uint32_t address)
{
    const uint32_t mode = address >> 12;
    const uint32_t offset = address & 0xFFF;
    if (mode < 1 || mode > uint32_t(kModeSlots))
        return 1;
    if (offset > uint32_t(kModeSlotSize) || length > uint32_t(kModeSlotSize) - offset)
        return 1;
    if (length && !data)
        return 1;
    {
        ScalerEdit edit;
        if (length)
            std::memcpy(mode_slot[mode - 1] + offset, data, length);
    }
    KEL_TRACE("\n write ram_user_mode = %#x \n", mode);
    return 0;
}

// --- parameter file and user-mode files --------------------------------------------------

std::string KelRamPara::mode_file_name(int mode)
{
    return "/data/modes/custom_mode" + std::to_string(mode);
}

std::string KelRamPara::mode_osd_file_name(int mode)
{
    char name[48];
    std::snprintf(name, sizeof name, "/data/modes/MO%02x.json", unsigned(mode) & 0xFF);
    return name;
}

namespace {
// A slot's marker looked at and its file written or removed as one step, whichever thread
// does it: a resynchronisation must not remove the file of a slot the panel saved meanwhile.
std::recursive_mutex& modeFiles()
{
    static std::recursive_mutex m;
    return m;
}
// Set on the thread that takes a file's settling pause itself, outside modeFiles().
thread_local bool t_pauseAfter = false;

} // namespace

std::unique_lock<std::recursive_mutex> KelRamPara::lock_mode_files() { return std::unique_lock<std::recursive_mutex>(modeFiles()); }

bool KelRamPara::reset_user_modes()
{
    std::unique_lock<std::recursive_mutex> files(modeFiles());
    bool removed;
    {
        // Every user-mode file goes ("rm -rf /data/modes/*"); the folder itself stays.
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        removed = board::Files::remove("/data/modes");
        removed = board::Files::makeDirs("/data/modes") && removed;
    }
    std::unique_lock<std::mutex> block = lock_block();
    for (auto& slot : mode_slot)
        slot[0] = slot[1] = 0xFF;
    return removed;
}

int KelRamPara::mode_file_deal(int slot, int op)
{
    if (slot < 0 || slot >= kModeSlots)
        return 0;
    std::unique_lock<std::recursive_mutex> files(modeFiles());
    // The slots are written by PC links too: they change only under the block's lock, which
    // is never taken inside the file lock.
    uint8_t* s = mode_slot[slot];
    if (op == 1) {
        {
            std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
            board::Files::remove(mode_file_name(slot + 1));
        }
        pauseUs(100);
        bool overlay;
        {
            std::unique_lock<std::mutex> block = lock_block();
            overlay = get16(s + kSlotOsdOn) == 1;
            if (overlay)
                put16(s + kSlotOsdOn, 0);
        }
        if (overlay) {
            std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
            board::Files::remove(mode_osd_file_name(slot + 1));
        }
        pauseUs(100);
        board::Files::sync();
        pauseUs(100);
    }

    std::vector<uint8_t> file(kModeFileSize, 0);
    long n;
    {
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        n = readFile(mode_file_name(slot + 1), file.data(), kModeFileSize);
    }
    {
        std::unique_lock<std::mutex> block = lock_block();
        if (n < 0) {
            s[0] = 0xFF;
            s[1] = 0xFF;
            return 0;
        }
        // Bytes a short file does not cover are zero. A file too short to hold the whole
        // stored block (a broken transfer from the PC, say) counts as empty even with its
        // marker: recalling it would load zeros into the picture settings.
        std::memcpy(s, file.data(), kModeFileSize);
        if (n < 2 + kModeAreaLength) {
            s[0] = 0xFF;
            s[1] = 0xFF;
        }
    }
    {
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        board::Files::sync();
    }
    files.unlock();
    if (!t_pauseAfter)
        pauseMs(100);   // without the file lock the PC's transfers need
    return 1;
}

int KelRamPara::mode_file_write(int slot, int flag)
{
    std::unique_lock<std::recursive_mutex> files = lock_mode_files();
    return mode_file_write(slot, flag, files);
}

int KelRamPara::mode_file_write(int slot, int flag, std::unique_lock<std::recursive_mutex>& files)
{
    if (slot < 0 || slot >= kModeSlots)
        return 0;
    std::vector<uint8_t> file(kModeFileSize);
    bool overlay;
    {
        // Slot and block are written by PC links too.
        std::unique_lock<std::mutex> block = lock_block();
        std::memcpy(file.data(), mode_slot[slot], kModeFileSize);
        overlay = get16(ram + kOsdOn) != 0;
    }
    file[0] = 0xAA;
    file[1] = 0xAA;
    if (flag == 2) {
        // A re-sync leaves a file that holds the slot already (stored by an earlier pass): no
        // wear, and no write that a full disc could fail.
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        std::string bytes;
        if (board::Files::readAll(mode_file_name(slot + 1), bytes) == 0 && bytes.size() == file.size()
            && std::memcmp(bytes.data(), file.data(), file.size()) == 0) {
            files.unlock();
            return 1;
        }
    }
    // The overlay copy first: a mode file is only there, and marked saved, with its overlay.
    if (flag == 0 && overlay) {
        const std::string target = mode_osd_file_name(slot + 1);
        KEL_TRACE("\n cp  %s %s \n", kOsdFile, target.c_str());
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        std::string bytes;
        if (board::Files::readAll(kOsdFile, bytes) == 0 && !board::Files::writeAtomically(target, bytes.data(), bytes.size()))
            return 0;
    }
    {
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        if (!board::Files::writeAtomically(mode_file_name(slot + 1), file.data(), file.size()))
            return 0;
    }
    {
        std::unique_lock<std::mutex> block = lock_block();
        mode_slot[slot][0] = 0xAA;
        mode_slot[slot][1] = 0xAA;
    }
    {
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        board::Files::sync();
    }
    // The flash's settling pause is taken without the file lock the PC's transfers need.
    files.unlock();
    if (!t_pauseAfter)
        pauseMs(100);
    pauseUs(100);
    return 1;
}

int KelRamPara::ram_para_reset()
{
    uint8_t block[kSavedLength];
    long n = -1;
    {
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        if (recreateParameterFile())
            n = readFile(kParaFile, block, kSavedLength, 2);
    }
    pauseMs(100);   // the flash's settling pause, without the file lock
    const bool stored = n == kSavedLength;
    if (!stored)
        std::memcpy(block, default_para_ramlist + 2, kSavedLength);
    // The file lock is released first: the block's lock is never taken inside it.
    ScalerEdit edit;
    std::memcpy(ram + kSavedStart, block, kSavedLength);
    // The saved copy is left as it was: it is what the screens were drawn and the outputs
    // set up from, and what differs from it (the language, the LED size) is taken in with
    // the next notification, whose save then stores the block again (defaults that were
    // not stored stay a change the same way).
    return stored ? 0 : 1;
}

namespace {
// The stores a notification asks for, on a thread of their own: a user-mode save's file and
// settling pause, a re-sync's sixteen files, the parameter file's fsync and whole-system sync
// all wait for everyone's data (the flash's, on the board), and on the GUI thread they would
// hold its tick, the LCD and every PC's capture. A PC whose command stores is answered from
// here, once the pass that holds its edit is on disc. A pass stores the block as it is when
// the pass comes to it, so one pass serves every request made while the one before it ran.
class StoreThread {
public:
    static StoreThread& the()
    {
        static StoreThread s;
        return s;
    }
    void request(KelRamPara* p, std::function<int()> job, bool resync, bool block, uint64_t covers)
    {
        std::lock_guard<std::mutex> hold(m);
        if (!worker.joinable())
            worker = std::thread([this] { run(); });
        para = p;
        if (job)
            jobs.push_back(std::move(job));
        wantResync = wantResync || resync;
        wantBlock = wantBlock || block;
        edits = std::max(edits, covers);
        ++asked;
        cv.notify_all();
    }
    // The object goes (its stores done): its count covers none of the next one's edits, which
    // may come at its very address.
    void forget(KelRamPara* p)
    {
        std::lock_guard<std::mutex> hold(m);
        if (para == p)
            para = nullptr, edits = 0;
    }
    void wait()
    {
        std::unique_lock<std::mutex> hold(m);
        cv.wait(hold, [this] { return done == asked; });
    }
    ~StoreThread()
    {
        {
            std::lock_guard<std::mutex> hold(m);
            stop = true;
            cv.notify_all();
        }
        if (worker.joinable())
            worker.join();
    }

private:
    void run()
    {
        t_pauseAfter = true;   // each file's settling pause is taken here, without the slots' lock
        std::unique_lock<std::mutex> hold(m);
        for (;;) {
            cv.wait(hold, [this] { return stop || done != asked; });
            if (stop)
                return;
            const uint64_t upTo = asked, covers = edits;
            KelRamPara* p = para;
            std::vector<std::function<int()>> mine = std::exchange(jobs, {});
            const bool resync = std::exchange(wantResync, false), block = std::exchange(wantBlock, false);
            hold.unlock();
            // Each store's outcome on its own: an edit is answered from the stores it needs,
            // not from another PC's that failed beside it.
            KelRamPara::StorePass pass;
            if (!mine.empty())
                pass.modeSave = KelRamPara::kStoreOk;
            for (const auto& job : mine) {
                const int r = job();
                if (r == 1 || (r == 2 && pass.modeSave == KelRamPara::kStoreOk))
                    pass.modeSave = r;
                if (r != 2)
                    pauseMs(100);
            }
            if (resync)
                pass.resync = resync_files(p) ? KelRamPara::kStoreOk : KelRamPara::kStoreFailed;
            if (block) {
                // Not saved: the difference stays, and the next notification asks again.
                KelRamPara::BlockSnapshot s;
                pass.block = p->block_save_snapshot(s, false) && p->block_save_write(s) < 0 ? KelRamPara::kStoreFailed : KelRamPara::kStoreOk;
            }
            // A pass with no user-mode save has done what one asks for unless a request
            // still waits (for the apply it is carried out after, with that apply's
            // notification): the edits its PC waits for are answered then.
            if (pass.modeSave == KelRamPara::kStoreNotDone) {
                std::unique_lock<std::mutex> lock = KelRamPara::lock_block();
                if (!p->mode_save_waiting())
                    pass.modeSave = KelRamPara::kStoreOk;
            }
            p->stores_done(covers, pass);
            hold.lock();
            done = upTo;
            cv.notify_all();
        }
    }
    // Every slot's file rewritten (marked 0xAA) or removed (0xFF), each with its pause;
    // false when one marked saved could not be written.
    static bool resync_files(KelRamPara* p)
    {
        bool stored = true;
        for (int i = 0; i < KelRamPara::kModeSlots; ++i) {
            std::unique_lock<std::recursive_mutex> files(modeFiles());
            std::vector<uint8_t> was(KelRamPara::kModeSlotSize);
            {
                std::unique_lock<std::mutex> block = KelRamPara::lock_block();
                std::memcpy(was.data(), p->mode_slot[i], was.size());
            }
            const uint8_t m0 = was[0], m1 = was[1];
            // A slot whose file could not be written is what its file holds: what the next
            // start loads, not a mode shown saved until then.
            bool file = false;
            if ((m0 == 0xFF || m1 == 0xFF) && !board::Files::exists(KelRamPara::mode_file_name(i + 1))
                && !board::Files::exists(KelRamPara::mode_osd_file_name(i + 1))) {
                // An empty slot with no file: nothing to remove, nothing to wait for.
            } else if (m0 == 0xFF || m1 == 0xFF) {
                static_cast<void>(p->mode_file_deal(i, 1));
                file = true;
            } else if (m0 == 0xAA || m1 == 0xAA) {
                if (!p->mode_file_write(i, 2)) {
                    stored = false;
                    // A PC's write of the slot since it was read stays for the next re-sync.
                    bool same;
                    {
                        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
                        same = std::memcmp(was.data(), p->mode_slot[i], was.size()) == 0;
                    }
                    if (same) {
                        ++p->slot_dropped[i];
                        static_cast<void>(p->mode_file_deal(i, 0));
                    }
                }
                file = true;
            }
            files.unlock();
            if (file)
                pauseMs(100);
        }
        return stored;
    }
    std::mutex m;
    std::condition_variable cv;
    std::thread worker;
    KelRamPara* para = nullptr;
    std::vector<std::function<int()>> jobs;
    bool wantResync = false, wantBlock = false;
    uint64_t edits = 0;   // the PC edits of `para` the applies notified so far took
    uint64_t asked = 0, done = 0;
    bool stop = false;
};
} // namespace

void KelRamPara::store_request(std::function<int()> modeSave, bool resync, bool block, uint64_t covers)
{
    StoreThread::the().request(this, std::move(modeSave), resync, block, covers);
}

void KelRamPara::block_save_request() { store_request(nullptr, false, true, 0); }

void KelRamPara::mode_files_resync() { store_request(nullptr, true, false, 0); }

void KelRamPara::wait_mode_files() { StoreThread::the().wait(); }

KelRamPara::~KelRamPara()
{
    wait_mode_files();
    StoreThread::the().forget(this);
    // Edits no store took (their apply never came): their PCs are told they are not stored.
    stores_failed_all();
}

bool KelRamPara::mode_save_waiting() const
{
    const uint16_t n = ram16(kModeSaveRequest);
    return (n != 0 && n <= kModeSlots && n != get16(ram_backup + kModeSaveRequest)) || applied_save_waiting();
}

bool KelRamPara::applied_save_waiting() const
{
    const uint16_t n = get16(ram_applied + kModeSaveRequest);
    return n != 0 && n <= kModeSlots && n != get16(ram_backup + kModeSaveRequest);
}

void KelRamPara::await_store_locked(StoreDone done, bool resync, std::optional<ModeSaveAsk> modeSave, std::vector<std::pair<int, uint32_t>> written)
{
    const unsigned needs = kNeedBlock | (resync ? kNeedResync : 0u) | (modeSave && mode_save_waiting() ? kNeedModeSave : 0u);
    const int slot = modeSave && modeSave->slot >= 0 && modeSave->slot < kModeSlots ? modeSave->slot : -1;
    std::lock_guard<std::mutex> hold(store_waits_mutex);
    store_waits.push_back({++store_asked, needs, std::move(done), std::move(written), slot, slot >= 0 ? modeSave->saved : 0});
}

uint64_t KelRamPara::stores_applied()
{
    std::unique_lock<std::mutex> block = lock_block();
    return applied_asked;
}

size_t KelRamPara::stores_waiting()
{
    std::lock_guard<std::mutex> hold(store_waits_mutex);
    return store_waits.size();
}

void KelRamPara::stores_done(uint64_t upTo, const StorePass& pass)
{
    std::vector<std::pair<StoreDone, int>> ended;
    {
        std::lock_guard<std::mutex> hold(store_waits_mutex);
        for (auto w = store_waits.begin(); w != store_waits.end();) {
            int status = kStoreOk;
            for (const auto& [need, outcome] : {std::pair<unsigned, int>{kNeedBlock, pass.block}, {kNeedResync, pass.resync}, {kNeedModeSave, pass.modeSave}})
                if ((w->needs & need) && outcome != kStoreOk)
                    status = std::max(status, outcome);
            for (const auto& [slot, seen] : w->written)
                if (status != kStoreNotDone && slot_dropped[slot] != seen)
                    status = kStoreFailed;
            // The slot its PC named not saved since its request: the save failed (in this pass,
            // or one another PC's apply brought about before this edit came), or another PC's
            // word was carried out instead.
            if (status != kStoreNotDone && w->modeSlot >= 0 && mode_slot_saves[w->modeSlot] == w->modeSlotSaved)
                status = kStoreFailed;
            if (w->edit > upTo || status == kStoreNotDone) {
                // A store this pass made after the edit's apply is its own, done: a later pass
                // that fails (another PC's edit or save) does not undo it.
                if (w->edit <= upTo) {
                    if (pass.block == kStoreOk)
                        w->needs &= ~unsigned(kNeedBlock);
                    if (pass.resync == kStoreOk && (w->needs & kNeedResync)) {
                        w->needs &= ~unsigned(kNeedResync);
                        w->written.erase(std::remove_if(w->written.begin(), w->written.end(), [this](const auto& s) { return slot_dropped[s.first] == s.second; }), w->written.end());
                    }
                    if (pass.modeSave == kStoreOk)
                        w->needs &= ~unsigned(kNeedModeSave);
                }
                ++w;
                continue;
            }
            ended.emplace_back(std::move(w->done), status);
            w = store_waits.erase(w);
        }
    }
    for (auto& [done, status] : ended)
        done(status);
}

void KelRamPara::stores_failed_all()
{
    std::vector<StoreWait> ended;
    {
        std::lock_guard<std::mutex> hold(store_waits_mutex);
        ended.swap(store_waits);
    }
    for (StoreWait& w : ended)
        w.done(kStoreFailed);
}

int KelRamPara::ram_para_file_save()
{
    BlockSnapshot s;
    return block_save_snapshot(s, false) ? block_save_write(s) : 0;
}

bool KelRamPara::block_save_snapshot(BlockSnapshot& s, bool earlierUnwritten)
{
    std::vector<uint8_t>& snapshot = s.bytes;
    snapshot.assign(kRamSize, 0);
    bool appliedOnly;
    uint32_t applied, words;
    {
        ScalerEdit edit;
        // What is stored is what the chip holds: an edit the scaler has not applied yet (a
        // PC's write waiting for its apply command) stays a difference, saved after its
        // apply, and holds back nothing applied before it.
        appliedOnly = apply_pending();
        applied = applied_count;
        words = mode_words_set;
        s.applied = applied, s.words = words, s.whole = !appliedOnly;
        if (!earlierUnwritten && appliedOnly && applied == applied_saved && words == mode_words_saved)
            return false;
        {
            // The receivers publish the input-status bytes under the object's own lock.
            std::lock_guard<std::mutex> status(mutex);
            std::memcpy(snapshot.data(), ram, kRamSize);
        }
        if (appliedOnly) {
            std::memcpy(snapshot.data() + kSavedStart, ram_applied + kSavedStart, kSavedLength);
            // The applied copy is the scaler's, taken before a save or recall set the mode
            // words in every copy; the saved copy holds what they set.
            std::memcpy(snapshot.data() + kCurrentMode, ram_backup + kCurrentMode, 2);
        }
        // A save request is carried out, never stored: one stored would read as done.
        std::memcpy(snapshot.data() + kModeSaveRequest, ram_backup + kModeSaveRequest, 2);
        const auto diff = std::mismatch(snapshot.begin() + kSavedStart, snapshot.end(), ram_backup + kSavedStart);
        if (!earlierUnwritten && diff.first == snapshot.end() && words == mode_words_saved) {
            applied_saved = applied;   // the file holds it already
            return false;
        }
        if (diff.first != snapshot.end())
            KEL_TRACE("\n ram_para diffrent %d,%d,%d!\n", int(diff.first - snapshot.begin()), *diff.first, *diff.second);
    }
    return true;
}

int KelRamPara::block_save_write(const BlockSnapshot& s)
{
    const std::vector<uint8_t>& snapshot = s.bytes;
    const uint32_t applied = s.applied, words = s.words;
    // The file: the two marker bytes, block bytes 768 to 4095 and the zero tail of a file
    // made from the default image, replaced whole so that a power cut leaves the old or the
    // new file.
    std::vector<uint8_t> file(kRamSize, 0);
    file[0] = default_para_ramlist[0];
    file[1] = default_para_ramlist[1];
    std::memcpy(file.data() + 2, snapshot.data() + kSavedStart, kSavedLength);
    bool written;
    {
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        written = board::Files::writeAtomically(kParaFile, file.data(), file.size());
        board::Files::sync();
    }
    // No settling pause here: the next save after an apply waits for this one; sync() has
    // returned once the data is down.
    if (!written) {
        // Not counted as saved: the difference stays and the next notification retries.
        KEL_TRACE("\n ram_device_info write error\n");
        return -1;
    }
    // Edits since the snapshot stay a difference from the saved copy, and mode words set
    // since then stay set in it (they are stored with the next save).
    ScalerEdit edit;
    uint8_t modeWords[4];
    std::memcpy(modeWords, ram_backup + kCurrentMode, sizeof modeWords);
    std::memcpy(ram_backup, snapshot.data(), kRamSize);
    if (mode_words_set != words)
        std::memcpy(ram_backup + kCurrentMode, modeWords, sizeof modeWords);
    // What was applied since the snapshot is saved with the next notification (its apply
    // sends one). With no edit waiting the live block held every apply the count names.
    applied_saved = applied;
    mode_words_saved = words;
    return 1;
}

// --- crop bitmap and lookups -----------------------------------------------------------

namespace {
bool validPort(int port) { return port >= 0 && port < kCutSourcePorts; }
bool cropBit(int port, int number0)
{
    return g_cut_source_state[port * kCutSourceBytesPerPort + number0 / 8] & (1u << (number0 % 8));
}
} // namespace

void KelRamPara::KelCropSourceInit()
{
    std::unique_lock<std::mutex> block = lock_block();
    crop_bitmap_from_records();
}

void KelRamPara::crop_bitmap_from_records()
{
    std::memset(g_cut_source_state, 0, sizeof g_cut_source_state);
    for (int r = 0; r < kCropCount; ++r) {
        const uint16_t id = get16(ram + kCropRecords + kCropRecordSize * r);
        if (!(id & 0x8000))
            continue;
        const int port = id & 0xFF;
        const int number0 = (id >> 8) & 0x7F;
        // A record naming a port or crop number outside the bitmap is left out of it.
        if (!validPort(port) || number0 >= kCropCount)
            continue;
        g_cut_source_state[port * kCutSourceBytesPerPort + number0 / 8] |= uint8_t(1u << (number0 % 8));
    }
}

int KelRamPara::KelGetCropID(int port, int k)
{
    if (!validPort(port) || k < 1)
        return 0;
    int seen = 0;
    for (int n = 0; n < kCropCount; ++n) {
        if (cropBit(port, n) && ++seen == k)
            return n + 1;
    }
    return 0;
}

int KelRamPara::KelAddCropID(int port)
{
    if (!validPort(port))
        return 0;
    for (int n = 0; n < kCropCount; ++n)
        if (!cropBit(port, n))
            return n + 1;
    return 0;
}

int KelRamPara::KelGetSourceNum(int port, int n)
{
    if (n < 1)
        return 0;
    if (n > kCropCount)
        n = kCropCount;
    std::unique_lock<std::mutex> block = lock_block();   // PC links write the records
    int count = 0;
    for (int r = 0; r < n; ++r) {
        const uint16_t id = get16(ram + kCropRecords + kCropRecordSize * r);
        if ((id & 0x8000) && (id & 0xFF) == port)
            ++count;
    }
    return count;
}

// Record index 0-39 of the port's k-th crop, or 40.
int KelRamPara::findCropRecord(int port, int k)
{
    const int n = KelGetCropID(port, k);
    if (n == 0)
        return kCropCount;
    for (int r = 0; r < kCropCount; ++r) {
        const uint16_t id = get16(ram + kCropRecords + kCropRecordSize * r);
        if ((id & 0x8000) && ((id >> 8) & 0x7F) == n - 1 && (id & 0xFF) == port)
            return r;
    }
    return kCropCount;
}

void KelRamPara::KelGetCropPara(int port, int k, CROP_PARA* crop, int* index)
{
    std::unique_lock<std::mutex> block = lock_block();   // PC links write the records
    const int r = findCropRecord(port, k);
    if (index)
        *index = r;
    if (!crop)
        return;
    if (r >= kCropCount)
        return;   // callers pre-fill the record; a crop that is gone leaves it as it was
    const uint8_t* rec = ram + kCropRecords + kCropRecordSize * r;
    crop->id = get16(rec);
    crop->x = get16(rec + 2);
    crop->y = get16(rec + 4);
    crop->width = get16(rec + 6);
    crop->height = get16(rec + 8);
}

// --- crop edits -------------------------------------------------------------------------

int KelRamPara::KelAddNewCrop(int port, CROP_PARA* crop)
{
    if (!validPort(port) || !crop)
        return 1;
    // The free record is looked for under the lock: a PC RAM write in between could put
    // it in use, and that crop would be overwritten.
    ScalerEdit edit;
    // The number too comes from the records under this hold, not from the number table the
    // screens last rebuilt: a PC's crop awaiting its apply already holds its number.
    int n = 1;
    for (bool taken = true; taken && n <= kCropCount; n += taken) {
        taken = false;
        for (int k = 0; k < kCropCount && !taken; ++k) {
            const uint16_t id = get16(ram + kCropRecords + kCropRecordSize * k);
            taken = (id & 0x8000) && (id & 0xFF) == port && ((id >> 8) & 0x7F) + 1 == n;
        }
    }
    if (n > kCropCount)
        return 1;
    int r = 0;
    while (r < kCropCount && (get16(ram + kCropRecords + kCropRecordSize * r) & 0x8000))
        ++r;
    if (r >= kCropCount)
        return 1;
    uint8_t* rec = ram + kCropRecords + kCropRecordSize * r;
    put16(rec, uint16_t(0x8000 | ((n - 1) << 8) | port));
    put16(rec + 2, uint16_t(crop->x));
    put16(rec + 4, uint16_t(crop->y));
    put16(rec + 6, uint16_t(crop->width));
    put16(rec + 8, uint16_t(crop->height));
    edit.raise(1);
    return 0;
}

// The new rectangle is applied with the next raise of the apply flag.
void KelRamPara::KelSetCropPara(char port, char k, CROP_PARA* crop)
{
    if (!crop)
        return;
    ScalerEdit edit;   // the record found must still be that crop when it is written
    const int r = findCropRecord(uint8_t(port), uint8_t(k));
    if (r >= kCropCount)
        return;
    uint8_t* rec = ram + kCropRecords + kCropRecordSize * r;
    put16(rec, get16(rec));
    put16(rec + 2, uint16_t(crop->x));
    put16(rec + 4, uint16_t(crop->y));
    put16(rec + 6, uint16_t(crop->width));
    put16(rec + 8, uint16_t(crop->height));
}

void KelRamPara::KelDeleteCrop(char port, char k)
{
    ScalerEdit edit;   // the record found must still be that crop when it is cleared
    const int r = findCropRecord(uint8_t(port), uint8_t(k));
    if (r >= kCropCount)
        return;
    // A window left pointing at the freed record would show whichever crop takes it next:
    // each window that showed this crop goes back to the crop's own input, uncropped.
    uint8_t* rec = ram + kCropRecords + kCropRecordSize * r;
    bool moved = false;
    for (int l = 0; l < kLayerCount; ++l) {
        uint8_t* src = ram + kLayers + kLayerSize * l + kLayerSource;
        if (get16(src) == uint16_t(0x8000 | r)) {
            put16(src, uint16_t(rec[0]));
            moved = true;
        }
    }
    std::fill(rec, rec + kCropRecordSize, uint8_t(0));
    // As for any source change: the layout no longer matches the stored mode.
    if (moved && get16(ram + kCurrentMode) == get16(ram_backup + kCurrentMode))
        set_mode_words_locked(0, -1);
    edit.raise(1);
}

// --- layer source, freeze and black ------------------------------------------------------

int KelRamPara::KelGetImageSource(const uint8_t* image, uint8_t layer, int16_t* is_crop, char* crop_index,
                                  uint8_t mode)
{
    int16_t crop = 0;
    int port = 0;
    if (image && layer < kLayerCount) {
        const int base = mode == 0 ? 0 : kModeArea;
        const uint16_t src = get16(image + kLayers + kLayerSize * layer + kLayerSource - base);
        if (!(src & 0x8000)) {
            port = src & 0xFF;
        } else if ((src & 0xFF) < kCropCount) {
            const int index = src & 0xFF;
            crop = 1;
            if (crop_index)
                *crop_index = char(index);
            port = image[kCropRecords + kCropRecordSize * index - base];
        }
        // A crop index beyond the forty records names no crop: the layer reads as port 0.
    }
    if (is_crop)
        *is_crop = crop;
    return port;
}

int KelRamPara::live_image_source(uint8_t layer, int16_t* is_crop, char* crop_index)
{
    std::unique_lock<std::mutex> block = lock_block();
    return KelGetImageSource(ram, layer, is_crop, crop_index, 0);
}

void KelRamPara::KelSetImageSource(int k, char port, char layer)
{
    const uint8_t l = uint8_t(layer);
    const uint8_t p = uint8_t(port);
    if (l >= kLayerCount || !validPort(p))
        return;
    uint16_t word = p;
    ScalerEdit edit;   // the crop record named must still be that crop when it is shown
    if (k > 0) {
        // A crop that is gone leaves the layer without a source (word 0).
        const int r = findCropRecord(p, k);
        word = r >= kCropCount ? 0 : uint16_t(0x8000 | r);
    }
    uint8_t* src = ram + kLayers + kLayerSize * l + kLayerSource;
    src[0] = uint8_t(word & 0xFF);
    src[1] = uint8_t(word >> 8);
    // The layout no longer matches the stored mode; a mode change still pending keeps it.
    if (get16(ram + kCurrentMode) == get16(ram_backup + kCurrentMode))
        set_mode_words_locked(0, -1);
    edit.raise(1);
}

void KelRamPara::KelSetImageFreeze()
{
    const int l = g_image_current;
    if (l >= kLayerCount)
        return;
    uint8_t* rec = ram + kLayers + kLayerSize * l;
    ScalerEdit edit;
    KEL_TRACE("\n set freeze : %s \n", (get16(rec + kLayerOutput) & 0x2) ? "normal" : "freeze ");
    if (get16(rec + kLayerFlags) & 0x1)
        put16(rec + kLayerOutput, uint16_t(get16(rec + kLayerOutput) ^ 0x2));
    edit.raise(1);
}

void KelRamPara::KelSetImageBlack()
{
    const int l = g_image_current;
    if (l >= kLayerCount)
        return;
    uint8_t* rec = ram + kLayers + kLayerSize * l;
    ScalerEdit edit;
    put16(rec + kLayerOutput, uint16_t(get16(rec + kLayerOutput) ^ 0x1));
    edit.raise(1);
}

int KelRamPara::KelSourceId_is_on(unsigned char device)
{
    // Asked from the receivers' thread while PC links edit the layers.
    std::unique_lock<std::mutex> block = lock_block();
    for (int l = 0; l < kLayerCount; ++l) {
        const uint8_t* rec = ram + kLayers + kLayerSize * l;
        if (!(get16(rec + kLayerFlags) & 0x1))
            continue;
        int16_t isCrop = 0;
        char index = 0;
        const int port = KelGetImageSource(ram, uint8_t(l), &isCrop, &index, 0);
        const int number = (port >= 1 && port <= 3) ? port : 0;
        if (number == device)
            return 1;
    }
    return 0;
}

// --- EDID request, language, user modes ---------------------------------------------------

void KelRamPara::KelSetEDIDPara(int input, short width, short height, short rate)
{
    if (input < 0 || input >= 6)
        return;
    ScalerEdit edit;
    uint8_t* rec = ram + kEdid + 6 * input;
    put16(rec, uint16_t(width));
    put16(rec + 2, uint16_t(height));
    put16(rec + 4, uint16_t(rate));
    edit.raise(1);
}

int KelRamPara::KelLanguageChanged()
{
    // The language bytes are settings the PC writes too. The screens show g_language: a
    // language taken from an unsaved write and written back before the save would match the
    // saved copy again and leave them in the other one.
    std::unique_lock<std::mutex> block = lock_block();
    if (get16(ram + kLanguage) == get16(ram_backup + kLanguage) && ram[kLanguage] == g_language)
        return 0;
    g_language = ram[kLanguage];
    const int mask = g_lcd_lang_valid;
    if (languageEnabled(ram[kLanguage], mask))
        return 1;
    const int first = firstEnabledLanguage(mask);
    if (first >= 0) {
        ram[kLanguage] = uint8_t(first);
        ram[kLanguage + 1] = 0;
        g_language = uint8_t(first);
    }
    return 1;
}

namespace {
bool slotSaved(const uint8_t* slot) { return slot[0] == 0xAA && slot[1] == 0xAA; }
} // namespace

int KelRamPara::KelUserModeSaved(int slot)
{
    if (slot < 0 || slot >= kModeSlots)
        return 0;
    std::unique_lock<std::mutex> block = lock_block();
    return slotSaved(mode_slot[slot]) ? 1 : 0;
}

int KelRamPara::KelGetCurrentModeIndex()
{
    std::unique_lock<std::mutex> block = lock_block();
    const int mode = ram[kCurrentMode];
    return mode <= 16 ? mode : 0;
}

int KelRamPara::KelUserModeIndex(char start, char direction)
{
    const int s = uint8_t(start);
    if (s > 16)
        return 256;
    std::unique_lock<std::mutex> block = lock_block();
    for (int i = 0; i < kModeSlots; ++i) {
        int slot;
        switch (direction) {
        case 2:   // start itself first, then upward
            slot = s == 16 ? i : (s + i) % 16;
            break;
        case 1:   // the next one after start; start itself last
            slot = s == 16 ? i : (s + 1 + i) % 16;
            break;
        case 0:   // the previous one before start; start itself last
            slot = s == 16 ? 15 - i : (s + 15 - i) % 16;
            break;
        default:
            return 256;
        }
        if (slotSaved(mode_slot[slot]))
            return slot;
    }
    return 256;
}
