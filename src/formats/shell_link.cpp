#include "formats/shell_link.h"

#include <cstddef>
#include <cstdint>

#include "util/decode.h"

namespace qm::formats {
namespace {

constexpr std::uint32_t header_size = 0x4C;

// Link flags.
constexpr std::uint32_t has_target_id_list = 1U << 0;
constexpr std::uint32_t has_link_info = 1U << 1;
constexpr std::uint32_t has_name = 1U << 2;
constexpr std::uint32_t has_relative_path = 1U << 3;
constexpr std::uint32_t has_working_dir = 1U << 4;
constexpr std::uint32_t has_arguments = 1U << 5;
constexpr std::uint32_t has_icon_location = 1U << 6;
constexpr std::uint32_t is_unicode = 1U << 7;

// Link info: its flag for a local path, and where its fields lie.
constexpr std::uint32_t volume_id_and_local_base_path = 1U << 0;
constexpr std::size_t link_info_fixed_size = 0x1C;    // up to and including CommonPathSuffixOffset
constexpr std::size_t link_info_unicode_size = 0x24;  // with the two Unicode offsets

// The block that names the target with environment variables, unexpanded.
constexpr std::uint32_t environment_block_signature = 0xA0000001;
constexpr std::size_t environment_ansi_offset = 8;
constexpr std::size_t environment_ansi_size = 260;
constexpr std::size_t environment_unicode_offset = 268;
constexpr std::size_t environment_unicode_size = 520;

// Bounds-checked little-endian reads; nothing when the field does not fit.
class Bytes {
public:
    explicit Bytes(std::string_view data) : data_(data) {}

    [[nodiscard]] std::size_t size() const { return data_.size(); }

    [[nodiscard]] bool holds(std::size_t offset, std::size_t length) const {
        return offset <= data_.size() && length <= data_.size() - offset;
    }

    [[nodiscard]] std::optional<std::uint16_t> u16(std::size_t offset) const {
        if (!holds(offset, 2)) return std::nullopt;
        return static_cast<std::uint16_t>(byte(offset) | (byte(offset + 1) << 8));
    }

    [[nodiscard]] std::optional<std::uint32_t> u32(std::size_t offset) const {
        if (!holds(offset, 4)) return std::nullopt;
        return static_cast<std::uint32_t>(byte(offset)) | (static_cast<std::uint32_t>(byte(offset + 1)) << 8) |
               (static_cast<std::uint32_t>(byte(offset + 2)) << 16) |
               (static_cast<std::uint32_t>(byte(offset + 3)) << 24);
    }

    // Callers check `holds` first.
    [[nodiscard]] std::string_view slice(std::size_t offset, std::size_t length) const {
        return data_.substr(offset, length);
    }

private:
    [[nodiscard]] unsigned byte(std::size_t offset) const { return static_cast<unsigned char>(data_[offset]); }

    std::string_view data_;
};

// UTF-16LE units as UTF-8; unpaired surrogates become U+FFFD.
std::string utf16_text(std::string_view units) {
    std::string marked = "\xFF\xFE";
    marked.append(units);
    return decode_text(marked);
}

std::string text_of(std::string_view raw, bool unicode) { return unicode ? utf16_text(raw) : decode_windows_1252(raw); }

// Where the first NUL character of the text lies, if it has one.
std::optional<std::size_t> nul_position(std::string_view raw, bool unicode) {
    const std::size_t step = unicode ? 2 : 1;
    for (std::size_t i = 0; i + step <= raw.size(); i += step) {
        if (raw[i] == '\0' && (!unicode || raw[i + 1] == '\0')) return i;
    }
    return std::nullopt;
}

// A NUL-terminated string that must end inside `area`; nothing when its
// terminator is missing.
std::optional<std::string> terminated_text(std::string_view area, bool unicode) {
    const auto end = nul_position(area, unicode);
    if (!end) return std::nullopt;
    return text_of(area.substr(0, *end), unicode);
}

struct LinkInfoTarget {
    std::size_t end = 0;                // where the next structure starts
    std::optional<std::string> target;  // only with a local base path
};

// Offsets are relative to the link info's start and must point inside it;
// the Unicode ones, when the header is long enough to hold them, replace the
// single-byte ones that they do not leave at zero.
std::optional<LinkInfoTarget> read_link_info(const Bytes& bytes, std::size_t start) {
    const auto size = bytes.u32(start);
    if (!size || !bytes.holds(start, *size) || *size < link_info_fixed_size) return std::nullopt;
    const std::string_view info = bytes.slice(start, *size);
    const Bytes fields(info);

    LinkInfoTarget result;
    result.end = start + *size;
    if ((*fields.u32(8) & volume_id_and_local_base_path) == 0) return result;

    std::uint32_t base_offset = *fields.u32(16);
    std::uint32_t suffix_offset = *fields.u32(24);
    bool base_unicode = false;
    bool suffix_unicode = false;
    if (*fields.u32(4) >= link_info_unicode_size) {
        const auto base_unicode_offset = fields.u32(28);
        const auto suffix_unicode_offset = fields.u32(32);
        if (!base_unicode_offset || !suffix_unicode_offset) return std::nullopt;
        if (*base_unicode_offset != 0) {
            base_offset = *base_unicode_offset;
            base_unicode = true;
        }
        if (*suffix_unicode_offset != 0) {
            suffix_offset = *suffix_unicode_offset;
            suffix_unicode = true;
        }
    }
    if (base_offset >= info.size() || suffix_offset >= info.size()) return std::nullopt;
    auto base = terminated_text(info.substr(base_offset), base_unicode);
    auto suffix = terminated_text(info.substr(suffix_offset), suffix_unicode);
    if (!base || !suffix) return std::nullopt;
    result.target = *base + *suffix;
    return result;
}

// One counted string of the string data; `position` moves past it.
std::optional<std::string> read_counted_string(const Bytes& bytes, std::size_t& position, bool unicode) {
    const auto count = bytes.u16(position);
    if (!count) return std::nullopt;
    const std::size_t length = std::size_t{*count} * (unicode ? 2 : 1);
    if (!bytes.holds(position + 2, length)) return std::nullopt;
    const std::string_view raw = bytes.slice(position + 2, length);
    position += 2 + length;
    // The system hands such a string out up to its first NUL, so nothing after one is shown either.
    return text_of(raw.substr(0, nul_position(raw, unicode).value_or(raw.size())), unicode);
}

// The extra data blocks from `position` on, up to the environment-variable
// block: its target, or nothing when the blocks are malformed. A size below 4
// (the terminal block, or the end of the file) ends the walk.
std::optional<std::string> read_environment_target(const Bytes& bytes, std::size_t position) {
    while (true) {
        const auto size = bytes.u32(position);
        if (!size || *size < 4) return std::string();
        if (!bytes.holds(position, *size)) return std::nullopt;
        const Bytes block(bytes.slice(position, *size));
        if (block.u32(4) == environment_block_signature) {
            if (!block.holds(environment_unicode_offset, environment_unicode_size)) return std::nullopt;
            auto unicode = terminated_text(block.slice(environment_unicode_offset, environment_unicode_size), true);
            if (!unicode || !unicode->empty()) return unicode;
            return terminated_text(block.slice(environment_ansi_offset, environment_ansi_size), false);
        }
        position += *size;
    }
}

}  // namespace

std::optional<ShellLink> read_shell_link(std::string_view data) {
    const Bytes bytes(data);
    if (bytes.size() < header_size || bytes.u32(0) != header_size) return std::nullopt;
    const std::uint32_t flags = *bytes.u32(20);
    const bool unicode = (flags & is_unicode) != 0;
    std::size_t position = header_size;

    if (flags & has_target_id_list) {
        const auto list_size = bytes.u16(position);
        if (!list_size || !bytes.holds(position + 2, *list_size)) return std::nullopt;
        position += 2 + *list_size;
    }

    std::optional<std::string> target;
    if (flags & has_link_info) {
        const auto info = read_link_info(bytes, position);
        if (!info) return std::nullopt;
        position = info->end;
        target = info->target;
    }

    ShellLink link;
    for (const std::uint32_t flag : {has_name, has_relative_path, has_working_dir, has_arguments, has_icon_location}) {
        if ((flags & flag) == 0) continue;
        auto text = read_counted_string(bytes, position, unicode);
        if (!text) return std::nullopt;
        if (flag == has_working_dir) link.working_directory = std::move(*text);
        if (flag == has_arguments) link.arguments = std::move(*text);
    }

    if (target && !target->empty()) {
        link.target = std::move(*target);
    } else {
        auto from_environment = read_environment_target(bytes, position);
        if (!from_environment) return std::nullopt;
        link.target = std::move(*from_environment);
    }
    return link;
}

}  // namespace qm::formats
