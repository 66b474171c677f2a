#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "os/text_file.h"
#include "util/decode.h"
#include "util/text.h"

namespace {

const std::string replacement = "\xEF\xBF\xBD";

// The whole literal, NUL bytes included.
template <std::size_t N>
std::string bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

TEST(DecodeText, ByteOrderMarksSelectUtf16) {
    EXPECT_EQ(qm::decode_text(bytes("\xFF\xFE\x6F\x00\x6B\x00")), "ok");
    EXPECT_EQ(qm::decode_text(bytes("\xFE\xFF\x00\x6F\x00\x6B")), "ok");
    EXPECT_EQ(qm::decode_text(bytes("\xFF\xFE\x6F\x00\x6B")), "o");  // odd last byte ignored
    EXPECT_EQ(qm::decode_text(bytes("\xFF\xFE")), "");
    EXPECT_EQ(qm::decode_text(bytes("\xFE\xFF")), "");
    EXPECT_EQ(qm::decode_text(bytes("\xFF\xFE\xE9\x00\xAC\x20")), "\xC3\xA9\xE2\x82\xAC");
    // A NUL character is text like any other, not an end.
    EXPECT_EQ(qm::decode_text(bytes("\xFF\xFE\x61\x00\x00\x00\x62\x00")), std::string("a\0b", 3));
}

TEST(DecodeText, Utf16SurrogatesPairOrBecomeReplacementCharacters) {
    // U+1F600 as D83D DE00 in both byte orders.
    EXPECT_EQ(qm::decode_text(bytes("\xFF\xFE\x3D\xD8\x00\xDE")), "\xF0\x9F\x98\x80");
    EXPECT_EQ(qm::decode_text(bytes("\xFE\xFF\xD8\x3D\xDE\x00")), "\xF0\x9F\x98\x80");
    // A high half followed by a letter: the half is replaced, the letter kept.
    EXPECT_EQ(qm::decode_text(bytes("\xFF\xFE\x00\xD8\x41\x00")), replacement + "A");
    // A high half at the very end, a lone low half, and two high halves.
    EXPECT_EQ(qm::decode_text(bytes("\xFF\xFE\x41\x00\x00\xD8")), "A" + replacement);
    EXPECT_EQ(qm::decode_text(bytes("\xFF\xFE\x00\xDC\x41\x00")), replacement + "A");
    EXPECT_EQ(qm::decode_text(bytes("\xFF\xFE\x00\xD8\x3D\xD8\x00\xDE")), replacement + "\xF0\x9F\x98\x80");
    // A low half before a high half is not a pair.
    EXPECT_EQ(qm::decode_text(bytes("\xFF\xFE\x00\xDE\x3D\xD8")), replacement + replacement);
}

TEST(DecodeText, Utf8StaysAndOtherBytesMapOneToOne) {
    EXPECT_EQ(qm::decode_text(""), "");
    EXPECT_EQ(qm::decode_text("\xEF\xBB\xBF\x6F\x6B"), "ok");
    EXPECT_EQ(qm::decode_text("\xEF\xBB\xBF"), "");
    EXPECT_EQ(qm::decode_text("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ(qm::decode_text("\x63\x61\x66\xE9"), "caf\xC3\xA9");
    // One bad byte makes the whole text single-byte, valid sequences included.
    EXPECT_EQ(qm::decode_text("\xC3\xA9\xE9"), "\xC3\x83\xC2\xA9\xC3\xA9");
    // After a UTF-8 mark the rest is judged on its own.
    EXPECT_EQ(qm::decode_text("\xEF\xBB\xBF\xE9"), "\xC3\xA9");
    // One byte cannot hold a UTF-16 mark; FF alone is U+00FF.
    EXPECT_EQ(qm::decode_text(bytes("\xFF")), "\xC3\xBF");
    EXPECT_EQ(qm::decode_text("\x80\xFF"), "\xC2\x80\xC3\xBF");
    // Every byte value survives and decoding the result again changes nothing.
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    all = "x" + all;  // keep FF FE / FE FF from starting the text
    const std::string decoded = qm::decode_text(all);
    EXPECT_EQ(qm::decode_text(decoded), decoded);
}

TEST(DecodeText, ReadTextFileDecodesOrReportsTheFile) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "qm-decode-test.txt";
    std::ofstream(file, std::ios::binary) << bytes("\xFF\xFE\x68\x00\xE9\x00");
    const qm::Result<std::string> text = qm::os::read_text_file(file.string());
    std::filesystem::remove(file);
    ASSERT_TRUE(text.has_value()) << text.error();
    EXPECT_EQ(*text, "h\xC3\xA9");

    const qm::Result<std::string> missing = qm::os::read_text_file(file.string());
    ASSERT_FALSE(missing.has_value());
    EXPECT_NE(missing.error().message.find("qm-decode-test.txt"), std::string::npos) << missing.error().message;
}

TEST(DecodeWindows1252, HighControlRangeMapsToItsMarksAndUnassignedBytesKeepTheirNumbers) {
    EXPECT_EQ(qm::decode_windows_1252(""), "");
    EXPECT_EQ(qm::decode_windows_1252("C:\\Apps\\x.exe"), "C:\\Apps\\x.exe");
    // The ends of the 80..9F table and a few between: euro, low quote, ellipsis, S caron, trade mark, Y diaeresis.
    EXPECT_EQ(qm::decode_windows_1252("\x80\x82\x85\x8A\x99\x9F"),
              "\xE2\x82\xAC\xE2\x80\x9A\xE2\x80\xA6\xC5\xA0\xE2\x84\xA2\xC5\xB8");
    // The five bytes the code page leaves unassigned become C1 characters of the same number.
    EXPECT_EQ(qm::decode_windows_1252("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
    // A0..FF are Latin-1: "Süß" and y diaeresis; UTF-8 bytes are read as single characters.
    EXPECT_EQ(qm::decode_windows_1252("S\xFC\xDF\xFF"), "S\xC3\xBC\xC3\x9F\xC3\xBF");
    EXPECT_EQ(qm::decode_windows_1252("\xC3\xB6"), "\xC3\x83\xC2\xB6");
    // NUL stays a character; every byte value gives valid UTF-8 and one character.
    EXPECT_EQ(qm::decode_windows_1252(bytes("a\0b")), std::string("a\0b", 3));
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string decoded = qm::decode_windows_1252(all);
    EXPECT_TRUE(qm::is_valid_utf8(decoded));
    EXPECT_EQ(qm::count_characters(decoded), 256U);
}

}  // namespace
