#pragma once
#include <QString>

namespace Ui {
class TForm1;
}

// What each control of the window does, in the words the window itself uses, shown as the
// control's tooltip. A new user finds the rules of the drawn controls (which half of the sleep
// timer adds what, what the speed buttons mean) where they look, without the README.
void ExplainControls(Ui::TForm1& ui);

// The diagram's tooltip at a point of the drawing: its zoom button, one of its speed buttons, or
// the plot.
QString DiagramTip(int x, int y);
