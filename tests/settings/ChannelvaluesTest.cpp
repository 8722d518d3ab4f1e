#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
    EXPECT_FALSE(presets.DeleteCurrent());
    EXPECT_EQ(ReadBytes(dir.File("values.xml")), before);

    lamp.current.Name = "Cold";
    EXPECT_TRUE(presets.DeleteCurrent());
    EXPECT_FALSE(presets.Contains());
    EXPECT_EQ(presets.Records().size(), 3u);
    EXPECT_EQ(StoredEntries(dir.File("values.xml")), 3);
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

    // Deleting the last one leaves a file that reads back as an empty list.
    presets.DeleteCurrent();
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

TEST(PresetFile, FailedSaveKeepsTheList) {
    TempDir dir;
    FakeController lamp;
    CchannelValues presets(dir.File("missing-folder"), lamp);
    lamp.current.Name = "Kept";
    EXPECT_EQ(presets.StoreCurrent(), CXML::kCannotOpen);
    EXPECT_EQ(presets.Records().size(), 1u);
}

}  // namespace
