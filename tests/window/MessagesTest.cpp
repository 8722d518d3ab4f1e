// Every message the window can show, measured against the message page's labels in the form's
// own fonts: a headline on its one large line, the detail on the smaller line below.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <vector>

#include "Fixture.h"
#include "link/Light.h"
#include "window/Measurement.h"
#include "window/Messages.h"

namespace {

class MessagesTest : public WindowFixture {};

std::vector<PageMessage> EveryMessage() {
    std::vector<PageMessage> all = {
        {QStringLiteral("Please wait"), {}},
        CoefficientResultText(CLightInput::kOk),
        CoefficientResultText(CLightInput::kNoLamp),
        CoefficientResultText(CLightInput::kNoReply),
        NoLampText(),
        UnfinishedText(0, 40),
        UnfinishedText(39, 40),
        CoefficientCountText(),
        // The longest a close during long work says: large counts and a long time left.
        ClosingDuringWorkText(QStringLiteral("display text upload"), 1, 80, 3600000),
        ClosingDuringWorkText(QStringLiteral("coefficient write"), 0, 50, 0),
        CoefficientsWritingText(50, 0, 0),
        CoefficientsWritingText(50, 199, 199),
    };
    // File names of the widest letters, far longer than a line.
    for (const QChar wide : {u'W', u'M', u'@', u'\u00c6', u'%'}) {
        const QString path = QStringLiteral("/home/user/") + QString(300, wide) + ".bmp";
        for (const Coefficients::Fault fault :
             {Coefficients::Fault::CannotOpen, Coefficients::Fault::NotAFile,
              Coefficients::Fault::TooLarge, Coefficients::Fault::LongLine,
              Coefficients::Fault::NotText, Coefficients::Fault::NoneFound}) {
            Coefficients::Result read;
            read.fault = fault;
            read.line = 1 << 20;  // more lines than a file within the size limit can hold
            all.push_back(CoefficientFileErrorText(path, read));
        }
        all.push_back(NotAPictureText(path));
        all.push_back(CoefficientBackupFailedText(path));
        // The saved table's name: as much of a serial number (letters and digits) as it takes.
        all.push_back(CoefficientsWrittenText(
            50, path, QString(kBackupSerialLength, u'W') + "-20261211-101500-2.txt"));
    }
    // Every problem a measurement can have.
    const std::vector<std::map<std::string, std::string>> stores = {
        {}, {{"x2", "0.3"}}, {{"x2", "x"}, {"y2", "0.3"}}, {{"x2", "0.3"}, {"y2", "7"}}};
    FixedStore store;
    store.exists = false;
    all.push_back(MeasurementErrorText(MeasurementProblem(store)));
    store.exists = true;
    for (const auto& values : stores) {
        store.values = values;
        const std::string problem = MeasurementProblem(store);
        EXPECT_FALSE(problem.empty());
        all.push_back(MeasurementErrorText(problem));
    }
    return all;
}

TEST_F(MessagesTest, EveryMessageFitsTheMessagePageWhole) {
    WriteOptions("<OPTIONS><SPEED>38400</SPEED></OPTIONS>\n");
    auto form = OpenToMainPage();
    const QLabel* headline = Find<QLabel>(*form, "Label5");
    const QLabel* detail = Find<QLabel>(*form, "Label27");
    ASSERT_LT(detail->font().pixelSize(), headline->font().pixelSize());
    // The page's own short texts stay exactly as they are.
    EXPECT_EQ(CoefficientResultText(CLightInput::kOk), (PageMessage{"Coefficients OK", {}}));

    for (const PageMessage& m : EveryMessage()) {
        SCOPED_TRACE(m.headline.toStdString() + " / " + m.detail.toStdString());
        EXPECT_LE(QFontMetrics(headline->font()).horizontalAdvance(m.headline), headline->width());
        EXPECT_LE(QFontMetrics(detail->font()).horizontalAdvance(m.detail), detail->width());
        form->ShowMessagePage(m);
        EXPECT_EQ(headline->text(), m.headline);
        EXPECT_EQ(detail->text(), m.detail);
        EXPECT_TRUE(detail->isVisible());
    }
    // A headline alone leaves no detail of the message before it.
    form->ShowMessagePage(QStringLiteral("Please wait"));
    EXPECT_EQ(detail->text(), QString());
    form->close();
}

}  // namespace
