#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include "app/Logging.h"

namespace {

QStringList* g_seen = nullptr;

void Collect(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (g_seen != nullptr && type == QtWarningMsg)
        g_seen->append(QString::fromLatin1(context.category) + ": " + text);
}

}  // namespace

// The link has no Qt: its warnings reach the "veltra.link" category only through the sink the
// program installs, and Qt's logging rules turn them off like any other category's.
TEST(Logging, LinkWarningsGoToTheirCategoryWhileTheSinkLives) {
    QStringList seen;
    g_seen = &seen;
    const QtMessageHandler before = qInstallMessageHandler(Collect);
    {
        const LinkLogging logging;
        LinkWarning("error: Pause called from a controller report \xB5");
        QLoggingCategory::setFilterRules(QStringLiteral("veltra.link.warning=false"));
        LinkWarning("silenced");
        QLoggingCategory::setFilterRules(QString());
    }
    // The sink has gone: the link falls back to standard error, not to the category.
    LinkWarning("after");
    qInstallMessageHandler(before);
    g_seen = nullptr;
    EXPECT_EQ(seen, QStringList{QString::fromLatin1(
                        "veltra.link: error: Pause called from a controller report \xB5")});
}
