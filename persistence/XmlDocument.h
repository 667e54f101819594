#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pugi {
class xml_document;
struct xml_node_struct;
}  // namespace pugi

namespace hushwell {

// One element of a loaded XmlDocument; valid while the document lives and is not reloaded.
class XmlElement {
public:
    std::string Name() const;
    // Copies the attribute's value (entities resolved) into value and returns true; an absent
    // attribute returns false and leaves value as it was. An empty value is a value.
    bool GetAttribute(std::string_view name, std::string& value) const;
    // The text content of the element and its descendants, without surrounding white space.
    std::string Text() const;

private:
    friend class XmlDocument;
    explicit XmlElement(pugi::xml_node_struct* node) : node_(node) {}
    pugi::xml_node_struct* node_;
};

// An XML document for the program's two settings files: load a file or a text, and query
// elements by a slash pattern. Writers build their document as text, check it here with
// LoadXml, and then write that text with AtomicFile. One document belongs to one thread at a
// time (the user-interface thread in the program).
class XmlDocument {
public:
    // Result codes of QueryAttributeRows.
    static constexpr int kRowsOk = 0;
    static constexpr int kRowsQueryFailed = 4;
    static constexpr int kRowsItemFailed = 5;
    static constexpr int kRowsNodeTypeFailed = 6;
    static constexpr int kRowsNotElement = 7;

    // Larger files are refused rather than read into memory; a real list is a few megabytes
    // at most.
    static constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t{64} << 20;

    using Row = std::vector<std::string>;

    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Reads and parses a regular file (UTF-8 with or without byte-order mark, or UTF-16/32
    // with one). False when it is missing, not a regular file, too large or not well-formed;
    // the document is then empty.
    bool Load(const std::string& path);
    // Parses a document held in memory; false when it is not well-formed.
    bool LoadXml(std::string_view text);
    bool IsLoaded() const { return loaded_; }

    // Elements matching a pattern, in document order. "Sound/item" matches every element
    // named item whose parent is named Sound, at any depth; "launchAtLogon" matches every
    // element of that name. False when no document is loaded.
    bool Query(std::string_view pattern, std::vector<XmlElement>& elements) const;

    // One row per matching element holding the values of the listed attributes that are
    // present, in list order (absent ones left out, so a row may be shorter). Rows gathered
    // before a failure stay in rows. A pattern matching nothing gives kRowsOk and no rows.
    int QueryAttributeRows(std::string_view pattern, const std::vector<std::string_view>& names,
                           std::vector<Row>& rows) const;

    // Replaces & " ' < > by their entities for use inside an attribute value or element
    // text, and tab, line feed and carriage return by character references, which a reader
    // would otherwise turn into spaces or line feeds.
    static std::string Escape(std::string_view text);

private:
    std::unique_ptr<pugi::xml_document> document_;
    bool loaded_ = false;
};

}  // namespace hushwell
