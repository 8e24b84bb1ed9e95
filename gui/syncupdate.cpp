#include "gui/syncupdate.h"

#include "board/Clock.h"
#include "board/Files.h"
#include "board/Keypad.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "gui/check_hiddev.h"
#include "gui/kel_screens.h"
#include "gui/mainwindow.h"
#include "gui/numberkeyboard.h"
#include "gui/tip.h"

#include <QDebug>
#include <QMetaObject>
#include <functional>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

SyncUpdate* SyncUpdate::p_SyncUpdate = nullptr;

namespace {
using P = KelRamPara;

bool window_enabled(const uint8_t* block, int window)
{
    if (window < 0 || window >= P::kLayerCount)
        return false;
    return (P::get16(block + P::kLayers + P::kLayerSize * window + P::kLayerFlags) & 1) != 0;
}

// The page's screen may already be gone (a key handler closed it while this notification
// waited in the queue): every pointer is checked before use.
template <typename T>
bool refresh(T* screen)
{
    if (!screen)
        return false;
    screen->syncUpdate();
    return true;
}

template <typename T>
bool refresh(T* screen, int code)
{
    if (!screen)
        return false;
    screen->syncUpdate(code);
    return true;
}

void usb_toasts(int code)
{
    if (!g_tip)
        return;
    if (code == 100) {
        KEL_TRACE("\n yes ,got the usb in");
        g_tip->tip_create(3);
    } else if (code == 101) {
        KEL_TRACE("\n yes ,got the usb out");
        g_tip->tip_create(4);
    } else if (code == 102) {
        g_tip->tip_create(5);
    }
}

// An edit of the block that the scaler has not applied yet: its apply flag is raised under
// the block's lock by every writer, and taken by the scaler, with its copy of the block,
// under that lock; an apply in progress counts as pending until it is done.
class ApplyGate {
public:
    ApplyGate() : lock_(KelRamPara::lock_block()) {}
    bool pending() const
    {
        const KelRamPara* p = KelRamPara::p_kelrampara_config;
        return p && p->apply_pending();
    }

private:
    std::unique_lock<std::mutex> lock_;
};
} // namespace

SyncUpdate* SyncUpdate::pInstance()
{
    if (!p_SyncUpdate)
        p_SyncUpdate = new SyncUpdate();
    return p_SyncUpdate;
}

SyncUpdate::SyncUpdate(QObject* parent) : QObject(parent)
{
    std::memset(keyLed, 0, sizeof(keyLed));
}

void SyncUpdate::para_sync(int code)
{
    // What is changed from here on is notified anew; what was changed before is read below.
    KelRamPara::pInstance()->take_note(code);
    // 1. The picture-layout screen keeps its own selection; elsewhere a disabled window
    //    cannot stay selected.
    if (g_page_focus != 9) {
        KelRamPara* p = KelRamPara::pInstance();
        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
        if (!window_enabled(p->ram, g_image_current))
            g_image_current = 0;
    }
    // 2. Keypad LEDs.
    if (g_kel_keys)
        update_usb_keyLed();
    // 3. A firmware transfer starting or ending changes nothing else.
    if (code == 105 || code == 106)
        return;
    // 4. The current screen compares the block with the saved copy, so it runs before the
    //    copy is refreshed. A new language re-texts every screen there is first: those
    //    beneath the page in front (the main menu, an opener, the keypad) show again later
    //    without a notification of their own.
    if (KelRamPara::pInstance()->KelLanguageChanged())
        retext_screens();
    refresh_page(code);
    // 5.-7.
    request_stores(code);
    // The user-mode screen and the main menu's user-mode bar draw the slots (a PC's write
    // of a slot, the panel's own save); a save made on the store thread draws them again.
    slots_changed();
    // 8.
    if (g_page_focus == 10 && g_tip)
        g_tip->tip_create(1);
    // 9.
    if (code == 3) {
        network_defaults();
        // The pages that show the address were drawn above, before the reset took it back.
        if (g_page_focus == 0 || g_page_focus == 1 || g_page_focus == 22)
            refresh_page(code);
    }
}

void SyncUpdate::request_stores(int code)
{
    // The user-mode save request, the mode files' re-sync (code 2) and the block's save, on
    // the store thread in that order, so that what the first two set goes into the same
    // write. The PC edits the applies notified so far took are answered once that is on disc.
    const uint64_t covers = KelRamPara::pInstance()->stores_applied();
    if (code == 2)
        clear_stale_save_request();
    std::function<int()> modeSave;
    bool asked;
    {
        KelRamPara* p = KelRamPara::pInstance();
        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
        asked = p->ram16(P::kModeSaveRequest) != 0 || p->applied_save_waiting();
    }
    if (asked)
        modeSave = [] { return SyncUpdate::save_user_mode_request(); };
    KelRamPara::pInstance()->store_request(std::move(modeSave), code == 2, true, covers);
}

namespace {
template <typename T>
void retext(T* screen)
{
    if (screen)
        screen->language_changed();
}
} // namespace

void SyncUpdate::retext_screens()
{
    retext(g_mainwindow);
#ifdef KEL_HAVE_LOCKWINDOW
    retext(g_lockwindow);
#endif
#ifdef KEL_HAVE_MACHINESTATE
    retext(g_machinestate);
#endif
#ifdef KEL_HAVE_INPUTCHOOSE
    retext(g_inputchoose);
#endif
#ifdef KEL_HAVE_CUSTOMMODE
    retext(g_custommode);
#endif
#ifdef KEL_HAVE_OPTION
    retext(g_option);
#endif
#ifdef KEL_HAVE_OUTPUTSET
    retext(g_outputset);
#endif
#ifdef KEL_HAVE_INPUTCUT
    retext(g_inputcut);
#endif
#ifdef KEL_HAVE_EDIDSET
    retext(g_edidset);
#endif
#ifdef KEL_HAVE_IMAGELAYOUT
    retext(g_imagelayout);
#endif
#ifdef KEL_HAVE_LINKOPTION
    retext(g_linkoption);
#endif
#ifdef KEL_HAVE_IMAGEQUALITY
    retext(g_imagequality);
#endif
#ifdef KEL_HAVE_ADVANCEDOPTION
    retext(g_advancedoption);
#endif
#ifdef KEL_HAVE_LEDSET
    retext(g_ledset);
#endif
#ifdef KEL_HAVE_NETSET
    retext(g_netset);
#endif
#ifdef KEL_HAVE_LCDSHOW
    retext(g_lcdshow);
#endif
#ifdef KEL_HAVE_TEST_CHART
    retext(g_test_chart);
#endif
#ifdef KEL_HAVE_OTHERSETUP
    retext(g_othersetup);
#endif
#ifdef KEL_HAVE_FACTORY
    retext(g_factory);
#endif
#ifdef KEL_HAVE_QUALITY
    retext(g_quality);
#endif
#ifdef KEL_HAVE_TEMPERATURE
    retext(g_temperature);
#endif
#ifdef KEL_HAVE_LINKCOM
    retext(g_linkcom);
#endif
#ifdef KEL_HAVE_LINKWLAN
    retext(g_linkwlan);
#endif
#ifdef KEL_HAVE_FACTORYAGE
    retext(g_factoryage);
#endif
#ifdef KEL_HAVE_SMARTMAPPING
    retext(g_smartmapping);
#endif
#ifdef KEL_HAVE_RCV_RECOVERY
    retext(g_rcv_recovery);
#endif
    // Last: an open keypad's title may be its opener's caption, re-texted above.
    retext(g_numberkeyboard);
}

void SyncUpdate::refresh_page(int code)
{
    const int page = g_page_focus;
    bool done = false;
    switch (page) {
    case 0:
#ifdef KEL_HAVE_LOCKWINDOW
        done = refresh(g_lockwindow);
#endif
        break;
    case 1:
        if (g_mainwindow) {
            g_mainwindow->syncUpdate();
            done = true;
            if (g_mainwindow->tip_pending) {
                g_mainwindow->tip_pending = 0;
                if (g_tip)
                    g_tip->tip_create(1);
            }
        }
        break;
    case 2:
#ifdef KEL_HAVE_MACHINESTATE
        done = refresh(g_machinestate, code);
#endif
        break;
    case 3:
#ifdef KEL_HAVE_INPUTCHOOSE
        done = refresh(g_inputchoose, code);
#endif
        break;
    case 4:
#ifdef KEL_HAVE_CUSTOMMODE
        done = refresh(g_custommode);
#endif
        break;
    case 5:
#ifdef KEL_HAVE_OPTION
        done = refresh(g_option);
#endif
        break;
    case 6:
#ifdef KEL_HAVE_OUTPUTSET
        done = refresh(g_outputset);
#endif
        break;
    case 7:
#ifdef KEL_HAVE_INPUTCUT
        done = refresh(g_inputcut, code);
#endif
        break;
    case 8:
#ifdef KEL_HAVE_EDIDSET
        done = refresh(g_edidset);
#endif
        break;
    case 9:
#ifdef KEL_HAVE_IMAGELAYOUT
        done = refresh(g_imagelayout);
#endif
        break;
    case 10:
#ifdef KEL_HAVE_LINKOPTION
        done = refresh(g_linkoption);
#endif
        if (g_tip)
            g_tip->tip_create(1);
        break;
    case 11:
#ifdef KEL_HAVE_IMAGEQUALITY
        done = refresh(g_imagequality);
#endif
        break;
    case 12:
#ifdef KEL_HAVE_ADVANCEDOPTION
        done = refresh(g_advancedoption);
#endif
        break;
    case 13:
#ifdef KEL_HAVE_LEDSET
        done = refresh(g_ledset);
#endif
        break;
    case 14:
#ifdef KEL_HAVE_NETSET
        done = refresh(g_netset);
#endif
        break;
    case 15:
#ifdef KEL_HAVE_LCDSHOW
        done = refresh(g_lcdshow);
#endif
        break;
    case 16:
#ifdef KEL_HAVE_TEST_CHART
        done = refresh(g_test_chart);
#endif
        break;
    case 17:
#ifdef KEL_HAVE_OTHERSETUP
        done = refresh(g_othersetup);
#endif
        break;
    case 18:
#ifdef KEL_HAVE_FACTORY
        done = refresh(g_factory);
#endif
        break;
    case 19:
#ifdef KEL_HAVE_QUALITY
        done = refresh(g_quality);
#endif
        break;
    case 20:
#ifdef KEL_HAVE_TEMPERATURE
        done = refresh(g_temperature);
#endif
        break;
    case 21:
#ifdef KEL_HAVE_LINKCOM
        done = refresh(g_linkcom);
#endif
        break;
    case 22:
#ifdef KEL_HAVE_LINKWLAN
        done = refresh(g_linkwlan);
#endif
        break;
    case 23:
#ifdef KEL_HAVE_FACTORYAGE
        done = refresh(g_factoryage);
#endif
        break;
    case 24:
#ifdef KEL_HAVE_SMARTMAPPING
        done = refresh(g_smartmapping, code);
#endif
        usb_toasts(code);
        break;
    case 25:
#ifdef KEL_HAVE_RCV_RECOVERY
        done = refresh(g_rcv_recovery, code);
#endif
        break;
    case 26:
#ifdef KEL_HAVE_FIRMWARE_USBGRADE
        done = refresh(g_firmware_usbgrade, code);
#endif
        usb_toasts(code);
        break;
    default:
        break;
    }
    // A page without a screen to refresh still takes a language change in.
    if (!done)
        KelRamPara::pInstance()->KelLanguageChanged();
}

int SyncUpdate::save_user_mode_request()
{
    KelRamPara* p = KelRamPara::pInstance();
    int slot = -1;
    std::vector<uint8_t> before(P::kModeSlotSize);
    uint16_t currentBefore[3] = {};   // the live, applied and saved copies' word
    // The slot is filled and its file written under the mode files' lock, which a PC's reset
    // of the user modes takes too: the reset falls before the slot's copy or after its file,
    // and a mode it removed never comes back. Taken outside the block's lock, as everywhere.
    std::unique_lock<std::recursive_mutex> files = KelRamPara::lock_mode_files();
    {
        ApplyGate gate;
        // What the chip shows is stored. An apply on its way notifies again once done; PC
        // writes that wait for their apply command, which may never come, are not shown: the
        // request the last apply took is carried out from that apply's copy.
        const bool applied = gate.pending() && !p->apply_coming() && p->applied_save_waiting();
        const uint8_t* from = applied ? p->ram_applied : p->ram;
        const uint16_t n = P::get16(from + P::kModeSaveRequest);
        if (n == 0)
            return 0;
        if (n > P::kModeSlots) {
            // Names no slot: dropped, so that it is neither retried nor saved.
            P::put16(p->ram + P::kModeSaveRequest, 0);
            KEL_TRACE("\n user mode save request %u ignored\n", unsigned(n));
            return 0;
        }
        if (n == P::get16(p->ram_backup + P::kModeSaveRequest))
            return 0;
        if (gate.pending() && !applied)
            return 2;
        slot = n - 1;
        std::memcpy(before.data(), p->mode_slot[slot], before.size());
        for (int c = 0; c < 3; ++c)
            currentBefore[c] = P::get16((c == 0 ? p->ram : c == 1 ? p->ram_applied : p->ram_backup) + P::kCurrentMode);
        p->mode_slot[slot][0] = 0xAA;
        p->mode_slot[slot][1] = 0xAA;
        std::memcpy(&p->mode_slot[slot][2], from + P::kModeArea, P::kModeAreaLength);
        // Set in every copy: in the live block alone the next apply would take the word for
        // a recall, and the saved copy would keep the request as one still to be done. A word
        // a PC wrote since that apply stays for its own apply.
        const uint16_t liveCurrent = p->ram16(P::kCurrentMode), liveRequest = p->ram16(P::kModeSaveRequest);
        const bool currentWritten = applied && liveCurrent != P::get16(p->ram_applied + P::kCurrentMode);
        p->set_mode_words_locked(n, 0);
        if (currentWritten)
            P::put16(p->ram + P::kCurrentMode, liveCurrent);
        if (applied && liveRequest != n)
            P::put16(p->ram + P::kModeSaveRequest, liveRequest);
    }
    const bool written = p->mode_file_write(slot, 0, files);
    uint8_t marker;
    {
        ApplyGate gate;
        if (written)
            ++p->mode_slot_saves[slot];
        else {
            // Not written: the slot stays as its file has it, and the operator is told.
            std::memcpy(p->mode_slot[slot], before.data(), before.size());
            p->set_mode_words_locked(-1, -1);
            for (int c = 0; c < 3; ++c)
                P::put16((c == 0 ? p->ram : c == 1 ? p->ram_applied : p->ram_backup) + P::kCurrentMode, currentBefore[c]);
        }
        marker = p->mode_slot[slot][0];
    }
    KEL_TRACE("\n user mode save change ,%#x \n", unsigned(marker));
    // The screens that draw the slots, and the operator's word, on the GUI thread. What it is
    // told goes by an atomic, not inside the posted call: the thread checker does not see
    // the queue's lock as ordering a captured value.
    if (!written)
        pInstance()->modeSavesFailed.fetch_add(1);
    QMetaObject::invokeMethod(pInstance(), "mode_save_shown", Qt::QueuedConnection);
    return written ? 0 : 1;
}

void SyncUpdate::mode_save_shown()
{
    if (modeSavesFailed.exchange(0) && g_tip)
        g_tip->tip_message(TIP::not_saved_text());
    slots_changed();
}

void SyncUpdate::slots_changed()
{
#ifdef KEL_HAVE_CUSTOMMODE
    if (g_page_focus == 4)
        refresh(g_custommode);
#endif
    if (g_page_focus == 1 && g_mainwindow)
        g_mainwindow->mode_bar_changed();
}

void SyncUpdate::clear_stale_save_request()
{
    // The save request word is cleared here when it is no request (the saved copy's own
    // word). One still waiting for its apply (the save request is carried out first, so a
    // request left here waits) stays: a PC waits for it.
    KelRamPara* p = KelRamPara::pInstance();
    std::unique_lock<std::mutex> block = KelRamPara::lock_block();
    const bool waiting = p->ram16(P::kModeSaveRequest) != P::get16(p->ram_backup + P::kModeSaveRequest);
    for (int i = 0; i < P::kModeSlots && !waiting; ++i)
        if (p->mode_slot[i][0] == 0xFF || p->mode_slot[i][1] == 0xFF)
            P::put16(p->ram + P::kModeSaveRequest, 0);
}

void SyncUpdate::network_defaults()
{
    // One replacement of the settings file; defaults not stored are not applied either.
    if (!Utils::network_defaults() && g_tip)
        g_tip->tip_message(TIP::not_saved_text());
}

void SyncUpdate::build_key_led(uint8_t report[5])
{
    // A copy: PC links write the block, the receivers the input status, on their threads.
    std::unique_ptr<P::BlockCopy> copy(new P::BlockCopy);
    KelRamPara::pInstance()->copy_block(*copy);
    const uint8_t* block = copy->ram;
    const int window = g_image_current;
    const bool enabled = window_enabled(block, window);
    report[0] = g_update_flag ? 0x5A : 0xA5;
    report[1] = 0;
    report[2] = 0;
    report[3] = 0;
    report[4] = 0;
    if (enabled) {
        if (window == 0)
            report[1] = 0x04;
        else if (window == 1)
            report[1] = 0x10;
        else if (window == 2)
            report[2] = 0x01;
        else if (window == 3)
            report[2] = 0x04;
    }
    if (window < 0 || window >= P::kLayerCount)
        return;

    int16_t is_crop = 0;
    char crop_index = 0;
    const int input = KelRamPara::pInstance()->KelGetImageSource(block, uint8_t(window), &is_crop, &crop_index, 0);
    if (input >= 0 && input <= 3) {
        const uint8_t* status = block + P::kInputStatus + 6 * input;
        const bool signal = P::get16(status) && P::get16(status + 2) && P::get16(status + 4);
        static const uint8_t kWith[4] = {0x04, 0x10, 0x40, 0x01};
        static const uint8_t kWithout[4] = {0x08, 0x20, 0x80, 0x02};
        report[3] = signal ? kWith[input] : kWithout[input];
    }
    const uint16_t output = P::get16(block + P::kLayers + P::kLayerSize * window + P::kLayerOutput);
    if (output & 0x02)
        report[4] |= 0x01;
    if (output & 0x01)
        report[4] |= 0x04;
}

void SyncUpdate::update_usb_keyLed()
{
    uint8_t report[5];
    build_key_led(report);
    if (std::memcmp(report, keyLed, sizeof(keyLed)) == 0)
        return;
    const int result = board::Keypad::writeReport(KEL_KEYPAD_VID, KEL_KEYPAD_PID, report, sizeof(report));
    if (result < 0) {
        // Not recorded as sent: the next notification tries again.
        qDebug("handle write error");
        return;
    }
    std::memcpy(keyLed, report, sizeof(keyLed));
    KEL_TRACE("\n report[1] = %#x report[2] = %#x report[3] = %#x report[4] = %#x\n", report[1], report[2],
              report[3], report[4]);
    KEL_TRACE("\n keyLed[0] = %#x keyLed[1] = %#x keyLed[2] = %#x keyLed[3] = %#x\n", keyLed[0], keyLed[1],
              keyLed[2], keyLed[3]);
}
