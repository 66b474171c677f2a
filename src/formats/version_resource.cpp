#include "formats/version_resource.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "util/decode.h"

namespace qm::formats {

namespace {

// Each node: wLength (the node with its children, in bytes), wValueLength
// (in UTF-16 units for text, bytes otherwise), wType (1 text, 0 binary), the
// key as NUL-terminated UTF-16, padding to 4 bytes, the value, padding, the
// children. Offsets are from the block's start, which is 4-byte aligned.
constexpr std::size_t node_header = 6;
constexpr std::uint16_t text_type = 1;

struct Node {
    std::size_t key_begin = 0;
    std::size_t key_end = 0;  // at the key's NUL
    std::size_t value_begin = 0;
    std::size_t value_end = 0;
    std::size_t children_begin = 0;
    std::size_t end = 0;
};

std::uint16_t read_u16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1])
                                                                                  << 8);
}

std::size_t aligned(std::size_t at) { return (at + 3) & ~static_cast<std::size_t>(3); }

// The node at `at`, which must end by `limit`; none when its header or key
// does not fit. A node claiming more than its parent holds is cut to it.
std::optional<Node> read_node(std::string_view bytes, std::size_t at, std::size_t limit) {
    if (at > limit || limit - at < node_header) return std::nullopt;
    const std::size_t length = read_u16(bytes, at);
    if (length < node_header) return std::nullopt;
    Node node;
    node.end = std::min(limit, at + length);
    node.key_begin = at + node_header;
    std::size_t key_end = node.key_begin;
    while (key_end + 2 <= node.end && read_u16(bytes, key_end) != 0) key_end += 2;
    if (key_end + 2 > node.end) return std::nullopt;
    node.key_end = key_end;
    const std::size_t value_units = read_u16(bytes, at + 2);
    const std::size_t value_bytes = read_u16(bytes, at + 4) == text_type ? value_units * 2 : value_units;
    node.value_begin = std::min(aligned(key_end + 2), node.end);
    node.value_end = std::min(node.value_begin + value_bytes, node.end);
    node.children_begin = std::min(aligned(node.value_begin + value_bytes), node.end);
    return node;
}

bool key_is(std::string_view bytes, const Node& node, std::string_view key) {
    if (node.key_end - node.key_begin != key.size() * 2) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const std::uint16_t unit = read_u16(bytes, node.key_begin + 2 * i);
        const auto lower = [](std::uint32_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
        if (lower(unit) != lower(static_cast<unsigned char>(key[i]))) return false;
    }
    return true;
}

// The first child of `parent` whose key is `key`.
std::optional<Node> child(std::string_view bytes, const Node& parent, std::string_view key) {
    std::size_t at = parent.children_begin;
    while (std::optional<Node> node = read_node(bytes, at, parent.end)) {
        if (key_is(bytes, *node, key)) return node;
        at = aligned(at + read_u16(bytes, at));
    }
    return std::nullopt;
}

std::optional<Node> root(std::string_view bytes) { return read_node(bytes, 0, bytes.size()); }

}  // namespace

std::vector<std::string> version_translations(std::string_view block) {
    std::vector<std::string> translations;
    std::optional<Node> node = root(block);
    if (node) node = child(block, *node, "VarFileInfo");
    if (node) node = child(block, *node, "Translation");
    if (!node) return translations;
    static constexpr char hex[] = "0123456789abcdef";
    for (std::size_t at = node->value_begin; at + 4 <= node->value_end; at += 4) {
        std::string name;
        for (const std::uint16_t part : {read_u16(block, at), read_u16(block, at + 2)}) {
            for (int shift = 12; shift >= 0; shift -= 4) name.push_back(hex[(part >> shift) & 0xF]);
        }
        translations.push_back(std::move(name));
    }
    return translations;
}

std::optional<std::string> version_string(std::string_view block, std::string_view table, std::string_view name) {
    std::optional<Node> node = root(block);
    if (node) node = child(block, *node, "StringFileInfo");
    if (node) node = child(block, *node, table);
    if (node) node = child(block, *node, name);
    if (!node) return std::nullopt;
    std::size_t end = node->value_begin;
    while (end + 2 <= node->value_end && read_u16(block, end) != 0) end += 2;
    return decode_text("\xFF\xFE" + std::string(block.substr(node->value_begin, end - node->value_begin)));
}

namespace {

constexpr std::uint32_t version_type = 16;
constexpr std::uint32_t version_name = 1;
constexpr std::uint32_t subdirectory_bit = 0x80000000U;
constexpr std::uint32_t named_bit = 0x80000000U;
// A version block is counted by a 16-bit length.
constexpr std::size_t largest_block = 0xFFFF;
// More than any real program has at one level of its resource directory.
constexpr std::size_t most_entries = 4096;
constexpr std::size_t most_sections = 96;

std::uint32_t read_u32(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint32_t>(read_u16(bytes, at)) | static_cast<std::uint32_t>(read_u16(bytes, at + 2)) << 16;
}

struct Section {
    std::uint32_t address = 0;  // in memory
    std::uint32_t size = 0;     // of its bytes in the file
    std::uint32_t offset = 0;   // in the file
};

struct Entry {
    std::uint32_t name = 0;  // an id, or the offset of a name with named_bit
    std::uint32_t target = 0;
};

// Each read of a file costs a call into the system (under Wine, several),
// while the headers, the section table and the resource directory each lie
// close together: the file is read a window at a time and the small pieces
// are taken from the window that holds them.
constexpr std::size_t read_window = 0x10000;

class ProgramFile {
public:
    explicit ProgramFile(const ReadAt& read) : read_(read) {}

    // Exactly `size` bytes from `offset`, or none.
    std::optional<std::string> bytes(std::uint64_t offset, std::size_t size) {
        if (!holds(offset, size)) {
            window_ = read_(offset, std::max(size, read_window));
            window_at_ = offset;
            if (!holds(offset, size)) return std::nullopt;
        }
        return window_.substr(static_cast<std::size_t>(offset - window_at_), size);
    }

private:
    bool holds(std::uint64_t offset, std::size_t size) const {
        return offset >= window_at_ && offset - window_at_ <= window_.size() &&
               window_.size() - static_cast<std::size_t>(offset - window_at_) >= size;
    }

    const ReadAt& read_;
    std::string window_;
    std::uint64_t window_at_ = 0;
};

using Found = ProgramVersionBlock::Found;

ProgramVersionBlock unsure() { return {Found::unsure, {}}; }
ProgramVersionBlock none_block() { return {Found::none, {}}; }

// The entries of the directory at `at` in the resource section (whose bytes
// start at `base` and run `size`).
std::optional<std::vector<Entry>> directory(ProgramFile& file, std::uint64_t base, std::uint32_t size,
                                            std::uint32_t at) {
    if (at > size || size - at < 16) return std::nullopt;
    const std::optional<std::string> header = file.bytes(base + at, 16);
    if (!header) return std::nullopt;
    const std::size_t count = static_cast<std::size_t>(read_u16(*header, 12)) + read_u16(*header, 14);
    if (count > most_entries || (size - at - 16) / 8 < count) return std::nullopt;
    std::vector<Entry> entries;
    if (count == 0) return entries;
    const std::optional<std::string> table = file.bytes(base + at + 16, count * 8);
    if (!table) return std::nullopt;
    for (std::size_t i = 0; i < count; ++i)
        entries.push_back(Entry{read_u32(*table, i * 8), read_u32(*table, i * 8 + 4)});
    return entries;
}

// Whether the counted UTF-16 name at `at` is "MUI" in any case; a name that
// cannot be read counts as one.
bool names_mui(ProgramFile& file, std::uint64_t base, std::uint32_t size, std::uint32_t at) {
    if (at > size || size - at < 8) return true;
    const std::optional<std::string> name = file.bytes(base + at, 8);
    if (!name) return true;
    if (read_u16(*name, 0) != 3) return false;
    const char expected[] = "mui";
    for (std::size_t i = 0; i < 3; ++i) {
        const std::uint16_t unit = read_u16(*name, 2 + 2 * i);
        if ((unit | 0x20) != static_cast<unsigned char>(expected[i])) return false;
    }
    return true;
}

}  // namespace

ProgramVersionBlock read_program_version_block(const ReadAt& read) {
    ProgramFile file(read);
    const std::optional<std::string> dos = file.bytes(0, 64);
    if (!dos || dos->substr(0, 2) != "MZ") return unsure();
    const std::uint32_t pe = read_u32(*dos, 0x3C);
    // The signature, the file header and the longest optional header.
    const std::optional<std::string> headers = file.bytes(pe, 24 + 240);
    if (!headers || headers->substr(0, 4) != std::string_view("PE\0\0", 4)) return unsure();
    const std::size_t section_count = read_u16(*headers, 6);
    const std::size_t optional_size = read_u16(*headers, 20);
    const std::uint16_t magic = read_u16(*headers, 24);
    const std::size_t directories_at = magic == 0x10b ? 96 : magic == 0x20b ? 112 : 0;
    if (directories_at == 0 || section_count > most_sections || optional_size > 240) return unsure();
    const std::uint32_t directory_count = read_u32(*headers, 24 + directories_at - 4);
    const std::size_t resource_entry = 24 + directories_at + 2 * 8;
    if (directory_count < 3 || optional_size < directories_at + 3 * 8) return none_block();
    const std::uint32_t resource_address = read_u32(*headers, resource_entry);
    if (resource_address == 0) return none_block();

    const std::optional<std::string> table =
        file.bytes(static_cast<std::uint64_t>(pe) + 24 + optional_size, section_count * 40);
    if (!table) return unsure();
    std::vector<Section> sections;
    for (std::size_t i = 0; i < section_count; ++i) {
        sections.push_back(
            Section{read_u32(*table, i * 40 + 12), read_u32(*table, i * 40 + 16), read_u32(*table, i * 40 + 20)});
    }
    // The section holding an address, and how far into it the address lies.
    const auto locate = [&](std::uint32_t address) -> std::optional<std::pair<Section, std::uint32_t>> {
        for (const Section& section : sections) {
            if (address >= section.address && address - section.address < section.size) {
                return std::pair{section, address - section.address};
            }
        }
        return std::nullopt;
    };
    const auto resources = locate(resource_address);
    if (!resources) return unsure();
    const std::uint64_t base = static_cast<std::uint64_t>(resources->first.offset) + resources->second;
    const std::uint32_t size = resources->first.size - resources->second;

    const std::optional<std::vector<Entry>> types = directory(file, base, size, 0);
    if (!types) return unsure();
    const Entry* version = nullptr;
    for (const Entry& entry : *types) {
        // A type named "MUI" means the system may read the strings from a
        // language file beside the program.
        if ((entry.name & named_bit) != 0 && names_mui(file, base, size, entry.name & ~named_bit)) return unsure();
        if (entry.name == version_type) version = &entry;
    }
    if (version == nullptr) return none_block();
    if ((version->target & subdirectory_bit) == 0) return unsure();
    const std::optional<std::vector<Entry>> names = directory(file, base, size, version->target & ~subdirectory_bit);
    if (!names || names->size() != 1 || (*names)[0].name != version_name) return unsure();
    if (((*names)[0].target & subdirectory_bit) == 0) return unsure();
    const std::optional<std::vector<Entry>> languages =
        directory(file, base, size, (*names)[0].target & ~subdirectory_bit);
    if (!languages || languages->size() != 1 || ((*languages)[0].target & subdirectory_bit) != 0) return unsure();
    const std::uint32_t data_entry = (*languages)[0].target;
    if (data_entry > size || size - data_entry < 16) return unsure();
    const std::optional<std::string> data = file.bytes(base + data_entry, 16);
    if (!data) return unsure();
    const auto block_at = locate(read_u32(*data, 0));
    const std::uint32_t block_size = read_u32(*data, 4);
    if (!block_at || block_size > largest_block || block_at->first.size - block_at->second < block_size)
        return unsure();
    std::optional<std::string> block =
        file.bytes(static_cast<std::uint64_t>(block_at->first.offset) + block_at->second, block_size);
    if (!block) return unsure();
    return {Found::block, std::move(*block)};
}

}  // namespace qm::formats
