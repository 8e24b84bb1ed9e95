// The files read at start, as a USB stick or a PC upload may leave them: byte 0 picks the
// file, the rest is its content, and the start-up reader of that file runs on it.
//   0 keyed settings "/data/configs/tcpip.ini"     (ConfigEngine::pInstance)
//   1 parameter file "/data/ram_device_info"       (KelRamPara::pInstance)
//   2 user-mode file of mode 1                     (KelRamPara::mode_file_deal)
//   3 "/data/configs/alias.json"                   (get_json_alias_para)
//   4 "/data/configs/omenu.json"                   (get_json_omenu_para)
// Promise checked: a user-mode slot is loaded as the file holds it or marked empty.
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/OmenuFile.h"

#include "core/alias.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "scaler/omenu.h"

#include <cstdio>
#include <cstdlib>

namespace {

const char* const kFiles[] = {"/data/configs/tcpip.ini", "/data/ram_device_info", nullptr,
                              "/data/configs/alias.json", "/data/configs/omenu.json"};
constexpr int kKinds = 5;

std::string path(int kind)
{
    return kind == 2 ? KelRamPara::mode_file_name(1) : kFiles[kind];
}

KelRamPara* freshBlock()
{
    delete KelRamPara::p_kelrampara_config;
    KelRamPara::p_kelrampara_config = nullptr;
    return KelRamPara::pInstance();
}

void run(int kind)
{
    switch (kind) {
    case 0:
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        ConfigEngine::pInstance();
        for (int n = 0; n < int(ConfigItem::ConfigNameCount); ++n)
            ConfigEngine::p_config->read_config_variant(ConfigItem::ConfigName(n));
        break;
    case 1:
        freshBlock();
        break;
    case 2: {
        KelRamPara* p = KelRamPara::p_kelrampara_config ? KelRamPara::p_kelrampara_config : freshBlock();
        // Whether a slot was found is the input's business; what it read must not crash.
        static_cast<void>(p->mode_file_deal(0, 0));
        break;
    }
    case 3:
        for (const char* group : {"source", "crop", "win", "usermode"})
            for (int id = 0; id < 4; ++id) {
                ALIAS_PARA a{-1, "", ""};
                get_json_alias_para(&a, group, id);
            }
        break;
    case 4: {
        OSD_LIST list;
        get_json_omenu_para(kFiles[4], &list);
        break;
    }
    }
}

void makeSeeds(const std::string& dir)
{
    // The files the system writes itself, and the ones the PC software writes.
    run(0);
    freshBlock();
    if (KelRamPara::p_kelrampara_config->mode_file_write(0, 1) != 1) {
        std::fprintf(stderr, "fuzz_start_files: the user-mode seed could not be written\n");
        std::exit(1);
    }
    kel_fuzz::writeFile(kFiles[3], R"({"namelist": {"source": [{"id": 0, "valid": "on", "name": "Camera"},
 {"id": "1", "valid": "off", "name": "Desk"}], "crop": [{"id": 2, "valid": "on", "name": "C2"}],
 "win": [{"id": 0, "valid": "on", "name": "W0"}], "usermode": [{"id": 3, "valid": "on", "name": "Night"}]}})");
    kel_test::OmenuItem item;
    item.layer = "top";
    item.hAlign = "center";
    item.vAlign = "middle";
    kel_fuzz::writeFile(kFiles[4], kel_test::omenuJson(item, 1, 3));
    for (int kind = 0; kind < kKinds; ++kind) {
        std::string content = kel_fuzz::readFile(path(kind));
        if (content.empty())
            std::fprintf(stderr, "kel-fuzz: no seed file for kind %d\n", kind);
        kel_fuzz::writeSeed(dir, "file-" + std::to_string(kind), std::string(1, char(kind)) + content);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    kel_fuzz::board();
    kel_fuzz::seedMode(argc, argv, makeSeeds);
    freshBlock();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 16384)
        return 0;
    const int kind = data[0] % kKinds;
    kel_fuzz::writeFile(path(kind), std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    run(kind);
    if (kind == 2) {
        // A file too short for the stored block leaves the slot marked empty; a longer one
        // is the slot's first 4096 bytes, zero beyond its end.
        const uint8_t* slot = KelRamPara::p_kelrampara_config->mode_slot[0];
        const size_t n = size - 1;
        if (n < size_t(2 + KelRamPara::kModeAreaLength)) {
            KEL_FUZZ_CHECK(slot[0] == 0xFF && slot[1] == 0xFF);
        } else {
            for (size_t i = 0; i < size_t(KelRamPara::kModeFileSize); ++i)
                KEL_FUZZ_CHECK(slot[i] == (i < n ? data[1 + i] : 0));
        }
    }
    kel_fuzz::removeFile(path(kind));
    return 0;
}
