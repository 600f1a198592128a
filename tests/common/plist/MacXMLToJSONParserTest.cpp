#include "common/plist/MacXMLToJSONParser.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <boost/optional.hpp>
#include <boost/property_tree/exceptions.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <locale>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakeMacTools.h"
#include "PlistOutcome.h"

#include "CaseName.h"

namespace tirsel::kvl::agent::driver::common {
namespace {

namespace pt = boost::property_tree;

// A compact, readable picture of a tree: 'value'{key:child,...}.
std::string Dump(const pt::ptree& tree) {
    std::string text = "'" + tree.data() + "'";
    if (!tree.empty()) {
        text += "{";
        for (auto it = tree.begin(); it != tree.end(); ++it) {
            text += (it == tree.begin() ? "" : ",") + it->first + ":" + Dump(it->second);
        }
        text += "}";
    }
    return text;
}

// Converts `text` from "plist" and returns the picture of the output tree.
std::string Convert(const std::string& text) {
    pt::ptree output;
    MacXMLToJSONParser parser(text, output);
    parser.Parse("plist");
    return Dump(output);
}

std::string Plist(const std::string& body) {
    return "<plist version=\"1.0\">" + body + "</plist>";
}

std::string ErrorOf(const std::string& text) {
    try {
        Convert(text);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

std::string Nested(std::size_t levels, const std::string& open, const std::string& close) {
    std::string text;
    for (std::size_t i = 0; i < levels; ++i) {
        text += open;
    }
    for (std::size_t i = 0; i < levels; ++i) {
        text += close;
    }
    return text;
}

// `count` lines of "abc"; with their line feeds, or as the prepared text joins them.
std::string LongLines(std::size_t count, bool lineFeeds = true) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += lineFeeds ? "abc\n" : "abc";
    }
    return text;
}

// "<plist>" with arrays inside, `levels` elements deep in all.
std::string DeepPlist(std::size_t levels) {
    return "<plist>" + Nested(levels - 1, "<array>", "</array>") + "</plist>";
}

TEST(MacXMLToJSONParserTest, ConvertsARegistryDump) {
    const std::string dump =
        "Note: sample\n"
        "\n"
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n"
        "<array>\n"
        "\t<dict>\n"
        "\t\t<key>name</key>\n"
        "\t\t<string>root</string>\n"
        "\t\t<key>unique-chip-id</key>\n"
        "\t\t<data>\n"
        "\t\tAQID\n"
        "\t\t</data>\n"
        "\t\t<key>count</key>\n"
        "\t\t<integer>007</integer>\n"
        "\t\t<key>ratio</key>\n"
        "\t\t<real>0.1</real>\n"
        "\t\t<key>on</key>\n"
        "\t\t<true/>\n"
        "\t\t<key>list</key>\n"
        "\t\t<array>\n"
        "\t\t\t<integer>1</integer>\n"
        "\t\t\t<string>x</string>\n"
        "\t\t</array>\n"
        "\t</dict>\n"
        "</array>\n"
        "</plist>\n";
    pt::ptree output;
    MacXMLToJSONParser parser(dump, output);
    parser.Parse("plist");
    EXPECT_EQ(Dump(output),
              "''{array:''{:''{:''{name:'root',unique-chip-id:'\t\tAQID\t\t',"
              "count:'7',ratio:'0.10000000000000001',on:'true',"
              "list:''{:'1',:'x'}}}}}");

    const boost::optional<pt::ptree&> found = parser.SearchNode(output, "unique-chip-id");
    ASSERT_TRUE(found);
    EXPECT_EQ(&*found,
              &output.get_child("array").front().second.front().second.get_child("unique-chip-id"));
}

TEST(MacXMLToJSONParserTest, PreparesTheText) {
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        // A line starting with a blank is still part of the preamble.
        {"noise <plist>\n <plist><string>no</string></plist>\n<plist><string>a</string></plist>",
         "''{array:''{:'a'}}"},
        {"<plist><data>\n\tAB\n\tCD\n\t</data></plist>\n", "''{array:''{:'\tAB\tCD\t'}}"},
        {"<plist>\n\n<string>a\r\n</string></plist>", "''{array:''{:'a\r'}}"},
        // The reader gets the text in chunks: line feeds and values run across their borders.
        {"<plist><string>" + std::string(70000, '\n') + "x</string></plist>", "''{array:''{:'x'}}"},
        {"<plist><string>" + LongLines(20000) + "</string></plist>",
         "''{array:''{:'" + LongLines(20000, false) + "'}}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Convert(c.text), c.expected) << c.text;
    }
}

TEST(MacXMLToJSONParserTest, AppliesTheArrayAndDictionaryRules) {
    const struct {
        std::string body;
        std::string expected;
    } cases[] = {
        {"", "''{array:''}"},
        {"<dict><key>k</key><string>v</string></dict>", "''{array:''{:''{k:'v'}}}"},
        {"<array><true/><false/><date>d</date><data>AA==</data></array>",
         "''{array:''{:''{:'true',:'false',:'d',:'AA=='}}}"},
        {"<array><string a=\"1\">s</string></array>",
         "''{array:''{:''{:'s'{<xmlattr>:''{a:'1'}}}}}"},
        // Before a key anything is passed over; a key left over at the end is dropped.
        {"<dict><string>lost</string><!--c--><key>k</key><false>x</false><key>end</key></dict>",
         "''{array:''{:''{k:'false'}}}"},
        // Scalars replace in place; arrays and dictionaries all stay.
        {"<dict><key>k</key><string>1</string><key>m</key><dict/>"
         "<key>k</key><string>2</string><key>m</key><array/></dict>",
         "''{array:''{:''{k:'2',m:'',m:''}}}"},
        {"<dict><key>a.b</key><string>c</string></dict>", "''{array:''{:''{a:''{b:'c'}}}}"},
        // A plain key and a path reach the same entries.
        {"<dict><key>a.b</key><string>c</string><key>a</key><integer>1</integer>"
         "<key>a.b</key><true/><key>a</key><dict/></dict>",
         "''{array:''{:''{a:'1'{b:'true'},a:''}}}"},
        // An empty key is the dictionary itself; "a." is an empty key below "a".
        {"<dict><key></key><string>self</string><key>a.</key><string>v</string>"
         "<key>b.</key><dict><key>x</key><true/></dict></dict>",
         "''{array:''{:'self'{a:''{:'v'},b:''{:''{x:'true'}}}}}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Convert(Plist(c.body)), c.expected) << c.body;
    }
}

// Numbers in a dictionary are converted; in an array the text is copied unchanged.
// An empty `expected` means the dictionary conversion fails.
struct NumberCase {
    const char* name;
    const char* element;
    const char* text;
    const char* expected;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << c.element << " \"" << c.text << "\"";
}

class NumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberTest, ConvertsInADictionaryAndCopiesInAnArray) {
    const NumberCase& c = GetParam();
    const std::string value = std::string("<") + c.element + ">" + c.text + "</" + c.element + ">";

    EXPECT_EQ(Convert(Plist("<array>" + value + "</array>")),
              "''{array:''{:''{:'" + std::string(c.text) + "'}}}");

    const std::string dict = Plist("<dict><key>n</key>" + value + "</dict>");
    if (*c.expected == '\0') {
        EXPECT_THROW(Convert(dict), pt::ptree_bad_data);
    } else {
        EXPECT_EQ(Convert(dict), "''{array:''{:''{n:'" + std::string(c.expected) + "'}}}");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NumberTest,
    testing::Values(
        NumberCase{"LeadingZeros", "integer", "007", "7"},
        NumberCase{"PlusSign", "integer", "+5", "5"}, NumberCase{"MinusZero", "integer", "-0", "0"},
        NumberCase{"SurroundingWhiteSpace", "integer", " 42\t", "42"},
        NumberCase{"Int64Min", "integer", "-9223372036854775808", "-9223372036854775808"},
        NumberCase{"PastInt64Max", "integer", "9223372036854775808", "9223372036854775808"},
        NumberCase{"UInt64MaxSignedAndPadded", "integer", " +018446744073709551615 ",
                   "18446744073709551615"},
        NumberCase{"PastUInt64Max", "integer", "18446744073709551616", ""},
        NumberCase{"BelowInt64Min", "integer", "-9223372036854775809", ""},
        NumberCase{"NegatedUInt64Max", "integer", "-18446744073709551615", ""},
        NumberCase{"TrailingGarbage", "integer", "18446744073709551615x", ""},
        NumberCase{"TrailingLetters", "integer", "12abc", ""},
        NumberCase{"Fraction", "integer", "1.5", ""},
        NumberCase{"VerticalTabFormFeedCarriageReturn", "integer", "\v-12\f\r", "-12"},
        NumberCase{"Int64MinWithLeadingZeros", "integer", "-0009223372036854775808",
                   "-9223372036854775808"},
        NumberCase{"TwentyDigits", "integer", "99999999999999999999", ""},
        NumberCase{"TwoSigns", "integer", "+-1", ""},
        NumberCase{"BlankAfterSign", "integer", "- 1", ""},
        NumberCase{"InnerBlank", "integer", "1 2", ""},
        NumberCase{"Hexadecimal", "integer", "0x10", ""},
        NumberCase{"OnlyMinus", "integer", "-", ""}, NumberCase{"EmptyInteger", "integer", "", ""},
        NumberCase{"BlankInteger", "integer", " ", ""},
        NumberCase{"RealTenth", "real", "0.1", "0.10000000000000001"},
        NumberCase{"RealExponent", "real", "1e3", "1000"},
        NumberCase{"RealTrailingZero", "real", "2.50", "2.5"},
        NumberCase{"RealSurroundingBlanks", "real", " 0.5 ", "0.5"},
        NumberCase{"RealTrailingGarbage", "real", "1.5x", ""},
        NumberCase{"RealOverflow", "real", "1e999", ""}, NumberCase{"EmptyReal", "real", "", ""}),
    grellan::testing::CaseName());

// Commas for decimals and grouped thousands: the host's locale must not leak in.
struct CommaDecimals : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(MacXMLToJSONParserTest, NumbersIgnoreTheGlobalLocale) {
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new CommaDecimals));
    std::string converted;
    EXPECT_NO_THROW(
        converted = Convert(
            Plist("<dict><key>r</key><real>1234.5</real><key>i</key><integer>1234567</integer>"
                  "<key>u</key><integer>18446744073709551615</integer></dict>")));
    std::locale::global(previous);
    EXPECT_EQ(converted, "''{array:''{:''{r:'1234.5',i:'1234567',u:'18446744073709551615'}}}");
}

TEST(MacXMLToJSONParserTest, ReportsErrors) {
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"", "XML does not contain main tags"},
        {"no xml here\n", "XML does not contain main tags"},
        {"<other/>", "XML does not contain main tags"},
        {"<plist/>x", "<unspecified file>(1): expected <"},
        {"<plist>\n<array>\n", "<unspecified file>(1): unexpected end of data"},
        {Plist("<key>k</key>"), "Unknow tag"},
        {Plist("<!--c-->"), "Unknow tag"},
        {Plist("<array><number>1</number></array>"), "Unknow tag"},
        {Plist("<dict><key>a</key><key>b</key><string/></dict>"), "Unknow tag"},
        {Plist("<dict><key>a</key><!--c--><string/></dict>"), "Unknow tag"},
        {Plist("<dict><key>a</key><number>1</number></dict>"), "Unknow tag"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf(c.text), c.message) << c.text;
    }
    EXPECT_THROW(Convert("<plist><array></plist"), pt::xml_parser::xml_parser_error);
}

TEST(MacXMLToJSONParserTest, FailedParseLeavesTheOutputAndTheParserUsable) {
    pt::ptree output;
    MacXMLToJSONParser parser(Plist("<string>a</string>"), output);
    EXPECT_THROW(parser.Parse("plist.string.missing"), std::logic_error);
    parser.Parse("plist");
    parser.Parse("plist");
    EXPECT_EQ(Dump(output), "''{array:''{:'a'},array:''{:'a'}}");

    pt::ptree bad;
    MacXMLToJSONParser failing(Plist("<dict><key>n</key><integer>x</integer></dict>"), bad);
    EXPECT_THROW(failing.Parse("plist"), pt::ptree_bad_data);
    EXPECT_TRUE(bad.empty());
}

TEST(MacXMLToJSONParserTest, SearchFindsTheFirstNodeInPreOrder) {
    pt::ptree output;
    // "id" nested in the first dictionary beats "id" held directly by the second.
    MacXMLToJSONParser parser(
        Plist("<array><dict><key>sub</key><dict><key>id</key><string>nested</string></dict>"
              "</dict><dict><key>id</key><string>direct</string></dict></array>"),
        output);
    parser.Parse("plist");
    EXPECT_EQ(parser.SearchNode(output, "id")->data(), "nested");
    EXPECT_FALSE(parser.SearchNode(output, "absent"));

    // At one node its own entry comes before anything below its first child.
    pt::ptree tree;
    tree.put("first.id", "deep");
    tree.put("id", "own");
    EXPECT_EQ(parser.SearchNode(tree, "id")->data(), "own");

    // Among equal keys the earliest added wins; a key with '.' is a path; "" is the tree.
    tree.add("id", "later");
    tree.put("deep.a.b", "path");
    EXPECT_EQ(&*parser.SearchNode(tree, "id"), &tree.get_child("id"));
    EXPECT_EQ(parser.SearchNode(tree, "a.b")->data(), "path");
    EXPECT_EQ(&*parser.SearchNode(tree, ""), &tree);
}

// The depth limit counts elements as the reader sees them, whatever else the text holds.
TEST(MacXMLToJSONParserTest, LimitsNestingDepth) {
    const std::size_t limit = MacXMLToJSONParser::kMaxNestingDepth;
    const std::string tooDeep = "XML nesting too deep";
    const struct {
        const char* name;
        std::string text;
        std::string message;
    } cases[] = {
        {"AtTheLimit", DeepPlist(limit), "no error"},
        {"OneBeyond", DeepPlist(limit + 1), tooDeep},
        {"EmptyElementBeyond",
         "<plist>" + Nested(limit - 1, "<array>", "</array>").insert((limit - 1) * 7, "<true/>") +
             "</plist>",
         tooDeep},
        {"Huge", DeepPlist(100000), tooDeep},
        {"QuotedBrackets",
         "<plist>" + Nested(limit, "<array a='>' b=\"/>\">", "</array>") + "</plist>", tooDeep},
        {"QuoteInElementName", "<plist\">" + Nested(limit, "<array>", "</array>") + "</plist>",
         tooDeep},
        {"UnclosedAfterDeepPrefix", "<plist>" + Nested(limit, "<array>", ""), tooDeep},
        // A refused character reference does not end the count; a malformed tag does.
        {"BadReferenceBeforeTheDeepPart",
         "<plist><string>&#65</string>" + Nested(limit, "<array>", ""), tooDeep},
        {"MalformedTagBeforeTheDeepPart", "<plist a=1>" + Nested(limit, "<array>", ""),
         "<unspecified file>(1): expected ' or \""},
        {"Siblings", Plist("<array>" + Nested(3 * limit, "<true/>", "") + "</array>"), "no error"},
        {"HiddenInComment", Plist("<!--" + Nested(3 * limit, "<a>", "") + "-->"), "Unknow tag"},
        {"HiddenInMarkup",
         "<?xml version=\"1.0\"?><?pi " + Nested(limit, "<a>", "") + "?><!DOCTYPE plist [<!-- " +
             Nested(limit, "<a>", "") + " -->]><!x " + Nested(limit, "<a ", "") + ">" +
             Plist("<string><![CDATA[" + Nested(limit, "<a>", "") + "]]></string>"),
         "no error"},
        {"StopsAtZeroByte", Plist("") + std::string(1, '\0') + Nested(limit, "<a>", ""),
         "no error"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf(c.text), c.message) << c.name;
    }
}

void* ConstructDeepDocument(void* message) {
    try {
        pt::ptree output;
        MacXMLToJSONParser parser(DeepPlist(100000), output);
    } catch (const std::exception& error) {
        *static_cast<std::string*>(message) = error.what();
    }
    return nullptr;
}

TEST(MacXMLToJSONParserTest, RejectsDeepDocumentsOnASmallStack) {
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, std::size_t{512} * 1024), 0);
    std::string message;
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, ConstructDeepDocument, &message), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(message, "XML nesting too deep");
}

struct SameAsReadXmlCase {
    const char* name;
    std::string text;
    std::vector<std::string> paths = {"plist"};
};

class SameAsReadXml : public ::testing::TestWithParam<SameAsReadXmlCase> {};

// Every result and every error is the one the read_xml-based conversion gave,
// whether the parser copies the text or takes it over, and when the parser's
// rules convert read_xml's tree.
TEST_P(SameAsReadXml, InResultAndError) {
    using grellan::testing::PlistConverter;
    using grellan::testing::PlistOutcome;
    const SameAsReadXmlCase& c = GetParam();
    const std::string expected = PlistOutcome(PlistConverter::kReadXml, c.text, c.paths);
    EXPECT_EQ(PlistOutcome(PlistConverter::kLibraryCopy, c.text, c.paths), expected);
    EXPECT_EQ(PlistOutcome(PlistConverter::kLibraryInPlace, c.text, c.paths), expected);
    EXPECT_EQ(PlistOutcome(PlistConverter::kLibraryTreeRules, c.text, c.paths), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SameAsReadXml,
    ::testing::Values(
        SameAsReadXmlCase{"Entities", Plist("<dict><key>a&amp;b</key><string>&lt;&gt;&quot;&apos;"
                                            "&amp &unknown; &</string></dict>")},
        SameAsReadXmlCase{"NumericReference", Plist("<array><string>&#65;&#x42;</string></array>")},
        SameAsReadXmlCase{"BadNumericReference", Plist("<array><string>&#65</string></array>")},
        // Hexadecimal letters in a decimal reference, a code that wraps, U+0000, the top of
        // each UTF-8 length, and past the last code point.
        SameAsReadXmlCase{"ReferencesAsTheReaderDecodesThem",
                          "<plist string='&#1a;&#18446744073709551681;&#0;&#x7F;&#x7FF;&#xFFFF;"
                          "&#x10FFFF;'><array><string>&#1a;&#0;&#xD800;&#x10FFFF;</string>"
                          "</array></plist>",
                          {"plist", "plist.<xmlattr>"}},
        SameAsReadXmlCase{"PastTheLastCodePoint", Plist("<string>&#x110000;</string>")},
        SameAsReadXmlCase{"EntityInAttribute",
                          "<plist version=\"a&amp;b\"><string/></plist>",
                          {"plist.<xmlattr>"}},
        SameAsReadXmlCase{"CdataAndTextJoined",
                          Plist("<dict><key>k<![CDATA[<x>]]>y</key><string>v</string></dict>")},
        SameAsReadXmlCase{
            "CopiedElementKeepsItsTree",
            Plist("<array><string a='1' b=\"2\">x<i>y</i><!--c-->z</string></array>")},
        SameAsReadXmlCase{"MarkupBetweenEntries",
                          "<?xml version=\"1.0\"?><!DOCTYPE p [<!ELEMENT [x]>]><!x><?pi a?>"
                          "<!--top--><plist><dict><?pi?><!x><key>k</key><?pi?><true/></dict>"
                          "</plist>"},
        SameAsReadXmlCase{"LineFeedFromAReferenceCountsInTheErrorLine",
                          Plist("<string>&#10;&#x0A;</string><dict>")},
        SameAsReadXmlCase{"ErrorAfterAnEntity", Plist("<string>&amp;</string></x") + "<"},
        SameAsReadXmlCase{"ZeroByteEndsTheText", std::string("<plist><true/></plist>\0<", 24)},
        SameAsReadXmlCase{"ZeroByteInsideAnElement", std::string("<plist>\0</plist>", 16)},
        SameAsReadXmlCase{"ClosingTagNamesAreNotChecked", "<plist><array></dict></x>"},
        SameAsReadXmlCase{"SeveralRootsFirstMatches",
                          "<plist><true/></plist><plist><false/></plist>"},
        SameAsReadXmlCase{"Paths",
                          Plist("<dict><key>k</key><string>v</string></dict><!--c-->"),
                          {"", "plist.dict", "plist.", "plist..dict", "plist.dict.key", "x",
                           "plist.<xmlcomment>", "plist"}},
        SameAsReadXmlCase{
            "PathThroughAnEmptyElement", "<plist><a/></plist>", {"plist.a.b", "plist.a"}},
        SameAsReadXmlCase{"AttributeErrors", "<plist a=1/>"},
        SameAsReadXmlCase{"UnclosedComment", Plist("<!-- x")},
        SameAsReadXmlCase{"RegistryDump", grellan::testing::FakeMacTools::RegistryDump({})},
        SameAsReadXmlCase{"AtTheNestingLimit", DeepPlist(MacXMLToJSONParser::kMaxNestingDepth)},
        SameAsReadXmlCase{"BeyondTheNestingLimit",
                          "<plist>" + Nested(600, "<a b='<c>' c=\"/>\">", "</a>") + "</plist>"},
        SameAsReadXmlCase{
            "BeyondTheLimitAfterABadReference",
            "<plist><!-- <a> --><string>&#x110000;</string>" + Nested(600, "<a/><a>", "")},
        SameAsReadXmlCase{"ErrorBeforeTheLimit", "<plist/>x" + Nested(600, "<a>", "")}),
    [](const ::testing::TestParamInfo<SameAsReadXmlCase>& info) {
        return std::string(info.param.name);
    });

}  // namespace
}  // namespace tirsel::kvl::agent::driver::common
