#include "core/global.h"
#include "core/kel_file_deal.h"

#include <gtest/gtest.h>

// The shared transfer buffer has one user at a time (who among the PCs: the link tests). Its
// claim lapses 30 s (3000 ticks) after the last block that brought new bytes, or 20 minutes
// (120000 ticks) after it was taken, however it goes; never while its holder stores.
TEST(FileBuffer, OneHolderAtATimeUntilItsClaimLapses)
{
    using O = FileBufOwner;
    O::reset();
    G_timeTicks = 0;
    int linkA = 0, linkB = 0;
    const O::Holder a{&linkA, 1}, b{&linkB, 1};
    // Taken; not for another use, nor by another holder; stored by its holder, and not taken
    // from it while it stores.
    std::vector<bool> got{O::acquire(O::PcFileTransfer, a), O::use(O::PcCloudFile, a), O::begin_store(O::PcFileTransfer, b),
                          O::begin_store(O::PcFileTransfer, a)};
    G_timeTicks = 20000;
    got.insert(got.end(), {O::acquire(O::UsbUpgrade), O::busy_with(a), O::in_progress(O::PcFileTransfer)});
    EXPECT_EQ(got, (std::vector<bool>{true, false, false, true, false, true, true}));
    O::end_store(O::PcFileTransfer, a);
    for (uint32_t t = 20000; t < 120000; t += 2000) {   // a new byte every 20 s for 20 minutes
        G_timeTicks = t;
        O::progress(O::PcFileTransfer, a, t, 1);
        EXPECT_EQ((std::vector<bool>{O::busy_with(a), O::acquire(O::UsbUpgrade)}), (std::vector<bool>{true, false})) << t;
    }
    G_timeTicks = 120000;
    // Lived too long: taken over.
    EXPECT_EQ((std::vector<bool>{O::busy_with(a), O::acquire(O::UsbUpgrade), O::use(O::PcFileTransfer, a)}), (std::vector<bool>{false, true, false}));
    // Only the holder releases it (settling: the cloud-file tests).
    O::release(O::PcFileTransfer, a);
    const auto afterStranger = O::owner();
    O::release(O::UsbUpgrade);
    EXPECT_EQ(std::make_pair(afterStranger, O::owner()), std::make_pair(O::UsbUpgrade, O::None));
    O::reset();
    G_timeTicks = 0;
}
