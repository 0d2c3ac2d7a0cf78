// The web-shop address and the decoding of a package.id first line.
#include "mod_WebShop.h"

#include <gtest/gtest.h>

namespace {

const std::string Prefix = "http://" + std::string(PENDOCK_SHOP_HOST) +
                           "/custom-backend?q=ecommerce---usbupgrade---vendor___";

TEST(ShopAddress, OrdinaryIdentityIsTakenCharacterForCharacter) {
    EXPECT_EQ(BuildShopAddress("KINGSTON", "0019E06B4A37F1A0C9D22E01", "DATATRAVELER_3.0",
                               "QV-2024.1-PRO"),
              "http://" PENDOCK_SHOP_HOST "/custom-backend?q=ecommerce---usbupgrade---vendor___"
              "KINGSTON---serial___0019E06B4A37F1A0C9D22E01---type___DATATRAVELER_3.0"
              "---installed___QV-2024.1-PRO");
    EXPECT_EQ(BuildShopAddress("QUORVENT", "6_A1B2C3D4", "STICK", "pkg~7.x", "shop.test"),
              "http://shop.test/custom-backend?q=ecommerce---usbupgrade---vendor___QUORVENT"
              "---serial___6_A1B2C3D4---type___STICK---installed___pkg~7.x");
}

TEST(ShopAddress, ConfiguredHostAndEmptyValues) {
    EXPECT_EQ(ShopHost(), PENDOCK_SHOP_HOST);
    EXPECT_FALSE(ShopHost().empty());
    EXPECT_EQ(BuildShopAddress("", "", "", ""), Prefix + "---serial___---type___---installed___");
}

TEST(ShopAddress, EachValueIsPercentEncoded) {
    // "&" would split the query, "#" cut it off, "+" turn into a blank, blanks and controls
    // break the address; non-ASCII goes as UTF-8 bytes.
    EXPECT_EQ(BuildShopAddress("A&B", "S#1", "T+ 2",
                               "gr\xC3\xBC\xC3\x9F"
                               "e\t%/?=\n"),
              Prefix + "A%26B---serial___S%231---type___T%2B%202---installed___"
                       "gr%C3%BC%C3%9Fe%09%25%2F%3F%3D%0A");
    EXPECT_EQ(PercentEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(PercentEncode(std::string("\0\x7F\xFF\"'<>\\", 8)), "%00%7F%FF%22%27%3C%3E%5C");
}

// Found by fuzzing: a value holding "---", or a '-' at its end, made more separators than the
// fixed ones. A lone '-' inside a value stays as it is.
TEST(ShopAddress, DashesInValuesNeverMakeASeparator) {
    EXPECT_EQ(BuildShopAddress("A---serial___B", "S-", "-T", "x--y-z"),
              Prefix + "A%2D%2D%2Dserial___B---serial___S%2D---type___%2DT"
                       "---installed___x%2D%2Dy-z");
    EXPECT_EQ(BuildShopAddress("-", "", "", "QV-2024.1-PRO"),
              Prefix + "%2D---serial___---type___---installed___QV-2024.1-PRO");
}

std::string Decoded(const std::string& bytes, bool cut = false) {
    std::string line = "<untouched>";
    if (!DecodeFirstLine(bytes, line, cut))
        return "<no line>";
    return line;
}

TEST(FirstLine, LineEndsAndBlanks) {
    EXPECT_EQ(Decoded("QV-1\r\nQV-2\r\n"), "QV-1");
    EXPECT_EQ(Decoded("QV-1\nQV-2"), "QV-1");
    EXPECT_EQ(Decoded("QV-1\rQV-2"), "QV-1");
    EXPECT_EQ(Decoded("  QV 1  \n"), "  QV 1  ");
    EXPECT_EQ(Decoded("no line end"), "no line end");
    EXPECT_EQ(Decoded("\nsecond"), "");
    EXPECT_EQ(Decoded(""), "<no line>");
    EXPECT_EQ(Decoded("\xEF\xBB\xBF"), "<no line>");
    EXPECT_EQ(Decoded("\xFF\xFE"), "<no line>");
}

TEST(FirstLine, ByteOrderMarks) {
    EXPECT_EQ(Decoded("\xEF\xBB\xBF"
                      "caf\xC3\xA9\r\nx"),
              "caf\xC3\xA9");
    // "Qé€😀" then CR LF, little- and big-endian.
    const std::string le("\xFF\xFE"
                         "Q\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE\r\0\n\0x\0",
                         18);
    const std::string be("\xFE\xFF\0Q\0\xE9\x20\xAC\xD8\x3D\xDE\x00\0\r\0\n\0x", 18);
    const std::string expected = "Q\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    EXPECT_EQ(Decoded(le), expected);
    EXPECT_EQ(Decoded(be), expected);
    // Line ends are found by code unit: U+0D0A and U+010D hold the bytes of LF and CR.
    EXPECT_EQ(Decoded(std::string("\xFF\xFE\x0A\x0D\x0D\x01", 6)), "\xE0\xB4\x8A\xC4\x8D");
    EXPECT_EQ(Decoded(std::string("\xFE\xFF\x0D\x0A\x01\x0D", 6)), "\xE0\xB4\x8A\xC4\x8D");
    // U+0A41 U+4E00: the bytes between the two code units read as a line feed.
    EXPECT_EQ(Decoded(std::string("\xFF\xFE\x41\x0A\x00\x4E", 6)), "\xE0\xA9\x81\xE4\xB8\x80");
}

TEST(FirstLine, WithoutMarkUtf8WhereValidElseWindows1252) {
    EXPECT_EQ(Decoded("Gr\xC3\xB6\xC3\x9F"
                      "e\n"),
              "Gr\xC3\xB6\xC3\x9F"
              "e");
    EXPECT_EQ(Decoded("caf\xE9 \x80\x9F\n"), "caf\xC3\xA9 \xE2\x82\xAC\xC5\xB8");
    // A 1252 line ending in a byte that starts a UTF-8 sequence is still 1252.
    EXPECT_EQ(Decoded("caf\xE9"), "caf\xC3\xA9");
    // Overlong forms and encoded surrogates are not valid UTF-8.
    EXPECT_EQ(Decoded("\xC0\xAF"), "\xC3\x80\xC2\xAF");
    EXPECT_EQ(Decoded("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");
}

TEST(FirstLine, MalformedAndCutText) {
    EXPECT_EQ(Decoded("\xEF\xBB\xBF"
                      "a\xFF"
                      "b"),
              "a\xEF\xBF\xBD"
              "b");
    // An unpaired surrogate and an odd byte at the end of a UTF-16 file.
    EXPECT_EQ(Decoded(std::string("\xFF\xFE\x00\xDC"
                                  "a\0"
                                  "b",
                                  7)),
              "\xEF\xBF\xBD"
              "a\xEF\xBF\xBD");
    // Text cut at the read limit drops the character cut in two, and stays UTF-8.
    EXPECT_EQ(Decoded("\xC3\xA9\xE2\x82", true), "\xC3\xA9");
    EXPECT_EQ(Decoded(std::string("\xFF\xFE"
                                  "a\0\x3D\xD8",
                                  6),
                      true),
              "a");
    EXPECT_EQ(Decoded(std::string("\xFF\xFE"
                                  "a\0"
                                  "b",
                                  5),
                      true),
              "a");
}

// An identifier is a short text: a damaged file (zeros, a tab, escape codes, a line longer than
// any identifier) gives what comes before the first control character, cut to 255 bytes.
TEST(FirstLine, ControlCharactersEndTheLineAndTheIdentifierIsShort) {
    EXPECT_EQ(Decoded(std::string(4096, '\0')), "");
    EXPECT_EQ(Decoded(std::string("QV-1\0\0\0garbage", 14)), "QV-1");
    EXPECT_EQ(Decoded("QV-1\tx"), "QV-1");
    EXPECT_EQ(Decoded("QV\x1B[31m"), "QV");
    EXPECT_EQ(Decoded("QV\x7F"), "QV");
    EXPECT_EQ(Decoded("caf\xE9\x81x"), "caf\xC3\xA9") << "1252 byte without a character";
    EXPECT_EQ(Decoded("a\xC2\x85"), "a") << "UTF-8 next-line control";
    EXPECT_EQ(Decoded(std::string("\xFF\xFE"
                                  "Q\0\0\0V\0",
                                  8)),
              "Q");
    EXPECT_EQ(Decoded(std::string("\xFE\xFF\0Q\0\x09\0V", 8)), "Q");

    EXPECT_EQ(Decoded(std::string(300, 'x')), std::string(PackageIdMaxBytes, 'x'));
    // 254 ASCII bytes and a two-byte letter: the letter would end at byte 256 and goes.
    EXPECT_EQ(Decoded(std::string(254, 'x') + "\xC3\xA9yz"), std::string(254, 'x'));
    std::string euros;
    for (int i = 0; i < 100; ++i)
        euros += "\xE2\x82\xAC";
    EXPECT_EQ(Decoded(euros), euros.substr(0, 255));
    EXPECT_EQ(Decoded(euros + "z").size(), 255u);
}

} // namespace
