#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <vector>

#include "window/Image.h"

// A surface given a focus policy takes keys and reports them, shows that it has the focus
// without touching the program's picture, and reports when the focus leaves.
TEST(ImageFocus, KeysReachTheOwnerAndTheFocusIsVisible) {
    QWidget window;
    window.resize(120, 80);
    auto* surface = new TImage(&window);
    surface->setGeometry(10, 10, 60, 40);
    surface->setFocusPolicy(Qt::StrongFocus);
    std::vector<std::pair<int, Qt::KeyboardModifiers>> keys;
    int exits = 0;
    QObject::connect(surface, &TImage::KeyDown, [&keys](int key, Qt::KeyboardModifiers m) {
        keys.push_back({key, m});
    });
    QObject::connect(surface, &TImage::Exit, [&exits] { ++exits; });
    window.show();
    window.activateWindow();
    for (int i = 0; i < 200 && !window.isActiveWindow(); ++i) QApplication::processEvents();
    surface->setFocus();
    ASSERT_TRUE(surface->hasFocus());

    const QImage focused = surface->grab().toImage();
    EXPECT_EQ(focused.pixel(0, 0), 0xffffffff) << "the dotted frame starts at the corner";
    EXPECT_EQ(surface->Picture().pixel(0, 0), kWindowGrey.rgb()) << "the picture is untouched";

    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::ShiftModifier);
    QApplication::sendEvent(surface, &left);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(surface, &enter);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0], std::make_pair(int(Qt::Key_Left), Qt::KeyboardModifiers(Qt::ShiftModifier)));
    EXPECT_EQ(keys[1].first, Qt::Key_Return);

    surface->clearFocus();
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(surface->grab().toImage().pixel(0, 0), kWindowGrey.rgb());
}
