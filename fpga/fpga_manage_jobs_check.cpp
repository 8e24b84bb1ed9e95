// One state machine for three receiving-card jobs: the check of every card against the
// package in "/data/rcvrecovery" (job 5), the recovery of the card the check found (job 6)
// and the load of a standalone scan-parameter file into every card of a port (job 2).
// One state per pass of the manager loop; the operations themselves are carried out by
// the executor.

#include "fpga/fpga_manage.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/rcv_recovery_file.h"

#include <algorithm>

namespace {

enum : u8 {
    kCheckFpga = 0, kSettle = 1, kListFiles = 2, kReadEntries = 3, kCheckTypes = 4, kScreenHead = 5,
    kScreenRecord = 6, kRecoverLengths = 7, kNetNum = 8, kNetRecord = 9, kCardOperations = 10,
    kCardOperation = 11, kCardOperationRun = 12, kSendCheck = 13, kWaitCheck = 14, kNextNet = 15,
    kParaOperations = 17, kParaOperation = 18, kParaOperationRun = 19, kFinish = 33, kErrorEnd = 34,
    kErrorClose = 35
};

constexpr u8 kSubStart = 20;
constexpr u16 kNoAnswer = 65535;
constexpr u16 kAllMatch = 255;
constexpr u32 kCheckAnswerTicks = 500;
// The job counts ports and operations in bytes.
constexpr unsigned kCounterLimit = 255;

const char* const kPackagePath = "/data/rcvrecovery/DIVU";

void signalScreens(int code)
{
    if (KelRamPara* para = KelRamPara::p_kelrampara_config)
        para->test_signal(code);
}

} // namespace

void fpga_manage::rcv_recovery_check_deal(u8 mode)
{
    // Back on the screen ends the job at whatever it waits for, PC traffic included: it ends
    // the way a failed job does, and the ring closes at once.
    SEND_PARA& job = g_send_para;
    const u8 step = job.step.load();
    if (job.cancel.load() && step != kFinish && step != kErrorEnd && step != kErrorClose) {
        job.cancel = 0;
        KEL_TRACE("\n job ended from the front panel ");
        job.step = kErrorEnd;
        check_cancelled = 1;   // the user's own end: not reported as a failure
    } else if (pc_cmd_valid) {
        card_job_pc_pause();
        return;
    }
    check_deal_step(mode);
}

void fpga_manage::check_deal_step(u8 mode)
{
    SEND_PARA& job = g_send_para;
    rcvRecovery& file = *m_rcvRecovery;
    const bool recover = mode == RCV_RECOVERY;
    const bool load = mode == RCV_LOAD_SCAN;
    const int screen = load ? kProgressSmartMapping : kProgressRcvRecovery;
    const u32 now = G_timeTicks.load();

    auto show = [screen](int percent) { emit_progress(screen, percent); };
    auto waited = [] { return Utils::getTimeSpace(g_change[CHG_JOB_STAMP]); };
    // Waiting progress: 100 per 500 ticks, never the 100 that closes the ring.
    auto timeValue = [&] { return int(std::min<u32>(waited() * 100 / 500, 99)); };
    auto stateValue = [](int state) { return state * 100 / 35; };
    auto itemValue = [](unsigned i, unsigned n) { return int((i + 1) * 100 / (n + 1)); };
    auto restartAnimation = [&] {
        g_change[CHG_JOB_PROGRESS] = 0;
        g_change[CHG_JOB_STAMP] = now;
    };
    auto fail = [&](const char* message) {
        KEL_TRACE("%s", message);
        job.step = kErrorEnd;
    };
    // A counter held in a byte cannot walk a longer list.
    auto tooMany = [&](unsigned n, const char* what) {
        if (n <= kCounterLimit)
            return false;
        KEL_TRACE("\n %s: %u are more than the job can count \n", what, n);
        job.step = kErrorEnd;
        return true;
    };

    switch (job.step.load()) {
    case kCheckFpga:
        // No answer from an earlier job may count for this one.
        job.progress = kNoAnswer;
        check_config_valid = 0;
        check_cancelled = 0;
        job_incomplete = 0;
        check_timed_out = 0;
        file.release_file();
        if (!get_fpga_status()) {
            fail("\n there is a error about fpga!!! ");
            break;
        }
        job.step = kSettle;
        g_change[CHG_JOB_STAMP] = now;
        check_time_emitted = 0;
        KEL_TRACE("\n check rcv.... ");
        show(0);
        break;

    case kSettle: {
        if (waited() > 239) {
            job.step = kListFiles;
            break;
        }
        // The ring moves from 80 ticks on; a value is sent only when it changes.
        const int value = timeValue();
        if (waited() >= 80 && value != check_time_emitted) {
            check_time_emitted = u8(value);
            show(value);
        }
        break;
    }

    case kListFiles:
        if (!load) {
            if (file.get_dir_file("/data/rcvrecovery") != 0) {
                fail("\n check file error ");
                break;
            }
            if (file.rcv_file_list.size() != 1) {
                KEL_TRACE("\n more file error ");
                // A check that never ran must not read as "no card needs it", nor may a
                // recovery that cannot start clear the list as if it had run.
                job.step = kErrorEnd;
                break;
            }
            KEL_TRACE("\n recovery_files_nmae  %s  !/n", file.rcv_file_list.first().toStdString().c_str());
            file.file_path = kPackagePath;
            file.hold_file(file.file_path);
            // The one file may be named otherwise: the package is still looked for as DIVU,
            // and the entry reads that follow end the job when it is not there.
            if (file.get_rcvPackedFileNum(file.file_path) != 0)
                KEL_TRACE("\n no package header in %s \n", kPackagePath);
            g_change[CHG_JOB_STAMP] = now;
            show(timeValue());
            job.step = kReadEntries;
        } else {
            int missing = file.get_dir_file("/data/smartmapping");
            if (missing || file.smart_file_list.isEmpty())
                missing = file.get_dir_file("/mnt/usb1/");
            if (missing) {
                fail("\n check file error ");
                break;
            }
            if (file.smart_file_list.isEmpty()) {
                KEL_TRACE("\n more file error ");
                job.step = kErrorEnd;
                break;
            }
            file.init_para();
            // A name outside the two folders reads nothing: the operation count fails.
            file.file_path = chosen_kxfile();
            file.hold_file(file.file_path);
            KEL_TRACE("\n smart_files_nmae  %s  !/n", file.file_path.toStdString().c_str());
            g_change[CHG_JOB_STAMP] = now;
            show(timeValue());
            job.step = kParaOperations;
        }
        break;

    case kReadEntries: {
        // The table holds 6 entries; a package that announces more is read that far.
        const int entries = file.announced_entries();
        if (file.pack_head.file_num > entries)
            KEL_TRACE("\n package announces %d files, %d are read \n", file.pack_head.file_num, entries);
        for (int i = 0; i < entries; ++i) {
            if (file.get_rcvPackedFileInfo(file.file_path, i) != 0) {
                fail("\n check file error ");
                return;
            }
        }
        g_change[CHG_JOB_STAMP] = now;
        show(timeValue());
        job.step = kCheckTypes;
        break;
    }

    case kCheckTypes:
        job.progress = kNoAnswer;
        if (file.announced_entries() > 0 && !file.has_member(rcvRecovery::kScreenFile)) {
            KEL_TRACE("\n no file type error ");
            job.step = kErrorEnd;
            break;
        }
        job.step = kScreenHead;
        show(timeValue());
        break;

    case kScreenHead:
        KEL_TRACE("\n now in RECOVERY_RCV_GET_SCREEN_NUM ");
        if (file.update_rcvScreenHead(file.file_path) != 0) {
            fail("\n check screen net error ");
            break;
        }
        if (recover) {
            job.screen = recover_screen;
            KEL_TRACE("\n now start to  recovery screen%d ,net%d \n", recover_screen + 1, recover_net + 1);
            show(stateValue(kScreenHead));
        } else {
            job.screen = 0;
        }
        job.step = kScreenRecord;
        break;

    case kScreenRecord:
        if (file.update_rcvScreenIDinfo(file.file_path, job.screen) != 0) {
            fail("\n screen record error ");
            break;
        }
        if (recover && file.screen_info.config_id != recover_config_id) {
            fail("\n the listed screen is not in this package ");
            break;
        }
        if (recover) {
            job.step = kRecoverLengths;
            KEL_TRACE("\n now start to check file ....");
        } else {
            job.step = kNetNum;
            show(itemValue(job.screen, file.screen_head.screen_num));
        }
        break;

    case kRecoverLengths: {
        const RcvScreenInfo& s = file.screen_info;
        const bool entries = file.announced_entries() > 0;
        if (s.rcv_para_len == 0 && s.rcv_xy_len == 0) {
            fail("\n screen file all len  error ");
            break;
        }
        if ((s.rcv_xy_len != 0 && entries && !file.has_member(rcvRecovery::kXyFile))
            || (s.rcv_para_len != 0 && entries && !file.has_member(rcvRecovery::kScanParaFile))) {
            fail("\n no file type error ");
            break;
        }
        // The listed card is found by its port in the package as it is now (stored anew,
        // it may describe its ports in another order); a package without it loads nothing.
        if (s.rcv_xy_len == 0 || file.update_rcvXYscreenNetnum(file.file_path) != 0) {
            fail("\n the listed card is not in this package ");
            break;
        }
        bool listed = false;
        for (unsigned n = 0; n < file.screen_net_num && n <= kCounterLimit && !listed; ++n) {
            if (file.update_rcvXYscreenNetpara(file.file_path, n) != 0)
                break;
            if (file.net_para.net_ledx == recover_net && file.net_para.net_rcv_num == recover_cards
                && recover_card < file.net_para.net_rcv_num) {
                recover_net_index = u8(n);
                listed = true;
            }
        }
        if (!listed) {
            fail("\n the listed card is not in this package ");
            break;
        }
        job.step = s.rcv_para_len == 0 ? kNetNum : kParaOperations;
        break;
    }

    case kNetNum:
        // A recovery of a screen that has scan parameters only is complete here.
        if (recover && file.screen_info.rcv_xy_len == 0) {
            job.step = kFinish;
            break;
        }
        if (file.update_rcvXYscreenNetnum(file.file_path) != 0) {
            fail("\n rcv xy file screen_net num error ");
            break;
        }
        if (tooMany(file.screen_net_num, "ports of the screen"))
            break;
        if (recover) {
            if (recover_net_index >= file.screen_net_num) {
                fail("\n rcv xy file screen_net para error ");
                break;
            }
            job.net = recover_net_index;
        } else {
            job.net = 0;
        }
        show(stateValue(kNetNum));
        KEL_TRACE("\n now start to recovery net_index = %#x \n", int(job.net));
        // A screen without ports has nothing to check: on to the next screen.
        job.step = file.screen_net_num == 0 ? kNextNet : kNetRecord;
        break;

    case kNetRecord:
        job.progress = kNoAnswer;
        if (file.update_rcvXYscreenNetpara(file.file_path, job.net) != 0) {
            fail("\n rcv xy file screen_net para error ");
            break;
        }
        if (!recover) {
            job.step = kSendCheck;
            // Of the screen's ports (a port's card count would close the ring mid-check).
            show(itemValue(job.net, file.screen_net_num));
        } else if (recover_card < file.net_para.net_rcv_num) {
            job.card = recover_card;
            job.step = kCardOperations;
            show(28);
        } else {
            job.step = kErrorEnd;
        }
        break;

    case kCardOperations:
        if (file.update_rcvXYrcvOperateTimes(file.file_path, job.card, false) != 0) {
            fail("\n rcv xy file rcv operate times error ");
            break;
        }
        if (tooMany(file.rcv_operate_times, "operations of the card"))
            break;
        job.operation = 0;
        job.step = file.rcv_operate_times == 0 ? kFinish : kCardOperation;
        break;

    case kCardOperation:
        if (file.update_rcvXYrcvOperatepara(file.file_path, job.operation, false) != 0) {
            fail("\n rcv xy file rcv operate times error ");
            break;
        }
        job.sub_step = kSubStart;
        job.step = kCardOperationRun;
        file.operate_data_offset = file.xy_data_offset();
        KEL_TRACE("\n now in operate_data_offset = %#llx\n", (unsigned long long)file.operate_data_offset);
        show(itemValue(job.operation, file.rcv_operate_times));
        restartAnimation();
        break;

    case kCardOperationRun:
        if (load_rcv_xy_operate(file.file_path, file.operate_data_offset, load)) {
            job.operation = u8(job.operation + 1);
            if (job.operation < file.rcv_operate_times) {
                job.sub_step = kSubStart;
                job.step = kCardOperation;
            } else {
                job.step = kFinish;
            }
        } else {
            card_job_animate(screen);
        }
        break;

    case kSendCheck: {
        const int ledx = file.net_para.net_ledx;
        const u8 fpga = ledx > 9 ? 1 : 0;
        const u32 port = u32(fpga ? ledx - 10 : ledx);
        const u8 enable = 1;
        if (port > 15) {
            // No such output: nothing can answer for it.
            KEL_TRACE("\n port %d of the package is no output port \n", ledx);
            check_timed_out = 1;
            job.step = kNextNet;
            break;
        }
        // Answers carrying this identity, from this port, bring the check result (the
        // receive path).
        job.progress = kNoAnswer;
        check_config_id = file.screen_info.config_id;
        check_fpga = fpga;
        check_port = u8(port);
        check_config_valid = 1;
        KEL_TRACE("\n fpga%d_sel, net%d ,config_id_enalbe = %#x\n", fpga, int(port), enable);
        check_error_rcv_search_card_cmd(port, fpga, file.screen_info.config_id, 0, enable);
        KEL_TRACE("\n check screen_index = %#x , net_index = %#x \n", int(job.screen), int(job.net));
        show(stateValue(kSendCheck));
        job.step = kWaitCheck;
        job.stamp = now;
        restartAnimation();
        break;
    }

    case kWaitCheck: {
        const u16 answer = job.progress;
        if (answer != kNoAnswer) {
            if (answer == kAllMatch) {
                job.step = kNextNet;
            } else {
                job.step = kFinish;
                KEL_TRACE("\n rcv back info ...%#x\n", answer);
            }
        } else if (Utils::getTimeSpace(job.stamp) > kCheckAnswerTicks) {
            // A port that never answered was not checked: the other ports are, and a check
            // that finds no card ends failed rather than "none to update".
            KEL_TRACE("\n timeout!!! ");
            check_config_valid = 0;
            check_timed_out = 1;
            job.step = kNextNet;
        }
        card_job_animate(kProgressRcvRecovery);
        break;
    }

    case kNextNet:
        job.net = u8(job.net + 1);
        if (job.net < file.screen_net_num) {
            job.step = kNetRecord;
            break;
        }
        job.net = 0;
        job.screen = u8(job.screen + 1);
        KEL_TRACE("\n current_screen_index = %#x , screen_num = %#x \n", int(job.screen), file.screen_head.screen_num);
        job.step = job.screen >= file.screen_head.screen_num ? kFinish : kScreenRecord;
        break;

    case kParaOperations: {
        if (file.update_smartDebugingOperateTimes(file.file_path, load) != 0) {
            fail("\n rcv xy file rcv operate times error ");
            break;
        }
        if (tooMany(file.rcv_operate_times, "scan-parameter operations"))
            break;
        job.operation = 0;
        if (load) {
            file.net_para.net_ledx = line_type.port;
            if (get_port_card_num(file.net_para.net_ledx) == 0) {
                KEL_TRACE("\n no card on port %d \n", file.net_para.net_ledx + 1);
                job.step = kErrorEnd;
                break;
            }
        } else {
            file.net_para.net_ledx = recover_net;
            job.card = recover_card;
            const u16 cards = get_port_card_num(file.net_para.net_ledx);
            if (cards == 0 || recover_card >= cards) {
                KEL_TRACE("\n card %d not on port %d \n", recover_card + 1, recover_net + 1);
                job.step = kErrorEnd;
                break;
            }
        }
        if (file.rcv_operate_times == 0)
            job.step = load ? kFinish : kNetNum;
        else
            job.step = kParaOperation;
        break;
    }

    case kParaOperation:
        if (file.update_smartDebugingOperatepara(file.file_path, job.operation, load) != 0) {
            fail("\n rcv xy file rcv operate times error ");
            break;
        }
        job.sub_step = kSubStart;
        job.step = kParaOperationRun;
        file.operate_data_offset = file.para_data_offset(load);
        KEL_TRACE("\n in operate_para_data_offset=%#llx ,net_index = %#x \n",
                  (unsigned long long)file.operate_data_offset, file.net_para.net_ledx);
        show(itemValue(job.operation, file.rcv_operate_times));
        restartAnimation();
        break;

    case kParaOperationRun:
        if (load_rcv_xy_operate(file.file_path, file.operate_data_offset, load)) {
            job.operation = u8(job.operation + 1);
            if (job.operation < file.rcv_operate_times) {
                job.sub_step = kSubStart;
                job.step = kParaOperation;
                KEL_TRACE("\n start to set net para operate ");
            } else if (load) {
                job.step = kFinish;
            } else {
                job.step = kNetNum;
                job.operation = 0;
                KEL_TRACE("\n start to set point xy ");
            }
        } else {
            card_job_animate(screen);
        }
        break;

    case kFinish: {
        const u16 answer = job.progress;
        check_config_valid = 0;
        KEL_TRACE("\n the number of rcv need to recovery is %#x \n", answer);
        const bool found = !recover && !load && answer != kNoAnswer && answer != kAllMatch;
        // An operation that did not reach its cards, or a check that could not hear a port
        // and found no card, is a failed job, not a done one.
        if (job_incomplete || (!recover && !load && check_timed_out && !found)) {
            fail("\n job not complete: ended failed ");
            break;
        }
        if (!found) {
            if (recover && progress_screen_open(kProgressRcvRecovery) && recovery_list_filled()) {
                set_recovery_list(QStringList());
                signalScreens(99);
            }
        } else {
            if (progress_screen_open(kProgressRcvRecovery)) {
                recover_screen = job.screen;
                recover_net = u8(file.net_para.net_ledx);
                recover_net_index = job.net;
                recover_card = answer;
                recover_cards = file.net_para.net_rcv_num;
                recover_config_id = file.screen_info.config_id;
                set_recovery_list({QString::asprintf("%02d/%02d/%02d/%02d", job.screen + 1, file.net_para.net_ledx + 1,
                                                     answer + 1, file.net_para.net_rcv_num)});
            }
            signalScreens(1);
        }
        file.release_file();
        job.end();
        KEL_TRACE("\n over!!! ");
        show(100);
        break;
    }

    case kErrorEnd:
        check_config_valid = 0;
        // Back closes the ring at once; a failure holds it short of done until it is told,
        // so that the list under it never shows a result the job did not reach.
        show(check_cancelled ? 100 : 95);
        g_change[CHG_JOB_STAMP] = now;
        job.step = kErrorClose;
        break;

    case kErrorClose:
        if (waited() > 100) {
            file.release_file();
            job.end();
            g_change[CHG_JOB_STAMP] = now;
            if (!check_cancelled) {
                show(100);
                emit_job_failed(screen);   // queued behind the 100: told as the ring closes
            }
            signalScreens(1);
        }
        break;

    default:
        break;
    }
}
