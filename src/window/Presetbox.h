#pragma once
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

class CChannel;
class CLampState;
class CchannelValues;
class QComboBox;

// The settings box: the preset combo box and what storing, recalling and deleting a preset does
// to the current record, the presets file and the box. The window's buttons ask their question
// first and then call these; the bus calls them without a question.
class PresetBox : public QObject {
    Q_OBJECT
  public:
    enum class Outcome {
        Done,
        NoSuchPreset,  // no stored preset bears the name; nothing changed
        Exists,        // storing without replace over a stored name; nothing changed
        NoSlot,        // a recall while slot 0 is current, which takes no preset; nothing changed
        Failed,        // values.xml could not be written; the list keeps what the file holds
    };
    struct Result {
        Outcome outcome = Outcome::Done;
        QString failure;  // what went wrong, naming the file, for Failed
        // Where a save kept a values.xml it could read only in part; the user hears of it once.
        QString backupNotice;
    };

    // Takes the box and the lists it works on; all of them outlive it.
    PresetBox(QComboBox& box, CLampState& controller, CchannelValues& presets);

    // Refills the box: the separator, then the stored names; selects the entry equal to `name`
    // ignoring case, or the separator.
    void RefreshPresetList(const QString& name);
    // A report of the current record: the box shows the name of a newly selected slot.
    void FollowSlot(const CChannel& current);
    // The stored names as the box lists them, without the separator.
    QStringList Names() const;
    bool Contains(const std::string& name) const;

    // The current record takes the name, as the window's save does before it asks "Replace?".
    void NameCurrent(const std::string& name);
    // Stores the current record under name (a name already checked), replacing a stored one
    // only with replace; the slot list shows the new name.
    Result Store(const std::string& name, bool replace);
    // Stores this record under its own name, replacing a stored one: the record the user named
    // before a question, even when the current record has changed since. With nameCurrent the
    // current slot takes the name once the store went through.
    Result StoreRecord(const CChannel& record, bool nameCurrent = false);
    // Copies the stored preset into the current record and has it sent.
    Result Recall(const std::string& name);
    // Removes the stored preset. The current record takes the name first, as the list finds
    // the preset by the current record's name.
    Result Delete(const std::string& name);

    // Redraws the slot list after a store renamed the current slot.
    std::function<void()> RedrawChannelList;

  Q_SIGNALS:
    // The box was refilled, so its names may have changed.
    void Refreshed();

  private:
    Result Saved(int result);

    QComboBox& box_;
    CLampState& controller_;
    CchannelValues& presets_;
    int lastSlotShown_ = 0;  // the slot whose name the box was last refilled with
};
