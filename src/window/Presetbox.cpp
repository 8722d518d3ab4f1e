#include "window/Presetbox.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <algorithm>

#include "link/Lamp.h"
#include "settings/Channelvalues.h"
#include "settings/Xml.h"
#include "window/Presets.h"

PresetBox::PresetBox(QComboBox& box, CLampState& controller, CchannelValues& presets)
    : box_(box), controller_(controller), presets_(presets) {
    box_.lineEdit()->setMaxLength(static_cast<int>(kPresetNameLength));
    box_.setCompleter(nullptr);
}

void PresetBox::RefreshPresetList(const QString& name) {
    box_.clear();
    for (const std::string& entry : PresetEntries(presets_.NameList())) {
        box_.addItem(QString::fromLatin1(entry));
    }
    // The box's search ignores case, so of two names differing only in case the first is chosen.
    const int found = name.isEmpty() ? -1 : box_.findText(name, Qt::MatchFixedString);
    box_.setCurrentIndex(found < 0 ? 0 : found);
    emit Refreshed();
}

void PresetBox::FollowSlot(const CChannel& current) {
    // Only slots above 0 are remembered, so coming back to a slot after slot 0 leaves the box.
    if (current.SlotNumber > 0 && current.SlotNumber != lastSlotShown_) {
        RefreshPresetList(QString::fromLatin1(current.Name));
        lastSlotShown_ = current.SlotNumber;
    }
}

QStringList PresetBox::Names() const {
    QStringList names;
    for (int i = 1; i < box_.count(); ++i) names << box_.itemText(i);
    return names;
}

bool PresetBox::Contains(const std::string& name) const {
    const std::vector<CChannel>& list = presets_.Records();
    return std::any_of(list.begin(), list.end(), [&](const CChannel& c) { return c.Name == name; });
}

void PresetBox::NameCurrent(const std::string& name) {
    controller_.EditCurrentRecord([&](CChannel& record) { record.Name = name; });
}

PresetBox::Result PresetBox::Saved(int result) {
    Result r;
    if (result != 0) {
        r.outcome = Outcome::Failed;
        const QString path = QFile::decodeName(presets_.FilePath().c_str());
        r.failure = result == CXML::kTooLarge
                        ? QStringLiteral(
                              "The presets could not be saved to %1: the file would be "
                              "larger than %2 MB, the most the program reads back. "
                              "It was left as it was.")
                              .arg(path)
                              .arg(CXML::kMaxFileSize >> 20)
                        : QStringLiteral("The presets could not be saved to %1.").arg(path);
    }
    const std::string backup = presets_.TakeBackupNotice();
    if (!backup.empty()) {
        r.backupNotice = QStringLiteral("%1\n%2").arg(
            QString::fromLatin1(presets_.BackupNoticeText()), QFile::decodeName(backup.c_str()));
    }
    return r;
}

PresetBox::Result PresetBox::Store(const std::string& name, bool replace) {
    if (!replace && Contains(name)) return {Outcome::Exists, {}, {}};
    NameCurrent(name);
    return StoreRecord(controller_.CurrentRecord());
}

PresetBox::Result PresetBox::StoreRecord(const CChannel& record) {
    const Result result = Saved(presets_.Store(record));
    controller_.StoreChannelNames();
    RefreshPresetList(QString::fromLatin1(record.Name));
    if (RedrawChannelList) RedrawChannelList();
    return result;
}

PresetBox::Result PresetBox::Recall(const std::string& name) {
    if (!Contains(name)) return {Outcome::NoSuchPreset, {}, {}};
    if (controller_.CurrentSlot() <= 0) return {Outcome::NoSlot, {}, {}};
    NameCurrent(name);
    presets_.RecallCurrent();
    controller_.StoreChannelNames();
    // A recall from outside shows in the box as a choice in it would.
    const int entry =
        box_.findText(QString::fromLatin1(name), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (entry > 0) box_.setCurrentIndex(entry);
    return {};
}

PresetBox::Result PresetBox::Delete(const std::string& name) {
    if (!Contains(name)) return {Outcome::NoSuchPreset, {}, {}};
    NameCurrent(name);
    const Result result = Saved(presets_.DeleteCurrent());
    RefreshPresetList(QString());
    return result;
}
