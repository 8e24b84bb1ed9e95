#pragma once
// The device's parameter object: the 4096-byte parameter block (also the PC's RAM address
// space: PC address A is byte A of the block), the copy of the block as last saved, the
// sixteen user-mode slots and the controller register image. All multi-byte fields are
// little-endian; use the get16/put16 helpers, never casts over the bytes.

#include <QObject>
#include <atomic>
#include <functional>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>
#include <string>

// One input crop as handed to and from the crop operations. In the block it is a 10-byte
// record of 16-bit words: id (bit 15 in use, bits 8-14 crop number - 1, bits 0-7 input
// port), x, y, width, height.
struct CROP_PARA {
    int id;
    int x;
    int y;
    int width;
    int height;
};

// Used crop numbers per input port 0-5: five bytes per port, bit b of byte j set when the
// port has an in-use crop numbered 8j + b + 1. Rebuilt by KelRamPara::KelCropSourceInit.
constexpr int kCutSourcePorts = 6;
constexpr int kCutSourceBytesPerPort = 5;
extern uint8_t g_cut_source_state[kCutSourcePorts * kCutSourceBytesPerPort];

// The built-in default image: bytes 0-1 the marker 0xAA 0xAA, byte 2 + k the default of
// block byte 768 + k (k = 0..3327), bytes 3330-4095 zero.
extern const uint8_t (&default_para_ramlist)[4096];

class KelRamPara : public QObject {
    Q_OBJECT
public:
    // --- sizes ---
    static constexpr int kRamSize = 4096;
    static constexpr int kModeSlots = 16;
    static constexpr int kModeSlotSize = 4098;
    static constexpr int kModeFileSize = 4096;
    static constexpr int kRegImageSize = 1064;

    // --- block offsets shared by the subsystems ---
    static constexpr int kInputStatus = 256;       // 6 x (width, height, rate), input i at 256 + 6i
    static constexpr int kSavedStart = 768;        // bytes 768-4095 are saved in the file
    static constexpr int kSavedLength = kRamSize - kSavedStart;   // 3328
    static constexpr int kLanguage = 768;          // u8 language, 769 its companion byte
    static constexpr int kKeyLock = 772;
    static constexpr int kWifiOff = 774;
    static constexpr int kTestPattern = 864;       // u8
    static constexpr int kCurrentMode = 866;       // u16 1-16, 0 none
    static constexpr int kModeSaveRequest = 868;   // u16 1-16, 0 none
    static constexpr int kModeArea = 896;          // 896-4095 is what a user mode stores
    static constexpr int kModeAreaLength = kRamSize - kModeArea;  // 3200
    static constexpr int kEdid = 896;              // 6 x (width, height, rate), input i at 896 + 6i
    static constexpr int kPanelMode = 0x560;       // 1376
    static constexpr int kLedWidth = 1378;
    static constexpr int kLedHeight = 1380;
    static constexpr int kCropRecords = 0x5C0;     // 1472, 40 x 10 bytes
    static constexpr int kCropCount = 40;
    static constexpr int kCropRecordSize = 10;
    static constexpr int kAudioWindow = 0x840;     // 2112
    static constexpr int kScreenDark = 0x844;      // 2116
    static constexpr int kOsdOn = 0x84C;           // 2124
    static constexpr int kBrightness = 0x880;      // 2176
    static constexpr int kLayerPriority = 0x8A0;   // 2208
    static constexpr int kLayers = 0x8E0;          // 2272, 6 x 26 bytes
    static constexpr int kLayerCount = 6;
    static constexpr int kLayerSize = 26;
    static constexpr int kLayerFlags = 0;          // bit 0 enabled
    static constexpr int kLayerAttribute = 4;
    static constexpr int kLayerSource = 8;         // bit 15 set: low byte = crop record index
    static constexpr int kLayerWindow = 10;        // x, y, width, height
    static constexpr int kLayerOutput = 18;        // bit 0 black, 1 freeze, 2 fade, 8 DBD
    static constexpr int kLayerVolume = 20;
    static constexpr int kLayerSound = 21;         // bit 7 sound on
    static constexpr int kLayerDbd = 22;
    static constexpr int kWindowEntries = 0xB00;   // 2816, 16 x 4 bytes
    static constexpr int kSlotOsdOn = kOsdOn - kModeArea + 2;     // 1230: OSD word in a slot

    static KelRamPara* pInstance();
    static KelRamPara* p_kelrampara_config;

    // Zero-filled; pInstance() loads the block, cleans it up and loads the slots.
    explicit KelRamPara(QObject* parent = nullptr);
    ~KelRamPara() override;   // waits for the user-mode files asked for

    // --- members ---
    std::mutex mutex;                              // the input-status bytes 256-291 of ram
    uint8_t ram[kRamSize];                         // the live block
    uint8_t ram_backup[kRamSize];                  // the block as last saved
    uint8_t mode_slot[kModeSlots][kModeSlotSize];  // marker, block 896-4095, 896 spare bytes
    uint8_t reg_image[kRegImageSize];              // the controller register image
    // 1 from a PC write into the stored bytes (768 on) until the scaler's next apply (the PC
    // asks for it with register 11). Until then the saved copy must not take the written bytes
    // in, or the scaler, which applies what differs from the copy, would never apply them.
    std::atomic<uint8_t> pc_edit_pending{0};
    // 1 while the scaler programs the chip from the copy it took for an apply: the saved copy
    // must not take the block in until that apply is known to have been done.
    std::atomic<uint8_t> scaler_applying{0};
    // The block as the scaler last programmed the chip from it, counted per apply, and the
    // count a save last stored: while an edit waits for an apply, a save stores this, so that
    // what was applied (and answered stored) reaches the file without the waiting edit.
    // Written under lock_block().
    uint8_t ram_applied[kRamSize] = {};
    uint32_t applied_count = 0, applied_saved = 0;
    // 1 from a PC write into the current-mode word (866) until the apply that looks at it
    // (register 11): only such a write asks for a recall. Written under lock_block().
    uint8_t mode_recall_asked = 0;
    // What a mode save, a recall or the end of a mode sets of the current-mode word (866)
    // and the save request (868) is set in the live block, the applied copy and the saved
    // copy alike: the apply, the save and the screens compare those words between them, and
    // a word set in one copy only reads as a request nobody made. Counted, so that the next
    // save stores them though nothing else differs. current or request -1: left as it is.
    // Call under lock_block().
    void set_mode_words_locked(int current, int request);
    uint32_t mode_words_set = 0, mode_words_saved = 0;

    // --- little-endian access ---
    static uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
    static void put16(uint8_t* p, uint16_t v)
    {
        p[0] = uint8_t(v & 0xFF);
        p[1] = uint8_t(v >> 8);
    }
    uint16_t ram16(int offset) const { return get16(ram + offset); }

    // --- change notification ---
    // Emits sig_update_para(code) under Utils::_test_signal_mutex; returns 1. Any thread.
    // With merge_notes set, a code 0-31 whose last notification the consumer has not taken
    // yet (take_note) is merged into it rather than queued again: its handler reads the
    // block as it then is, so a burst of applies costs one refresh and one save, not one each.
    int test_signal(int code);
    void take_note(int code);   // the consumer, first in its handler
    std::atomic<bool> merge_notes{false};
    std::atomic<uint32_t> notes_waiting{0};   // bit per code
    int ram_para_save();                           // test_signal(1)

    // The lock under which the block's settings, the user-mode slots and the register image
    // are edited and read across threads. It is held for an edit or a copy only, never
    // across a wait: the scaler manager programs the chip from its own copy of the block,
    // so the screens and the PC links are never held up by the chip's frames.
    static std::unique_lock<std::mutex> lock_block();
    static std::unique_lock<std::mutex> lock_block(std::try_to_lock_t);   // owns_lock() says if taken

    // The live block and the saved copy as they stood at one moment, for a reader that must
    // not hold the block's lock while it works (the screens draw, read files and take the
    // lock again for their own edits). Taken under lock_block() and, for the input-status
    // bytes, under mutex as well; call with neither held.
    struct BlockCopy {
        uint8_t ram[kRamSize];
        uint8_t saved[kRamSize];
        uint16_t ram16(int offset) const { return get16(ram + offset); }
        bool changed16(int offset) const { return get16(ram + offset) != get16(saved + offset); }
    };
    void copy_block(BlockCopy& out);
    // The same copy for a caller that holds lock_block() already.
    void copy_block_locked(uint8_t ram_out[kRamSize], uint8_t saved_out[kRamSize]);
    // An edit of the block the scaler has not applied yet: its apply flag raised, or a PC
    // write still waiting for the PC's apply command. Call under lock_block().
    bool apply_pending() const;
    // The scaler's apply on its way (its flag raised, or one under way), which notifies once
    // done; a PC write waiting for an apply command may wait for ever. Call under lock_block().
    bool apply_coming() const;
    // One word of the block read under lock_block(); call without it.
    uint16_t locked16(int offset)
    {
        std::unique_lock<std::mutex> block = lock_block();
        return ram16(offset);
    }
    // Bytes offset .. offset + n - 1 of the live block (the saved copy when `saved`), copied
    // as copy_block copies them; call without either lock. Nothing outside the block.
    void copy_bytes(int offset, uint8_t* out, int n, bool saved = false);
    // Whether bytes offset .. offset + n - 1 differ from the saved copy, under the locks.
    bool changed_bytes(int offset, int n);

    // --- PC writes (take the block's lock while copying; call without it) ---
    // 1 and nothing written when address + length passes 4096, else 0.
    [[nodiscard]] int KelRamParaDeal(const uint8_t* data, uint16_t length, uint32_t address);
    // address = M << 12 | O, M = user mode 1-16, O = byte of its slot; 1 for another M or a
    // write past the end of the 4098-byte slot, else 0. The slot file is not written here.
    [[nodiscard]] int KelModeUserRamParaDeal(const uint8_t* data, uint16_t length, uint32_t address);

    // --- parameter file and user-mode files (take the block's lock; call without it) ---
    // Op 1 deletes the mode's files first; then the slot is loaded from its file. 1 when the
    // file was read, 0 when there is none (the slot is then marked empty, 0xFF 0xFF).
    [[nodiscard]] int mode_file_deal(int slot, int op);
    // Writes slot 0-15 to its file (marker set to 0xAA 0xAA); flag 0 also copies the OSD
    // overlay file (first) when the live block's overlay word is 1. 1 on success, else 0.
    [[nodiscard]] int mode_file_write(int slot, int flag);
    // The same with the caller's hold of the mode files' lock (lock_mode_files), taken before
    // it filled the slot: it is let go before the settling pause once the file is written, and
    // kept when the write failed (the slot is then put back under it).
    [[nodiscard]] int mode_file_write(int slot, int flag, std::unique_lock<std::recursive_mutex>& files);
    // The lock a reset of the user modes and every mode file's write take: a save that fills a
    // slot and writes its file under it has a reset before or after the whole of it, never in
    // between. Taken without the block's lock (which is taken inside it).
    static std::unique_lock<std::recursive_mutex> lock_mode_files();
    // A PC's resynchronisation: every slot's file rewritten (marker 0xAA) or removed (0xFF),
    // one after another with its pause, on the store thread; returns at once.
    void mode_files_resync();
    // Until the stores asked for so far are done: the mode files and the block's saves.
    static void wait_mode_files();
    // A PC's reset of the user modes: every mode file goes and every slot is marked empty, as
    // one step under the mode files' lock, so a re-sync running meanwhile writes no file after
    // it and sees the slots empty. false when the files could not all be removed.
    [[nodiscard]] bool reset_user_modes();
    // Rewrites "/data/ram_device_info" from the default image and reloads block 768-4095
    // from it; the saved copy is left as it was, so that the next notification takes the
    // changes in and stores the block. 0 on success, 1 when the file could not be written
    // (the block then holds the defaults).
    [[nodiscard]] int ram_para_reset();
    // The one save path of the parameter file (SyncUpdate's change handler calls it): stores
    // the live block when no edit waits for the scaler's apply, else what the scaler last
    // applied (when not saved yet); the edit waiting stays a difference, saved after its
    // apply. When block bytes 768-4095 of that differ from the saved copy, writes the whole
    // file (temporary file, flush, rename) and refreshes the saved copy. 1 saved, 0 nothing
    // to save, -1 the write failed (the copy is unchanged, so the next notification retries).
    [[nodiscard]] int ram_para_file_save();
    // The same save in two steps: what is to be stored, taken on the caller's thread (false:
    // nothing to save; always taken while an earlier one is still to be written, whose
    // write the saved copy does not hold yet), and its write.
    struct BlockSnapshot {
        std::vector<uint8_t> bytes;
        uint32_t applied = 0, words = 0;
        bool whole = false;   // the live block, not only what was applied
    };
    [[nodiscard]] bool block_save_snapshot(BlockSnapshot& s, bool earlierUnwritten);
    [[nodiscard]] int block_save_write(const BlockSnapshot& s);
    // The save made on the store thread, from the block as it is then; returns at once.
    void block_save_request();
    // What a notification asks to be stored, on the store thread, in this order: a user-mode
    // save (modeSave: 0 done or nothing to do, 1 not stored, 2 waits for an apply), a re-sync
    // of the mode files, the block's save. `covers`: the PC edits the applies notified so far
    // took (stores_applied()); they are answered once that pass is on disc.
    void store_request(std::function<int()> modeSave, bool resync, bool block, uint64_t covers);

    // --- commands answered once what they stored is on disc ---
    // What an edit's answer waits for: the parameter file always; the user-mode files'
    // re-sync when the command asked for one; the user-mode save when its PC's save request
    // (RAM 868) waits as the edit is made.
    enum StoreNeed : unsigned { kNeedBlock = 1, kNeedResync = 2, kNeedModeSave = 4 };
    // A PC's edit that the scaler's next apply takes (made under lock_block(), which the
    // caller holds, with the apply flag raised under it): `done` gets 0 once the stores it
    // needs, made after its apply, are on disc (written, flushed, renamed, synced), 1 when
    // one of them failed or the object goes first. Called from the store thread; it must not
    // wait.
    using StoreDone = std::function<void(int status)>;
    // `modeSave`: the PC asked for the user-mode save (RAM 868) this apply carries out: the
    // edit is answered 1 unless the slot the word named after the PC's write was saved since
    // (the save failed, or the word is one for every PC and another PC wrote it over first).
    struct ModeSaveAsk {
        int slot;            // the slot the word named after its write, -1 for none
        uint32_t saved;      // mode_slot_saves[slot] then
    };
    // `written`: the slots the PC wrote for a re-sync to store, each with slot_dropped as its
    // write found it: a re-sync that dropped one since (its file not written, the slot set
    // back to the file) answers the edit 1, whichever pass it was.
    void await_store_locked(StoreDone done, bool resync = false, std::optional<ModeSaveAsk> modeSave = std::nullopt, std::vector<std::pair<int, uint32_t>> written = {});
    // Counted per slot each time a re-sync could not write the slot's file and set the slot
    // back to what the file holds (a PC's write of it dropped).
    std::atomic<uint32_t> slot_dropped[kModeSlots] = {};
    // Counted per slot each time a user-mode save request stored the slot's file.
    std::atomic<uint32_t> mode_slot_saves[kModeSlots] = {};
    // The edits awaited so far that an apply has taken (the scaler sets it after each apply,
    // under lock_block()); read without the lock held.
    uint64_t stores_applied();
    uint64_t store_asked = 0, applied_asked = 0;   // under lock_block()
    // What one store pass did of each store: kStoreOk, kStoreFailed, or kStoreNotDone (not
    // made in this pass, or waiting for an apply): an edit needing one not done waits on.
    enum StoreOutcome : int { kStoreOk = 0, kStoreFailed = 1, kStoreNotDone = 2 };
    struct StorePass {
        int block = kStoreNotDone, resync = kStoreNotDone, modeSave = kStoreNotDone;
    };
    // Answers the edits up to `upTo` whose stores this pass made, each with what its own
    // stores did; the rest wait on.
    void stores_done(uint64_t upTo, const StorePass& pass);
    // Every edit still waiting answered 1 (the object goes).
    void stores_failed_all();
    // A user-mode save request (RAM 868) that no save has carried out yet, in the live block
    // or in what the scaler last applied. Call under lock_block().
    bool mode_save_waiting() const;
    // The request the scaler's last apply took, not carried out yet: saved from that apply's
    // copy while only PC writes wait for an apply, so that none of them holds it back.
    bool applied_save_waiting() const;
    size_t stores_waiting();

    // "/data/modes/custom_mode<N>" and "/data/modes/MO<nn>.json" of user mode N (1-16).
    static std::string mode_file_name(int mode);
    static std::string mode_osd_file_name(int mode);

    // --- crop bitmap and lookups ---
    // The bitmap is the screens' own (GUI thread); KelCropSourceInit, KelGetSourceNum and
    // KelGetCropPara read the crop records under the block's lock: call them without it.
    void KelCropSourceInit();
    int KelGetCropID(int port, int k);
    int KelAddCropID(int port);
    int KelGetSourceNum(int port, int n);
    // Index 40 and a zeroed crop when the port has no k-th crop.
    void KelGetCropPara(int port, int k, CROP_PARA* crop, int* index);

    // --- crop edits (under the block's lock) ---
    [[nodiscard]] int KelAddNewCrop(int port, CROP_PARA* crop);   // 0 added, 1 nothing changed
    void KelSetCropPara(char port, char k, CROP_PARA* crop);
    void KelDeleteCrop(char port, char k);

    // --- layer source, freeze and black ---
    // mode 0: image is the live block; mode 1: image is a slot's stored part (slot byte 2).
    int KelGetImageSource(const uint8_t* image, uint8_t layer, int16_t* is_crop, char* crop_index, uint8_t mode);
    // The same for the live block, read under the block's lock: call without it.
    int live_image_source(uint8_t layer, int16_t* is_crop, char* crop_index);
    void KelSetImageSource(int k, char port, char layer);
    void KelSetImageFreeze();
    void KelSetImageBlack();
    int KelSourceId_is_on(unsigned char device);

    // --- EDID request, language, user modes ---
    void KelSetEDIDPara(int input, short width, short height, short rate);
    // 1 when the language differs from the saved copy (a disabled one is replaced by the
    // first enabled). Takes the block's lock: call without it.
    int KelLanguageChanged();
    // These three take the block's lock: call without it.
    int KelUserModeSaved(int slot);
    int KelGetCurrentModeIndex();
    int KelUserModeIndex(char start, char direction);   // 0-15, or 256 when none

signals:
    void sig_update_para(int code);

private:
    struct StoreWait {
        uint64_t edit;
        unsigned needs;
        StoreDone done;
        std::vector<std::pair<int, uint32_t>> written;
        int modeSlot;             // the slot its PC's request named, -1 for none
        uint32_t modeSlotSaved;   // mode_slot_saves[modeSlot] then
    };
    std::mutex store_waits_mutex;   // taken inside lock_block(), never the other way
    std::vector<StoreWait> store_waits;
    void loadParameterFile();
    bool recreateParameterFile();
    void startupCleanup();
    void setRegisterStartValues();
    int findCropRecord(int port, int k);
    void crop_bitmap_from_records();   // KelCropSourceInit without the lock
};
