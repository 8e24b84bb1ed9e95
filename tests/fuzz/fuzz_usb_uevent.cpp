// A kernel uevent datagram as the USB watcher reads it: cut at its first NUL (the header),
// then UsbServer::parse_header. Promises: the code is 0, 100 (add) or 101 (remove), and a
// storage partition is only ever reported by an "add@" header naming a block device.
#include "tests/fuzz/FuzzSupport.h"

#include "gui/usbserver.h"

#include <cstring>

namespace {

void makeSeeds(const std::string& dir)
{
    const char* const headers[] = {
        "add@/devices/platform/soc/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda/sda1",
        "remove@/devices/platform/soc/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda/sda1",
        "add@/devices/platform/soc/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda",
        "add@/devices/platform/soc/usb1/1-1",
        "change@/devices/virtual/net/eth0",
    };
    int i = 0;
    for (const char* h : headers) {
        std::string d = std::string(h) + '\0' + "ACTION=add" + '\0' + "SUBSYSTEM=block" + '\0';
        kel_fuzz::writeSeed(dir, "uevent-" + std::to_string(i++), d);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    kel_fuzz::seedMode(argc, argv, makeSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    const char* text = reinterpret_cast<const char*>(data);
    const std::string header(text, ::strnlen(text, size));
    int code = -1;
    bool storage = true;
    UsbServer::parse_header(header, code, storage);
    KEL_FUZZ_CHECK(code == 0 || code == 100 || code == 101);
    if (storage) {
        KEL_FUZZ_CHECK(header.compare(0, 5, "add@/") == 0);
        KEL_FUZZ_CHECK(header.find("/block/sda/sda") != std::string::npos);
    }
    return 0;
}
