#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <map>

#include "Fixture.h"
#include "window/Measurement.h"
#include "window/Spectrometer.h"

namespace {

TEST(MeasurementTest, ValuesFromTheStore) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> values;
        bool usable;
        float x, y;
        int lux;
    };
    const Case cases[] = {
        {"a plain measurement",
         {{"x2", "0.3127"}, {"y2", "0.3290"}, {"yy2", "499.6"}},
         true,
         0.3127f,
         0.3290f,
         500},
        {"commas and blanks",
         {{"x2", " 0,45 "}, {"y2", "\t0,41"}, {"yy2", "1234,4"}},
         true,
         0.45f,
         0.41f,
         1234},
        {"longest number at the start",
         {{"x2", "0.3abc"}, {"y2", "0.2;"}, {"yy2", "12lx"}},
         true,
         0.3f,
         0.2f,
         12},
        {"the ends of the range", {{"x2", "0"}, {"y2", "1"}, {"yy2", "0"}}, true, 0.0f, 1.0f, 0},
        {"lux missing", {{"x2", "0.3"}, {"y2", "0.3"}}, true, 0.3f, 0.3f, 0},
        {"lux not a number", {{"x2", "0.3"}, {"y2", "0.3"}, {"yy2", "n/a"}}, true, 0.3f, 0.3f, 0},
        {"lux huge", {{"x2", "0.3"}, {"y2", "0.3"}, {"yy2", "1e30"}}, true, 0.3f, 0.3f, 65535},
        {"lux infinite", {{"x2", "0.3"}, {"y2", "0.3"}, {"yy2", "1e999"}}, true, 0.3f, 0.3f, 0},
        {"lux negative", {{"x2", "0.3"}, {"y2", "0.3"}, {"yy2", "-40"}}, true, 0.3f, 0.3f, 0},
        {"x missing", {{"y2", "0.3"}, {"yy2", "100"}}, false, 0, 0, 0},
        {"y empty", {{"x2", "0.3"}, {"y2", ""}, {"yy2", "100"}}, false, 0, 0, 0},
        {"x not a number", {{"x2", "abc"}, {"y2", "0.3"}}, false, 0, 0, 0},
        {"x not finite", {{"x2", "1e999"}, {"y2", "0.3"}}, false, 0, 0, 0},
        {"x nan", {{"x2", "nan"}, {"y2", "0.3"}}, false, 0, 0, 0},
        {"y above 1", {{"x2", "0.3"}, {"y2", "1.2"}}, false, 0, 0, 0},
        {"x below 0", {{"x2", "-0.1"}, {"y2", "0.3"}}, false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        FixedStore store;
        store.values = c.values;
        const std::optional<Measurement> m = ReadMeasurement(store);
        ASSERT_EQ(m.has_value(), c.usable) << c.name;
        if (!m) continue;
        EXPECT_FLOAT_EQ(m->X, c.x) << c.name;
        EXPECT_FLOAT_EQ(m->Y, c.y) << c.name;
        EXPECT_EQ(m->Lux, c.lux) << c.name;
    }
}

TEST(MeasurementTest, AMissingGroupGivesNothing) {
    FixedStore store;
    store.exists = false;
    store.values = {{"x2", "0.3"}, {"y2", "0.3"}};
    EXPECT_FALSE(ReadMeasurement(store));
}

}  // namespace

namespace {

// The spectrometer application's own settings, from a folder of the test's.
TEST(MeasurementTest, SpectrometerSettingsAsTheApplicationLeavesThem) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    const SpectrometerStore store;
    EXPECT_FALSE(store.Exists());
    EXPECT_FALSE(ReadMeasurement(store));

    QDir().mkpath(dir.filePath("Varnek Optic"));
    QFile file(dir.filePath("Varnek Optic/Varnek_Irvane.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Measurement]\nx2=0,3127\ny2=\"0.3290\"\nyy2=499.6\n");
    file.close();
    EXPECT_TRUE(store.Exists());
    EXPECT_EQ(store.Value("x2"), "0,3127");
    EXPECT_EQ(store.Value("zz"), std::nullopt);
    const std::optional<Measurement> m = ReadMeasurement(store);
    ASSERT_TRUE(m);
    EXPECT_FLOAT_EQ(m->X, 0.3127f);
    EXPECT_FLOAT_EQ(m->Y, 0.3290f);
    EXPECT_EQ(m->Lux, 500);
    // The application replaces the file whole for each measurement: the same values written
    // again are a new write.
    const std::string mark = store.WriteMark();
    EXPECT_FALSE(mark.empty());
    EXPECT_EQ(store.WriteMark(), mark);
    QFile again(dir.filePath("Varnek Optic/Varnek_Irvane.conf.new"));
    ASSERT_TRUE(again.open(QIODevice::WriteOnly));
    again.write("[Measurement]\nx2=0,3127\ny2=\"0.3290\"\nyy2=499.6\n");
    again.close();
    ASSERT_TRUE(QFile::remove(file.fileName()));
    ASSERT_TRUE(again.rename(file.fileName()));
    EXPECT_NE(store.WriteMark(), mark);
    // The rest of the run reads no user's settings either.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("gone"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.filePath("gone"));
}

}  // namespace
