#pragma once
// What the input-source tests share: taking down the source manager with the parameter
// block and the configuration it was built on, the register writes a chip got, and a
// fixture for the EDID images a source manager of its own chooses.
#include "core/kelrampara.h"
#include "sources/velinsource.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace kel_test {

// Deletes the source manager, the parameter block and the configuration (each may be absent).
void dropSources();
// The tick count and the inputs' online flags back at 0 after a test that ran the source thread.
void resetSourceGlobals();
// The register/value pairs written to the I2C device at address8, in order.
std::vector<std::pair<int, int>> i2cWrites(int address8);

// A fresh configuration and parameter block; openSources() adds the source manager with its
// buses open (not started). All of it is taken down again after the test.
class SourcesFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { dropSources(); }
    void openSources();
    KelRamPara* para = nullptr;
    velinsource* src = nullptr;
};

// A data root and a source manager (not started), no input's EDID image taken from anywhere yet.
class EdidFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (auto& f : edid_ram_table_from)
            f = 0;
    }
    TestRoot root;
    velinsource source;
};

} // namespace kel_test
