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
    EXPECT_TRUE(O::acquire(O::PcFileTransfer, a));
    EXPECT_FALSE(O::use(O::PcCloudFile, a));
    EXPECT_FALSE(O::begin_store(O::PcFileTransfer, b));
    EXPECT_TRUE(O::begin_store(O::PcFileTransfer, a));
    G_timeTicks = 20000;
    EXPECT_FALSE(O::acquire(O::UsbUpgrade));
    O::end_store(O::PcFileTransfer, a);
    for (uint32_t t = 20000; t < 120000; t += 2000) {   // a new byte every 20 s for 20 minutes
        G_timeTicks = t;
        O::progress(O::PcFileTransfer, a, t, 1);
        EXPECT_TRUE(O::busy_with(a)) << t;
        EXPECT_FALSE(O::acquire(O::UsbUpgrade)) << t;
    }
    G_timeTicks = 120000;
    EXPECT_FALSE(O::busy_with(a));
    EXPECT_TRUE(O::acquire(O::UsbUpgrade));            // lived too long: taken over
    EXPECT_FALSE(O::use(O::PcFileTransfer, a));
    // Only the holder releases it (settling: the cloud-file tests).
    O::release(O::PcFileTransfer, a);
    EXPECT_EQ(O::owner(), O::UsbUpgrade);
    O::release(O::UsbUpgrade);
    EXPECT_EQ(O::owner(), O::None);
    O::reset();
    G_timeTicks = 0;
}
