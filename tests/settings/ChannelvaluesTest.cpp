#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Fifo.h"
#include "Tempdir.h"
#include "settings/Channelvalues.h"
#include "settings/Xml.h"

namespace {

// Stands in for the lamp controller: one current record and a count of send requests.
class FakeController : public CCurrentChannelAccess {
  public:
    CChannel current{4};
    int resends = 0;

    CChannel CurrentRecord() const override { return current; }
    void CopyIntoCurrent(const CChannel& stored) override { current.CopyFrom(stored); }
    void ResetCurrent() override { current.ResetToDefault(); }
    void ResendCurrentChannel() override { ++resends; }
};

int StoredEntries(const std::string& file) {
    CXML document;
    if (document.LoadFromFile(file) != CXML::kOk) return -1;
    return document.CountNodes("values.value");
}

class Presets : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy_file(std::string(VELTRA_TEST_DATA) + "/presets/values.xml",
                                   dir.File("values.xml"));
    }
    TempDir dir;
    FakeController lamp;
};

TEST_F(Presets, LoadsTheFile) {
    CchannelValues presets(dir.Path.string(), lamp);
    ASSERT_EQ(presets.Records().size(), 4u);
    const CChannel& warm = presets.Records()[0];
    EXPECT_EQ(warm.Name, "Warm white");
    EXPECT_EQ(warm.SlotNumber, -1);
    EXPECT_EQ(warm.ColorValues[6], 2700);
    EXPECT_EQ(warm.ColorValues[14], 40000);
    EXPECT_EQ(presets.Records()[2].Name, "");
    // The entry without COLOR7 reads 0 there and keeps its other values.
    const CChannel& noX = presets.Records()[3];
    EXPECT_EQ(noX.Name, "No x");
    EXPECT_EQ(noX.ColorValues[7], 0);
    EXPECT_EQ(noX.ColorValues[8], 25000);
}

TEST_F(Presets, StoreReplacesOrAppends) {
    CchannelValues presets(dir.Path.string(), lamp);
    lamp.current.Name = "Cold";
    lamp.current.ColorValues.fill(77);
    EXPECT_TRUE(presets.Contains());
    EXPECT_EQ(presets.StoreCurrent(), CXML::kOk);
    EXPECT_EQ(presets.Records().size(), 4u);
    EXPECT_EQ(StoredEntries(dir.File("values.xml")), 4);
    EXPECT_EQ(presets.Records()[1].ColorValues[0], 77);
    EXPECT_EQ(presets.Records()[1].SlotNumber, -1);

    lamp.current.Name = "Amber";
    EXPECT_FALSE(presets.Contains());
    presets.StoreCurrent();
    EXPECT_EQ(presets.Records().back().Name, "Amber");
    EXPECT_EQ(StoredEntries(dir.File("values.xml")), 5);

    // What was saved is what a fresh load gives.
    FakeController other;
    CchannelValues reloaded(dir.Path.string(), other);
    ASSERT_EQ(reloaded.Records().size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(reloaded.Records()[i], presets.Records()[i]);
}

TEST_F(Presets, NameListSortsTheListAndTheNextSave) {
    CchannelValues presets(dir.Path.string(), lamp);
    lamp.current.Name = "Amber";
    presets.StoreCurrent();
    EXPECT_EQ(presets.NameList(), "Amber\nCold\nNo x\nWarm white");
    EXPECT_EQ(presets.Records().size(), 5u);  // the unnamed one stays
    presets.StoreCurrent();
    CXML document;
    ASSERT_EQ(document.LoadFromFile(dir.File("values.xml")), CXML::kOk);
    EXPECT_EQ(document.GetValue("values.value[0].name"), "");
    EXPECT_EQ(document.GetValue("values.value[1].name"), "Amber");
    EXPECT_EQ(document.GetValue("values.value[last].name"), "Warm white");
}

TEST_F(Presets, RecallCopiesAndSendsOrResets) {
    CchannelValues presets(dir.Path.string(), lamp);
    lamp.current.Name = "Warm white";
    lamp.current.ModeFlags = 3;
    EXPECT_TRUE(presets.RecallCurrent());
    EXPECT_EQ(lamp.current.ColorValues, presets.Records()[0].ColorValues);
    EXPECT_EQ(lamp.current.SlotNumber, 4);
    EXPECT_EQ(lamp.current.ModeFlags, 3);
    EXPECT_EQ(lamp.resends, 1);

    lamp.current.Name = "warm white";  // names compare exactly
    EXPECT_FALSE(presets.RecallCurrent());
    EXPECT_EQ(lamp.current.Name, "Channel 4");
    for (int v : lamp.current.ColorValues) EXPECT_EQ(v, 0);
    EXPECT_EQ(lamp.resends, 1);
}

TEST_F(Presets, DeleteRemovesAndSavesOnlyWhenFound) {
    CchannelValues presets(dir.Path.string(), lamp);
    const std::string before = ReadBytes(dir.File("values.xml"));
    lamp.current.Name = "Nothing";
    EXPECT_EQ(presets.DeleteCurrent(), CchannelValues::kNotStored);
    EXPECT_EQ(ReadBytes(dir.File("values.xml")), before);

    lamp.current.Name = "Cold";
    EXPECT_EQ(presets.DeleteCurrent(), CXML::kOk);
    EXPECT_FALSE(presets.Contains());
    EXPECT_EQ(presets.Records().size(), 3u);
    EXPECT_EQ(StoredEntries(dir.File("values.xml")), 3);
}

TEST_F(Presets, DeleteWhoseSaveFailsSaysSoAndKeepsThePreset) {
    CchannelValues presets(dir.Path.string(), lamp);
    // Something that is not a file now stands where values.xml was: the save cannot replace it.
    std::filesystem::remove(dir.File("values.xml"));
    std::filesystem::create_directory(dir.File("values.xml"));
    lamp.current.Name = "Cold";
    EXPECT_EQ(presets.DeleteCurrent(), CXML::kCannotOpen);
    EXPECT_TRUE(presets.Contains());
    ASSERT_EQ(presets.Records().size(), 4u);
    EXPECT_EQ(presets.Records()[1].Name, "Cold");  // back in its place
}

// Ten presets as an older program wrote them: the fourth name holds a raw "<", so the file
// reads only up to it.
std::string TenPresetsFourthUnreadable() {
    CXML document;
    for (int i = 0; i < 10; ++i) {
        CChannel record;
        record.Name = i == 3 ? "a&b" : "preset " + std::to_string(i);
        record.ColorValues[0] = i;
        record.WriteTo(document, "values.value[" + std::to_string(i) + "]");
    }
    document.Serialize(0);
    std::string text = document.Text;
    text.replace(text.find("a&amp;b"), 7, "a<b");
    return text;
}

TEST(PresetBackup, IncompleteLoadKeepsTheFileOnceBeforeTheFirstSave) {
    const struct {
        const char* what;
        std::string bytes;
        int load;
    } cases[] = {
        {"a name with a raw <", TenPresetsFourthUnreadable(), CXML::kParseFailed},
        {"too large to read", "<VALUES>" + std::string(CXML::kMaxFileSize, ' ') + "</VALUES>",
         CXML::kShortTransfer},
        {"another root", "<PRESETS><VALUE><NAME>x</NAME></VALUE></PRESETS>", CXML::kOk},
        {"damaged at the start", "VALUES>\r\n<VALUE>", CXML::kParseFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        FakeController lamp;
        const std::string file = dir.File("values.xml");
        WriteBytes(file, c.bytes);
        CchannelValues presets(dir.Path.string(), lamp);
        EXPECT_EQ(presets.Load(), c.load);
        EXPECT_EQ(presets.TakeBackupNotice(), "");  // nothing is kept until something is saved
        EXPECT_FALSE(std::filesystem::exists(file + ".bak"));

        lamp.current.Name = "new";
        EXPECT_EQ(presets.StoreCurrent(), CXML::kOk);
        EXPECT_EQ(ReadBytes(file + ".bak"), c.bytes);
        EXPECT_EQ(presets.BackupPath(), file + ".bak");
        EXPECT_EQ(presets.TakeBackupNotice(), file + ".bak");
        EXPECT_STREQ(presets.BackupNoticeText(), CchannelValues::kBackupNotice);
        EXPECT_EQ(presets.TakeBackupNotice(), "");  // told once

        // Later saves write over values.xml only; the backup stays as it was.
        lamp.current.Name = "newer";
        EXPECT_EQ(presets.StoreCurrent(), CXML::kOk);
        EXPECT_EQ(presets.DeleteCurrent(), CXML::kOk);
        EXPECT_EQ(ReadBytes(file + ".bak"), c.bytes);
        EXPECT_FALSE(std::filesystem::exists(file + ".bak2"));
        EXPECT_EQ(presets.TakeBackupNotice(), "");
        EXPECT_EQ(StoredEntries(file), static_cast<int>(presets.Records().size()));
    }
}

// A values.xml that is a link (to a synchronised folder, say) stays one: the save replaces the
// file it leads to, through a temporary file beside that file.
TEST(PresetFile, ALinkedFileKeepsItsLinkAndItsTargetTakesTheSave) {
    namespace fs = std::filesystem;
    const std::string onePreset = "<VALUES><VALUE><NAME>old</NAME></VALUE></VALUES>";
    const struct {
        const char* what;
        std::string link;     // where values.xml points, relative to the data folder
        std::string target;   // the file that must take the save
        std::string content;  // what the target holds first; empty: it does not exist yet
    } cases[] = {
        {"relative", "shared/presets.xml", "shared/presets.xml", onePreset},
        {"absolute", "", "shared/presets.xml", onePreset},
        {"through a second link", "shared/link.xml", "shared/presets.xml", onePreset},
        {"to a file not made yet", "shared/new.xml", "shared/new.xml", ""},
        {"to a file read only in part", "shared/presets.xml", "shared/presets.xml",
         TenPresetsFourthUnreadable()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        fs::create_directory(dir.File("shared"));
        const std::string target = dir.File(c.target);
        if (!c.content.empty()) WriteBytes(target, c.content);
        if (c.link == "shared/link.xml") fs::create_symlink("presets.xml", dir.File(c.link));
        fs::create_symlink(c.link.empty() ? target : c.link, dir.File("values.xml"));
        FakeController lamp;
        CchannelValues presets(dir.Path.string(), lamp);
        const std::size_t before = presets.Records().size();
        lamp.current.Name = "new";
        ASSERT_EQ(presets.StoreCurrent(), CXML::kOk);

        EXPECT_TRUE(fs::is_symlink(dir.File("values.xml")));
        EXPECT_EQ(StoredEntries(target), static_cast<int>(before + 1));
        EXPECT_EQ(StoredEntries(dir.File("values.xml")), static_cast<int>(before + 1));
        EXPECT_TRUE(c.link != "shared/link.xml" || fs::is_symlink(dir.File(c.link)));
        for (const auto& entry : fs::recursive_directory_iterator(dir.Path))
            EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
        // A file read only in part is kept as it was, not as a second link to the new file.
        if (c.content == TenPresetsFourthUnreadable()) {
            EXPECT_FALSE(fs::is_symlink(presets.BackupPath()));
            EXPECT_EQ(ReadBytes(presets.BackupPath()), c.content);
        }
    }
}

TEST(PresetBackup, TheUnreadablePresetsAreAllInTheBackup) {
    TempDir dir;
    FakeController lamp;
    WriteBytes(dir.File("values.xml"), TenPresetsFourthUnreadable());
    CchannelValues presets(dir.Path.string(), lamp);
    EXPECT_EQ(presets.Records().size(), 3u);
    lamp.current.Name = "new";
    presets.StoreCurrent();
    EXPECT_EQ(StoredEntries(dir.File("values.xml")), 4);
    // Once the name is mended, the backup gives back every preset.
    std::string kept = ReadBytes(dir.File("values.xml.bak"));
    kept.replace(kept.find("a<b"), 3, "a-b");
    std::filesystem::create_directories(dir.File("mended"));
    WriteBytes(dir.File("mended/values.xml"), kept);
    CchannelValues mended(dir.File("mended"), lamp);
    ASSERT_EQ(mended.Records().size(), 10u);
    EXPECT_EQ(mended.Records()[9].ColorValues[0], 9);
}

TEST(PresetBackup, AFileThatCannotBeOpenedIsKeptToo) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
    TempDir dir;
    FakeController lamp;
    const std::string file = dir.File("values.xml");
    WriteBytes(file, "<VALUES><VALUE><NAME>x</NAME></VALUE></VALUES>");
    std::filesystem::permissions(file, std::filesystem::perms::none);
    CchannelValues presets(dir.Path.string(), lamp);
    EXPECT_EQ(presets.Load(), CXML::kCannotOpen);
    EXPECT_EQ(presets.StoreCurrent(), CXML::kOk);
    std::filesystem::permissions(file + ".bak", std::filesystem::perms::owner_read);
    EXPECT_EQ(ReadBytes(file + ".bak"), "<VALUES><VALUE><NAME>x</NAME></VALUE></VALUES>");
}

TEST(PresetFile, AFifoIsRefusedWithoutWaiting) {
    using namespace std::chrono_literals;
    TempDir dir;
    FakeController lamp;
    const std::string fifo = dir.File("values.xml");
    MakeFifo(fifo);
    std::unique_ptr<CchannelValues> presets;
    ASSERT_TRUE(FinishesWithin(
        5s, fifo, [&] { presets = std::make_unique<CchannelValues>(dir.Path.string(), lamp); }));
    EXPECT_TRUE(presets->Records().empty());
    int stored = 0;
    ASSERT_TRUE(FinishesWithin(5s, fifo, [&] { stored = presets->StoreCurrent(); }));
    EXPECT_EQ(stored, CXML::kCannotOpen);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST(PresetBackup, NoBackupWhenNothingWasLeftUnread) {
    const struct {
        const char* what;
        const char* bytes;  // nullptr: no file
    } cases[] = {
        {"no file", nullptr},
        {"empty file", ""},
        {"whole file", "<VALUES/>\r\n"},
        // The save's own layout around a name, and characters inside a name, are no loss.
        {"names as saved",
         "<VALUES>\r\n\t<VALUE>\r\n\t\t<NAME>\r\n\t\t\tin\tside\r\n\t\t</NAME>\r\n\t</VALUE>\r\n"
         "\t<VALUE><NAME>a\x01z</NAME></VALUE><VALUE><NAME/></VALUE>\r\n</VALUES>\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        FakeController lamp;
        if (c.bytes != nullptr) WriteBytes(dir.File("values.xml"), c.bytes);
        CchannelValues presets(dir.Path.string(), lamp);
        EXPECT_EQ(presets.StoreCurrent(), CXML::kOk);
        EXPECT_FALSE(std::filesystem::exists(dir.File("values.xml.bak")));
        EXPECT_EQ(presets.BackupPath(), "");
        EXPECT_EQ(presets.TakeBackupNotice(), "");
    }
}

// A name with blanks or control characters at its ends, or of blanks alone, cannot stay in the
// file as it was written: reading drops those characters. The file as written is kept before the
// first save, and the user is told why; no preset is dropped.
TEST(PresetBackup, NamesTheFileCannotHoldAsWrittenKeepTheFile) {
    TempDir dir;
    FakeController lamp;
    const std::string file = dir.File("values.xml");
    const std::string bytes =
        "<VALUES><VALUE><NAME></NAME></VALUE><VALUE><NAME> </NAME></VALUE>"
        "<VALUE><NAME>\tTab</NAME></VALUE><VALUE><NAME>Ctl\x02</NAME></VALUE>"
        "<VALUE><NAME>in\tside</NAME></VALUE></VALUES>";
    WriteBytes(file, bytes);
    CchannelValues presets(dir.Path.string(), lamp);
    ASSERT_EQ(presets.Records().size(), 5u);
    lamp.current.Name = "new";
    EXPECT_EQ(presets.StoreCurrent(), CXML::kOk);
    EXPECT_EQ(ReadBytes(file + ".bak"), bytes);
    EXPECT_EQ(presets.TakeBackupNotice(), file + ".bak");
    EXPECT_STREQ(presets.BackupNoticeText(), CchannelValues::kNamesBackupNotice);

    CchannelValues reloaded(dir.Path.string(), lamp);
    std::vector<std::string> names;
    for (const CChannel& c : reloaded.Records()) names.push_back(c.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"", "", "Tab", "Ctl", "in\tside", "new"}));
}

TEST(PresetBackup, OlderBackupsAreNeverReplaced) {
    TempDir dir;
    FakeController lamp;
    const std::string file = dir.File("values.xml");
    const std::string damaged = TenPresetsFourthUnreadable();
    WriteBytes(file, damaged);
    for (int n = 1; n <= CchannelValues::kMaxBackups; ++n)
        WriteBytes(file + ".bak" + (n > 1 ? std::to_string(n) : ""), "older " + std::to_string(n));
    CchannelValues presets(dir.Path.string(), lamp);

    // With every backup name taken the file cannot be kept, so it is not replaced either.
    lamp.current.Name = "new";
    EXPECT_EQ(presets.StoreCurrent(), CXML::kCannotOpen);
    EXPECT_EQ(ReadBytes(file), damaged);
    EXPECT_EQ(presets.TakeBackupNotice(), "");

    std::filesystem::remove(file + ".bak7");
    EXPECT_EQ(presets.StoreCurrent(), CXML::kOk);
    EXPECT_EQ(presets.TakeBackupNotice(), file + ".bak7");
    EXPECT_EQ(ReadBytes(file + ".bak7"), damaged);
    EXPECT_EQ(ReadBytes(file + ".bak"), "older 1");
    EXPECT_EQ(ReadBytes(file + ".bak2"), "older 2");
}

TEST(PresetFile, WrongRootGivesAnEmptyListThatReplacesTheFile) {
    TempDir dir;
    FakeController lamp;
    WriteBytes(dir.File("values.xml"), "<PRESETS><VALUE><NAME>x</NAME></VALUE></PRESETS>");
    CchannelValues presets(dir.Path.string(), lamp);
    EXPECT_TRUE(presets.Records().empty());
    lamp.current.Name = "Only";
    presets.StoreCurrent();
    EXPECT_EQ(StoredEntries(dir.File("values.xml")), 1);

    // The file under the other root is kept beside it.
    EXPECT_EQ(ReadBytes(dir.File("values.xml.bak")),
              "<PRESETS><VALUE><NAME>x</NAME></VALUE></PRESETS>");

    // Deleting the last one leaves a file that reads back as an empty list.
    EXPECT_EQ(presets.DeleteCurrent(), CXML::kOk);
    CchannelValues again(dir.Path.string(), lamp);
    EXPECT_TRUE(again.Records().empty());
    EXPECT_EQ(StoredEntries(dir.File("values.xml")), 0);
}

TEST(PresetFile, NamesWithMarkupSurviveAndKeepLaterEntries) {
    TempDir dir;
    FakeController lamp;
    CchannelValues presets(dir.Path.string(), lamp);
    EXPECT_TRUE(presets.Records().empty());  // no file yet
    for (const char* name : {"a<b", "R&D > 2", "later"}) {
        lamp.current.Name = name;
        lamp.current.ColorValues[0] += 1;
        presets.StoreCurrent();
    }
    CchannelValues reloaded(dir.Path.string(), lamp);
    ASSERT_EQ(reloaded.Records().size(), 3u);
    EXPECT_EQ(reloaded.Records()[0].Name, "a<b");
    EXPECT_EQ(reloaded.Records()[1].Name, "R&D > 2");
    EXPECT_EQ(reloaded.Records()[2].Name, "later");
    EXPECT_EQ(reloaded.Records()[2].ColorValues[0], 3);
}

TEST(PresetFile, TenThousandPresetsSaveAndReadBack) {
    TempDir dir;
    FakeController lamp;
    {
        CXML document;
        document.Name = "VALUES";
        for (int i = 0; i < 10000; ++i) {
            CChannel record;
            record.Name = "preset " + std::to_string(i);
            record.ColorValues.fill(40000 + i);
            document.Children.push_back(std::make_unique<CXML>());
            record.WriteTo(*document.Children.back(), "value");
        }
        ASSERT_EQ(document.SaveToFile(dir.File("values.xml")), CXML::kOk);
    }
    CchannelValues presets(dir.Path.string(), lamp);
    ASSERT_EQ(presets.Records().size(), 10000u);
    lamp.current.Name = "one more";
    EXPECT_EQ(presets.StoreCurrent(), CXML::kOk);
    CchannelValues reloaded(dir.Path.string(), lamp);
    ASSERT_EQ(reloaded.Records().size(), 10001u);
    EXPECT_EQ(reloaded.Records()[9999].Name, "preset 9999");
    EXPECT_EQ(reloaded.Records()[9999].ColorValues[15], 49999);
    EXPECT_EQ(reloaded.Records()[10000].Name, "one more");
}

// The list keeps what the file holds: a new name is taken back out, a replaced one gets its
// old values back.
TEST_F(Presets, AFailedStoreLeavesTheListAsTheFileHoldsIt) {
    CchannelValues presets(dir.Path.string(), lamp);
    const std::vector<CChannel> before = presets.Records();
    const std::string names = presets.NameList();
    std::filesystem::remove(dir.File("values.xml"));
    std::filesystem::create_directory(dir.File("values.xml"));
    for (const char* name : {"Kept", "Warm white"}) {
        lamp.current.Name = name;
        lamp.current.ColorValues[6] = 6500;
        EXPECT_EQ(presets.StoreCurrent(), CXML::kCannotOpen) << name;
        EXPECT_EQ(presets.NameList(), names) << name;
    }
    ASSERT_EQ(presets.Records().size(), before.size());
    for (const CChannel& stored : before) {
        const auto found = std::find_if(presets.Records().begin(), presets.Records().end(),
                                        [&](const CChannel& c) { return c.Name == stored.Name; });
        ASSERT_NE(found, presets.Records().end()) << stored.Name;
        EXPECT_EQ(found->ColorValues, stored.ColorValues) << stored.Name;
    }
}

}  // namespace
