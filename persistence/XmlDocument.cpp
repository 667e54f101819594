#include "persistence/XmlDocument.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pugixml.hpp>

#include "triggers/StorableText.h"

namespace hushwell {

namespace {

using LoadStatus = XmlDocument::LoadStatus;

constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration;
// A document that took at least this much memory hands it back to the system when it goes.
constexpr std::size_t kTrimAfterBytes = std::size_t{1} << 20;

// ---- memory of a parse ----

// What the parse running on this thread has allocated, and how much it may. pugixml takes
// all its memory through Allocate; between parses nothing is counted.
struct ParseAccount {
    std::size_t used = 0;
    std::size_t allowance = 0;
};
thread_local ParseAccount* currentParse = nullptr;

void* Allocate(std::size_t size) {
    if (currentParse != nullptr) {
        if (size > currentParse->allowance - currentParse->used) {
            return nullptr;  // pugixml reports "out of memory" and stops
        }
        currentParse->used += size;
    }
    return std::malloc(size);
}

void Deallocate(void* block) {
    std::free(block);
}

// Routes pugixml's allocations through Allocate; done before the first document exists.
void InstallAllocator() {
    static const bool installed = [] {
        pugi::set_memory_management_functions(Allocate, Deallocate);
        return true;
    }();
    (void)installed;
}

// Counts the allocations of one parse on this thread.
class ParseScope {
public:
    explicit ParseScope(std::size_t allowance) : previous_(currentParse) {
        account_.allowance = allowance;
        currentParse = &account_;
    }
    ~ParseScope() { currentParse = previous_; }
    ParseScope(const ParseScope&) = delete;
    ParseScope& operator=(const ParseScope&) = delete;
    std::size_t Used() const { return account_.used; }

private:
    ParseAccount account_;
    ParseAccount* previous_;
};

struct BufferDeleter {
    void operator()(char* buffer) const { Deallocate(buffer); }
};
using Buffer = std::unique_ptr<char, BufferDeleter>;

struct FileCloser {
    void operator()(const int* fd) const { ::close(*fd); }
};

std::string ErrorText(int error) {
    return std::strerror(error);
}

// Reads a whole regular file of at most maxBytes into a buffer pugixml may take over.
LoadStatus ReadRegularFile(const std::string& path, std::uintmax_t maxBytes, Buffer& buffer,
                           std::size_t& size, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            problem = "does not exist";
            return LoadStatus::Missing;
        }
        problem = "cannot be opened (" + ErrorText(error) + ")";
        return LoadStatus::Unreadable;
    }
    const std::unique_ptr<const int, FileCloser> closer(&fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        problem = "cannot be examined (" + ErrorText(errno) + ")";
        return LoadStatus::Unreadable;
    }
    if (!S_ISREG(info.st_mode)) {
        problem = S_ISDIR(info.st_mode) ? "is a folder" : "is not a regular file";
        return LoadStatus::NotAFile;
    }
    const auto fileSize = static_cast<std::uintmax_t>(info.st_size);
    if (fileSize > maxBytes) {
        problem = "is " + std::to_string(fileSize) + " bytes long, more than the " +
                  std::to_string(maxBytes) + " bytes such a file can need";
        return LoadStatus::TooLarge;
    }
    buffer.reset(static_cast<char*>(Allocate(std::max<std::size_t>(fileSize, 1))));
    if (!buffer) {
        problem = "does not fit in memory";
        return LoadStatus::TooComplex;
    }
    size = 0;
    while (size < fileSize) {
        const ssize_t got = ::read(fd, buffer.get() + size, fileSize - size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            problem = "cannot be read (" + ErrorText(errno) + ")";
            return LoadStatus::Unreadable;
        }
        if (got == 0) {
            break;  // the file shrank while reading; parse what is there
        }
        size += static_cast<std::size_t>(got);
    }
    return LoadStatus::Loaded;
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
    return std::string(WithoutSurroundingSpace(text));
}

XmlDocument::XmlDocument()
    : document_((InstallAllocator(), std::make_unique<pugi::xml_document>())) {}

XmlDocument::~XmlDocument() {
    Release();
}

void XmlDocument::Release() {
    document_->reset();
    loaded_ = false;
#if defined(__GLIBC__)
    if (heldBytes_ >= kTrimAfterBytes) {
        ::malloc_trim(0);
    }
#endif
    heldBytes_ = 0;
}

XmlDocument::LoadStatus XmlDocument::Load(const std::string& path, std::uintmax_t maxBytes) {
    Release();
    problem_.clear();
    Buffer buffer;
    std::size_t size = 0;
    const LoadStatus read = ReadRegularFile(path, maxBytes, buffer, size, problem_);
    if (read != LoadStatus::Loaded) {
        return read;
    }
    const auto allowance = static_cast<std::size_t>(
        std::min<std::uintmax_t>(maxBytes * kParseMemoryPerFileByte, SIZE_MAX));
    heldBytes_ = size;
    return Parse(buffer.release(), size, allowance);
}

bool XmlDocument::LoadXml(std::string_view text) {
    Release();
    problem_.clear();
    Buffer buffer(static_cast<char*>(Allocate(std::max<std::size_t>(text.size(), 1))));
    if (!buffer) {
        problem_ = "does not fit in memory";
        return false;
    }
    std::memcpy(buffer.get(), text.data(), text.size());
    heldBytes_ = text.size();
    return Parse(buffer.release(), text.size(), SIZE_MAX) == LoadStatus::Loaded;
}

XmlDocument::LoadStatus XmlDocument::Parse(char* buffer, std::size_t size, std::size_t allowance) {
    pugi::xml_parse_result result;
    {
        ParseScope scope(allowance);
        result =
            document_->load_buffer_inplace_own(buffer, size, kParseOptions, pugi::encoding_auto);
        heldBytes_ += scope.Used();
    }
    loaded_ = result && document_->document_element();
    if (loaded_) {
        return LoadStatus::Loaded;
    }
    LoadStatus status = LoadStatus::NotWellFormed;
    if (result.status == pugi::status_out_of_memory) {
        status = LoadStatus::TooComplex;
        problem_ = "holds more elements than such a file can need";
    } else if (result) {
        problem_ = "holds no element";
    } else {
        problem_ = "is not well-formed XML (" + std::string(result.description()) + " at byte " +
                   std::to_string(result.offset) + ")";
    }
    Release();
    return status;
}

bool XmlDocument::Query(std::string_view pattern, std::vector<XmlElement>& elements,
                        std::size_t maxCount) const {
    elements.clear();
    if (!loaded_) {
        return false;
    }
    const std::vector<std::string_view> names = SplitPattern(pattern);
    for (pugi::xml_node node = document_->document_element(); node && elements.size() < maxCount;
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
    for (char c : StorableText(text)) {
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
