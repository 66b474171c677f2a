// A small reader for XML documents of known shape (task definitions and the
// like): finds elements by name and reads their text, without building a tree
// or checking the document. Safe on any input: one pass per search, no
// recursion, nothing read outside the given text; a document cut short loses
// the elements it cut, never yields part of one. Pure and thread-safe; the
// views it returns point into the caller's document.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::formats {

// One element: all of it from its "<" to the end of its closing tag (or of a
// self-closing tag), and its content between the tags (empty when it closes
// itself).
struct Element {
    std::string_view whole;
    std::string_view content;
};

// Every element of that name, in the order their start tags appear, nested
// ones included. A start tag is "<" + name followed by white space, "/" or
// ">"; an element runs to its matching "</" + name + ">" (same-name elements
// inside it pair off first). Start and closing tags inside comments and
// CDATA sections do not count, and an element that is never closed, or whose
// tag is cut, is left out.
[[nodiscard]] std::vector<Element> find_elements(std::string_view document, std::string_view name);

// The content of the first of those elements; nothing when there is none.
[[nodiscard]] std::optional<std::string_view> first_element(std::string_view document, std::string_view name);

// The text of the first element of that name: its content with CDATA sections
// taken literally, the five predefined entities restored elsewhere, and white
// space trimmed at both ends. Empty when there is no such element.
[[nodiscard]] std::string element_text(std::string_view document, std::string_view name);

// The value of an attribute of an element's start tag (an Element's `whole`,
// or just its start tag), with entities restored; nothing when the tag has no
// attribute of exactly that name or is cut before its value ends. Values in
// single or double quotes.
[[nodiscard]] std::optional<std::string> attribute(std::string_view element, std::string_view name);

// "&lt;", "&gt;", "&quot;", "&apos;" and "&amp;" replaced by their characters
// in one pass, so "&amp;lt;" gives "&lt;". Any other "&" stays as written.
[[nodiscard]] std::string restore_entities(std::string_view text);

// The text with &, <, >, " and ' written as entities, safe inside element
// content and quoted attribute values.
[[nodiscard]] std::string escape(std::string_view text);

// The bytes of an XML file as UTF-8 text. The bytes decide, not the
// declaration (files that declare UTF-16 but hold UTF-8 are common): a
// byte-order mark selects UTF-16 or UTF-8, a first character with a zero high
// or low byte means UTF-16 without a mark, and anything else is read as UTF-8
// (or byte by byte when it is not valid UTF-8).
[[nodiscard]] std::string decode_document(std::string_view bytes);

}  // namespace qm::formats
