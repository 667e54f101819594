#include <sys/stat.h>

#include <gtest/gtest.h>

#include "persistence/NumberText.h"
#include "persistence/XmlDocument.h"
#include "tests/support/TempFolder.h"

namespace hushwell {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

constexpr std::uintmax_t kLimit = 65536;

std::vector<std::string> Names(const XmlDocument& document, std::string_view pattern) {
    std::vector<XmlElement> elements;
    EXPECT_TRUE(document.Query(pattern, elements));
    std::vector<std::string> names;
    for (const XmlElement& element : elements) {
        std::string id;
        element.GetAttribute("id", id);
        names.push_back(id);
    }
    return names;
}

TEST(XmlDocumentTest, PatternsMatchParentAndNameAtAnyDepthInDocumentOrder) {
    XmlDocument document;
    ASSERT_TRUE(document.LoadXml(R"(<root>
        <Sound><item id="1"/><x><item id="skip"/></x></Sound>
        <deep><deeper><Sound><item id="2"/></Sound></deeper></deep>
        <Time><item id="skip"/></Time>
        <Sound><item id="3"><Sound><item id="4"/></Sound></item></Sound>
        <item id="skip"/>
    </root>)"));
    EXPECT_EQ(Names(document, "Sound/item"), (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(Names(document, "item").size(), 7u);
    EXPECT_EQ(Names(document, "root/deep/deeper/Sound/item"), (std::vector<std::string>{"2"}));
    EXPECT_TRUE(Names(document, "Level/item").empty());
    EXPECT_TRUE(Names(document, "").empty());
    EXPECT_TRUE(Names(document, "Sound/").empty());
}

TEST(XmlDocumentTest, AttributeRowsLeaveOutAbsentAttributes) {
    XmlDocument document;
    std::vector<XmlDocument::Row> rows;
    EXPECT_EQ(document.QueryAttributeRows("k", {"a"}, rows), XmlDocument::kRowsQueryFailed);
    ASSERT_TRUE(document.LoadXml(R"(<r><k a="1" b="2"/><k b="3"/><k a="" c="x"/></r>)"));
    EXPECT_EQ(document.QueryAttributeRows("k", {"a", "b"}, rows), XmlDocument::kRowsOk);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (XmlDocument::Row{"1", "2"}));
    EXPECT_EQ(rows[1], (XmlDocument::Row{"3"}));
    EXPECT_EQ(rows[2], (XmlDocument::Row{""}));  // an empty value is a value
    rows.clear();
    EXPECT_EQ(document.QueryAttributeRows("missing", {"a"}, rows), XmlDocument::kRowsOk);
    EXPECT_TRUE(rows.empty());
}

TEST(XmlDocumentTest, EscapedValuesReadBackUnchanged) {
    const std::string value = "a<b & \"c\" 'd' >e\tf\ng\r\nh &amp;";
    const std::string escaped = XmlDocument::Escape(value);
    EXPECT_EQ(escaped.find_first_of("<>\"'\t\n\r"), std::string::npos);
    XmlDocument document;
    ASSERT_TRUE(document.LoadXml("<r v=\"" + escaped + "\">" + escaped + "</r>"));
    std::vector<XmlElement> elements;
    ASSERT_TRUE(document.Query("r", elements));
    std::string read;
    ASSERT_TRUE(elements[0].GetAttribute("v", read));
    EXPECT_EQ(read, value);
}

TEST(XmlDocumentTest, TextJoinsDescendantsAndTrimsLayout) {
    XmlDocument document;
    ASSERT_TRUE(document.LoadXml("<r><b>\r\n  ./x<i>y</i><![CDATA[&z]]> \n</b></r>"));
    std::vector<XmlElement> elements;
    ASSERT_TRUE(document.Query("b", elements));
    EXPECT_EQ(elements[0].Text(), "./xy&z");
}

TEST(XmlDocumentTest, FilesWithMarkOrLineEndsOfOtherSystemsLoad) {
    TempFolder folder;
    const std::string path = folder.File("doc.xml");
    static const char kUtf16[] = "\xFF\xFE<\0r\0 \0a\0=\0\"\0\xE9\0\"\0/\0>\0";
    for (std::string bytes : {std::string("\xEF\xBB\xBF<r a=\"\xC3\xA9\"/>"),
                              std::string("<?xml version=\"1.0\"?>\r\n<r\r\na=\"\xC3\xA9\"/>\r\n"),
                              std::string(kUtf16, sizeof kUtf16 - 1)}) {
        WriteFile(path, bytes);
        XmlDocument document;
        ASSERT_EQ(document.Load(path, kLimit), XmlDocument::LoadStatus::Loaded);
        std::vector<XmlDocument::Row> rows;
        document.QueryAttributeRows("r", {"a"}, rows);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0], (XmlDocument::Row{"\xC3\xA9"}));
    }
}

TEST(XmlDocumentTest, BadFilesFailToLoadAndSayWhy) {
    using Status = XmlDocument::LoadStatus;
    TempFolder folder;
    const std::string path = folder.File("bad.xml");
    XmlDocument document;
    EXPECT_EQ(document.Load(folder.File("missing.xml"), kLimit), Status::Missing);
    EXPECT_EQ(document.Load(folder.File("missing.xml/x"), kLimit), Status::Missing);
    EXPECT_EQ(document.Load(folder.Path(), kLimit), Status::NotAFile);
    EXPECT_EQ(document.Problem(), "is a folder");
    for (std::string_view bytes :
         {std::string_view(""), std::string_view("just text"), std::string_view("<r><a></r>"),
          std::string_view("<root><item a=\"1"), std::string_view("\x00\x01\x02\xFF\xFE\x80", 6)}) {
        WriteFile(path, bytes);
        EXPECT_EQ(document.Load(path, kLimit), Status::NotWellFormed) << bytes;
        EXPECT_FALSE(document.IsLoaded());
        EXPECT_FALSE(document.Problem().empty());
    }
    EXPECT_EQ(document.Problem(), "is not well-formed XML (No document element found at byte 5)");
    // A FIFO is refused without waiting for a writer.
    const std::string fifo = folder.File("pipe.xml");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(document.Load(fifo, kLimit), Status::NotAFile);
    if (!testing::RunningAsRoot()) {
        WriteFile(path, "<r/>");
        ASSERT_EQ(::chmod(path.c_str(), 0), 0);
        EXPECT_EQ(document.Load(path, kLimit), Status::Unreadable);
    }
}

TEST(XmlDocumentTest, MemoryIsBoundedByTheSizeLimit) {
    using Status = XmlDocument::LoadStatus;
    TempFolder folder;
    const std::string path = folder.File("big.xml");
    // Over the limit: refused unread (the file is sparse and takes no disk).
    WriteFile(path, "<r/>");
    std::filesystem::resize_file(path, kLimit + 1);
    XmlDocument document;
    EXPECT_EQ(document.Load(path, kLimit), Status::TooLarge);
    EXPECT_NE(document.Problem().find("more than the 65536 bytes"), std::string::npos);
    // Within the limit, but empty elements need far more memory than their text.
    std::string crowd = "<r>";
    while (crowd.size() < kLimit - 8) {
        crowd += "<a/>";
    }
    WriteFile(path, crowd + "</r>");
    EXPECT_EQ(document.Load(path, kLimit), Status::TooComplex);
    EXPECT_EQ(document.Problem(), "holds more elements than such a file can need");
    // A query collects no more elements than asked for.
    WriteFile(path, "<r><a/><a/><a/></r>");
    ASSERT_EQ(document.Load(path, kLimit), Status::Loaded);
    std::vector<XmlElement> elements;
    ASSERT_TRUE(document.Query("a", elements, 2));
    EXPECT_EQ(elements.size(), 2u);
}

TEST(XmlDocumentTest, EscapingLeavesOutWhatXmlCannotHold) {
    EXPECT_EQ(XmlDocument::Escape("a\x01<\xFF\xEF\xBF\xBF"), "a&lt;");
}

TEST(NumberTextTest, LeadingIntegersAndDigitRuns) {
    EXPECT_EQ(LeadingInteger("  -7x"), -7);
    EXPECT_EQ(LeadingInteger("+12"), 12);
    EXPECT_EQ(LeadingInteger("abc"), 0);
    EXPECT_EQ(LeadingInteger("- 5"), 0);
    EXPECT_EQ(LeadingInteger("99999999999999"), 2147483647);
    EXPECT_EQ(LeadingInteger("-99999999999999"), -2147483647 - 1);
    EXPECT_TRUE(LeadingIntegerInRange("300", 1, 300));
    EXPECT_FALSE(LeadingIntegerInRange("x", -5, 300));
    EXPECT_EQ(DigitRuns("120,80", 3), (std::vector<std::int32_t>{120, 80}));
    EXPECT_EQ(DigitRuns("a1b-2 3 4", 3), (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_EQ(DigitRuns("99999999999999 1", 2), (std::vector<std::int32_t>{2147483647, 1}));
}

}  // namespace
}  // namespace hushwell
