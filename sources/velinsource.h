#pragma once
// The input-source manager: the four video inputs (0 DVI, 1 HDMI1, 2 HDMI2 on IT6602
// receivers, 3 HDMI3 on the IT6805), the I2C switches that select each input's branch of
// the one I2C bus, the expander that holds the EEPROM write protection and the audio
// route, the EDID EEPROMs, the clock chip the FPGAs wait for, and the one thread that
// polls them all.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class Drv_I2C0;
class velin_it6602;
class ite6805_sys;
class it66121_sys;

// Timing record of one receiver input, written by the receiver drivers and read by the
// scaler, both under Utils::_source_hdminfo_mutex. A writer sets valid to 0 while it fills
// the record; nosignal = 1 marks an input without a usable signal.
struct hdminfo {
    uint32_t Hact;
    uint32_t Hsync;
    uint32_t Hback;
    uint32_t Hpol;       // 1 = positive
    uint32_t Htotal;
    uint32_t Vact;
    uint32_t Vsync;
    uint32_t Vback;
    uint32_t Vpol;       // 1 = positive
    uint32_t Vtotal;
    float pfreq;         // MHz
    uint32_t type;       // 0 IT6602 path, 1 IT6805 path
    uint32_t datamode;   // 0 SDR, 1 DDR
    uint32_t lane;       // V-by-One lanes (0 on the IT6602 path)
    uint32_t ip;         // 1 interlaced
    uint32_t nosignal;   // 1 no signal
    uint32_t valid;      // 1 once filled from a stable signal
};
static_assert(sizeof(hdminfo) == 17 * 4, "hdminfo is seventeen 32-bit fields");

// EDID images received from the PC (one per input) and their arrival flags. A writer
// fills the image and raises the flag while holding g_edid_ram_table_mutex; the input
// side takes a copy under the same lock, so it never writes a half-received image.
constexpr int kEdidSize = 256;
extern unsigned char edid_ram_table[4][kEdidSize];
extern std::atomic<uint8_t> edid_ram_table_from[4];
extern std::mutex g_edid_ram_table_mutex;

// Preset EDID images: the 4K family for input 3, the 1080p family for inputs 0-2. Index k
// of both families has the same first timing (see velinsource::kPresetModes).
extern const unsigned char edid_table_4k_0[kEdidSize], edid_table_4k_1[kEdidSize], edid_table_4k_2[kEdidSize],
    edid_table_4k_3[kEdidSize], edid_table_4k_4[kEdidSize], edid_table_4k_5[kEdidSize], edid_table_4k_6[kEdidSize],
    edid_table_4k_7[kEdidSize];
extern const unsigned char edid_table_1080p_0[kEdidSize], edid_table_1080p_1[kEdidSize],
    edid_table_1080p_2[kEdidSize], edid_table_1080p_3[kEdidSize], edid_table_1080p_4[kEdidSize],
    edid_table_1080p_5[kEdidSize], edid_table_1080p_6[kEdidSize], edid_table_1080p_7[kEdidSize];

class velinsource {
public:
    // --- bus topology (8-bit I2C addresses) ---
    static constexpr uint8_t kSwitchEeprom = 0xE0;   // EDID EEPROMs, channel 0x80 = clock chip 0
    static constexpr uint8_t kSwitchReceiver = 0xEE; // receivers
    static constexpr uint8_t kExpander = 0x40;       // bit 0 EEPROM protection, audio bits
    static constexpr uint8_t kEeprom = 0xA0;
    static constexpr uint8_t kClockChip = 0xD0;
    static constexpr uint8_t kCdce913 = 0xCA;
    static constexpr uint8_t kClockChannel = 0x80;
    static constexpr uint8_t kChannel[4] = {0x02, 0x04, 0x08, 0x20};
    static constexpr uint8_t kAudioBit[4] = {0x40, 0x20, 0x10, 0x04};
    static constexpr uint8_t kProtectBit = 0x01;

    // --- controller registers kept here (bytes of KelRamPara::reg_image) ---
    static constexpr int kRegCommand0 = 0;
    static constexpr int kRegCommand32 = 32;
    static constexpr int kRegChips = 37;
    static constexpr int kRegInputs = 38;
    static constexpr int kRegBoard = 39;

    // --- thread states ---
    enum { kStateReset = 0, kStateResetWait = 1, kStateRelease = 2, kStateReleaseWait = 3,
           kStateEdidCheck = 4, kStateRun = 5 };

    // The preset table: first timing of preset k (width, height, refresh).
    struct PresetMode { int width, height, hz; };
    static constexpr PresetMode kPresetModes[8] = {
        {1280, 720, 60}, {1440, 480, 60}, {1680, 720, 60}, {1920, 1080, 60},
        {2560, 1080, 60}, {2880, 480, 60}, {3840, 2160, 30}, {3840, 2160, 60}};

    static velinsource* pInstance();
    static velinsource* p_velin_source;

    velinsource();
    ~velinsource();
    velinsource(const velinsource&) = delete;
    velinsource& operator=(const velinsource&) = delete;

    // Opens the bus, takes the check mask, creates "/data/edidramtable" and starts the
    // thread. 0, or 255 when the thread could not be created.
    int initialize();
    // Opens the bus and takes the check mask without starting the thread (tests drive the
    // pass function themselves).
    void open_bus();

    static constexpr unsigned kPassPauseMs = 10;
    static void* checksourceThread(void* arg);
    // One step of the thread: one reset-sequence state, the EEPROM check or one main pass.
    void checksource_pass();
    void sourcecheck(void* arg);
    void update_vid_info_delay();

    // --- EDID ---
    // Copies the image for the input into edid_image, patches the copy and points edidTable
    // at it. 0 when the requested mode was served (preset, synthesised timing or the PC's
    // image), 1 when the mode cannot be described (the input's default image, unpatched, is
    // chosen instead), -1 for an input above 3 (edidTable unchanged).
    int Set_Custom_HDMI_EDID(int width, int height, int hz, int input);
    static unsigned char CalcSum4LCD(unsigned char init, const unsigned char* data, unsigned long n);
    static const unsigned char* preset_image(int input, int index);   // null for a bad index
    static const unsigned char* default_image(int input);              // null for input > 3
    // Stored images: IT6602 defaults (image k + 1 for input k), IT6805 defaults (image 0
    // for input 3).
    static const unsigned char velin_default_edid_6602[4][kEdidSize];
    static const unsigned char velin_default_edid_6805[2][kEdidSize];

    // --- clock chips ---
    void s5p210_setup(int c);
    void cdce913_setup(int c);
    static const unsigned char s5p210_table[63];
    static const unsigned char cdce913_table[33];

    // The start-up stage the FPGA manager waits for: clock chip 0's state (2 = enabled).
    uint8_t startup_stage() const { return clock_state[0].load(); }

    // --- owned objects (in this order) ---
    ite6805_sys* p_ite6805_sys = nullptr;    // its first field is the bus descriptor
    velin_it6602* p_velin_it6602 = nullptr;  // its first field is the bus descriptor
    it66121_sys* p_it66121_sys = nullptr;    // SDI stage's transmitter, never driven here
    Drv_I2C0* p_drv_i2c0 = nullptr;

    // --- requests from the scaler's apply step and the PC (raised on other threads) ---
    // Raise a request through these: an EDID request raised while the input's EEPROM is
    // being written is then not mistaken for the one being served. Inputs above 3 have no
    // EEPROM and are ignored.
    void raise_edid_request(int input);
    void raise_audio_route() { audio_route_request = 1; }

    std::atomic<uint8_t> edid_request[4];    // 1 = rewrite the input's EEPROM
    // Passes left to take an input's hot-plug line low after an EDID rewrite the chip did not take.
    static constexpr int kHotPlugLowTries = 50;
    int hpd_low_owed[4] = {0, 0, 0, 0};
    std::atomic<uint8_t> edid_done[4];       // 0 when requested, 1 once the EEPROM is written
    std::atomic<uint32_t> edid_generation[4];// counts raised requests (under Utils::_system_mutex)
    std::atomic<uint8_t> audio_route_request{1};
    std::atomic<uint8_t> line_pulse_request{0};
    uint8_t line_pulse_step = 0;
    uint32_t line_pulse_stamp = 0;

    uint8_t check_mask = 0;                  // copy of g_check_source: bits 1, 2, 3, 5
    uint8_t audio_select_bits = 0;           // the expander byte last written is
    uint8_t eeprom_protect_bit = kProtectBit;// audio_select_bits | eeprom_protect_bit

    struct hdminfo hdminfo[4];               // under Utils::_source_hdminfo_mutex

    uint8_t it6602_step[3] = {0, 0, 0};      // 0 identify, 3 settle, 1 port, 2 service
    // A receiver that was not identified waits this long before the next try (ticks),
    // doubling after each failure up to the maximum.
    static constexpr uint32_t kIdentifyRetryTicks = 10;
    static constexpr uint32_t kIdentifyRetryMaxTicks = 100;
    static constexpr uint32_t kSettleMs = 500;   // after identification, before port 0 is selected
    uint32_t it6602_retry_stamp[3] = {0, 0, 0};
    uint32_t it6602_retry_ticks[3] = {0, 0, 0};
    uint64_t it6602_settle_until_us[3] = {0, 0, 0};
    // After an EDID rewrite the hot-plug line stays low this long before the receiver is
    // set up again (which raises it): a source takes a shorter pulse for a glitch and
    // never reads the new EDID.
    static constexpr uint32_t kEdidHotPlugLowMs = 100;
    uint64_t it6602_hpd_low_until_us[3] = {0, 0, 0};

    // Bring-up of the SDI stage's transmitter, one step per call: 0 prepare, 1 identify
    // (repeated until the chip answers), 2 initialise, then the device loop. Nothing in the
    // running system calls it.
    void it66121_sdi_enable();
    uint8_t it66121_step = 0;

    // Clock chips 0 and 1 at 0xD0, 2 the CDCE913: state 0 to program, 1 programmed,
    // 2 enabled; done once enabled.
    std::atomic<uint8_t> clock_state[3];
    std::atomic<uint8_t> clock_done[3];

    // Thread state and its stamp (under Utils::_source_init_mutex), reset flags per input.
    std::atomic<uint8_t> thread_state{kStateReset};
    uint32_t thread_stamp = 0;
    uint8_t reset_flag[4] = {1, 1, 1, 1};

    // The EDID image chosen last (a patched copy; the stored images stay untouched).
    unsigned char edid_image[kEdidSize] = {};
    const unsigned char* edidTable = nullptr;

    // A request whose write failed waits this many ticks before it is tried again.
    static constexpr uint32_t kEdidRetryTicks = 100;
    uint32_t edid_retry_stamp[4] = {0, 0, 0, 0};
    uint8_t edid_retry_pending[4] = {0, 0, 0, 0};
    // Writes of one request that failed; after kEdidTries the request completes as written
    // (the hot-plug pulse still follows), so an absent or broken EEPROM is not retried for ever.
    static constexpr uint8_t kEdidTries = 3;
    uint8_t edid_failures[4] = {0, 0, 0, 0};
    // The start-up EEPROM check is made again while a switch does not take its channel;
    // after this many passes it goes on without it.
    static constexpr uint8_t kEdidCheckTries = 50;
    uint8_t edid_check_tries = 0;

    // --- bus helpers (1 success, 0 failure, as the bus driver) ---
    [[nodiscard]] int set_switch(uint8_t switchAddress, uint8_t channel);
    // audio_select_bits | eeprom_protect_bit. A write not taken is owed: the main pass
    // writes the expander again until it takes one (the EEPROMs' protection, the audio route).
    [[nodiscard]] int write_expander();
    bool expander_owed = false;
    // A switch channel not taken leaves the previous branch on: nothing behind the switch
    // is addressed then. A step that needs the branch is made again on a later pass.
    // Writes 256 bytes in 32 pages of 8, waiting out each page's write cycle and retrying
    // a failed page; 1 when every page was acknowledged.
    [[nodiscard]] int eeprom_write_image(const unsigned char* image);
    // 32 reads of 8 bytes; 1 when every read succeeded (failed reads leave zeros).
    [[nodiscard]] int eeprom_read_image(unsigned char* out);
    static bool edid_block0_valid(const unsigned char* image);
    // Switch, protection off, write, read back and compare, protection on. 1 when the
    // EEPROM of the input now holds the image.
    [[nodiscard]] int program_eeprom(int input, const unsigned char* image);

private:
    void state_reset();
    void state_release();
    void edid_check();
    void edid_requests();
    void register32_commands();
    [[nodiscard]] bool register0_commands(int input);   // input: the one being polled; false: its branch is not on
    void it6805_reset_line(bool high);    // input 3's reset line, from registers 0 and 32
    void audio_route();
    void line_pulse();
    void poll_receiver(int input);
    void gpio_write(uint32_t offset, uint16_t value);
    uint8_t reg(int n) const;
    void reg_set_bits(int n, uint8_t bits);
    void reg_clear_bits(int n, uint8_t bits);
    uint8_t reg_take(int n);                 // atomic exchange with 0

    std::thread thread_;
    std::atomic<bool> stop_{false};
};
