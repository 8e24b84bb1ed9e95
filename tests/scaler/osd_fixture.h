#pragma once
// The scaler harness with the default mode set and the character set-up loaded: tests call
// the flash, OSD engine and OSD settings directly.
#include "tests/support/ScalerHarness.h"

#include <vector>

namespace osd_test {

class OsdFixture : public kel_test::ScalerHarness {
protected:
    void SetUp() override
    {
        kel_test::ScalerHarness::SetUp();
        fd = m.c331_fd;
        m.load_param();
        m.load_char();
    }
    // One text line of code points as kelApi_OsdSetUnicode takes it.
    void setLines(const std::vector<std::vector<uint32_t>>& lines)
    {
        static uint32_t codes[c331_manage::kOsdLines + 1][c331_manage::kOsdLineChars];
        int lengths[c331_manage::kOsdLines + 1] = {};
        for (size_t L = 0; L < lines.size() && L <= size_t(c331_manage::kOsdLines); ++L) {
            lengths[L] = int(lines[L].size());
            for (size_t i = 0; i < lines[L].size() && i < size_t(c331_manage::kOsdLineChars); ++i)
                codes[L][i] = lines[L][i];
        }
        m.kelApi_OsdSetUnicode(int(lines.size()), lengths, codes);
    }

    int fd = -1;
};

} // namespace osd_test
