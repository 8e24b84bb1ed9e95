// A PC's user-mode save is answered from its own apply, whatever another PC leaves waiting for
// an apply that may never come.
#include "tests/core/store_fixture.h"

TEST_F(StoreFixture, AUserModeSaveIsAnsweredWhileAnotherPcsWriteWaitsForItsApply)
{
    scalerUp();
    message_deal other{message_deal::REPLY_LIMIT_TCP};
    other.peer = 7;
    // The other PC's write, after the apply took the request: an edit, or the request word itself.
    for (const auto& [at, value] : std::vector<std::pair<int, Bytes>>{{P::kBrightness, {50}}, {P::kModeSaveRequest, {0, 0}}, {P::kModeSaveRequest, {5, 0}}}) {
        std::filesystem::remove_all(root.host("/data")), start(), listen(), later.reset();
        ASSERT_EQ(ramWrite(md, P::kBrightness, {37}) | ramWrite(md, P::kModeSaveRequest, {3, 0}), 0);
        ASSERT_TRUE(deal(0xA0, {11, 2, 0, 2}).empty());   // apply and save: answered from the stores
        c331_manage::p_c331_manage->c331_apply_changes(), ramWrite(other, at, value), settleDevice();
        EXPECT_TRUE(later == Bytes{0} && para()->ram[at] == value[0]) << "the other PC's write at " << at << " (still waiting for its apply)";
        start();   // what the next start loads: the mode as the apply showed it
        EXPECT_TRUE(para()->KelUserModeSaved(2) && para()->mode_slot[2][2 + P::kBrightness - P::kModeArea] == 37) << at;
    }
}

TEST_F(StoreFixture, AUserModeSaveIsAnsweredDoneOnlyWhenTheSlotItsPcNamedWasSaved)
{
    scalerUp();
    message_deal other{message_deal::REPLY_LIMIT_TCP};
    other.peer = 7;
    // The word is one for every PC: another PC writes it over before this PC's apply.
    for (const Bytes& word : std::vector<Bytes>{{5, 0}, {0, 0}, {3, 0}, {17, 0}}) {
        std::filesystem::remove_all(root.host("/data")), start(), listen(), later.reset();
        ASSERT_EQ(ramWrite(md, P::kBrightness, {37}) | ramWrite(md, P::kModeSaveRequest, {3, 0}) | ramWrite(other, P::kModeSaveRequest, word), 0);
        ASSERT_TRUE(deal(0xA0, {11, 2, 0, 2}).empty());
        settleDevice();
        ASSERT_TRUE(later.has_value()) << int(word[0]);
        const Bytes answer = *later;
        start();   // what the next start loads
        const bool named = para()->KelUserModeSaved(2) && para()->mode_slot[2][2 + P::kBrightness - P::kModeArea] == 37;
        EXPECT_EQ(answer, Bytes{uint8_t(named ? 0 : 1)}) << "the other PC's word " << int(word[0]);
    }
}
