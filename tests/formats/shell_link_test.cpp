// The reader against links built byte by byte: single-byte and Unicode text,
// both link info header sizes, links without a local path, the
// environment-variable block, the end of the extra data, and files too short
// for what they announce.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/shell_link.h"

namespace qm::formats {
namespace {

using namespace std::string_literals;

// Flags of the link header.
constexpr std::uint32_t id_list = 1U << 0;
constexpr std::uint32_t link_info = 1U << 1;
constexpr std::uint32_t name = 1U << 2;
constexpr std::uint32_t working_dir = 1U << 4;
constexpr std::uint32_t arguments = 1U << 5;
constexpr std::uint32_t icon_location = 1U << 6;
constexpr std::uint32_t unicode = 1U << 7;

std::string le16(std::uint32_t value) {
    return {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

std::string le32(std::uint32_t value) { return le16(value & 0xFFFF) + le16(value >> 16); }

std::string utf16(std::u16string_view text) {
    std::string bytes;
    for (char16_t unit : text) bytes += le16(unit);
    return bytes;
}

std::string header(std::uint32_t flags) {
    std::string bytes = le32(0x4C) + std::string(16, '\x01') + le32(flags);
    bytes.resize(0x4C, '\0');
    return bytes;
}

std::string counted(std::string_view single_byte) {
    return le16(static_cast<std::uint32_t>(single_byte.size())) + std::string(single_byte);
}

std::string counted(std::u16string_view text) { return le16(static_cast<std::uint32_t>(text.size())) + utf16(text); }

// A link info with a local base path and a common path suffix, single-byte
// (header 0x1C). `unicode_base` / `unicode_suffix`, when given, make the
// header 0x24 and add Unicode strings; an empty one leaves its offset zero.
std::string local_link_info(std::string_view base, std::string_view suffix,
                            std::optional<std::u16string> unicode_base = {},
                            std::optional<std::u16string> unicode_suffix = {}) {
    const bool long_header = unicode_base || unicode_suffix;
    const std::uint32_t header_size = long_header ? 0x24 : 0x1C;
    // Volume: its size, a fixed drive, a serial number, the label at its end.
    const std::string volume = le32(0x10) + le32(3) + le32(0x12345678) + le32(0x10);
    std::string body = volume + "\0"s;
    const auto base_offset = static_cast<std::uint32_t>(header_size + body.size());
    body += std::string(base) + '\0';
    const auto suffix_offset = static_cast<std::uint32_t>(header_size + body.size());
    body += std::string(suffix) + '\0';
    std::uint32_t unicode_base_offset = 0;
    std::uint32_t unicode_suffix_offset = 0;
    if (unicode_base && !unicode_base->empty()) {
        if (body.size() % 2) body += '\0';
        unicode_base_offset = static_cast<std::uint32_t>(header_size + body.size());
        body += utf16(*unicode_base) + le16(0);
    }
    if (unicode_suffix && !unicode_suffix->empty()) {
        unicode_suffix_offset = static_cast<std::uint32_t>(header_size + body.size());
        body += utf16(*unicode_suffix) + le16(0);
    }
    std::string fields =
        le32(header_size) + le32(1) + le32(header_size) + le32(base_offset) + le32(0) + le32(suffix_offset);
    if (long_header) fields += le32(unicode_base_offset) + le32(unicode_suffix_offset);
    const auto size = static_cast<std::uint32_t>(4 + fields.size() + body.size());
    return le32(size) + fields + body;
}

// A link info that names only a network share (no local base path).
std::string network_link_info() {
    std::string share = le32(0x14 + 15) + le32(0) + le32(0x14) + le32(0) + le32(0x20000) + "\\\\server\\share"s + '\0';
    const auto suffix_offset = static_cast<std::uint32_t>(0x1C + share.size());
    std::string fields = le32(0x1C) + le32(2) + le32(0) + le32(0) + le32(0x1C) + le32(suffix_offset);
    std::string body = share + "app.exe"s + '\0';
    return le32(static_cast<std::uint32_t>(4 + fields.size() + body.size())) + fields + body;
}

// The environment-variable block: the single-byte target at 8 (260 bytes),
// the Unicode one at 268 (520 bytes).
std::string environment_block(std::string_view single_byte, std::u16string_view wide) {
    std::string ansi(single_byte);
    ansi.resize(260, '\0');
    std::string unicode = utf16(wide);
    unicode.resize(520, '\0');
    return le32(0x314) + le32(0xA0000001) + ansi + unicode;
}

std::string other_block() { return le32(0x10) + le32(0xA0000003) + std::string(8, 'x'); }

std::string terminal_block() { return le32(0); }

TEST(ShellLink, SingleByteStringsAreReadAsWindows1252) {
    const std::string bytes = header(link_info | working_dir | arguments) +
                              local_link_info("C:\\Caf\xE9\\", "tool.exe") + counted("C:\\Caf\xE9") +
                              counted("\x93quoted\x94 \x80 \x81");
    const auto link = formats::read_shell_link(bytes);
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(link->target, "C:\\Caf\u00E9\\tool.exe");
    EXPECT_EQ(link->working_directory, "C:\\Caf\u00E9");
    EXPECT_EQ(link->arguments, "\u201Cquoted\u201D \u20AC \u0081");
}

TEST(ShellLink, CountedStringsAreSteppedOverInOrderAndStopAtNul) {
    // Name and icon location are read only to find what follows them.
    const std::string bytes = header(unicode | name | working_dir | arguments | icon_location) + counted(u"My app") +
                              counted(u"D:\\Work") + counted(u"--go\0 hidden"s) + counted(u"icon.ico,0") +
                              environment_block("", u"D:\\app.exe") + terminal_block();
    const auto link = formats::read_shell_link(bytes);
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(link->working_directory, "D:\\Work");
    EXPECT_EQ(link->arguments, "--go");
    EXPECT_EQ(link->target, "D:\\app.exe");

    // Single-byte strings stop at NUL the same way; bad surrogates become U+FFFD.
    EXPECT_EQ(formats::read_shell_link(header(arguments) + counted("a\0b"s))->arguments, "a");
    EXPECT_EQ(formats::read_shell_link(header(unicode | arguments) + counted(u"\xD800x\xDC00"))->arguments,
              "\uFFFDx\uFFFD");
}

TEST(ShellLink, LinkInfoHeaderSizeDecidesWhetherUnicodeOffsetsAreRead) {
    // 0x1C: only the single-byte strings exist.
    const auto short_header = formats::read_shell_link(header(link_info) + local_link_info("C:\\Apps\\", "a.exe"));
    ASSERT_TRUE(short_header.has_value());
    EXPECT_EQ(short_header->target, "C:\\Apps\\a.exe");

    // 0x24: the Unicode strings replace the single-byte ones ...
    const auto long_header = formats::read_shell_link(
        header(link_info) + local_link_info("C:\\?\\", "a.exe", u"C:\\\u0417\\", u"\u6D4B.exe"));
    ASSERT_TRUE(long_header.has_value());
    EXPECT_EQ(long_header->target, "C:\\\u0417\\\u6D4B.exe");

    // ... each only where its offset is not zero.
    const auto mixed =
        formats::read_shell_link(header(link_info) + local_link_info("C:\\?\\", "b.exe", u"C:\\\u0417\\", u""));
    ASSERT_TRUE(mixed.has_value());
    EXPECT_EQ(mixed->target, "C:\\\u0417\\b.exe");

    // A suffix of its own after a base path that is the whole target.
    EXPECT_EQ(formats::read_shell_link(header(link_info) + local_link_info("C:\\x.exe", ""))->target, "C:\\x.exe");
}

TEST(ShellLink, TargetComesFromTheEnvironmentBlockOnlyWithoutALocalPath) {
    const std::string args = counted("/run");
    // A network-only link info and no environment block: no target, the rest still read.
    const auto network =
        formats::read_shell_link(header(link_info | arguments) + network_link_info() + args + terminal_block());
    ASSERT_TRUE(network.has_value());
    EXPECT_EQ(network->target, "");
    EXPECT_EQ(network->arguments, "/run");

    // With one, its Unicode target, unexpanded, even after other blocks ...
    const auto from_unicode = formats::read_shell_link(
        header(link_info | arguments) + network_link_info() + args + other_block() +
        environment_block("%X%\\ansi.exe", u"%ProgramFiles%\\\u00C4pp\\a.exe") + terminal_block());
    ASSERT_TRUE(from_unicode.has_value());
    EXPECT_EQ(from_unicode->target, "%ProgramFiles%\\\u00C4pp\\a.exe");
    EXPECT_EQ(from_unicode->arguments, "/run");

    // ... or, when that is empty, its single-byte target.
    const auto from_ansi =
        formats::read_shell_link(header(0) + environment_block("%windir%\\\xC4.exe", u"") + terminal_block());
    ASSERT_TRUE(from_ansi.has_value());
    EXPECT_EQ(from_ansi->target, "%windir%\\\u00C4.exe");

    // A local path wins over the block.
    const auto local = formats::read_shell_link(header(link_info) + local_link_info("C:\\local.exe", "") +
                                                environment_block("", u"%windir%\\other.exe") + terminal_block());
    ASSERT_TRUE(local.has_value());
    EXPECT_EQ(local->target, "C:\\local.exe");

    // An item list alone (an app link) is stepped over and gives no target.
    const auto app = formats::read_shell_link(header(id_list) + le16(6) + le16(4) + "ab"s + le16(0));
    ASSERT_TRUE(app.has_value());
    EXPECT_EQ(app->target, "");
}

TEST(ShellLink, ExtraDataWalkEndsAtASmallSizeAndRejectsABlockPastTheEnd) {
    const std::string block = environment_block("", u"C:\\found.exe");
    // A size below 4 ends the walk: a block after it is not looked at.
    for (std::uint32_t small : {0U, 1U, 3U}) {
        const auto ended = formats::read_shell_link(header(0) + le32(small) + block);
        ASSERT_TRUE(ended.has_value()) << small;
        EXPECT_EQ(ended->target, "") << small;
    }
    // So does the end of the file, also within a size field.
    EXPECT_EQ(formats::read_shell_link(header(0))->target, "");
    EXPECT_EQ(formats::read_shell_link(header(0) + "\x10\x00"s)->target, "");
    // A block of 4 to 7 bytes has no room for a signature and is stepped over.
    EXPECT_EQ(formats::read_shell_link(header(0) + le32(6) + "zz"s + block)->target, "C:\\found.exe");

    // A block whose size runs past the end of the file, or an environment
    // block too small for its fields, is not a link.
    EXPECT_FALSE(formats::read_shell_link(header(0) + le32(0x20) + le32(0xA0000003) + "short"s).has_value());
    EXPECT_FALSE(formats::read_shell_link(header(0) + block.substr(0, block.size() - 1)).has_value());
    std::string small_environment = le32(0x100) + le32(0xA0000001) + std::string(0xF8, 'A');
    EXPECT_FALSE(formats::read_shell_link(header(0) + small_environment + terminal_block()).has_value());
    // An environment target without its NUL is not a link either.
    std::string unterminated = block;
    std::fill(unterminated.begin() + 268, unterminated.end(), 'A');
    EXPECT_FALSE(formats::read_shell_link(header(0) + unterminated + terminal_block()).has_value());
}

TEST(ShellLink, FilesTooShortForWhatTheyAnnounceAreNotLinks) {
    const std::string info = local_link_info("C:\\Apps\\", "a.exe");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""},
        {"header cut short", header(0).substr(0, 75)},
        {"wrong header size", le32(0x4D) + header(0).substr(4)},
        {"item list size missing", header(id_list) + "\x05"s},
        {"item list longer than the file", header(id_list) + le16(10) + "abc"s},
        {"link info size missing", header(link_info) + "\x30\x00"s},
        {"link info longer than the file", header(link_info) + info.substr(0, info.size() - 1)},
        {"link info smaller than its fields", header(link_info) + le32(8) + le32(0x1C) + std::string(40, '\0')},
        {"counted string past the end", header(arguments) + le16(5) + "abcd"s},
        {"Unicode string with half a unit", header(unicode | arguments) + le16(2) + "a\0b"s},
        {"second counted string missing", header(working_dir | arguments) + counted("C:\\")},
    };
    for (const auto& [what, bytes] : cases) EXPECT_FALSE(formats::read_shell_link(bytes).has_value()) << what;

    // Offsets pointing out of the link info, and a string without its NUL.
    const auto with_offset = [&](std::size_t field, std::uint32_t value) {
        std::string changed = info;
        changed.replace(field, 4, le32(value));
        return header(link_info) + changed;
    };
    const auto size = static_cast<std::uint32_t>(info.size());
    EXPECT_TRUE(formats::read_shell_link(with_offset(16, size - 1)).has_value());  // the last byte, a NUL: empty base
    EXPECT_FALSE(formats::read_shell_link(with_offset(16, size)).has_value());
    EXPECT_FALSE(formats::read_shell_link(with_offset(24, 0xFFFFFFFF)).has_value());
    std::string unterminated = info;
    unterminated.back() = 'x';
    EXPECT_FALSE(formats::read_shell_link(header(link_info) + unterminated).has_value());
    // A header of 0x24 needs room for the Unicode offsets.
    const std::string long_header_short_info =
        le32(0x1C) + le32(0x24) + le32(1) + le32(0) + le32(0x1B) + le32(0) + le32(0x1B);
    EXPECT_FALSE(formats::read_shell_link(header(link_info) + long_header_short_info).has_value());
}

}  // namespace
}  // namespace qm::formats
