#include "core/global.h"
#include "core/kel_file_deal.h"

#include <gtest/gtest.h>

// The shared transfer buffer has one user at a time; within the PC transfers, the link and
// the peer on it that started one. A sequence of claims by several users and holders.
TEST(FileBuffer, OneHolderAtATime)
{
    using O = FileBufOwner;
    O::reset();
    G_timeTicks = 0;
    int linkA = 0, linkB = 0;
    const O::Holder a{&linkA, 1}, a2{&linkA, 2}, b{&linkB, 1};
    // Taken, taken again by its own holder; refused to another peer on the same link, to the
    // same peer number on another link and to the USB upgrade; used only by its holder for
    // its own operation.
    EXPECT_EQ((std::vector<bool>{O::acquire(O::PcFileTransfer, a), O::acquire(O::PcFileTransfer, a), O::acquire(O::PcFileTransfer, a2),
                                 O::acquire(O::PcFileTransfer, b), O::acquire(O::UsbUpgrade), O::use(O::PcFileTransfer, b),
                                 O::use(O::PcCloudFile, a), O::use(O::PcFileTransfer, a)}),
              (std::vector<bool>{true, true, false, false, false, false, false, true}));

    // While its holder stores, no idle time takes the buffer away; only the holder ends that.
    EXPECT_TRUE(!O::begin_store(O::PcFileTransfer, b) && O::begin_store(O::PcFileTransfer, a));
    O::end_store(O::PcFileTransfer, b);
    O::end_store(O::UsbUpgrade, a);
    G_timeTicks = 2 * O::kIdleTicks;
    EXPECT_FALSE(O::acquire(O::UsbUpgrade));
    O::end_store(O::PcFileTransfer, a);                // the idle time starts again
    G_timeTicks = G_timeTicks + O::kIdleTicks - 1;
    EXPECT_FALSE(O::acquire(O::UsbUpgrade));
    G_timeTicks = G_timeTicks + 1;
    EXPECT_TRUE(O::acquire(O::UsbUpgrade));            // idle too long: taken over
    EXPECT_TRUE(!O::use(O::PcFileTransfer, a) && O::owner() == O::UsbUpgrade);

    // A settled holder still uses what the buffer holds until anyone else takes it, at once;
    // a settle or release by anyone but the holder changes nothing.
    O::settle(O::PcFileTransfer, a);
    EXPECT_FALSE(O::acquire(O::Module4G));
    O::settle(O::UsbUpgrade);
    EXPECT_TRUE(O::use(O::UsbUpgrade));
    O::release(O::Module4G);
    EXPECT_TRUE(O::owner() == O::UsbUpgrade && O::acquire(O::Module4G));
    O::release(O::UsbUpgrade);
    EXPECT_EQ(O::owner(), O::Module4G);
    O::release(O::Module4G);
    EXPECT_TRUE(O::owner() == O::None && O::acquire(O::PcFileTransfer, b));
    O::reset();
    G_timeTicks = 0;
}
