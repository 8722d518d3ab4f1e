#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "Fifo.h"
#include "Tempdir.h"
#include "settings/Xml.h"

using namespace std::string_literals;

namespace {

// Compact picture of a tree: NAME{attributes}=value(children...).
std::string Dump(const CXML& node) {
    std::string out = node.Name;
    if (!node.Attributes.empty()) out += "{" + node.Attributes + "}";
    if (!node.Value.empty()) out += "=" + node.Value;
    if (!node.Children.empty()) {
        out += "(";
        for (std::size_t i = 0; i < node.Children.size(); ++i)
            out += (i ? "," : "") + Dump(*node.Children[i]);
        out += ")";
    }
    return out;
}

TEST(Xml, WritesTheTwelveLineExampleByteForByte) {
    TempDir dir;
    CXML doc;
    ASSERT_TRUE(doc.SetValue("values.value[0].name", "Warm", ""));
    ASSERT_TRUE(doc.SetIntValue("values.value[0].color0.value", 400));
    ASSERT_EQ(doc.SaveToFile(dir.File("values.xml")), CXML::kOk);
    const std::string expected =
        "<VALUES>\r\n"
        "\t<VALUE>\r\n"
        "\t\t<NAME>\r\n"
        "\t\t\tWarm\r\n"
        "\t\t</NAME>\r\n"
        "\t\t<COLOR0>\r\n"
        "\t\t\t<VALUE>\r\n"
        "\t\t\t\t400\r\n"
        "\t\t\t</VALUE>\r\n"
        "\t\t</COLOR0>\r\n"
        "\t</VALUE>\r\n"
        "</VALUES>\r\n";
    EXPECT_EQ(ReadBytes(dir.File("values.xml")), expected);
    EXPECT_FALSE(std::filesystem::exists(dir.File("values.xml.tmp")));

    CXML back;
    ASSERT_EQ(back.LoadFromFile(dir.File("values.xml")), CXML::kOk);
    EXPECT_EQ(Dump(back), "VALUES(VALUE(NAME=Warm,COLOR0(VALUE=400)))");
}

TEST(Xml, SerializeLayoutOfEmptyElementsAndAttributes) {
    CXML doc;
    doc.Name = "NAME";
    doc.Serialize(0);
    EXPECT_EQ(doc.Text, "<NAME/>\r\n");

    // Attribute text keeps its leading space when read, and the writer adds one more.
    doc.Text = "<A k=\"1\"><B/ x/></A>";
    ASSERT_GT(doc.Parse(), 0);
    EXPECT_EQ(Dump(doc), "A{ k=\"1\"}(B{ x/})");
    doc.Serialize(1);
    EXPECT_EQ(doc.Text, "\t<A  k=\"1\">\r\n\t\t<B/  x/>\r\n\t</A>\r\n");
}

struct ParseCase {
    std::string text;
    int parse;  // Parse result: position after the root, 0 or -1
    std::string tree;
};

TEST(Xml, ParseCases) {
    const ParseCase cases[] = {
        {"", 0, ""},
        {" \t\r\n ", 0, ""},
        {"<A/>", 5, "A"},
        {"  <A></A>  trailing <junk", 10, "A"},
        {"<A><B>x</B>y</A>", 17, "A=y(B=x)"},
        {"<A>x<B/>y</A>", 14, "A=x\ny(B)"},
        {"<a>1</A>", 9, "A=1"},
        {"<A>\r\n\t line one \r\n\t<B/>\r\n line two\t\r\n</A>", 42, "A=line one\nline two(B)"},
        {"<A><B>1</B><b>2</b><C/></A>", 28, "A(B=1,B=2,C)"},
        // An unclosed element fails only the parse of the element holding it.
        {"<A><B><X></B></A>", 18, "A(B)"},
        {"<A><B><C>1</C><X></B><D>2</D></A>", 34, "A(B(C=1),D=2)"},
        {"<A><B></A>", 0, "A"},
        {"<A><B /></B></A>", 17, "A(B{ /})"},
        {"<A><B /></A>", 0, "A"},
        {"<?xml version=\"1.0\"?><A/>", 0, "?XML{ version=\"1.0\"?}(A)"},
        {"<!-- note --><A/>", 0, "!--{ note --}(A)"},
        {"</A>", -1, "A"},
        {"<A>x</B></A>", -1, "A=x"},
        {"<A<B>>", -1, ""},
        {"<A", 0, ""},
        {"<A>text", 0, "A=text"},
        {"x<A/>", 0, ""},
        {"\xFE\xFF<A/>", 7, "A"},
        {"<A>a &amp; b &lt;c&gt; &quot; &amp;lt; &</A>", 45, "A=a & b <c> &quot; &lt; &"},
    };
    for (const ParseCase& c : cases) {
        CXML doc;
        doc.Text = c.text;
        EXPECT_EQ(doc.Parse(), c.parse) << c.text;
        EXPECT_EQ(Dump(doc), c.tree) << c.text;
    }
}

TEST(Xml, LoadResultCodes) {
    TempDir dir;
    CXML doc;
    doc.SetValue("keep.me", "1");
    EXPECT_EQ(doc.LoadFromFile(dir.File("missing.xml")), CXML::kCannotOpen);
    EXPECT_EQ(doc.LoadFromFile(dir.Path.string()), CXML::kCannotOpen);
    EXPECT_EQ(doc.GetValue("keep.me"), "1");

    const struct {
        std::string bytes;
        int result;
        std::string tree;
    } cases[] = {
        {"", CXML::kParseFailed, ""},
        {"  \r\n", CXML::kParseFailed, ""},
        {"<A><B>1</B><C>2</C><D></A>", CXML::kParseFailed, "A(B=1,C=2)"},
        {"<A>1</A>\0<B>"s, CXML::kOk, "A=1"},
        {"<A>1\0</A>"s, CXML::kParseFailed, "A=1"},
        // UTF-16 with its byte-order mark is refused outright.
        {"\xFF\xFE<\0A\0/\0>\0"s, CXML::kParseFailed, ""},
        {"\xFF\xFE<A/>", CXML::kParseFailed, ""},
    };
    for (const auto& c : cases) {
        WriteBytes(dir.File("f.xml"), c.bytes);
        CXML d;
        EXPECT_EQ(d.LoadFromFile(dir.File("f.xml")), c.result) << c.bytes;
        EXPECT_EQ(Dump(d), c.tree) << c.bytes;
    }
}

TEST(Xml, Selectors) {
    CXML doc;
    doc.Text = "<R><ITEM>a</ITEM><OTHER/><ITEM>b</ITEM></R>";
    ASSERT_GT(doc.Parse(), 0);

    EXPECT_EQ(doc.GetValue("r.item"), "a");
    EXPECT_EQ(doc.GetValue("R.ITEM[1]"), "b");
    EXPECT_EQ(doc.GetValue("r.item[last]"), "b");
    EXPECT_EQ(doc.GetValue("r[7].item[ +1]"), "b");  // a root selector is ignored
    EXPECT_EQ(doc.FindNode("r.item[NEXT]"), nullptr);
    EXPECT_EQ(doc.FindNode("r.item[-1]"), nullptr);
    EXPECT_EQ(doc.FindNode("r.item[5]"), nullptr);
    EXPECT_EQ(doc.FindNode("x.item"), nullptr);
    EXPECT_EQ(doc.CountNodes("r.item"), 2);

    // An index beyond the end appends exactly one node, which takes the next index.
    CXML* added = doc.FindNode("r.item[5]", true);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(doc.CountNodes("r.item"), 3);
    EXPECT_EQ(doc.FindNode("r.item[2]"), added);
    EXPECT_EQ(doc.FindNode("r.item[LAST]"), added);

    CXML* next = doc.FindNode("r.item[NEXT]", true);
    EXPECT_EQ(doc.CountNodes("r.item"), 4);
    EXPECT_EQ(doc.FindNode("r.item[3]"), next);
    EXPECT_NE(doc.FindNode("r.item[-1]", true), nullptr);
    EXPECT_EQ(doc.CountNodes("r.item"), 5);
    EXPECT_EQ(doc.Children.size(), 6u);
    EXPECT_EQ(doc.Children.back()->Name, "ITEM");
}

TEST(Xml, SetValueNeedsAMatchingRoot) {
    CXML doc;
    EXPECT_EQ(doc.CountNodes("values.value"), 0);
    EXPECT_FALSE(doc.Exists("options"));
    EXPECT_TRUE(doc.SetValue("options.log", "1"));
    EXPECT_EQ(doc.Name, "OPTIONS");

    EXPECT_FALSE(doc.SetValue("x.y", "2"));
    EXPECT_FALSE(doc.SetIntValue("x.y", 2));
    EXPECT_EQ(Dump(doc), "OPTIONS(LOG=1)");
    EXPECT_EQ(doc.GetValue("options.missing"), "");
    EXPECT_EQ(doc.CountNodes("nothing.here.at"), 0);
    EXPECT_EQ(doc.CountNodes("options"), 0);  // no child of the root bears the root's name

    EXPECT_TRUE(doc.SetIntValue("options.n", -2147483647 - 1));
    EXPECT_EQ(doc.GetValue("options.n"), "-2147483648");
    doc.Clear();
    EXPECT_EQ(Dump(doc), "");
}

TEST(Xml, ValuesWithMarkupCharactersRoundTrip) {
    TempDir dir;
    CXML doc;
    doc.SetValue("values.value[0].name", "a<b & c>d");
    doc.SetValue("values.value[1].name", "&lt; stays literal");
    doc.SetValue("values.value[2].name", "after");
    ASSERT_EQ(doc.SaveToFile(dir.File("v.xml")), CXML::kOk);
    EXPECT_NE(ReadBytes(dir.File("v.xml")).find("a&lt;b &amp; c&gt;d"), std::string::npos);

    CXML back;
    ASSERT_EQ(back.LoadFromFile(dir.File("v.xml")), CXML::kOk);
    EXPECT_EQ(back.CountNodes("values.value"), 3);
    EXPECT_EQ(back.GetValue("values.value[0].name"), "a<b & c>d");
    EXPECT_EQ(back.GetValue("values.value[1].name"), "&lt; stays literal");
    EXPECT_EQ(back.GetValue("values.value[2].name"), "after");
}

TEST(Xml, SaveFailuresLeaveTheOldFileWhole) {
    TempDir dir;
    const std::string file = dir.File("values.xml");
    WriteBytes(file, "<VALUES/>\r\n");
    CXML doc;
    for (int i = 0; i < 2000; ++i)
        doc.SetValue("values.value[NEXT].name", "preset " + std::to_string(i));

    EXPECT_EQ(doc.SaveToFile(dir.File("no/such/folder/values.xml")), CXML::kCannotOpen);

    // A full disk, shown by a file size limit in a child process.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(doc.SaveToFile(file) == CXML::kShortTransfer ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a short write must give -100";
    EXPECT_EQ(ReadBytes(file), "<VALUES/>\r\n");
    EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));

    EXPECT_EQ(doc.SaveToFile(file), CXML::kOk);
    CXML back;
    EXPECT_EQ(back.LoadFromFile(file), CXML::kOk);
    EXPECT_EQ(back.CountNodes("values.value"), 2000);
}

TEST(Xml, AReplacedFileKeepsItsPermissions) {
    TempDir dir;
    for (const mode_t mode : {0600, 0640, 0664}) {
        const std::string file = dir.File("values" + std::to_string(mode) + ".xml");
        WriteBytes(file, "<VALUES/>\r\n");
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        CXML doc;
        doc.SetValue("values.value.name", "kept");
        ASSERT_EQ(doc.SaveToFile(file), CXML::kOk);
        struct stat after {};
        ASSERT_EQ(::stat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, mode) << std::oct << mode;
    }
}

TEST(Xml, SpecialFilesAreRefusedWithoutWaiting) {
    using namespace std::chrono_literals;
    TempDir dir;
    const std::string fifo = dir.File("values.xml");
    MakeFifo(fifo);
    CXML doc;
    doc.SetValue("values.value.name", "kept");
    int load = 0;
    ASSERT_TRUE(FinishesWithin(5s, fifo, [&] { load = doc.LoadFromFile(fifo); }));
    EXPECT_EQ(load, CXML::kCannotOpen);
    EXPECT_EQ(doc.GetValue("values.value.name"), "kept");
    // Nor is it replaced: whatever put a FIFO there still has it.
    int save = 0;
    ASSERT_TRUE(FinishesWithin(5s, fifo, [&] { save = doc.SaveToFile(fifo); }));
    EXPECT_EQ(save, CXML::kCannotOpen);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));

    // A FIFO where the temporary file goes is taken for a leftover and replaced.
    const std::string file = dir.File("other.xml");
    MakeFifo(file + ".tmp");
    ASSERT_TRUE(FinishesWithin(5s, file + ".tmp", [&] { save = doc.SaveToFile(file); }));
    EXPECT_EQ(save, CXML::kOk);
    CXML back;
    EXPECT_EQ(back.LoadFromFile(file), CXML::kOk);
    EXPECT_EQ(back.GetValue("values.value.name"), "kept");
    EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
}

TEST(Xml, KilledSaveNeverLeavesABrokenFile) {
    TempDir dir;
    const std::string file = dir.File("values.xml");
    CXML small;
    small.SetValue("values.value.name", "old");
    ASSERT_EQ(small.SaveToFile(file), CXML::kOk);

    for (int round = 0; round < 5; ++round) {
        int saved[2];
        ASSERT_EQ(pipe(saved), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(saved[0]);
            CXML big;
            for (int i = 0; i < 3000; ++i)
                big.SetValue("values.value[NEXT].name", "new " + std::to_string(i));
            big.SaveToFile(file);
            // The parent kills only once a save is through, so the kill falls into a later one.
            const char done = 1;
            (void)!::write(saved[1], &done, 1);
            for (;;) big.SaveToFile(file);
        }
        ::close(saved[1]);
        char done = 0;
        ASSERT_EQ(::read(saved[0], &done, 1), 1);
        ::close(saved[0]);
        // Not a wait for anything: each round kills a little later, at another step of a save.
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + 3 * round));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);

        CXML back;
        ASSERT_EQ(back.LoadFromFile(file), CXML::kOk) << "round " << round;
        // Whichever save the kill struck, the file is the last whole one.
        EXPECT_EQ(back.CountNodes("values.value"), 3000);
    }
}

TEST(Xml, DeepAndLargeDocumentsStayBounded) {
    // Far deeper than any settings file: must neither overflow the stack nor take long.
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "<A>";
    deep += "x";
    for (int i = 0; i < 20000; ++i) deep += "</A>";
    CXML doc;
    // What lies below the bound is dropped, and the load says so.
    EXPECT_EQ(doc.LoadFromText(deep), CXML::kParseFailed);
    EXPECT_EQ(doc.Name, "A");
    int depth = 0;
    for (const CXML* n = &doc; !n->Children.empty(); n = n->Children.front().get()) ++depth;
    EXPECT_EQ(depth, CXML::kMaxDepth + 1);

    // Nesting up to the bound reads in full.
    std::string fits;
    for (int i = 0; i <= CXML::kMaxDepth; ++i) fits += "<A>";
    fits += "x";
    for (int i = 0; i <= CXML::kMaxDepth; ++i) fits += "</A>";
    CXML full;
    EXPECT_EQ(full.LoadFromText(fits), CXML::kOk);
    const CXML* n = &full;
    while (!n->Children.empty()) n = n->Children.front().get();
    EXPECT_EQ(n->Value, "x");

    // A file beyond the size bound is not read, and none is written to replace a readable one.
    TempDir dir;
    const std::string file = dir.File("values.xml");
    WriteBytes(file, "<VALUES>" + std::string(CXML::kMaxFileSize, 'x') + "</VALUES>");
    CXML kept;
    kept.SetValue("keep.me", "1");
    EXPECT_EQ(kept.LoadFromFile(file), CXML::kShortTransfer);
    EXPECT_EQ(kept.GetValue("keep.me"), "1");
    WriteBytes(file, "<VALUES/>\r\n");
    CXML huge;
    huge.SetValue("values.value.name", std::string(CXML::kMaxFileSize, 'x'));
    EXPECT_EQ(huge.SaveToFile(file), CXML::kTooLarge);
    EXPECT_EQ(ReadBytes(file), "<VALUES/>\r\n");

    // A tree built by paths can be deeper still; releasing it must not recurse.
    std::string path = "a";
    for (int i = 0; i < 200000; ++i) path += ".b";
    auto built = std::make_unique<CXML>();
    ASSERT_TRUE(built->SetValue(path, "leaf"));
    EXPECT_EQ(built->GetValue(path), "leaf");
    built.reset();
}

}  // namespace
