#pragma once
// Shared set-up of the home, device-state and menu screen tests: a fresh data root, the
// parameter block with a known picture (four windows, inputs with and without signal), the
// main window the screens return to, and helpers that write block fields.

#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/mainwindow.h"
#include "tests/support/GuiFixture.h"
#include "tests/support/KeyDriver.h"
#include "tests/support/TestRoot.h"

#include <QApplication>
#include <QWidget>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>

namespace screen_test {

using P = KelRamPara;

inline KelRamPara* para()
{
    return KelRamPara::pInstance();
}

inline void put16(int offset, unsigned value)
{
    P::put16(para()->ram + offset, uint16_t(value));
}

inline void set_input(int port, unsigned width, unsigned height, unsigned rate)
{
    put16(P::kInputStatus + 6 * port, width);
    put16(P::kInputStatus + 6 * port + 2, height);
    put16(P::kInputStatus + 6 * port + 4, rate);
}

inline int layer(int window)
{
    return P::kLayers + P::kLayerSize * window;
}

// flags: the open word; source: the source word (0x8000 | record index for a crop);
// output: bit 0 black, bit 1 freeze.
inline void set_window(int window, unsigned flags, unsigned source, unsigned output = 0)
{
    put16(layer(window) + P::kLayerFlags, flags);
    put16(layer(window) + P::kLayerSource, source);
    put16(layer(window) + P::kLayerOutput, output);
}

// Crop record: input port, crop number (1 based) and size.
inline void set_crop(int index, unsigned port, unsigned number, unsigned width, unsigned height)
{
    const int at = P::kCropRecords + P::kCropRecordSize * index;
    put16(at, 0x8000u | ((number - 1) << 8) | port);
    put16(at + 2, 0);
    put16(at + 4, 0);
    put16(at + 6, width);
    put16(at + 8, height);
}

inline void set_language(int language, int valid)
{
    g_lcd_lang_valid = valid;
    g_language = uint8_t(language);
    para()->ram[P::kLanguage] = uint8_t(language);
    para()->ram[P::kLanguage + 1] = 0;
    para()->ram_backup[P::kLanguage] = uint8_t(language);
    para()->ram_backup[P::kLanguage + 1] = 0;
}

inline void set_ip(const QString& ip)
{
    std::lock_guard<std::mutex> lock(g_str_globals_mutex);
    g_str_ip = ip;
}

inline void set_barcode(const QString& barcode)
{
    std::lock_guard<std::mutex> lock(g_str_globals_mutex);
    g_str_barcode = barcode;
}

// The block as last saved equals the live block: nothing counts as changed.
inline void mark_saved()
{
    std::memcpy(para()->ram_backup, para()->ram, sizeof(para()->ram));
}

struct ScreenTest : ::testing::Test {
    kel_test::TestRoot root;

    void SetUp() override
    {
        kel_test::resetSharedManagers();
        para();
        if (g_mainwindow == nullptr)
            g_mainwindow = new MainWindow(nullptr);   // lives for the process, as on the board
        g_mainwindow->hide();
        set_language(1, 0x1F);
        put16(P::kKeyLock, 0);
        put16(P::kLedWidth, 1920);
        put16(P::kLedHeight, 1080);
        put16(P::kBrightness, 80);
        put16(P::kBrightness + 2, 55);
        put16(P::kScreenDark, 0);
        para()->ram[P::kAudioWindow] = 0;
        for (int w = 0; w < 6; ++w) {
            set_window(w, 0, 0, 0);
            para()->ram[layer(w) + P::kLayerVolume] = 0;
            para()->ram[layer(w) + P::kLayerSound] = 0;
        }
        for (int p = 0; p < 6; ++p)
            set_input(p, 0, 0, 0);
        for (int k = 0; k < P::kCropCount; ++k)
            std::memset(para()->ram + P::kCropRecords + P::kCropRecordSize * k, 0, P::kCropRecordSize);
        g_image_current = 0;
        g_page_focus = 0;
        g_mode_shortcut_key = 0;
        set_ip(QStringLiteral("192.168.0.199"));
        set_barcode(QStringLiteral(" "));
        mark_saved();
    }

    void TearDown() override
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w != g_mainwindow && w->isVisible() && w->testAttribute(Qt::WA_DeleteOnClose))
                w->close();
        }
        kel_test::settle();
    }
};

} // namespace screen_test
