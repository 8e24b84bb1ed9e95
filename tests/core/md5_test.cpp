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

TEST(Md5, Rfc1321TestSuite)
{
    EXPECT_EQ((std::vector<std::string>{md5Of(""), md5Of("a"), md5Of("abc"), md5Of("message digest"), md5Of("abcdefghijklmnopqrstuvwxyz")}),
              (std::vector<std::string>{"d41d8cd98f00b204e9800998ecf8427e", "0cc175b9c0f1b6a831c399e269772661",
                                        "900150983cd24fb0d6963f7d28e17f72", "f96b697d7cb7938d525a2f31aaf161d0",
                                        "c3fcd3d76192e4007dfb496cca67e13b"}));
    EXPECT_EQ(md5Of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Of("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
    // 56 bytes: the padding no longer fits the block and takes a second one.
    EXPECT_EQ(md5Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"), "8215ef0796a20bcaaae116d3876c664a");
    // Each side of the padding's edges (55/56 and 63/64 bytes mod 64), digests of "a" repeated.
    EXPECT_EQ((std::vector<std::string>{md5Of(std::string(55, 'a')), md5Of(std::string(56, 'a')), md5Of(std::string(63, 'a')),
                                        md5Of(std::string(64, 'a')), md5Of(std::string(119, 'a')), md5Of(std::string(120, 'a'))}),
              (std::vector<std::string>{"ef1772b6dff9a122358552954ad0df65", "3b0c8ac703f828b04c6c197006d17218",
                                        "b06521f39153d618550606be297466d5", "014842d480b571495a4a0363793f7367",
                                        "8a7bd0732ed6a28ce75f6dabc90e1613", "5f61c0ccad4cac44c75ff505e1f1e537"}));
}

TEST(Md5, DigestIsNotDestructiveAndPiecesEqualTheWhole)
{
    const std::string whole(1000, 'x');
    MD5 m;
    m.update(whole.data(), 300);
    std::string first = m.toString();
    EXPECT_EQ(first, md5Of(whole.substr(0, 300)));
    EXPECT_EQ(m.toString(), first);                          // second digest without update
    m.update(whole.data() + 300, 700);
    EXPECT_EQ(m.toString(), md5Of(whole));
    m.reset();
    EXPECT_EQ(m.toString(), "d41d8cd98f00b204e9800998ecf8427e");

    // Two halves cut anywhere across the block edges.
    std::string data;
    for (int i = 0; i < 200; ++i)
        data.push_back(char(i * 7));
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    for (unsigned cut = 0; cut <= data.size(); cut += 13) {
        m.reset();
        m.update(bytes, cut);
        m.update(bytes + cut, unsigned(data.size()) - cut);
        EXPECT_EQ(m.toString(), md5Of(data)) << "cut at " << cut;
    }
    const unsigned char hex[] = {0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(MD5::bytesToHexString(hex, 4), "000fa5ff");
    EXPECT_EQ(MD5::bytesToHexString(hex, 0), "");
}
