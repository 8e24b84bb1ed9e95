#pragma once
// What one register read of a chip on the input side brought back: a value only when the
// chip answered. There is no conversion to the value: each reader decides what an
// unanswered read means where it stands - the step is not done and runs again, or the
// value is unknown and what was known stays. Nothing reads an unanswered register as 0.

#include <cassert>
#include <cstdint>

template <typename T>
class [[nodiscard]] RegResult {
public:
    RegResult() = default;   // unanswered
    static RegResult answered(T v)
    {
        RegResult r;
        r.ok_ = true;
        r.value_ = v;
        return r;
    }
    bool ok() const { return ok_; }
    // Only for an answered read: asking an unanswered one for its value is the fault this
    // type exists to prevent, and the tests' sweeps fail every read in turn to find one.
    T value() const
    {
        assert(ok_);
        return value_;
    }
    // The value, or what the caller knew before the read.
    T value_or(T known) const { return ok_ ? value_ : known; }
    // The register's bits under mask set (any of them), when answered.
    RegResult<bool> any(T mask) const { return ok_ ? RegResult<bool>::answered((value_ & mask) != 0) : RegResult<bool>(); }

private:
    bool ok_ = false;
    T value_{};
};

using RegRead = RegResult<uint8_t>;
using RegFlag = RegResult<bool>;
