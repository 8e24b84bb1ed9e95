#pragma once
// The FPGA manager: the two FPGAs behind the LED output ports, their SPI access, the SoC
// GPIO lines that select and frame each transfer, the shadow images of their registers
// and RAMs, the output ports with the receiving-card command packets, and the manager
// thread that runs one pass of fixed work per loop and one step of the receiving-card job
// that a screen posted in g_send_para.

#include <QObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <vector>

#include "fpga/clock_record_run.h"
#include "fpga/passby_queue.h"

class fpga_drv;
class rcvRecovery;

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;

// ---------------------------------------------------------------------------------------
// The job record through which the screens hand receiving-card jobs to the manager thread.
// A screen writes the job's parameters first and the job code last (post); the manager
// starts only on a non-zero code and ends a job by clearing code and step together.
// Field order is the record's; count and card are 16-bit so that long operations and
// cards past 255 fit. Every field is a single atomic word because two threads share it.
struct SEND_PARA {
    std::atomic<u8> job{0};          // 0 idle; 1..6 the jobs of the dispatch
    std::atomic<u8> step{0};         // step of the running job; 255 after softinit
    std::atomic<u8> port{0};         // output port the job is at (0..9)
    std::atomic<u16> count{0};       // packets of the current card operation (16-bit: a long
                                     // RAM write has more than 255 chunks)
    std::atomic<u16> sent{0};        // packets of the current card operation sent so far
    std::atomic<u8> reply{0};        // 1 when a card answered the last packet
    std::atomic<u16> index{0};       // card index within the job
    std::atomic<u16> cards{0};       // cards on the current port
    std::atomic<u16> length{0};      // length of the last packet built
    std::atomic<u32> mapping{0};     // job 4: 0 mapping off, 9 mapping on
    std::atomic<u32> stamp{0};       // G_timeTicks when the job's last packet went out
    std::atomic<u8> screen{0};       // check and recovery job: screen index
    std::atomic<u8> net{0};          // check and recovery job: port-record index
    std::atomic<u16> card{0};        // card to recover / card of the operation executor
    std::atomic<u8> operation{0};    // operation index of the check, recovery and load job
    std::atomic<u8> sub_step{0};     // state of the card-operation executor (20..32)
    std::atomic<u16> progress{65535};// check answer and search progress; 65535 = none yet
    std::atomic<u8> retries{0};      // repeats of the current packet
    std::atomic<u8> cancel{0};       // 1: Back on the screen asks a job that waits to end

    // What the screens' 16-bit store of the job code does: step 0, then the code.
    void post(u8 code)
    {
        cancel.store(0, std::memory_order_relaxed);
        step.store(0, std::memory_order_relaxed);
        job.store(code, std::memory_order_release);
    }
    // A job ends by clearing code and step together.
    void end()
    {
        cancel.store(0, std::memory_order_relaxed);
        step.store(0, std::memory_order_relaxed);
        job.store(0, std::memory_order_release);
    }
};
extern SEND_PARA g_send_para;

// The manager's timers and flags: 47 u32 words. The words whose use is fixed are named.
constexpr int kChangeWords = 47;
extern std::atomic<u32> g_change[kChangeWords];
enum ChangeWord {
    CHG_SEARCH_ARMED = 1,        // search sweep armed
    CHG_JOB_STAMP = 2,           // search stamp; animation/progress stamp of the card jobs
    CHG_LINK_WATCH_STAMP0 = 3,   // link-watch stamp of FPGA 0 (FPGA 1: next word)
    CHG_LINK_WATCH_STAMP1 = 4,
    CHG_SWEEP_CLEARED = 5,       // cleared when a sweep is armed
    CHG_SWEEP_COUNT = 8,
    CHG_POWER_FIRST = 10,        // five power-control words
    CHG_SENSOR_FIRST = 15,       // five words shared by the function-card reads
    CHG_BRI_FIRST = 20,          // brightness task words
    CHG_BRINGUP_STAMP0 = 32,     // link-stage stamp of FPGA 0 (FPGA 1: next word)
    CHG_BRINGUP_STAMP1 = 33,
    CHG_SEARCH_PERMIT = 34,      // a search sweep runs only while it holds 15
    CHG_AFTER_PERMIT = 35,
    CHG_RESET_RELEASE = 36,      // stamp of the last FPGA 0 reset release
    CHG_SPARE_STAMP = 37,
    CHG_IRQ_STATE0 = 38,         // interrupt state of FPGA 0, FPGA 1, and the word after
    CHG_IRQ_STATE1 = 39,
    CHG_IRQ_AFTER = 40,
    CHG_JOB_PROGRESS = 46        // animation/progress counter of the card jobs
};

// The shortcut set-up record that the smart set-up screen fills before it posts a job.
struct LINE_TYPE {
    u16 width;    // cabinet width in pixels
    u16 height;   // cabinet height
    u16 x_offset;
    u16 y_offset;
    u8 port;      // output port of the shortcut set-up and the scan-parameter load
    u8 rows;
    u8 cols;
    u8 route;     // 1..16
};
static_assert(sizeof(LINE_TYPE) == 12, "line_type is a 12-byte record");
extern LINE_TYPE line_type;

// The scan-parameter file chosen on the smart set-up screen (its full path), read by the
// scan-parameter load job; written on the GUI thread, so read and written under its lock.
extern QString g_kxfile_name;
extern std::mutex g_kxfile_name_mutex;

// One record of the old scan-parameter files: 22 bytes, a u16 and five u32 fields, all
// little-endian; the last is kept in tenths of its stored value (milliseconds to ticks).
struct SCAN_PARA {
    static constexpr unsigned kSize = 22;
    u16 head = 0;
    u32 value[5] = {};
    void decode(const u8* b);
};

// Date and time as the manager keeps its current-time record.
struct TimeRealType {
    u8 second;
    u8 minute;
    u8 hour;
    u8 day;
    u8 spare;      // not written
    u8 month;
    u16 year;
};
static_assert(sizeof(TimeRealType) == 8, "the time record is 8 bytes");

// ---------------------------------------------------------------------------------------
class fpga_manage {
public:
    // SoC window offsets of the GPIO lines (16-bit registers; a select is active at 0).
    static constexpr uint32_t kGpioFpga0Select = 0x207810;
    static constexpr uint32_t kGpioFpga1Select = 0x207900;
    static constexpr uint32_t kGpioFpga0Command = 0x207838;
    static constexpr uint32_t kGpioFpga1Command = 0x207954;
    static constexpr uint32_t kGpioFpga0Reset = 0x207858;
    static constexpr uint32_t kGpioFpga1Reset = 0x207864;
    static constexpr uint32_t kGpioFpga0FlashSelect = 0x207860;
    static constexpr uint32_t kGpioFpga1FlashSelect = 0x207950;
    static constexpr uint32_t kGpioFpga0Irq = 0x207908;
    static constexpr uint32_t kGpioFpga1Irq = 0x207910;
    static constexpr uint32_t kGpioIt6602Reset = 0x207940;
    static constexpr uint32_t kGpioIt6805Reset = 0x207944;
    static constexpr uint32_t kGpio1F1C = 0x001F1C;
    static constexpr uint32_t kGpioSdiReset = 0x002848;
    static constexpr uint32_t kGpioSdiPrepare = 0x207800;
    static constexpr u16 kLineIdle = 16;
    static constexpr u16 kLineActive = 0;

    // Image sizes.
    static constexpr int kRegCount = 170;
    static constexpr int kRamSize = 1024;
    static constexpr int kEthParaSize = 136;
    static constexpr unsigned kPacketMax = 1024;

    // Card count (u16) and function-card flag of ports 0..15 in the parameter RAM.
    static constexpr u16 kCardCountOffset[16] = {100, 102, 108, 110, 560, 564, 568, 572,
                                                 640, 644, 648, 652, 656, 660, 664, 668};
    static constexpr u16 kCardFlagOffset[16] = {104, 106, 112, 114, 562, 566, 570, 574,
                                                642, 646, 650, 654, 658, 662, 666, 670};
    // The most cards a port's chain holds as the jobs see it: the check names a card by a
    // byte whose value 255 means "every card matches", so cards 0..254 are all it can name.
    static constexpr u16 kMaxPortCards = 255;
    // Rectangle (x, y, width, height) of ports 0..15 in the parameter RAM.
    static constexpr u16 kPortRectOffset[16] = {8, 19, 32, 43, 520, 528, 536, 544,
                                                576, 584, 592, 600, 608, 616, 624, 632};

    // SPI command-word operations.
    static constexpr u8 kOpRam = 1;
    static constexpr u8 kOpRegister = 2;

    pthread_t m_thread{};                // first member: filled by pthread_create

    static fpga_manage* pInstance();
    static fpga_manage* p_fpga_manage;

    fpga_manage();
    ~fpga_manage();
    fpga_manage(const fpga_manage&) = delete;
    fpga_manage& operator=(const fpga_manage&) = delete;

    // --- devices, window and select lines ---
    u8 initialize();
    u8 initialize_start();
    // Pointer to the 16-bit line at a window offset; null while the window is not mapped.
    volatile u16* gpio_line(uint32_t offset) const;

    // --- SPI command words and raw transfers ---
    static u32 fpga_cmd_to_spi_data(u8 op, u8 ram, u16 addr, u8 read);
    static u32 fpga_reg_cmd_to_spi_data(u8 op, u8 ram, u8 reg, u8 read, u8 data);
    // 0 on success, 255 when the transfer could not be made (no window, no device).
    u8 read_fpga_register(u8 reg, u8* out, u8 fpga);
    u8 write_fpga_register(u8 reg, u8 value, u8 fpga, u8 mask);
    u8 write_fpga_ram(unsigned char* buf, unsigned int addr, unsigned int len, unsigned char ram, unsigned char fpga);
    u8 read_fpga_ram(unsigned char* buf, unsigned int addr, unsigned int len, unsigned char ram, unsigned char fpga);

    // --- registers through the shadow ---
    void read_from_register(int reg, int fpga);
    // 0 when the byte reached the FPGA (or lives only in the shadow); else the shadow keeps
    // what it had.
    u8 write_to_register(int reg, u8 mask, u8 value, int fpga);
    void write_to_0x00_register(int reg, u8 mask, u8 value, int fpga);
    void fpga_flash_access();
    // The register image byte as last read or written (0 for numbers outside the image).
    u8 reg_shadow(int reg, int fpga) const;

    // --- manager thread and pass ---
    static void* fpgamanageThread(void* arg);
    void* fpga_manage_deal(void* arg);
    void softinit();
    void Version_to_RAM();
    void PHY_status_to_RAM();
    void run_clock_record();
    void Check_search_card();
    u8 set_fpga_bri_val();
    u8 set_output_status();
    void* usb_upgrade_manage_deal(void* arg);
    // Start-up stage byte of the input-source manager (2 = inputs initialised).
    u8 source_stage() const;
    // 1 when FPGA 0 is up: MCU state 3, link stage 7, check step 16 or more, register 0
    // bit 3 clear. The ready test of every other part.
    u8 get_fpga_status();
    // The local date and time of the system clock; returns 0.
    u8 IT8563WE_Get(TimeRealType* t);
    TimeRealType time_now = {};          // the manager's current-time record

    // --- output ports and receiving-card packets ---
    u16 get_port_card_num(int port);
    u16 check_netport_card(int fpga);
    // Waits up to 3 s for the port's transmitter; 1 when idle. Between looks it lets go of
    // `sending` (held). The manager's own sends wait so; the PCs' packets never do (see
    // send_when_ready).
    u8 wait_fpga_send_ready(int port, int fpga, std::unique_lock<std::mutex>* sending = nullptr);
    void Send_to_port(unsigned char* buf, unsigned int len, int port, int fpga);
    // Sends the packet at once when the port's transmitter is idle, or when it has been
    // waited for 300 ticks since `since` (the port gets it then anyway); false, touching
    // nothing, while it is still to be waited for. True for a packet or port that gets
    // nothing.
    bool send_when_ready(unsigned char* buf, unsigned int len, int port, int fpga, u32 since, uint64_t sinceUs);
    // The caller holds port_path_mutex. The packet goes to each port in turn as its
    // transmitter allows (see put_passby_out); due: the due request it puts out (0 none).
    void multi_port_send(unsigned char* buf, unsigned int len, u32 due = 0);
    static void stamp_port(unsigned char* buf, unsigned int len, int port);
    u8 rcv_card_cmd_create(unsigned char* buf, int port);
    u8 load_write_ram_cmd_create(int port, u16 card, u32 addr, const unsigned char* data, u16 n,
                                 unsigned char* buf, bool allCards);
    u16 load_write_reg_cmd_create(int port, u16 card, const unsigned char* data, u16 n,
                                  unsigned char* buf, bool allCards);
    u16 load_write_user_defined_cmd_create(int port, u16 card, const unsigned char* data, u16 n,
                                           unsigned char* buf, bool allCards);
    u16 rcv_active_firmware_cmd_create(int port, u16 card, const unsigned char* data, u16 n, unsigned char* buf);
    u16 rcv_reconfig_cmd_create(int port, u16 card, const unsigned char* data, u16 n, unsigned char* buf);
    u16 load_search_rxc_cmd_create(int port, const unsigned char* data, u16 n, unsigned char* buf);
    u8 save_para_cmd_create(unsigned char* buf, int port);
    u16 save_para2flash_cmd_create(int port, u16 card, unsigned char* buf, bool allCards);
    u8 ram_reset_cmd_create(unsigned char* buf, u8 a, u16 b, int port);
    u8 mapping_enable_cmd_create(int port, unsigned char* buf);
    void get_rcvcard_x_y(u16 index, u16* x, u16* y);
    void save_para_deal();
    void mapping_enable_deal();

    // --- job progress to the screens ---
    // The screen that shows a job's progress registers here when it opens and clears its
    // entry when it closes, on the GUI thread: kProgressSmartMapping (jobs 1 to 4) or
    // kProgressRcvRecovery (jobs 5 and 6). Its signal sig_qround_bar_update(int) is then
    // emitted on the GUI thread for every progress value of those jobs.
    enum { kProgressSmartMapping = 0, kProgressRcvRecovery = 1 };
    static void set_progress_screen(int which, QObject* screen);
    static void emit_progress(int which, int percent);
    // Whether a screen is registered for the progress (read on any thread).
    static bool progress_screen_open(int which);
    // Queues the list of cards to recover to the registered recovery screen, whose
    // set_file_list(QStringList) then runs on the GUI thread (an empty list: none).
    static void emit_recovery_list(const QStringList& list);
    // Queues the failed end of a job (it could not do what was asked: no usable file, no
    // FPGA, no card on the port, a card that did not confirm) to the registered screen, whose
    // card_job_failed(int why) then runs on the GUI thread after the ring has closed. A job
    // ended with Back is not reported.
    enum { kJobFailed = 0, kJobNoCard = 1, kJobCardSilent = 2 };
    static void emit_job_failed(int which, int why = kJobFailed);

    // --- FPGA bring-up, parameter RAM and link supervision ---
    void check_fpga_rst();
    void reset_fpga_rst(u8 fpga);
    // The SoC words that two owners share go through here, under one lock: the reset
    // line of each FPGA is also the enable of a clock chip that the input side drives.
    // While the manager holds an FPGA in reset, a write of that word from elsewhere is
    // kept and driven when the reset is let go, so it cannot cut the reset short.
    void drive_line(uint32_t offset, u16 value);
    void hold_reset_line(u8 fpga);
    void release_reset_line(u8 fpga);
    void power_up_fpga_start(u8 check, u8 fpga);
    void power_up_check_fpga_status(u8 fpga);
    void fpgainit(u8 fpga);
    void eth_param_init(u8 mode, u8 fpga);
    u8 check_fpga_ram_param(u8 fpga);
    void FPGA_to_RAM(u8 fpga);
    void update_eth_state(u8 fpga);
    void M57_mcu_set_net_para(u8 fpga);
    void M57_back_mcu_set_net_para(u8 fpga);
    u8 get_eth_param_addr(int port, u16* x, u16* y, u16* w, u16* h);
    u8 get_eth_min_x_y(u8 fpga, u16* x, u16* y);
    u8 get_eth_max_border(u8 fpga, u32* right, u32* bottom);
    u8 get_eth_lcd_x_y(u8 fpga, u16* x, u16* y);
    u8 get_eth_lcd_w_h(u8 fpga, u16* w, u16* h);
    static const u8 RAM1[256];           // default first quarter of the parameter RAM

    // --- receive path: interrupt service, card answers, passthrough answers ---
    void reg_IRQ_Dealwith(u8 fpga, u8 force);
    void check_fpga_net_data_status(u8 fpga);
    u8 deal_with_search_concurrent(u8 fpga);
    void Search_concurrent_back_result(unsigned char* answer, u8 group, u8 fpga, unsigned int len);
    void update_eth_rcv_num(unsigned char* answer, int port, u8 fpga);
    void Rcv_data_from_eth(u8 fpga);

    // The links that wait for passthrough answers hand the manager a way to queue one on
    // their send list (kPassbySerial, kPassbyTcp, kPassbyUdp, kPassby4G: the values of
    // g_passby_trans_port). A link registers when it is built and withdraws (null answer)
    // before it goes; the answer is called under the port-path mutex with the ticket of the
    // request it answers and returns whether the link took it (a PC that no longer waits
    // refuses it).
    enum { kPassbySerial = 1, kPassbyTcp = 2, kPassbyUdp = 3, kPassby4G = 4, kPassbyNone = 255 };
    using PassbyAnswer = std::function<bool(u32 ticket, const unsigned char* frame, unsigned int len)>;
    static void set_passby_link(u8 link, const void* owner, PassbyAnswer answer);

    // --- PC passthrough to the receiving cards ---
    // How long a card's answer is waited for once its request went out, in 10 ms ticks.
    static constexpr u32 kPassbyWaitTicks = PassbyQueue::WAIT_TICKS;
    // A PC's frame for the cards, from link on behalf of the PC at host (its address; 0 on
    // the serial line) that the link received at tick arrived. The frame is kept (a copy)
    // and goes out in turn (see PassbyQueue); the card's answer goes to that PC's ticket
    // alone. Returns the ticket, or 0 when nothing will go out (no manager: only the link
    // is recorded; too many kept; its PC waits no more). The caller holds port_path_mutex.
    static u32 pass_through(u8 link, u32 host, u32 length, unsigned char* frame, u32 arrived);
    // The PC stopped waiting (its next frame, its connection closed): its kept frame is
    // dropped, and an answer still due to it goes to nobody. The caller holds port_path_mutex.
    static void withdraw_passby(u32 ticket);
    // Whether a ticket's request is still kept or due: once it is not, and its answer was
    // not handed over, none will come. The caller holds port_path_mutex.
    static bool passby_waiting(u32 ticket);
    // The caller holds port_path_mutex. Returns 1.
    u8 Dealwith1_PC_to_eth(u32 length, unsigned char* frame);

    // --- screen states, LED-parameter hand-shake, port link state ---
    void SCREEN_fpgactrl_status(u8 state);
    void SCREEN_fpgactrl_status2(u8 state, u8 fpga);
    // The screen's dark state has one owner, the parameter block's dark word (non-zero =
    // dark): whoever wants the screen dark or lit for good writes the word, and register 0's
    // dark bit is written from the word alone. A bring-up darkens the screen for its own
    // steps and ends with it as the word says. Both return 0 when the FPGA took the write.
    [[nodiscard]] u8 screen_from_word(u8 fpga);
    [[nodiscard]] u8 set_screen_dark(u8 dark);
    void set_led_para_deal();
    u16 get_wlan_state();
    void check_wlanonline_state();

    // --- card search sweeps, check packet, link watch ---
    void check_error_rcv_search_card_cmd(u32 port, u8 fpga, u32 configId, u32 word, u8 enable);
    void Search_Card_Cmd();
    u16 CHECK_search_cmd_status();       // evaluates and clears under port_path_mutex
    u8 check_vbo_status(u8 fpga);

    // --- receiving-card jobs: operation executor, shortcut set-up (job 1), check (5),
    // recovery (6) and scan-parameter load (2) ---
    enum RCV_CHECK_OR_RECOVERY { RCV_CHECK = 0, RCV_RECOVERY = 1, RCV_LOAD_SCAN = 2 };
    // One step of the stored operation held by m_rcvRecovery on the cards of its port
    // record's port; 1 once the operation is complete (also when it could not be carried
    // out: the reason is traced), 0 while it runs. The caller sets sub_step 20 first.
    u8 load_rcv_xy_operate(const QString& path, uint64_t dataOffset, bool allCards);
    void SmartMapping_deal();
    void rcv_recovery_check_deal(u8 mode);
    // The scan-parameter file chosen on the screen (g_kxfile_name, a full path), when it
    // lies in "/data/smartmapping" or "/mnt/usb1"; empty otherwise.
    static QString chosen_kxfile();
    // Reads record i of the old scan-parameter file chosen on the screen into record: 0 when
    // read; 1 when i is not below scan_para_count, the file cannot be opened or the record
    // is not wholly in it.
    u8 get_operate_deal_para(SCAN_PARA* record, u32 i);
    u16 scan_para_count = 0;             // records of the old scan-parameter file
    // The card the last check found (its screen, port number, port-record index and index).
    u8 recover_screen = 0;
    u8 recover_net = 0;
    u8 recover_net_index = 0;
    u16 recover_card = 0;
    // What the list showed of that card's port record: a package stored anew may describe
    // its ports in another order, and a recovery must load the listed card or none.
    u16 recover_cards = 0;
    u32 recover_config_id = 0;
    u8 operate_read_failures = 0;        // unreadable data pieces of the current operation
    // Packets or operations of the running job that did not reach their cards (skipped
    // after their retries, unreadable, not to be carried out): the job cannot end as done.
    u8 job_incomplete = 0;
    u8 check_timed_out = 0;              // a port of the running check never gave a usable answer
    u8 check_time_emitted = 255;         // last waiting value sent to the ring
    u8 check_cancelled = 0;              // the running check/recovery/load was ended with Back
    u8 smart_no_cards = 0;               // the shortcut job found no card on its port
    u8 job_ports = 0;                    // jobs 3 and 4: ports with cards that were sent to
    u8 job_confirmed = 0;                // jobs 3 and 4: ports whose cards confirmed
    // The list of cards to recover. The manager keeps it (and whether it is filled) under
    // its lock; each change is queued to the open recovery screen on the GUI thread as a
    // call of its set_file_list(QStringList) (an empty list: nothing to recover).
    QStringList recovery_list() const;
    u8 recovery_list_filled() const;

    // --- Steps still to be built; each records that it was called. ---
    std::atomic<u32> pending_calls{0};    // calls of the not-yet-built steps, for the trace

    // =====================================================================================
    // Brightness, light sensor, on/off schedule and the command mailbox
    // (fpga_manage_bright.cpp). The mailbox runs on a PC link's thread inside
    // write_to_register; everything else on the manager thread. Both hold bri_mutex for the
    // brightness, schedule and stored-block state; it is taken before any other lock here.
    static constexpr u32 kOnOffFlash = 0x30E000;         // stored schedule block (sector 782)
    static constexpr u32 kBrightFlash = 0x30F000;        // stored brightness block (sector 783)
    static constexpr u8 kFlashDevice = 2;                // FPGA 0's configuration flash
    static constexpr u8 kBlockValid = 0xAA;
    static constexpr u8 kNoMode = 255;
    // Words of g_change used by this work and by the function-card reads.
    enum ServiceWord {
        CHG_POWER_ENABLE = 10,       // the function card allows power control
        CHG_NOSIG_STAMP = 11,
        CHG_POWER_TASK_STAMP = 12,   // last read of the card's settings
        CHG_POWER_STEP_STAMP = 13,   // last stop or start step
        CHG_SIGNAL_STAMP = 14,       // last picture check
        CHG_VMF_GROUP = 15,          // function card: port group 1..4, 0 none
        CHG_VMF_ADDRESS = 16,        // 0x4000..0x7000, 0 none
        CHG_VMF_VALID = 17,          // data-valid flag
        CHG_VMF_EXPECT = 18,         // expected answer command
        CHG_VMF_STATE = 19,          // 0 no answer yet, 1 good answer, 2 wrong answer
        CHG_BRI_BUSY = 20,
        CHG_BRI_TARGET = 21,
        CHG_BRI_REPEAT = 22,
        CHG_BRI_FORCE = 23,
        CHG_BRI_TASK = 24,           // brightness task on
        CHG_BRI_STAMP = 25,
        CHG_BRI_MISS = 26            // light-sensor reads without an answer in a row
    };
    struct OnOffEntry {
        u8 on_hour, on_minute, off_hour, off_minute;
    };

    void Dealwith_mcu_ram();
    void Checktime(const u8* block);
    void OnOff_time(const u8* block);
    void record_onoff_time(u8 device);
    void record_bright_change();
    void Brightness_init(const u8* block);
    void Brightness_hand_dealwith();
    void Brightness_task();
    void Brightness_time_change();
    void Brightness_hand_change();
    void Brightness_check_VMF();
    void Brightness_read_VMF_value();
    void VMF_data_back_result();
    void Brightness_auto_filter();
    void Extension_function();
    void dealwith_onoff();
    // Minute of the day of a schedule time; kOnOffNever for one that is no time of day.
    static constexpr int kOnOffNever = 24 * 60;
    static int onoff_minute_of(u8 hour, u8 minute);
    // Whether a switch of the schedule falls in the minutes (from, to] of the running count.
    bool onoff_due(int64_t from, int64_t to) const;
    // The schedule's state at a minute of the day: 1 dark, 0 lit, -1 no switch at all.
    int onoff_state(int minute) const;
    // Half-hour slot 0..47 of a time of day.
    static u8 half_hour_slot(u8 hour, u8 minute);

    std::recursive_mutex bri_mutex;
    u8 bri_mode = kNoMode;               // 0/16 by hand, 1/17 by schedule, 2 automatic
    u8 bri_hand_scale = kNoMode;         // the mode whose scale the hand value (register 64)
                                         // is on when not the running mode's: a PC's hand
                                         // command that was not stored
    u8 bri_last_slot = 255;
    u8 HalfHourValue[48];
    std::atomic<u8> bri_reload{0};       // the next idle pass reloads the stored block
    std::atomic<u8> bri_request_taken{0};// the loop is applying a brightness request
    u8 VMF_sensor_data[128] = {};        // the light sensor's data image
    u8 onoff_count = 0;
    OnOffEntry onoff[4] = {};
    u8 onoff_fresh = 0;                  // a new schedule: the screen is set as it has it now
    int64_t onoff_last = 0;              // minute count of the last pass, to see the clock set back
    u8 onoff_dark = 0;                   // the schedule made the screen dark

    // =====================================================================================
    // Power control through a function card, raw LCD register writes
    // (fpga_manage_power.cpp). Manager thread only; the function-card words are shared with
    // the light-sensor read, which runs on the same thread under bri_mutex.
    enum OPTION { VMF_START = 0, VMF_STOP = 1 };
    static constexpr u8 kNoFunctionCard = 252;
    void Power_ctrl_init();
    void Power_ctrl_reset();
    void Power_ctrl_deal();
    void Power_ctrl_task();
    void Power_check_VMF();
    void Power_read_VMF_value();
    void Send_read_VMF_RAM0_data_cmd();
    void Power_VMF_run();
    void VMF_RAM0_data_back_result(u8 f);
    void VMF_reg_back_result(u8 f);
    void Power_ctrl_filter();
    void Send_write_VMF_reg_cmd(OPTION option, u8 channel);
    void wait_VMF_result();
    void eth_data_send_stop();
    void eth_data_send_start();
    void write_LCD_register(u32 address, u8* data, u8 fpga, u8 count);
    void Search_Card_task_run();
    void Brightness_task_run();
    // Runs service (an interrupt service and an answer check) until the function card's
    // reply state is set or 35 ticks have passed; bounded by the clock as well, so that a
    // stopped tick counter cannot hold the manager.
    void wait_VMF_answer(const std::function<void()>& service);

    static u8 SEND_READ_VMF_RAM0_CMD[19];
    u8 power_signal = 0;                 // window 0's input had a picture at the last check
    u8 power_armed = 0;
    u8 power_nosig_timer = 0;
    u8 power_stop_running = 0;
    u8 power_send_stopped = 0;
    u8 power_step = 1;                   // channel of the next step; 9 = all eight sent
    u8 VMF_port = 0;                     // function-card port, kNoFunctionCard for none
    u8 VMF_fpga = 0;
    u8 VMF_RAM0[256] = {};               // the function card's RAM 0 (byte 44: power enable)

    // =====================================================================================
    // Monitor output set-up with the LED size and the row and column maps
    // (fpga_manage_monitor.cpp). Offered for a caller on the manager thread.
    void check_monitor_change(u8 f);
    void set_9022_para(int f);
    void set_lcd_change_flag();
    void set_fpga_lcd_wh(u8 f);
    void set_fpga_row_col_ram(u16 width, u16 height, u8 f);
    static void row_col_calcul_ram(u32 source, u32 target, u8* map, u32 mapSize);
    static constexpr u32 kColumnMapBytes = 2000;
    static constexpr u32 kRowMapBytes = 512;
    u32 monitor_state[2] = {3, 3};       // 0 idle, 1 begin, 2 wait picture, 3 wait transmitter, 4 programme
    u32 monitor_stamp[2] = {};
    u32 monitor_wait[2] = {};
    // =====================================================================================

    // --- descriptors and window ---
    fpga_drv* m_fpga_drv = nullptr;
    int fpga_vbyone1_fd = -1;            // FPGA 0 ("/dev/spidev32766.1")
    int fpga_vbyone2_fd = -1;            // FPGA 1: never opened
    int fpga_vbyone1_flash_fd = -1;      // FPGA 0's configuration flash
    int fpga_vbyone2_flash_fd = -1;      // FPGA 1's configuration flash: never opened
    int msys_fd = -1;
    int mem_fd = -1;
    u32 mem_request[5] = {};             // magic, base, -, length, record length
    volatile uint8_t* gpio_window = nullptr;

    // GPIO lines in the window (null until initialize() mapped it). The scaler driver
    // writes 16 to both FPGA selects before each of its own transfers; the input side
    // drives the receiver resets and, through the FPGA reset words, its clock-chip enables.
    volatile u16* gpio_fpga0_cs = nullptr;        // 0x207810 FPGA 0 select
    volatile u16* gpio_fpga1_cs = nullptr;        // 0x207900 FPGA 1 select
    volatile u16* gpio_fpga0_cmd = nullptr;       // 0x207838 FPGA 0 command phase
    volatile u16* gpio_fpga1_cmd = nullptr;       // 0x207954 FPGA 1 command phase
    volatile u16* gpio_fpga0_rst = nullptr;       // 0x207858 FPGA 0 reset / clock chip 0 enable
    volatile u16* gpio_fpga1_rst = nullptr;       // 0x207864 FPGA 1 reset / clock chip 1 enable
    volatile u16* gpio_fpga0_flash_cs = nullptr;  // 0x207860 FPGA 0 configuration-flash select
    volatile u16* gpio_fpga1_flash_cs = nullptr;  // 0x207950 FPGA 1 configuration-flash select
    volatile u16* gpio_fpga0_irq = nullptr;       // 0x207908 FPGA 0 interrupt, bit 0
    volatile u16* gpio_fpga1_irq = nullptr;       // 0x207910 FPGA 1 interrupt, bit 0
    volatile u16* gpio_it6602_rst = nullptr;      // 0x207940 IT6602 receivers' reset
    volatile u16* gpio_it6805_rst = nullptr;      // 0x207944 IT6805 receiver's reset
    volatile u16* gpio_1f1c = nullptr;            // 0x001F1C written 1 at bring-up
    volatile u16* gpio_sdi_rst = nullptr;         // 0x002848 SDI receiver reset
    volatile u16* gpio_sdi_prepare = nullptr;     // 0x207800 SDI stage preparation

    // --- locks and hand-over flags ---
    std::mutex port_path_mutex;          // interrupt service against PC passthrough
    // One packet at a time through the send registers: the manager thread's sweeps and jobs
    // and the links' passthrough share the port select, transmit RAM and length registers.
    std::mutex send_mutex;
    mutable std::mutex reg_image_mutex;  // shadow register bytes and MCU_RAM_EXTEND[29]
    std::atomic<u8> bri_update_flag{0};  // set by the scaler under Utils::_bri_set_mutex
    std::atomic<u8> screen_update_flag{0};
    std::atomic<u8> answer_ready{0};     // a passthrough answer waits on a link's list
    std::atomic<u8> await_answer{0};     // a multi-port send waits for its answers
    std::atomic<u32> await_answer_stamp{0};
    u32 multicast_mask = 0;              // under Utils::_fpga_multicast_mutex
    u32 multicast_enable = 0;            // under Utils::_fpga_multicast_mutex
    std::atomic<u32> pc_cmd_word{0};     // cleared with pc_cmd_valid
    std::atomic<u8> output_enable{0};    // bit 3 of the last register-0 byte
    std::atomic<u8> status_latch{0};     // register 0 bit 5 seen set
    std::atomic<u8> size_change_request{0};
    u8 output_size_state[2] = {3, 3};

    // --- bring-up bytes per FPGA (manager thread; the ready test reads them anywhere) ---
    std::atomic<u8> link_stage[2] = {};  // 0, 1, 2, 3, 5, 6, 7; 7 = up
    std::atomic<u8> check_step[2] = {};  // 0, 7, 1, 8, 2, 9, 10, 3, 14, 15, 16, 18
    u16 link_error_count[2] = {};
    u8 stage_retry[2] = {};
    u32 startup_passes[2] = {};
    u16 check_counter[2] = {};           // failed looks of check step 0 (up to 2040)
    u8 check_retry[2] = {};              // resets made by check step 0 (at most 101)
    u32 check_stamp[2] = {};
    u32 check_error_last[2][3] = {};     // the output check's last failing measurement, as shown
    u8 check_error_shown[2] = {};
    u8 ram_reset_seen[2] = {};
    u8 ram_check_ok[2] = {};             // 1 when the parameter RAM read back right
    u8 reset_pending[2] = {};
    // A PC link's FPGA update start asks for FPGA 0's reset and a fresh bring-up; the
    // manager's pass takes the request.
    std::atomic<u8> update_reset_request{0};
    u32 reset_stamp[2] = {};
    std::mutex line_mutex;               // the shared SoC words (see drive_line)
    bool reset_line_held[2] = {};        // under line_mutex
    int line_after_reset[2] = {-1, -1};  // under line_mutex: a write kept for the release

    // --- receive path ---
    // Bit fpga x 8 + pair: the pair delivered a search answer; bits 30 and 31 belong to
    // the search sweep.
    std::atomic<u32> answer_word{0};
    u32 irq_idle_stamp[2] = {};          // 0 = not stamped; under port_path_mutex
    // The function-card reply buffer: [0] present, [1] command byte, then the answer's
    // bytes from byte 10 on, as many as fit. Written and read under port_path_mutex.
    static constexpr unsigned kFuncReplySize = 128 + 3;
    u8 func_card_reply[kFuncReplySize] = {};
    unsigned func_card_reply_len = 0;   // answer bytes from byte 10 on, check byte not counted
    // Set by the check job when it sends the check packet of a screen record: the
    // configuration identity whose answers carry the check result into g_send_para.
    std::atomic<u32> check_config_id{0};
    std::atomic<u8> check_config_valid{0};
    std::atomic<u8> check_fpga{0};       // and the port it was sent to: only that port's answer counts
    std::atomic<u8> check_port{0};

    // The answer a card job waits for: that of the packet it sent last, from the port and
    // the card it sent it to (any card of the port for a packet to all of them). Armed
    // before the packet goes out, disarmed by the one answer that settles it, so an answer
    // that comes twice, late or before its packet confirms nothing else.
    void expect_job_answer(const unsigned char* packet, int port, int fpga);
    void file_check_answer(const unsigned char* answer, u8 group, u8 fpga, unsigned len);
    bool job_answer_matches(u8 fpga, int port, u16 card, u8 command);
    std::mutex job_answer_mutex;
    bool job_answer_armed = false;       // the rest under job_answer_mutex
    u8 job_answer_fpga = 0;
    u8 job_answer_port = 0;
    u16 job_answer_card = 0;             // 0x0FFF: any card of the port
    u8 job_answer_command = 0;

    // --- PC passthrough (under port_path_mutex) ---
    u8 multi_port_flag = 0;              // the last passthrough went to all ports
    u32 multi_reply_mask = 0;            // ports that answered it (bit 16 f + port)
    u8 multi_reply_count = 0;
    u8 passby_tag = 0;                   // byte 5 of that passthrough
    u8 passby_command = 0;               // and byte 9: its answers carry both
    u8 passby_fffe = 0;                  // its target was 0x0FFE
    PassbyQueue passby;                  // the PCs' requests, kept and due

    // --- screen states and hand-shake (manager thread) ---
    u32 led_setup_stamp = 0;
    u16 led_setup_looks = 0;
    std::atomic<u8> freeze_running{0};   // an output refresh runs (g_freeze_out was taken)
    u16 wlan_last_mask = 0;
    u8 wlan_checked = 0;
    u32 wlan_tick = 0;                   // tick of the last link-state look
    static constexpr u32 kLinkWatchTicks = 10;

    // --- search sweeps and link watch (manager thread) ---
    std::atomic<u32> searched_mask{0};
    u16 netport_card_result = 0;         // under port_path_mutex
    u8 link_fault[2] = {};
    u8 relock_step[2] = {};
    u16 relock_polls[2] = {};

    // --- running-time log ---
    clock_record_run m_clock_record;
    u8 clock_record_initialised = 0;

    rcvRecovery* m_rcvRecovery = nullptr;
    QList<QString> upgrade_files;        // USB upgrade worker
    QString upgrade_path;

    // --- shadow images ---
    static u8* MCU_REG_func[2];
    static u8* MCU_RAM_PARA_func[2];
    static u8* MCU_RAM_RX_func[2];
    static u8* MCU_RAM_TX_func[2];
    static u8* MCU_RAM_ETH_PARA_func[2];
    static u8* MCU_RAM_ETH_BACK_PARA_func[2];
    static u8 MCU_RAM_CMD[1024];
    static u8 MCU_RAM_EXTEND[1024];
    static u8 MCU_RAM_ZOOM[1024];
    static u8 MCU_RAM_DEFAULT[2048];
    // The RAM images above are filled from the FPGA and pushed to it by the manager and by
    // every PC link at once: a transfer reads into and sends from a copy of its own, and an
    // image changes, or is copied whole, only under this lock.
    static std::mutex ram_image_mutex;

private:
    enum class Transfer { RegisterWrite, RegisterRead, RamWrite, RamRead };
    u8 transfer(int fpga, u32 command, Transfer kind, unsigned char* data, unsigned int len);
    // What a register-0 byte the FPGA took says: the screen state, its byte in the
    // extension RAM, output enable, the size-change latch.
    void register0_taken(u8 byte);
    u8 masked_write(int reg, u8 mask, u8 value, int fpga, bool withBlock);
    // Stores word (non-zero: dark) as the screen's dark word if it holds expect (-1:
    // whatever it holds); what it held, or -1 with no parameter block.
    int set_screen_dark_word(u16 word, int expect = -1);
    static bool screen_word_dark();
    void job_pc_pause();
    void card_job_pc_pause();
    void card_job_animate(int which);
    // Back on the screen asked the job to end: it is ended, its ring told 100; true then.
    bool card_job_cancelled(int which);
    void set_recovery_list(const QStringList& list);
    void check_deal_step(u8 mode);
    mutable std::mutex rcv_list_mutex;
    QStringList rcv_list;
    u8 rcv_list_flag = 0;
    // Receive path: one pair's ready bit, its answer (length registers, then the receive
    // RAM into out; the length, 0 when it could not be read) and its acknowledge.
    bool pair_ready(u8 fpga, int pair) const;
    unsigned read_pair_answer(u8 fpga, int pair, u8* out);
    void acknowledge_pair(u8 fpga, int pair);
    void store_card_count(u8 fpga, int port, u16 count, u8 flag);
    // A passthrough answer that came in on port (16 f + 4 group + port bits; -1 for the
    // gathered all-port answer): to the request it answers, else dropped.
    void deliver_passby(const u8* answer, unsigned len, int port);
    // Puts a request out for link (due: the number of the due request it is, 0 none); true
    // when a packet goes to the cards, at once or once its transmitters allow.
    bool send_passby(u32 length, unsigned char* frame, u32 due = 0);
    // Ends a wait that ran out, sends what waits for a transmitter as far as the
    // transmitters allow, and then puts the next kept request out in turn. Never waits:
    // called by the links and by the manager's tick, which polls the busy transmitters.
    void service_passby();
    // Sends what waits in passby.outgoing, oldest first on each port, as far as the
    // transmitters allow.
    void put_passby_out();
    // The packet into the port's transmit RAM and started (the port checked by the caller).
    void put_to_port(unsigned char* buf, unsigned int len, int port, int fpga);
    void zero_card_entry(int port);
    void output_refresh_step();
    void save_or_mapping_step(bool save);

    // The areas the shadow tables point into, back to back per table.
    u8 reg_area[2][kRegCount] = {};
    u8 ram_para_area[2][kRamSize] = {};
    u8 ram_rx_area[2][kRamSize] = {};
    u8 ram_tx_area[2][kRamSize] = {};
    u8 eth_para_area[2][kEthParaSize] = {};
    u8 eth_back_para_area[2][kEthParaSize] = {};
};
