#include <gtest/gtest.h>

#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QXmlStreamReader>
#include <cmath>
#include <filesystem>
#include <map>

namespace {

// The form as the program builds it, beside the test sources.
QString FormPath() {
    const std::filesystem::path data(VELTRA_TEST_DATA);  // <root>/tests/window/data
    return QString::fromStdString(
        (data.parent_path().parent_path().parent_path() / "src" / "window" / "Main.ui").string());
}

struct FormFont {
    QString Family;
    int PointSize = 0;
    bool Bold = false;
};

std::vector<FormFont> FormFonts() {
    QFile file(FormPath());
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << FormPath().toStdString();
    std::vector<FormFont> fonts;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) continue;
        if (xml.name() == u"font") {
            fonts.emplace_back();
        } else if (!fonts.empty() && xml.name() == u"family") {
            fonts.back().Family = xml.readElementText();
        } else if (!fonts.empty() && xml.name() == u"pointsize") {
            fonts.back().PointSize = xml.readElementText().toInt();
        } else if (!fonts.empty() && xml.name() == u"bold") {
            fonts.back().Bold = xml.readElementText() == u"true";
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return fonts;
}

// The layout's font, in its units of 1/2048 em: advance widths of the characters the program
// shows most, regular and bold.
const std::map<QChar, std::pair<int, int>>& ArialAdvances() {
    static const std::map<QChar, std::pair<int, int>> advances = {
        {u' ', {569, 569}},   {u'0', {1139, 1139}}, {u'7', {1139, 1139}}, {u'%', {1821, 1821}},
        {u'A', {1366, 1479}}, {u'D', {1479, 1479}}, {u'L', {1139, 1251}}, {u'V', {1366, 1366}},
        {u'W', {1933, 1933}}, {u'a', {1139, 1139}}, {u'e', {1139, 1139}}, {u'g', {1139, 1251}},
        {u'i', {455, 569}},   {u'l', {455, 569}},   {u'm', {1706, 1821}}, {u'r', {682, 797}},
        {u't', {569, 682}},
    };
    return advances;
}

QFont Resolved(const QString& family, int pixelSize, bool bold) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    // Design widths, not the grid-fitted ones, so the comparison holds at every size.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

}  // namespace

// The form names the layout's font, and the system's font for that name lays text out with
// its widths (on Debian a metric-compatible substitute), at the em size and at the form's sizes.
TEST(Fonts, FormFontsResolveToTheLayoutsMetrics) {
    const std::vector<FormFont> fonts = FormFonts();
    ASSERT_FALSE(fonts.empty());
    std::map<std::pair<int, bool>, int> seen;
    for (const FormFont& f : fonts) {
        EXPECT_EQ(f.Family.toStdString(), "Arial");
        ASSERT_GT(f.PointSize, 0);
        ++seen[{f.PointSize, f.Bold}];
    }
    for (const auto& [size, count] : seen) {
        const auto [pointSize, bold] = size;
        const int pixelSize = static_cast<int>(std::lround(pointSize * 96.0 / 72.0));
        const QFontMetricsF em(Resolved("Arial", 2048, bold));
        const QFontMetricsF form(Resolved("Arial", pixelSize, bold));
        for (const auto& [c, widths] : ArialAdvances()) {
            const int units = bold ? widths.second : widths.first;
            EXPECT_NEAR(em.horizontalAdvance(c), units, 0.5)
                << "'" << QString(c).toStdString() << "' bold " << bold;
            EXPECT_NEAR(form.horizontalAdvance(c), units * pixelSize / 2048.0, 0.02)
                << "'" << QString(c).toStdString() << "' at " << pixelSize << " px, bold " << bold;
        }
    }
}
