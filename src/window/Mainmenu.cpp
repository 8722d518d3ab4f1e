// The main window's command menu: every command of the window, with its key, where a new user
// finds it (a right-click on the window or the diagram), including those reachable otherwise
// only by keys.
#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QMenu>

#include "ui_Main.h"
#include "window/Main.h"

namespace {

// An entry whose key is shown right-aligned, as menus show shortcuts; the key itself is
// handled where it always is, so the menu adds no second way for a key to act.
QAction* Command(QMenu& menu, const QString& text, const QString& key,
                 const std::function<void()>& run, bool enabled = true) {
    QAction* action = menu.addAction(key.isEmpty() ? text : text + QLatin1Char('\t') + key);
    action->setEnabled(enabled);
    if (run) QObject::connect(action, &QAction::triggered, &menu, run);
    return action;
}

}  // namespace

bool TForm1::OwnsPointer(const QWidget* widget) const {
    // Surfaces where any button does something of their own (the channel list, the sleep
    // timer, the sliders) keep their right-click.
    for (const QWidget* own :
         {static_cast<const QWidget*>(ui->Image2), static_cast<const QWidget*>(ui->Image3),
          static_cast<const QWidget*>(ui->Image5), static_cast<const QWidget*>(ui->Image7),
          static_cast<const QWidget*>(ui->Image8)}) {
        if (widget == own) return true;
    }
    return false;
}

void TForm1::contextMenuEvent(QContextMenuEvent* event) {
    if (page_ != Page::Main || busy_.IsBusy() ||
        (event->reason() == QContextMenuEvent::Mouse && OwnsPointer(childAt(event->pos())))) {
        event->ignore();
        return;
    }
    event->accept();
    CommandMenu()->popup(event->globalPos());
}

QMenu* TForm1::CommandMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("CommandMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const bool editable = !FirstChannelProtected();
    Command(*menu, QStringLiteral("Load coefficients..."), QStringLiteral("Ctrl+Alt+W"),
            [this] { FormKeyDown(Qt::Key_W, Qt::ControlModifier | Qt::AltModifier); });
    Command(*menu, QStringLiteral("Upload display texts (Language)..."), QStringLiteral("Ctrl+L"),
            [this] {
                FormKeyDown(Qt::Key_L, Qt::ControlModifier);
                Button1Click();
            });
    menu->addSeparator();
    Command(
        *menu, QStringLiteral("Set: send x, y and lux"), {}, [this] { Button4Click(); }, editable);
    Command(
        *menu, QStringLiteral("T2xy: send the temperature T"), {}, [this] { Button3Click(); },
        editable);
    Command(*menu, QStringLiteral("Move the diagram's point"),
            QStringLiteral("Arrows (Shift: x10)"), {}, false);
    Command(
        *menu, QStringLiteral("Send the diagram's point"), QStringLiteral("Enter"),
        [this] { Image1KeyDown(Qt::Key_Return, Qt::NoModifier); }, editable);
    Command(
        *menu, QStringLiteral("Intensity up"), QStringLiteral("+"),
        [this] { Image1KeyDown(Qt::Key_Plus, Qt::NoModifier); }, editable);
    Command(
        *menu, QStringLiteral("Intensity down"), QStringLiteral("-"),
        [this] { Image1KeyDown(Qt::Key_Minus, Qt::NoModifier); }, editable);
    if (followAction_ != nullptr) {
        followAction_->setShortcutVisibleInContextMenu(true);
        menu->addAction(followAction_);
    }
    Command(
        *menu, QStringLiteral("Zoom the diagram"), {},
        [this] { Image1MouseDown(Qt::LeftButton, 470, 20); }, editable);
    if (ui->Button5->isVisible()) {
        Command(*menu, QStringLiteral("Load measurement"), {}, [this] { Button5Click(); });
    }
    // Commands of the window's parts that put buttons of their own on the main page.
    for (auto* button : ui->Panel1->findChildren<QAbstractButton*>(QStringLiteral("ButtonMatch"))) {
        if (button->isVisible()) {
            Command(
                *menu, QStringLiteral("Match the measured light to the target"), {},
                [button] { button->click(); }, button->isEnabled());
        }
    }
    Command(
        *menu, QStringLiteral("LCD backlight on or off"), {}, [this] { SpeedButton1Click(); },
        editable);
    menu->addSeparator();
    Command(*menu, QStringLiteral("Close"), QStringLiteral("Alt+F4"), [this] { close(); });
    return menu;
}
