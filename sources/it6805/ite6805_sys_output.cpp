// V-by-One output setting and colour conversion of the IT6805, run when the video becomes
// stable and when the source changes its AVI InfoFrame.
#include "sources/it6805/ite6805_sys.h"

#include "board/Clock.h"
#include "sources/it6805/ite6805_drv.h"
#include "sources/it6805/ite6805_i2c_rdwr.h"

#include <cstdio>

void ite6805_sys::iTE6807_Video_Output_Setting(int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    const iTE6805_TIMING& t = timing[dev];
    ite6805_drv* drv = p_ite6805_drv;
    d.DSEnabled = 0;
    bank(0, dev);
    set(0x64, 0x04, 0x00, dev);
    set(0x64, 0x02, 0x02, dev);
    set(0x64, 0x02, 0x00, dev);
    bank(5, dev);
    set(0x20, 0x40, 0x40, dev);
    set(0xCB, 0x01, 0x00, dev);
    set(0xD3, 0x80, 0x80, dev);
    set(0xD3, 0x80, 0x00, dev);
    wr(0xC7, t.PCLK <= 29999 ? 0x49 : 0x00, dev);
    bank(1, dev);
    set(0xC0, 0x01, 0x00, dev);
    bank(0, dev);

    d.DSMode = 1;
    d._iTE6807_EnableTwoSectionMode_ = (t.HActive <= 2176 && t.PCLK <= 159999) ? 0 : 1;
    std::printf("\t iTE6807_Video_Output_Setting:dev_id:%d hact:%d,pclk=%d,_iTE6807_EnableTwoSectionMode_=%d\n", dev,
                t.HActive, int(t.PCLK), d._iTE6807_EnableTwoSectionMode_);
    if (d._iTE6807_EnableTwoSectionMode_) {
        std::printf("!! Enable _iTE6807_EnableTwoSectionMode_ !!\n");
        bank(5, dev);
        set(0xCB, 0x01, 0x01, dev);
        bank(0, dev);
        set(0x64, 0x04, 0x04, dev);
        set(0x33, 0x02, 0x02, dev);
        set(0x33, 0x02, 0x00, dev);
    } else {
        std::printf("!! _iTE6807_EnableTwoSectionMode_ Disabled !!\n");
        bank(5, dev);
        set(0xCB, 0x01, 0x00, dev);
        bank(0, dev);
        set(0x64, 0x04, 0x00, dev);
    }

    // Lane count from the pixel clock (the downscaler needs DSMode 2 or 3 and is not used).
    const bool is4k = drv->iTE6805_Check_4K_Resolution(dev);
    const uint32_t pclk = t.PCLK;
    if (is4k || pclk > 320000) {
        d.VBO_LaneCount = 3;
        std::printf("!!!!!! Set VBO_LaneCount = 8 Lan (variable iTE6805_DATA.VBO_LaneCount = 3)!!!!!!\n");
    } else if (pclk > 160000) {
        d.VBO_LaneCount = 2;
        std::printf("!!!!!! Set VBO_LaneCount = 4 Lan (variable iTE6805_DATA.VBO_LaneCount = 2)!!!!!!\n");
    } else if (pclk > 80000) {
        if (t.HActive > 2176) {
            d.VBO_LaneCount = 2;
            std::printf("!!!!!! Set VBO_LaneCount = 4 Lan (variable iTE6805_DATA.VBO_LaneCount = 2)!!!!!!\n");
        } else {
            d.VBO_LaneCount = 1;
            std::printf("!!!!!! Set VBO_LaneCount = 2 Lan (variable iTE6805_DATA.VBO_LaneCount = 1)!!!!!!\n");
        }
    } else {
        d.VBO_LaneCount = 0;
        std::printf("!!!!!! Set VBO_LaneCount = 1 Lan (variable iTE6805_DATA.VBO_LaneCount = 0)!!!!!!\n");
    }
    if (d.VBO_LaneCount == 2
        && ((t.HTotal | t.HActive | t.HBackPorch | t.HFrontPorch | t.HSyncWidth) & 0x03)) {
        std::printf("!!!!!! Set VBO_LaneCount = 2 Lan because of H parameter need devided by 4!!!!!!\n");
        d.VBO_LaneCount = 1;
    }

    bank(1, dev);
    set(0xBD, 0x30, d.VBO_LaneCount ? 0x10 : 0x00, dev);
    d.VBO_ByteMode = 1;
    std::printf("Force ByteMode = 4B (variable iTE6805_DATA.VBO_ByteMode = 1)\n");
    bank(5, dev);
    set(0xC0, 0xF0, uint8_t((d.VBO_ByteMode * 4 + d.VBO_LaneCount) << 4), dev);

    // Transmitter clock: restarted, then checked 10 ms later, pass by pass.
    set(0xD2, 0x10, 0x00, dev);
    set(0xD2, 0x10, 0x10, dev);
    bank(0, dev);
    iTE6805_COUNTERS& c = cnt[dev];
    c.VboTries = 0;
    c.VboDueUs = board::Clock::monotonicUs() + 10000;
}

bool ite6805_sys::iTE6807_VBO_Clock_Step(int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    ite6805_drv* drv = p_ite6805_drv;
    if (board::Clock::monotonicUs() < c.VboDueUs)
        return false;
    bank(5, dev);
    const uint8_t db = rd_result(0xDB, dev).value_or(0);   // not read: not settled, asked again
    // Restarted until stable, at most 500 times, then the output goes on regardless.
    if (!(db & 0x10) && c.VboTries < 500) {
        ++c.VboTries;
        set(0xD2, 0x10, 0x00, dev);
        set(0xD2, 0x10, 0x10, dev);
        bank(0, dev);
        c.VboDueUs = board::Clock::monotonicUs() + 10000;
        std::printf("Wait VBOTX Clock Stable! i = %d\n", int(c.VboTries));
        return false;
    }
    set(0xC6, 0x07, ((db >> 2) & 0x03) == 3 ? 4 : 3, dev);
    set(0xC1, 0x04, 0x00, dev);
    if (d.ChipID == 0x10 || d.ChipID == 0xE0) {
        set(0xC9, 0xF7, 0x78, dev);
        wr(0xD5, 0x80, dev);
        wr(0xD7, 0x0C, dev);
        wr(0xDF, 0x87, dev);
        set(0xE1, 0x80, 0x80, dev);
        set(0xC9, 0x02, (db & 0x08) ? 0x02 : 0x00, dev);
    }
    // Going between one lane and several needs the video logic restarted.
    if (d.PrevLaneCount == 7 || ((d.PrevLaneCount == 0) != (d.VBO_LaneCount == 0))) {
        std::printf("Lane Count Changed, need reset video logic \r\n");
        d.PrevLaneCount = d.VBO_LaneCount;
        drv->iTE6805_Reset_Video_Logic(dev);
        delay1ms(1);
        bank(5, dev);
    }
    set(0xC9, 0x01, 0x00, dev);
    bank(0, dev);
    return true;
}

void ite6805_sys::iTE6805_Enable_Video_Output(int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    ite6805_drv* drv = p_ite6805_drv;
    bank(0, dev);
    // A mode not read sets nothing up: the caller sees the failure counted and does it again.
    const RegResult<int> mode = drv->iTE6805_Check_HDMI_OR_DVI_Mode(d.CurrentPort, dev);
    if (!mode.ok())
        return;
    if (mode.value() == 2) {
        d.InputType = 2;
        std::printf("---- CSC DVI mode ----\n");
        set(0x6B, 0x31, 0x11, dev);
        if (d.CurrentPort == 1)
            bank(4, dev);
        d.Colorimetry = rd_result(0x48, dev).value_or(d.Colorimetry == 2 ? 0 : 52) < 52 ? 2 : 1;   // not read: as known (counted)
        bank(0, dev);
    } else {
        std::printf("---- CSC HDMI mode ----\n");
        drv->iTE6805_Get_AVIInfoFrame_Info(dev);
        drv->iTE6805_Show_AVIInfoFrame_Info(dev);
        drv->iTE6805_GET_InputType(dev);
        set(0x6B, 0x31, uint8_t((d.AVIInfoFrame_Input_ColorFormat & 0x03) << 4), dev);
    }
    if (d.TTLPathEnabled == 1) {
        d.US_Output_ColorFormat = d.AVIInfoFrame_Input_ColorFormat;
        drv->iTE6805_Set_TTL_Video_Path(dev);
    }
    wr(0x6E, 0xE0, dev);
    bank(1, dev);
    wr(0x86, 0x00, dev);
    bank(0, dev);
    std::printf("US_Output_ColorFormat = %d \n", int(d.US_Output_ColorFormat));
    std::printf("AVIInfoFrame_Input_ColorFormat = %d \n", int(d.AVIInfoFrame_Input_ColorFormat));
    // A DVI source is RGB; the input format read from the AVI InfoFrame counts for HDMI only.
    const uint32_t input = d.InputType == 2 ? 0 : d.AVIInfoFrame_Input_ColorFormat;
    // Limited-range RGB (16-235) is expanded to the full range the output carries, as
    // inputs 0-2 do: passed as sent its blacks are grey and its whites dim.
    const bool expand = input == 0 && d.InputType != 2 && d.RGBQuantRange == 1;
    if (expand) {
        std::printf("---- limited RGB to full RGB ----\n");
        set(0x6C, 0x03, 0x02, dev);
        if (bank(1, dev) == 0)   // else the block would land on bank 0's registers
            (void)p_i2c->hdmirxbwr(0x70, 22, ite6805_drv::CSC_RGB_Limited_To_Full, dev);   // counted
        bank(0, dev);
    } else if (input == 0) {
        std::printf("---- YUV to YUV or RGB to RGB ----\n");
        set(0x6C, 0x03, 0x00, dev);
        if (bank(1, dev) == 0)
            wr(0x85, 0x00, dev);
        bank(0, dev);
    } else {
        std::printf("---- input YUV to output RGB ----\n");
        set(0x6C, 0x03, 0x03, dev);
        const int row = ite6805_drv::iTE6805_CSC_Row(d.Colorimetry, d.ExtendedColorimetry);
        std::printf("--- CSC_TABLE != NULL --- ");
        std::printf("--- Using CSC_TABLE = %d --- \n", row);
        if (bank(1, dev) == 0)
            (void)p_i2c->hdmirxbwr(0x70, 22, ite6805_drv::CSC_Matrix[row], dev);   // counted
        bank(0, dev);
    }
    drv->iTE6805_Set_ColorDepth(dev);
}
