// Random requests in every service group, any length, under the sanitizers: every length,
// offset and name they carry is checked before use, and every reply fits the link.
#include "tests/protocol/handler_fixture.h"

#include "core/kel_file_deal.h"
#include "protocol/protocol_phy.h"

#include <random>

namespace {

class PcServicesRandom : public handler_test::HandlerFixture {};

TEST_F(PcServicesRandom, RequestsStayInsideTheirBuffers)
{
    std::mt19937 rng(24);
    const uint8_t groups[] = {0x70, 0x71, 0x72, 0x81, 0x82, 0x83, 0x84, 0x87, 0x8E, 0x8F, 0xA2, 0xA4,
                              0xC0, 0xC1, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC};
    for (int i = 0; i < 1500; ++i) {
        const unsigned n = 10 + rng() % 120;
        std::fill(buf.begin(), buf.end(), 0);
        for (unsigned k = 0; k < n; ++k)
            buf[k] = uint8_t(rng());
        buf[9] = groups[rng() % sizeof groups];
        if (rng() % 2) {
            buf[0] = 0x00;
            buf[1] = 0xF1;
        }
        // Sub-commands and names the handlers know, so the checks behind them are reached.
        if (rng() % 2 && n > 17) {
            static const char* const names[] = {"FMCU", "FKRN", "LOGO", "ALIS", "MO0A", "OSDS", "DIVU", "KXFR", "F002", "F004"};
            const char* name = names[rng() % 10];
            std::copy(name, name + 4, buf.begin() + (buf[9] == 0xC0 ? 13 : 10));
            if (buf[9] == 0xC0)
                buf[10] = uint8_t(1 + rng() % 10);
        }
        if (buf[9] == 0xA4 && buf[10] == 1)
            buf[10] = 3;   // the address setting has its own test
        int r = md.message_group_deal(buf.data(), n, 5);
        ASSERT_GE(r, 0) << i;
        ASSERT_LE(protocol_phy::reply_escaped_size(buf.data(), unsigned(r)), message_deal::REPLY_LIMIT_UDP) << i;
    }
    FileBufOwner::reset();
}

} // namespace
