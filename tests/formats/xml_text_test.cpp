// The XML text reader and the task definition reader: elements and their
// text, entities and escaping, the encodings real task files come in, the
// shared real task files, and hostile input (every cut of the real files,
// random mutations with a fixed seed, deep nesting).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cstdint>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "json/json.h"
#include "formats/task_definition.h"
#include "util/text.h"
#include "formats/xml_text.h"

namespace qm {
namespace {

const std::filesystem::path task_xml_folder = QM_TEST_DATA_DIR "/conformance/task-xml";
const std::vector<std::string> conformance_files = {"VSIX Auto Update", "MobilityManager",
                                                    "SoftLandingCreativeManagementTask", "T1053_005_WMI.xml",
                                                    "T1053_05_SCTASK_HIDDEN_ATTRIB.xml"};

std::string read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// UTF-8 text as UTF-16 code units written in the given byte order.
std::string utf16_bytes(std::string_view utf8, bool big_endian) {
    std::string out;
    const auto put = [&](unsigned unit) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        out += big_endian ? std::string{high, low} : std::string{low, high};
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        unsigned code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        for (int k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += static_cast<std::size_t>(length);
        if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

std::vector<std::string> contents(const std::vector<formats::Element>& elements) {
    std::vector<std::string> texts;
    for (const formats::Element& element : elements) texts.emplace_back(element.content);
    return texts;
}

TEST(XmlElements, NestedSelfClosingAndLookalikeNames) {
    const std::string document =
        "<Tasks><Task a='1'><Task>inner</Task>outer</Task><Task/><Task x=\"a>b\">q</Task><TaskX>no</TaskX></Tasks>";
    EXPECT_EQ(contents(formats::find_elements(document, "Task")),
              (std::vector<std::string>{"<Task>inner</Task>outer", "inner", "", "q"}));
    const std::vector<formats::Element> tasks = formats::find_elements(document, "Task");
    EXPECT_EQ(tasks[0].whole, "<Task a='1'><Task>inner</Task>outer</Task>");
    EXPECT_EQ(tasks[2].whole, "<Task/>");
    EXPECT_EQ(contents(formats::find_elements(document, "Tasks")).size(), 1u);
    EXPECT_TRUE(formats::find_elements(document, "Tas").empty());
    EXPECT_TRUE(formats::find_elements(document, "").empty());
    // Closing tags may carry white space before ">".
    EXPECT_EQ(formats::element_text("<A\n b='c'>x</A >", "A"), "x");
}

TEST(XmlElements, CommentsCdataAndCutTagsDoNotMakeElements) {
    EXPECT_TRUE(formats::find_elements("<!-- <LogonTrigger/> -->", "LogonTrigger").empty());
    EXPECT_TRUE(formats::find_elements("<![CDATA[<BootTrigger/>]]>", "BootTrigger").empty());
    EXPECT_TRUE(formats::find_elements("<Exec><Command>x</Command>", "Exec").empty());  // never closed
    EXPECT_TRUE(formats::find_elements("<Command>x</Comm", "Command").empty());
    EXPECT_TRUE(formats::find_elements("<Command a=\"x>", "Command").empty());
    // A stray closing tag closes nothing; an unclosed outer element loses only itself.
    EXPECT_EQ(contents(formats::find_elements("</A><A><A>in</A>", "A")), (std::vector<std::string>{"in"}));
    EXPECT_EQ(formats::element_text("<A><!-- </A> -->x</A>", "A"), "x");
}

TEST(XmlText, EntitiesTrimmingAndCdata) {
    EXPECT_EQ(formats::element_text("<D>  &lt;a&gt; &quot;b&quot; &apos;c&apos; &amp;amp; &amp;lt;\r\n</D>", "D"),
              "<a> \"b\" 'c' &amp; &lt;");
    EXPECT_EQ(formats::element_text("<D>a &copy; &#65; & b</D>", "D"), "a &copy; &#65; & b");
    EXPECT_EQ(formats::element_text("<D><![CDATA[ &lt;kept&gt; ]]>&amp;<!-- gone --></D>", "D"), "&lt;kept&gt; &");
    EXPECT_EQ(formats::element_text("<D/>", "D"), "");
    EXPECT_EQ(formats::element_text("<E>x</E>", "D"), "");
    EXPECT_EQ(formats::element_text("<D>first</D><D>second</D>", "D"), "first");
}

TEST(XmlText, EscapingRoundTrips) {
    EXPECT_EQ(formats::escape("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
    for (std::string text : {"&amp;", "<&lt;>", "plain", "\"'\"", "\xC3\xA9 & \xE2\x82\xAC"}) {
        EXPECT_EQ(formats::restore_entities(formats::escape(text)), text);
        EXPECT_EQ(formats::element_text("<D>" + formats::escape(text) + "</D>", "D"), trim(text));
    }
}

TEST(XmlDecode, TheBytesDecideNotTheDeclaration) {
    const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><D>\xC3\xA9\xF0\x9F\x98\x80</D>";
    EXPECT_EQ(formats::decode_document("\xFF\xFE" + utf16_bytes(text, false)), text);
    EXPECT_EQ(formats::decode_document("\xFE\xFF" + utf16_bytes(text, true)), text);
    EXPECT_EQ(formats::decode_document(utf16_bytes(text, false)), text);
    EXPECT_EQ(formats::decode_document(utf16_bytes(text, true)), text);
    EXPECT_EQ(formats::decode_document(utf16_bytes("\r\n" + text, false)), "\r\n" + text);
    EXPECT_EQ(formats::decode_document("\xEF\xBB\xBF" + text), text);
    EXPECT_EQ(formats::decode_document(text), text);
    EXPECT_EQ(formats::decode_document("<D>\xE9</D>"), "<D>\xC3\xA9</D>");  // not UTF-8: byte by byte
    EXPECT_EQ(formats::decode_document(""), "");
    EXPECT_EQ(formats::decode_document("<"), "<");
}

TEST(TaskDefinitionReading, TheFieldsComeFromTheirOwnElements) {
    const formats::TaskDefinition task = formats::read_task_definition(
        "<Task><RegistrationInfo><Author>PC\\me</Author><Description>Keeps &quot;A&amp;B&quot; fresh</Description>"
        "<URI>\\Acme\\Nightly</URI></RegistrationInfo>"
        "<Triggers><BootTrigger><Enabled>false</Enabled></BootTrigger><TimeTrigger/></Triggers>"
        "<Principals><Principal id=\"Author\"><UserId>S-1-5-18</UserId><RunLevel>HighestAvailable</RunLevel>"
        "</Principal></Principals>"
        "<Settings><IdleSettings><StopOnIdleEnd>true</StopOnIdleEnd></IdleSettings><Enabled>0</Enabled></Settings>"
        "<Actions><Exec><Command>%ProgramFiles%\\Acme\\a.exe</Command><Arguments>-q</Arguments></Exec>"
        "<Exec><Command>second.exe</Command></Exec></Actions></Task>");
    EXPECT_FALSE(task.logon_trigger);
    EXPECT_FALSE(task.boot_trigger);  // its only boot trigger is switched off
    EXPECT_FALSE(task.enabled);       // the XML boolean "0" in Settings
    EXPECT_EQ(task.command, "%ProgramFiles%\\Acme\\a.exe");
    EXPECT_EQ(task.arguments, "-q");
    EXPECT_EQ(task.author, "PC\\me");
    EXPECT_EQ(task.user_id, "S-1-5-18");
    EXPECT_EQ(task.run_level, "HighestAvailable");
    EXPECT_EQ(task.description, "Keeps \"A&B\" fresh");
    EXPECT_EQ(task.uri, "\\Acme\\Nightly");

    // A switched-off trigger beside a live one of the same kind; and the
    // trigger's Enabled never stands in for the task's.
    const formats::TaskDefinition mixed = formats::read_task_definition(
        "<Task><Triggers><LogonTrigger><Enabled>false</Enabled></LogonTrigger><LogonTrigger><Enabled>true</Enabled>"
        "</LogonTrigger><BootTrigger><Enabled>false</Enabled></BootTrigger></Triggers></Task>");
    EXPECT_TRUE(mixed.logon_trigger);
    EXPECT_FALSE(mixed.boot_trigger);
    EXPECT_TRUE(mixed.enabled);

    const formats::TaskDefinition bare =
        formats::read_task_definition("<Task><Triggers><LogonTrigger/></Triggers></Task>");
    EXPECT_TRUE(bare.logon_trigger);
    EXPECT_TRUE(bare.enabled);
    EXPECT_EQ(bare.command, "");
    EXPECT_TRUE(formats::read_task_definition("<Settings><Enabled>FALSE</Enabled></Settings>").enabled);
    EXPECT_EQ(formats::shown_description("@%SystemRoot%\\system32\\x.dll,-1"), "");
    EXPECT_EQ(formats::shown_description("$(@x.dll,-202)"), "");
    EXPECT_EQ(formats::shown_description("Costs $5"), "Costs $5");
}

TEST(TaskDefinitionReading, TheSourceAndTheDelayOfTheLiveSignInTrigger) {
    const formats::TaskDefinition task = formats::read_task_definition(
        "<Task><RegistrationInfo><Source>{&quot;a&quot;:1}</Source></RegistrationInfo><Triggers>"
        "<LogonTrigger><Enabled>false</Enabled><Delay>PT9M</Delay></LogonTrigger>"
        "<LogonTrigger><Delay>PT2M</Delay></LogonTrigger><BootTrigger><Delay>PT30S</Delay></BootTrigger>"
        "</Triggers></Task>");
    EXPECT_EQ(task.source, "{\"a\":1}");
    EXPECT_EQ(task.logon_delay, "PT2M");

    const std::vector<std::pair<std::string, std::optional<std::uint32_t>>> durations = {
        {"PT30S", 30},    {"PT2M", 120},     {"PT1M30S", 90}, {"PT1H", 3600},  {"P1DT1S", 86401},
        {"PT0S", 0},      {"P1D", 86400},    {"", {}},        {"PT", {}},      {"P", {}},
        {"PT2", {}},      {"PTM", {}},       {"PT1S2M", {}},  {"PT1M1M", {}},  {"P1Y", {}},
        {"PT1.5S", {}},   {"pt2m", {}},      {"P1DT", {}},    {"PT-1S", {}},   {"PT4294967295S", 4294967295u},
        {"PT4294967296S", {}}, {"PT1193047H", {}},
    };
    for (const auto& [text, seconds] : durations) EXPECT_EQ(formats::duration_seconds(text), seconds) << text;
}

TEST(TaskXmlConformance, SharedRealTaskFiles) {
    const auto expected = json::parse(read_bytes(task_xml_folder / "expected.json"));
    ASSERT_TRUE(expected.has_value()) << expected.error();
    ASSERT_EQ(expected->as_array().size(), conformance_files.size());
    for (const json::JsonValue& entry : expected->as_array()) {
        const std::string file = json::get_text(entry, "file");
        SCOPED_TRACE(file);
        const std::string bytes = read_bytes(task_xml_folder / file);
        ASSERT_FALSE(bytes.empty());
        const std::string encoding = json::get_text(entry, "encoding");
        EXPECT_EQ(bytes.starts_with("\xFF\xFE"), encoding == "UTF-16LE with BOM");
        EXPECT_EQ(bytes.starts_with("\xEF\xBB\xBF"), encoding == "UTF-8 with BOM");

        const std::string text = formats::decode_document(bytes);
        EXPECT_TRUE(text.starts_with("<?xml version=\"1.0\" encoding=\"UTF-16\"?>"));
        const formats::TaskDefinition task = formats::read_task_definition(text);
        EXPECT_EQ(task.logon_trigger, json::get_flag(entry, "logon_trigger"));
        EXPECT_EQ(task.boot_trigger, json::get_flag(entry, "boot_trigger"));
        EXPECT_EQ(task.enabled, json::get_flag(entry, "settings_enabled"));
        EXPECT_EQ(task.command, json::get_text(entry, "exec_command"));
        EXPECT_EQ(task.arguments, json::get_text(entry, "exec_arguments"));
        EXPECT_EQ(task.user_id, json::get_text(entry, "user_id"));
        EXPECT_EQ(task.run_level, json::get_text(entry, "run_level"));
        EXPECT_EQ(formats::shown_description(task.description), json::get_text(entry, "description"));

        // The same document in every other form a task folder holds reads the same.
        for (const std::string& form : {"\xFF\xFE" + utf16_bytes(text, false), utf16_bytes(text, false),
                                        "\xFE\xFF" + utf16_bytes(text, true), "\xEF\xBB\xBF" + text, text}) {
            EXPECT_EQ(formats::decode_document(form), text);
        }
    }
}

// What a cut or mutated document yields must still be sound: every element
// lies inside the document, begins with its tag and holds its content, and
// every text is valid UTF-8.
void expect_sound(const std::string& document, const formats::TaskDefinition& task) {
    for (std::string_view name : {"Task", "Exec", "Settings", "Enabled", "Principal"}) {
        for (const formats::Element& element : formats::find_elements(document, name)) {
            ASSERT_GE(element.whole.data(), document.data());
            ASSERT_LE(element.whole.data() + element.whole.size(), document.data() + document.size());
            ASSERT_TRUE(element.whole.starts_with("<" + std::string(name)));
            ASSERT_TRUE(element.whole.ends_with(">"));
            ASSERT_GE(element.content.data(), element.whole.data());
            ASSERT_LE(element.content.data() + element.content.size(), element.whole.data() + element.whole.size());
        }
    }
    for (const std::string* text :
         {&task.command, &task.arguments, &task.author, &task.user_id, &task.run_level, &task.description, &task.uri,
          &task.source, &task.logon_delay}) {
        ASSERT_TRUE(is_valid_utf8(*text));
    }
}

// A cut never yields part of a value: each field is either what the whole
// file says or what a missing element reads as.
TEST(TaskXmlAdversarial, EveryCutOfEveryRealFileGivesWholeValuesOrNone) {
    for (const std::string& file : conformance_files) {
        SCOPED_TRACE(file);
        const std::string bytes = read_bytes(task_xml_folder / file);
        const formats::TaskDefinition full = formats::read_task_definition(formats::decode_document(bytes));
        for (std::size_t length = 0; length <= bytes.size(); ++length) {
            const std::string text = formats::decode_document(std::string_view(bytes).substr(0, length));
            const formats::TaskDefinition cut = formats::read_task_definition(text);
            ASSERT_NO_FATAL_FAILURE(expect_sound(text, cut)) << "cut at " << length;
            const auto whole_or_none = [&](const std::string& part, const std::string& whole) {
                return part == whole || part.empty();
            };
            ASSERT_TRUE(cut.logon_trigger == full.logon_trigger || !cut.logon_trigger) << length;
            ASSERT_TRUE(cut.boot_trigger == full.boot_trigger || !cut.boot_trigger) << length;
            ASSERT_TRUE(cut.enabled == full.enabled || cut.enabled) << length;
            ASSERT_TRUE(whole_or_none(cut.command, full.command)) << length << ": " << cut.command;
            ASSERT_TRUE(whole_or_none(cut.arguments, full.arguments)) << length;
            ASSERT_TRUE(whole_or_none(cut.user_id, full.user_id)) << length << ": " << cut.user_id;
            ASSERT_TRUE(whole_or_none(cut.run_level, full.run_level)) << length;
            ASSERT_TRUE(whole_or_none(cut.description, full.description)) << length;
        }
    }
}

TEST(TaskXmlAdversarial, RandomMutationsOfRealFilesReadSoundly) {
    std::mt19937 random(20240611);
    const char special_bytes[] = "<>/&;\"'!-[]= \0\xFF\xFE";
    const std::string specials(special_bytes, sizeof special_bytes - 1);
    for (const std::string& file : conformance_files) {
        SCOPED_TRACE(file);
        const std::string original = read_bytes(task_xml_folder / file);
        for (int round = 0; round < 400; ++round) {
            std::string bytes = original;
            const int changes = 1 + static_cast<int>(random() % 8);
            for (int c = 0; c < changes && !bytes.empty(); ++c) {
                const std::size_t at = random() % bytes.size();
                switch (random() % 4) {
                    case 0:
                        bytes[at] = static_cast<char>(random());
                        break;
                    case 1:
                        bytes[at] = specials[random() % specials.size()];
                        break;
                    case 2:
                        bytes.erase(at, 1 + random() % 16);
                        break;
                    default:
                        bytes.insert(at, bytes.substr(random() % bytes.size(), 1 + random() % 64));
                        break;
                }
            }
            const std::string text = formats::decode_document(bytes);
            ASSERT_TRUE(is_valid_utf8(text));
            const formats::TaskDefinition task = formats::read_task_definition(text);
            ASSERT_NO_FATAL_FAILURE(expect_sound(text, task)) << "round " << round;
        }
    }
}

// Deep nesting, thousands of open tags and endless comments cost one pass,
// not one pass per tag.
TEST(TaskXmlAdversarial, HostileShapesFinishInOnePass) {
    const std::size_t count = 200000;
    std::string opens;
    for (std::size_t i = 0; i < count; ++i) opens += "<Exec>";
    EXPECT_TRUE(formats::find_elements(opens, "Exec").empty());
    std::string nested = opens + "<Command>x</Command>";
    for (std::size_t i = 0; i < count; ++i) nested += "</Exec>";
    EXPECT_EQ(formats::find_elements(nested, "Exec").size(), count);
    EXPECT_EQ(formats::read_task_definition(nested).command, "x");
    std::string selfs;
    for (std::size_t i = 0; i < count; ++i) selfs += "<LogonTrigger/><!--";
    EXPECT_TRUE(formats::read_task_definition(selfs).logon_trigger);
    EXPECT_TRUE(formats::read_task_definition(std::string(count, '<')).command.empty());
}

}  // namespace
}  // namespace qm
