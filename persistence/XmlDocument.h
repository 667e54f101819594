#pragma once

#include <cstddef>
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
//
// Memory: a file is read once into a buffer the document parses in place, and the parse may
// allocate at most kParseMemoryPerFileByte times the caller's size limit besides; a document
// needing more (millions of empty elements, say) is refused. When a document that took much
// memory goes away, the freed memory is handed back to the system.
class XmlDocument {
public:
    // Result codes of QueryAttributeRows.
    static constexpr int kRowsOk = 0;
    static constexpr int kRowsQueryFailed = 4;
    static constexpr int kRowsItemFailed = 5;
    static constexpr int kRowsNodeTypeFailed = 6;
    static constexpr int kRowsNotElement = 7;

    // The longest line of either file's format: the other platform writes every line through
    // a buffer of 1024 characters (1023 and the terminator), and a character takes up to 3
    // bytes in UTF-8. The files' size limits are counted in such lines, with kSizeMargin
    // times the room their content needs for layout and escaping.
    static constexpr std::uintmax_t kLongestLineBytes = 1023 * 3;
    static constexpr std::uintmax_t kSizeMargin = 2;
    // Memory a parse may allocate, per byte of the size limit of the file being loaded. Real
    // settings files need less than one byte of structure per byte of text.
    static constexpr std::uintmax_t kParseMemoryPerFileByte = 2;

    enum class LoadStatus {
        Loaded,
        Missing,        // no such file (or folder on its path)
        NotAFile,       // a folder, a device or a pipe
        Unreadable,     // no permission, or a read error
        TooLarge,       // over the caller's size limit; not read
        TooComplex,     // more structure than the memory allowance holds
        NotWellFormed,  // not XML, or not complete
    };
    using Row = std::vector<std::string>;

    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Reads and parses a regular file of at most maxBytes bytes (UTF-8 with or without
    // byte-order mark, or UTF-16/32 with one). On any other result than Loaded the document
    // is empty and Problem() says why.
    LoadStatus Load(const std::string& path, std::uintmax_t maxBytes);
    // Parses a document held in memory; false when it is not well-formed.
    bool LoadXml(std::string_view text);
    bool IsLoaded() const { return loaded_; }
    // Why the last load failed, as words that follow a file name ("is a folder"); empty
    // after a successful load.
    const std::string& Problem() const { return problem_; }

    // Elements matching a pattern, in document order, at most maxCount of them. "Sound/item"
    // matches every element named item whose parent is named Sound, at any depth;
    // "launchAtLogon" matches every element of that name. False when no document is loaded.
    bool Query(std::string_view pattern, std::vector<XmlElement>& elements,
               std::size_t maxCount = SIZE_MAX) const;

    // One row per matching element holding the values of the listed attributes that are
    // present, in list order (absent ones left out, so a row may be shorter). Rows gathered
    // before a failure stay in rows. A pattern matching nothing gives kRowsOk and no rows.
    int QueryAttributeRows(std::string_view pattern, const std::vector<std::string_view>& names,
                           std::vector<Row>& rows) const;

    // Replaces & " ' < > by their entities for use inside an attribute value or element
    // text, and tab, line feed and carriage return by character references, which a reader
    // would otherwise turn into spaces or line feeds. What no XML 1.0 document can hold
    // (see StorableText) is left out, so a written document is always well-formed.
    static std::string Escape(std::string_view text);

private:
    // Parses buffer in place (the document takes it over) with a memory allowance.
    LoadStatus Parse(char* buffer, std::size_t size, std::size_t allowance);
    // Empties the document and gives a large document's memory back to the system.
    void Release();

    std::unique_ptr<pugi::xml_document> document_;
    bool loaded_ = false;
    std::size_t heldBytes_ = 0;  // taken by the loaded document: its text and its structure
    std::string problem_;
};

}  // namespace hushwell
