// Window setters: crop record, attribute, output word (black, freeze, fade, dot by dot).
#include "tests/support/ScalerHarness.h"

namespace {
class ScalerSetters : public kel_test::ScalerHarness {
protected:
    // Was the window reprogrammed since the last look?
    bool reprogrammed()
    {
        const bool asked = called("set_output()");
        m.clear_deferred_calls();
        return asked;
    }
};
} // namespace

TEST_F(ScalerSetters, CropRecordAttributeAndDbdMode)
{
    m.kelApi_PnlInit2(1920, 1080, 1920, 1080, 0);   // one window, source 1
    // (a record's source taken by its window: the picture check)
    para.ram[1472 + 10 * 39] = 2;                    // the last record, 39, shows source 2
    m.c331_SetInputsourceCrop(0, 0x8000 | 39);
    m.c331_SetInputsourceCrop(0, 0x8000 | 40);       // no record 40
    m.c331_SetInputsourceCrop(1, 0x8001);            // no window 1
    EXPECT_EQ((std::vector<int>{m.gWininfo[0].crop, m.gWininfo[0].input, m.gWininfo[1].crop}), (std::vector<int>{39, 2, 0}));
    m.c331_SetWinAttr(1, 3);
    const bool noWindow = reprogrammed();
    m.c331_SetWinAttr(0, 6);
    EXPECT_EQ((std::vector<int>{noWindow, m.gWininfo[0].attr, m.PM_WIN_ATTR0[0], m.PM_WIN_ATTR1[0], reprogrammed()}),
              (std::vector<int>{0, 2, 0, 1, 1}));
    // Dot by dot on (output word bit 8): the record's words 0 to 9, and 12, out of range, a
    // single input.
    setWord(window(0, 18), 0x100);
    std::vector<int> modes;
    for (int d = 0; d < 11; ++d) {
        m.c331_SetWinDbdMode(m.c331_fd, 0, d < 10 ? d : 12);
        modes.push_back(m.PM_WIN_DBD_MODE[0]);
    }
    EXPECT_EQ(modes, (std::vector<int>{1, 20, 21, 22, 23, 30, 40, 41, 50, 51, 1}));
    EXPECT_TRUE(reprogrammed());   // (with dot by dot off the window stays plain: the picture check)
}

