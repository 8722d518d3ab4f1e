#include "window/Imports.h"

#include <QFile>
#include <QFileDialog>
#include <QLineEdit>

#include "link/Lamp.h"
#include "link/Light.h"
#include "settings/Coefficients.h"
#include "ui_Main.h"
#include "window/Coefficients.h"
#include "window/Main.h"

QString Imports::ChooseFile(QFileDialog* dialog, const std::function<QString()>& chooser) {
    if (chooser) return chooser();
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().constFirst();
}

void Imports::WriteCoefficients() {
    const std::optional<int> rows =
        Coefficients::RowCount(ui_.Edit6->text().toLatin1().toStdString());
    if (!rows) return;
    const QString file = ChooseFile(form_.OpenDialog2, form_.setup_.chooseCoefficientFile);
    // A cancelled choice leaves the lamp's table as it was.
    if (file.isEmpty()) return;
    const std::optional<Coefficients::Table> table =
        ReadCoefficientFile(QFile::encodeName(file).toStdString(), *rows);
    if (!table) {
        form_.ShowMessageAndReturn(CoefficientFileErrorText(file));
    } else if (!form_.controller_->IsConnected()) {
        form_.ShowMessageAndReturn(CoefficientResultText(CLightInput::kNoLamp));
    } else {
        // The controller writes the table on its next pass and says how it went.
        form_.ShowMessagePage(QStringLiteral("Please wait"));
        form_.controller_->StoreCoefficients(*table);
    }
}

void Imports::CoefficientsWritten(std::int32_t result) {
    if (form_.closing_) return;
    form_.ShowMessageAndReturn(CoefficientResultText(result));
}
