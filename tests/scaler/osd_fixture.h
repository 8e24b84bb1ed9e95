#pragma once
// A scaler manager on a fresh simulated board, its start-up parameters loaded, without its
// thread: tests call the flash, OSD engine and OSD settings directly.
#include "board/sim/Sim.h"
#include "core/kelrampara.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace osd_test {

class OsdFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        c331_manage::p_c331_manage = &m;
        KelRamPara::p_kelrampara_config = &para;
        for (int k = 0; k < KelRamPara::kSavedLength; ++k)
            para.ram[KelRamPara::kSavedStart + k] = default_para_ramlist[2 + k];
        fd = m.c331_fd = m.drv->initialize();
        ASSERT_GE(fd, 0);
        m.load_system_param();
        m.define_param();
        m.load_param();
        m.load_char();
    }
    void TearDown() override
    {
        c331_manage::p_c331_manage = nullptr;
        KelRamPara::p_kelrampara_config = nullptr;
    }
    // Stored bytes of a register group, little-endian.
    static unsigned reg(int bank, int first, int n)
    {
        unsigned v = 0;
        for (int i = 0; i < n; ++i)
            v |= unsigned(sim::ScalerModel::reg(bank, first + i)) << (8 * i);
        return v;
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

    kel_test::TestRoot root;
    KelRamPara para;
    c331_manage m;
    int fd = -1;
};

} // namespace osd_test
