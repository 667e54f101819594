#include "triggers/ArgumentSplitter.h"

#include <gtest/gtest.h>

namespace hushwell {
namespace {

using Args = std::vector<std::string>;

Args SplitOk(std::string_view text) {
    auto args = ArgumentSplitter::Split(text);
    EXPECT_TRUE(args.has_value()) << text;
    return args.value_or(Args{});
}

TEST(ArgumentSplitterTest, BlanksSeparateAndQuotesJoinWords) {
    EXPECT_EQ(SplitOk(" \t\r\n "), Args{});
    EXPECT_EQ(SplitOk("  one\ttwo\n three  "), (Args{"one", "two", "three"}));
    EXPECT_EQ(SplitOk(R"(--file "My Song.wav" 'a  b')"), (Args{"--file", "My Song.wav", "a  b"}));
    // Quoted and unquoted parts next to each other make one word.
    EXPECT_EQ(SplitOk(R"(pre"mid dle"'post fix'end)"), (Args{"premid dlepost fixend"}));
    // Empty quotes are an empty argument; a lone blank run is none.
    EXPECT_EQ(SplitOk(R"("" '' x)"), (Args{"", "", "x"}));
    // Each kind of quote is literal inside the other.
    EXPECT_EQ(SplitOk(R"("it's" 'say "hi"')"), (Args{"it's", R"(say "hi")"}));
}

TEST(ArgumentSplitterTest, BackslashRulesDifferInsideAndOutsideQuotes) {
    EXPECT_EQ(SplitOk(R"(a\ b \"c\" \\d)"), (Args{"a b", R"("c")", R"(\d)"}));
    // In double quotes only $ ` " \ and newline are escapable; other backslashes stay.
    EXPECT_EQ(SplitOk(R"("\$x \`y\` \"q\" \\ \n \a")"), (Args{R"($x `y` "q" \ \n \a)"}));
    // In single quotes a backslash is an ordinary character.
    EXPECT_EQ(SplitOk(R"('a\'b)"), (Args{R"(a\b)"}));
    // Backslash-newline joins lines; a trailing backslash stays.
    EXPECT_EQ(SplitOk("one\\\ntwo three\\"), (Args{"onetwo", "three\\"}));
    EXPECT_EQ(SplitOk("\"x\\\ny\""), (Args{"xy"}));
}

TEST(ArgumentSplitterTest, ShellSyntaxArrivesLiterally) {
    EXPECT_EQ(SplitOk(R"($(rm -rf ~) `id` ; | & && > out < in *.wav ~ $HOME #c)"),
              (Args{"$(rm", "-rf", "~)", "`id`", ";", "|", "&", "&&", ">", "out", "<", "in",
                    "*.wav", "~", "$HOME", "#c"}));
    EXPECT_EQ(SplitOk(R"x("$(touch x)" "`id`;ls|cat")x"), (Args{"$(touch x)", "`id`;ls|cat"}));
}

TEST(ArgumentSplitterTest, OpenQuoteIsRejected) {
    EXPECT_FALSE(ArgumentSplitter::Split(R"(--name "unfinished)").has_value());
    EXPECT_FALSE(ArgumentSplitter::Split("it's").has_value());
    EXPECT_FALSE(ArgumentSplitter::Split(R"("ends with escaped quote\")").has_value());
}

TEST(ArgumentSplitterTest, KeepsNulBytes) {
    EXPECT_EQ(SplitOk(std::string_view("a\0b c", 5)), (Args{std::string("a\0b", 3), "c"}));
}

}  // namespace
}  // namespace hushwell
