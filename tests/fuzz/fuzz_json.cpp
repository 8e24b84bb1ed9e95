// Every JSON file the device reads, as a PC upload or a USB stick may leave it, nested as
// deep as an input of a few hundred kilobytes can nest. Byte 0 picks the file and its
// reader; byte 1 picks the form of the rest:
//   even  the rest is the file as it stands (up to 512 KiB)
//   odd   bytes 2..4 give a depth d (up to 200,000, little-endian) and byte 5 an opener:
//         the file is d openers, the rest, and the matching closers, so deep files stay
//         reachable from small inputs
// Files: 0 "/data/configs/alias.json" (get_json_alias_para), 1 "/data/configs/omenu.json"
// and 2 the overlay copy of user mode 1 (get_json_omenu_para).
// Promise checked: the reader returns; a refused overlay file is removed, a user mode's is kept.
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/OmenuFile.h"

#include "core/alias.h"
#include "core/global.h"
#include "scaler/omenu.h"

namespace {

const char* const kFiles[] = {"/data/configs/alias.json", "/data/configs/omenu.json", "/data/modes/MO01.json"};
constexpr int kKinds = 3;
constexpr size_t kMaxInput = 512 * 1024;
constexpr uint32_t kMaxDepth = 200000;

std::string content(const uint8_t* data, size_t size)
{
    const char* rest = reinterpret_cast<const char*>(data);
    if (size < 2 || !(data[1] & 1))
        return size < 2 ? std::string() : std::string(rest + 2, size - 2);
    if (size < 6)
        return std::string();
    const uint32_t depth = (uint32_t(data[2]) | uint32_t(data[3]) << 8 | uint32_t(data[4]) << 16) % (kMaxDepth + 1);
    static const char* const kOpeners[][2] = {{"[", "]"}, {"{\"a\":", "}"}, {"{\"menu\":[", "]}"}, {"[{\"id\":0,\"x\":", "}]"}};
    const auto& pair = kOpeners[data[5] % 4];
    std::string text;
    text.reserve(depth * 12 + size);
    for (uint32_t i = 0; i < depth; ++i)
        text += pair[0];
    text.append(rest + 6, size - 6);
    for (uint32_t i = 0; i < depth; ++i)
        text += pair[1];
    return text;
}

void run(int kind)
{
    if (kind == 0) {
        for (const char* group : {"source", "crop", "win", "usermode"})
            for (int id = 0; id < 4; ++id) {
                ALIAS_PARA a{-1, "", ""};
                get_json_alias_para(&a, group, id);
            }
        return;
    }
    OSD_LIST list;
    get_json_omenu_para(kFiles[kind], &list);
}

void makeSeeds(const std::string& dir)
{
    const std::string alias = R"({"namelist": {"source": [{"id": 0, "valid": "on", "name": "Camera"}],
 "usermode": [{"id": 3, "valid": "on", "name": "Night"}]}})";
    kel_test::OmenuItem item;
    item.layer = "top";
    const std::string omenu = kel_test::omenuJson(item, 1, 3);
    for (int kind = 0; kind < kKinds; ++kind) {
        const std::string& text = kind == 0 ? alias : omenu;
        kel_fuzz::writeSeed(dir, "file-" + std::to_string(kind), std::string{char(kind), 0} + text);
        // The nesting a PC once sent, in both forms.
        const std::string deep = std::string(100000, '[') + std::string(100000, ']');
        kel_fuzz::writeSeed(dir, "deep-raw-" + std::to_string(kind), std::string{char(kind), 0} + deep);
        kel_fuzz::writeSeed(dir, "deep-" + std::to_string(kind),
                            std::string{char(kind), 1, char(0x40), char(0x0D), char(0x03), 0} + "0");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    kel_fuzz::board();
    kel_fuzz::seedMode(argc, argv, makeSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > kMaxInput)
        return 0;
    const int kind = data[0] % kKinds;
    const std::string path = kFiles[kind];
    const std::string text = content(data, size);
    kel_fuzz::writeFile(path, text);
    run(kind);
    // A user mode's copy is the user's: read, never changed or removed.
    if (kind == 2)
        KEL_FUZZ_CHECK(kel_fuzz::readFile(path) == text);
    kel_fuzz::removeFile(path);
    return 0;
}
