#pragma once
// What a screen last drew from the parameter block. A screen decides what to redraw by
// comparing the live block with this copy, not with the saved copy: a change made while it
// was not in front, or one that went back to the saved value, is drawn all the same.
#include "core/kelrampara.h"

#include <memory>

class DrawnBlock {
public:
    // The block as it stands now is taken as drawn (a screen draws it as it is built).
    DrawnBlock();
    // Copies the live block in; call without the block's locks.
    void take_live();
    // Whether bytes offset .. offset + n - 1 of the copy taken last differ from what was drawn.
    bool changed(int offset, int n) const;
    // The copy taken last is now what the screen shows.
    void drawn();

private:
    std::unique_ptr<KelRamPara::BlockCopy> live_;
    std::unique_ptr<KelRamPara::BlockCopy> drawn_;
};
