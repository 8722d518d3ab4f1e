#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Fifo.h"
#include "Tempdir.h"
#include "settings/Options.h"

namespace {

// A folder holding an options.xml whose OPTIONS root has one element per key.
void WriteOptions(const TempDir& dir, const std::string& body,
                  const std::string& root = "OPTIONS") {
    WriteBytes(dir.File("options.xml"), "<" + root + ">" + body + "</" + root + ">");
}

TEST(Options, ReadsTheInstalledFile) {
    const Coptions options(VELTRA_TEST_DATA);
    ASSERT_TRUE(options.Loaded());
    EXPECT_TRUE(options.GetBool("LOG"));
    EXPECT_TRUE(options.GetBool(" log\t"));
    EXPECT_FALSE(options.GetBool("TEST"));
    EXPECT_TRUE(options.GetBool("SD"));
    EXPECT_FALSE(options.GetBool("C1S"));
    EXPECT_EQ(options.GetString("TEXT.LUX"), "lx");
    EXPECT_DOUBLE_EQ(options.GetFloat("OFFSET_X"), 0.0025);
    EXPECT_DOUBLE_EQ(options.GetFloat("OFFSET_Y"), -0.0031);
    EXPECT_DOUBLE_EQ(options.GetFloat("B.X"), 0.135);
    EXPECT_EQ(static_cast<int>(options.GetFloat("SPEED")), 19200);
    EXPECT_EQ(static_cast<int>(options.GetFloat("LANG.OFFSET_Y")), 16);
    EXPECT_EQ(options.SimulatedLamps(), 1);
    EXPECT_EQ(options.GetString("NOT.THERE"), "");
    EXPECT_EQ(options.GetFloat("NOT.THERE"), 0.0);
    EXPECT_FALSE(options.GetBool("NOT.THERE"));
}

TEST(Options, NumberReadings) {
    const struct {
        const char* text;
        double real;
        bool flag;
    } cases[] = {
        {"9599", 9599, true},
        {"0,0025", 0.0025, false},
        {"  -1.5e2xyz", -150, false},
        {"abc", 0, false},
        {"", 0, false},
        {".5", 0.5, false},
        {"5.", 5, true},
        {"1e", 1, true},
        {"2e+", 2, true},
        {"1,2,3", 1.2, true},
        {"+7", 7, true},
        {"-1", -1, false},
        {"1.9", 1.9, true},
        {"0.9", 0.9, false},
        {"on", 0, false},
        {"1e-999", 0, true},
        {"- 4", 0, false},
        {"0x10", 0, false},
    };
    TempDir dir;
    std::string body;
    for (std::size_t i = 0; i < std::size(cases); ++i)
        body += "<K" + std::to_string(i) + ">" + cases[i].text + "</K" + std::to_string(i) + ">";
    WriteOptions(dir, body);
    const Coptions options(dir.Path.string());
    ASSERT_TRUE(options.Loaded());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string key = "k" + std::to_string(i);
        EXPECT_DOUBLE_EQ(options.GetFloat(key), cases[i].real) << cases[i].text;
        EXPECT_EQ(options.GetBool(key), cases[i].flag) << cases[i].text;
    }
}

TEST(Options, AbsurdNumbersReadAsMissingOrAreKeptInRange) {
    const struct {
        const char* text;
        double real;          // GetFloat
        double chromaticity;  // GetChromaticity
    } cases[] = {
        {"1e999", 0, 0},
        {"-1e999", 0, 0},
        {"1e308", 1e308, 2},
        {"1e6", 1e6, 2},
        {"-0.5", -0.5, -0.5},
        {"-7", -7, -1},
        {"2.5", 2.5, 2},
        {"0,0025", 0.0025, 0.0025},
        {"nan", 0, 0},
        {"inf", 0, 0},
        {"1.7976931348623159e308", 0, 0},
    };
    TempDir dir;
    std::string body;
    for (std::size_t i = 0; i < std::size(cases); ++i)
        body += "<K" + std::to_string(i) + ">" + cases[i].text + "</K" + std::to_string(i) + ">";
    WriteOptions(dir, body);
    const Coptions options(dir.Path.string());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string key = "K" + std::to_string(i);
        EXPECT_EQ(options.GetFloat(key), cases[i].real) << cases[i].text;
        EXPECT_EQ(options.GetChromaticity(key), cases[i].chromaticity) << cases[i].text;
    }
}

TEST(Options, SimulatedLampsStayBetweenNoneAndSixteen) {
    const struct {
        const char* text;
        int lamps;
    } cases[] = {
        {"-3", 0},           {"0", 0},   {"1", 1},    {"16", 16}, {"17", 16}, {"1000000", 16},
        {"99999999999", 16}, {"2.9", 2}, {"many", 1}, {"yes", 1}, {"no", 1}};
    for (const auto& c : cases) {
        TempDir dir;
        WriteOptions(dir, "<SIMULATE>" + std::string(c.text) + "</SIMULATE>");
        EXPECT_EQ(Coptions(dir.Path.string()).SimulatedLamps(), c.lamps) << c.text;
    }
}

// A value that does not read as its key's kind is named with what is used instead; values
// that do read, and missing or empty keys, are not.
TEST(Options, ValuesNotUnderstoodAreNamed) {
    TempDir dir;
    WriteOptions(
        dir,
        "<LOG>1</LOG><TEST>yes</TEST><SD> 1 </SD><C1S></C1S><SIMULATE>yes</SIMULATE>"
        "<OFFSET_X>0,0025</OFFSET_X><OFFSET_Y>-1e-3</OFFSET_Y><R><X>0.69x</X><Y>0.3</Y></R>"
        "<SPEED>abc</SPEED><LANG><ITEMS>a very long word indeed</ITEMS><X>4</X></LANG>");
    const Coptions options(dir.Path.string());
    std::vector<std::string> texts;
    for (const Coptions::Misread& m : options.Misreads()) texts.push_back(Coptions::MisreadText(m));
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "TEST \"yes\" not understood: off used",
                         "SIMULATE \"yes\" not understood: one simulated lamp used",
                         "R.X \"0.69x\" not understood: 0.69 used",
                         "SPEED \"abc\" not understood: 38400 used",
                         "LANG.ITEMS \"a very lo...\" not understood: 0 used",
                     }));
    for (const auto& [speed, used] : {std::pair{"19200 baud", "19200"}, {"1200x", "38400"}}) {
        TempDir other;
        WriteOptions(other, "<SPEED>" + std::string(speed) + "</SPEED><SIMULATE>2.9</SIMULATE>");
        const std::vector<Coptions::Misread> m = Coptions(other.Path.string()).Misreads();
        ASSERT_EQ(m.size(), 2U);
        EXPECT_EQ(m[0].used, "2 simulated lamps");
        EXPECT_EQ(m[1].used, used);
    }
}

// One wait for every reading source; one that is no number, or no wait a match can use, is
// named with the wait used instead.
TEST(Options, MatchWaitIsReadOnceAndNamedWhenNotUnderstood) {
    const struct {
        const char* value;  // null: the key is missing
        int ms;
        const char* used;  // null: no note
    } cases[] = {
        {nullptr, 120000, nullptr}, {"45", 45000, nullptr},    {"2,5", 2500, nullptr},
        {"abc", 120000, "120 s"},   {"90 s", 90000, "90 s"},   {"0", 120000, "120 s"},
        {"-5", 120000, "120 s"},    {"5000", 120000, "120 s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(missing)");
        TempDir dir;
        WriteOptions(dir, c.value ? "<MATCH><WAIT>" + std::string(c.value) + "</WAIT></MATCH>"
                                  : std::string("<LOG>0</LOG>"));
        const Coptions options(dir.Path.string());
        EXPECT_EQ(options.MatchWaitMs(), c.ms);
        const std::vector<Coptions::Misread> m = options.Misreads();
        if (!c.used) {
            EXPECT_TRUE(m.empty());
            continue;
        }
        ASSERT_EQ(m.size(), 1U);
        EXPECT_EQ(Coptions::MisreadText(m[0]), "MATCH.WAIT \"" + std::string(c.value) +
                                                   "\" not understood: " + c.used + " used");
    }
    TempDir dir;
    WriteOptions(dir, "<MATCH><AUTO>yes</AUTO></MATCH>");
    const std::vector<Coptions::Misread> m = Coptions(dir.Path.string()).Misreads();
    ASSERT_EQ(m.size(), 1U);
    EXPECT_EQ(Coptions::MisreadText(m[0]), "MATCH.AUTO \"yes\" not understood: off used");
}

TEST(Options, AFifoIsRefusedWithoutWaiting) {
    using namespace std::chrono_literals;
    TempDir dir;
    MakeFifo(dir.File("options.xml"));
    bool loaded = true;
    ASSERT_TRUE(FinishesWithin(5s, dir.File("options.xml"),
                               [&] { loaded = Coptions(dir.Path.string()).Loaded(); }));
    EXPECT_FALSE(loaded);
}

TEST(Options, RootAndFileChecks) {
    {
        TempDir dir;
        const Coptions options(dir.Path.string());
        EXPECT_FALSE(options.Loaded());
        EXPECT_EQ(options.FilePath(), dir.File("options.xml"));
        EXPECT_EQ(options.SimulatedLamps(), 0);
    }
    {
        TempDir dir;
        WriteOptions(dir, "<LOG>1</LOG>", "Options");
        const Coptions options(dir.Path.string() + "/");
        EXPECT_TRUE(options.Loaded());
        EXPECT_TRUE(options.GetBool("LOG"));
    }
    {
        TempDir dir;
        WriteOptions(dir, "<OPTIONS><LOG>1</LOG></OPTIONS>", "SETTINGS");
        const Coptions options(dir.Path.string());
        EXPECT_FALSE(options.Loaded());
        EXPECT_FALSE(options.GetBool("LOG"));
        EXPECT_FALSE(options.GetBool("OPTIONS.LOG"));
    }
    {
        // A file broken part way is accepted; keys after the break read as missing.
        TempDir dir;
        WriteBytes(dir.File("options.xml"), "<OPTIONS><LOG>1</LOG><SD>1</SD><TEST>1<</OPTIONS>");
        const Coptions options(dir.Path.string());
        EXPECT_TRUE(options.Loaded());
        EXPECT_TRUE(options.GetBool("LOG"));
        EXPECT_TRUE(options.GetBool("SD"));
        EXPECT_FALSE(options.GetBool("TEST"));
    }
    EXPECT_STREQ(Coptions::kMissingMessage, "File 'options.xml' not found.");
    EXPECT_STREQ(Coptions::kMissingCaption, "Error");
}

// A flag the user switches is kept in the file for the next start; everything else in the
// file stays, and a file that did not read whole is left as it is.
TEST(Options, AStoredFlagIsThereAtTheNextStartAndNothingElseIsLost) {
    TempDir dir;
    WriteOptions(dir, "<LOG>1</LOG><R><X>0.690</X></R>");
    {
        Coptions options(dir.Path.string());
        EXPECT_FALSE(options.GetBool(Coptions::kFollowKey));
        EXPECT_TRUE(options.StoreFlag(Coptions::kFollowKey, true));
        EXPECT_TRUE(options.GetBool(Coptions::kFollowKey));
    }
    {
        Coptions options(dir.Path.string());
        EXPECT_TRUE(options.GetBool(Coptions::kFollowKey));
        EXPECT_TRUE(options.GetBool("LOG"));
        EXPECT_DOUBLE_EQ(options.GetFloat("R.X"), 0.69);
        // Edited by hand while the program runs: the edit stays when the flag is stored again.
        WriteOptions(dir, "<LOG>0</LOG><R><X>0.690</X></R><FOLLOW>1</FOLLOW>");
        EXPECT_TRUE(options.StoreFlag(Coptions::kFollowKey, false));
    }
    const Coptions again(dir.Path.string());
    EXPECT_FALSE(again.GetBool(Coptions::kFollowKey));
    EXPECT_FALSE(again.GetBool("LOG"));
    EXPECT_DOUBLE_EQ(again.GetFloat("R.X"), 0.69);

    // Broken part way: the rest of the file would be lost by a rewrite, so there is none; the
    // flag holds for this run.
    const std::string broken = "<OPTIONS><LOG>1</LOG><TEST>1<</OPTIONS>";
    WriteBytes(dir.File("options.xml"), broken);
    Coptions options(dir.Path.string());
    EXPECT_FALSE(options.StoreFlag(Coptions::kFollowKey, true));
    EXPECT_TRUE(options.GetBool(Coptions::kFollowKey));
    EXPECT_EQ(ReadBytes(dir.File("options.xml")), broken);
}

// The notice tells a missing file from one that is there but unusable, and names the file.
TEST(Options, TheNoticeSaysWhatIsWrongAndWhere) {
    using P = Coptions::Problem;
    const struct {
        const char* what;
        std::function<void(const TempDir&)> make;
        P problem;
        const char* message;
    } cases[] = {
        {"missing", [](const TempDir&) {}, P::Missing, Coptions::kMissingMessage},
        {"a folder",
         [](const TempDir& d) { std::filesystem::create_directory(d.File("options.xml")); },
         P::Unreadable, Coptions::kUnreadableMessage},
        {"a FIFO", [](const TempDir& d) { MakeFifo(d.File("options.xml")); }, P::Unreadable,
         Coptions::kUnreadableMessage},
        {"too large",
         [](const TempDir& d) {
             WriteBytes(d.File("options.xml"), "<OPTIONS>");
             std::filesystem::resize_file(d.File("options.xml"), CXML::kMaxFileSize + 1);
         },
         P::Unreadable, Coptions::kUnreadableMessage},
        {"empty", [](const TempDir& d) { WriteBytes(d.File("options.xml"), ""); }, P::Damaged,
         Coptions::kDamagedMessage},
        {"not a document", [](const TempDir& d) { WriteBytes(d.File("options.xml"), "LOG=1\n"); },
         P::Damaged, Coptions::kDamagedMessage},
        {"another root", [](const TempDir& d) { WriteOptions(d, "<LOG>1</LOG>", "SETTINGS"); },
         P::Damaged, Coptions::kDamagedMessage},
    };
    for (const auto& c : cases) {
        TempDir dir;
        c.make(dir);
        const Coptions options(dir.Path.string());
        EXPECT_FALSE(options.Loaded()) << c.what;
        EXPECT_EQ(options.FileProblem(), c.problem) << c.what;
        EXPECT_EQ(options.ProblemText(), std::string(c.message) + "\n" + dir.File("options.xml"))
            << c.what;
    }
    TempDir good;
    WriteOptions(good, "<LOG>1</LOG>");
    EXPECT_EQ(Coptions(good.Path.string()).ProblemText(), "");
}

}  // namespace
