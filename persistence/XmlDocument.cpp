#include "persistence/XmlDocument.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <pugixml.hpp>

namespace hushwell {

namespace {

constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration;
constexpr std::string_view kWhiteSpace = " \t\r\n";

// Reads a whole regular file of at most maxBytes into text.
bool ReadRegularFile(const std::string& path, std::uintmax_t maxBytes, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<std::uintmax_t>(info.st_size) <= maxBytes;
    if (ok) {
        text.resize(static_cast<std::size_t>(info.st_size));
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t got = ::read(fd, text.data() + done, text.size() - done);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;  // the file shrank while reading; parse what is there
            }
            done += static_cast<std::size_t>(got);
        }
        text.resize(done);
    }
    ::close(fd);
    return ok;
}

std::vector<std::string_view> SplitPattern(std::string_view pattern) {
    std::vector<std::string_view> names;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = pattern.find('/', start);
        names.push_back(pattern.substr(start, slash - start));
        if (slash == std::string_view::npos) {
            return names;
        }
        start = slash + 1;
    }
}

// True when the element has the pattern's last name and its ancestors the names before it.
bool MatchesPattern(pugi::xml_node node, const std::vector<std::string_view>& names) {
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (node.type() != pugi::node_element || *name != node.name()) {
            return false;
        }
        node = node.parent();
    }
    return true;
}

// The next node in document order (depth first), without recursion.
pugi::xml_node NextInDocumentOrder(pugi::xml_node node) {
    if (node.first_child()) {
        return node.first_child();
    }
    while (node && !node.next_sibling()) {
        node = node.parent();
    }
    return node ? node.next_sibling() : pugi::xml_node();
}

}  // namespace

std::string XmlElement::Name() const {
    return pugi::xml_node(node_).name();
}

bool XmlElement::GetAttribute(std::string_view name, std::string& value) const {
    for (pugi::xml_attribute attribute : pugi::xml_node(node_).attributes()) {
        if (name == attribute.name()) {
            value = attribute.value();
            return true;
        }
    }
    return false;
}

std::string XmlElement::Text() const {
    const pugi::xml_node element(node_);
    std::string text;
    for (pugi::xml_node node = element.first_child(); node && node != element;) {
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
            text += node.value();
        }
        // Walk the element's subtree only.
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node != element && !node.next_sibling()) {
            node = node.parent();
        }
        if (node != element) {
            node = node.next_sibling();
        }
    }
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kWhiteSpace);
    return text.substr(first, last - first + 1);
}

XmlDocument::XmlDocument() : document_(std::make_unique<pugi::xml_document>()) {}

XmlDocument::~XmlDocument() = default;

bool XmlDocument::Load(const std::string& path) {
    document_->reset();
    loaded_ = false;
    std::string text;
    if (!ReadRegularFile(path, kMaxFileBytes, text)) {
        return false;
    }
    return LoadXml(text);
}

bool XmlDocument::LoadXml(std::string_view text) {
    const pugi::xml_parse_result result =
        document_->load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_auto);
    loaded_ = result && document_->document_element();
    if (!loaded_) {
        document_->reset();
    }
    return loaded_;
}

bool XmlDocument::Query(std::string_view pattern, std::vector<XmlElement>& elements) const {
    elements.clear();
    if (!loaded_) {
        return false;
    }
    const std::vector<std::string_view> names = SplitPattern(pattern);
    for (pugi::xml_node node = document_->document_element(); node;
         node = NextInDocumentOrder(node)) {
        if (MatchesPattern(node, names)) {
            elements.push_back(XmlElement(node.internal_object()));
        }
    }
    return true;
}

int XmlDocument::QueryAttributeRows(std::string_view pattern,
                                    const std::vector<std::string_view>& names,
                                    std::vector<Row>& rows) const {
    std::vector<XmlElement> elements;
    if (!Query(pattern, elements)) {
        return kRowsQueryFailed;
    }
    for (const XmlElement& element : elements) {
        Row row;
        for (std::string_view name : names) {
            std::string value;
            if (element.GetAttribute(name, value)) {
                row.push_back(std::move(value));
            }
        }
        rows.push_back(std::move(row));
    }
    return kRowsOk;
}

std::string XmlDocument::Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace hushwell
