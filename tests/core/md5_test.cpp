#include "core/md5.h"

#include <gtest/gtest.h>
#include <string>

namespace {
std::string md5Of(const std::string& s)
{
    MD5 m(s.data(), unsigned(s.size()));
    return m.toString();
}
} // namespace

TEST(Md5, Rfc1321TestSuiteAndEachSideOfThePaddingEdgesWholeAndInTwoPiecesCutAnywhere)
{
    // RFC 1321's suite (56 bytes: the padding takes a second block), then "a" repeated to each
    // side of the padding's edges, 55/56 and 63/64 bytes mod 64.
    const std::pair<std::string, const char*> digests[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"}, {"a", "0cc175b9c0f1b6a831c399e269772661"}, {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"}, {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890", "57edf4a22be3c955ac49da2e2107b67a"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "8215ef0796a20bcaaae116d3876c664a"},
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"}, {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(63, 'a'), "b06521f39153d618550606be297466d5"}, {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
        {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"}, {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"}};
    for (const auto& [text, digest] : digests) {
        EXPECT_EQ(md5Of(text), digest) << text;
        for (unsigned cut = 0; cut <= text.size(); ++cut) {
            MD5 m;
            m.update(text.data(), cut);
            m.update(text.data() + cut, unsigned(text.size()) - cut);
            EXPECT_EQ(m.toString(), digest) << text.size() << " bytes cut at " << cut;
        }
    }
}

TEST(Md5, DigestIsNotDestructiveAndPiecesEqualTheWhole)
{
    const std::string whole(1000, 'x');
    MD5 m;
    m.update(whole.data(), 300);
    // The first piece's digest twice (the second without an update), the whole's, after a reset.
    std::vector<std::string> digests{m.toString(), m.toString()};
    m.update(whole.data() + 300, 700);
    digests.push_back(m.toString());
    m.reset();
    digests.push_back(m.toString());
    EXPECT_EQ(digests, (std::vector<std::string>{md5Of(whole.substr(0, 300)), md5Of(whole.substr(0, 300)), md5Of(whole), "d41d8cd98f00b204e9800998ecf8427e"}));

    const unsigned char hex[] = {0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ((std::vector<std::string>{MD5::bytesToHexString(hex, 4), MD5::bytesToHexString(hex, 0)}), (std::vector<std::string>{"000fa5ff", ""}));
}
