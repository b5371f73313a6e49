#include "ui/QtDialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QUrl>

#include "ui/PortugueseDialogs.h"

namespace kelvaro {

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Dialogs belong to whichever station window is active, so they stay above it.
QWidget* DialogParent() {
    return QApplication::activeWindow();
}

QMessageBox::Icon BoxIcon(DialogIcon icon) {
    switch (icon) {
        case DialogIcon::Information:
            return QMessageBox::Information;
        case DialogIcon::Warning:
            return QMessageBox::Warning;
        case DialogIcon::Error:
            return QMessageBox::Critical;
        case DialogIcon::Question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons BoxButtons(DialogButtons buttons) {
    switch (buttons) {
        case DialogButtons::Ok:
            return QMessageBox::Ok;
        case DialogButtons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case DialogButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
    }
    return QMessageBox::Ok;
}

// Closing the box without a button (Escape, close box) answers the "negative" button.
DialogResult Dismissed(DialogButtons buttons) {
    switch (buttons) {
        case DialogButtons::Ok:
            return DialogResult::Ok;
        case DialogButtons::OkCancel:
            return DialogResult::Cancel;
        case DialogButtons::YesNo:
            return DialogResult::No;
    }
    return DialogResult::Cancel;
}

QString WithoutParenthesisedPatterns(QString description) {
    description = description.trimmed();
    if (description.endsWith(QLatin1Char(')'))) {
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (open >= 0) {
            description.truncate(open);
        }
    }
    return description.trimmed();
}

// Qt's file dialog reads a double quote in the typed name as the start of a list of quoted
// names and keeps only a piece of it, in whatever folder the dialog shows: ".../names/a;b"c.csv"
// would become "c.csv" in the starting folder. Such a name is refused while the dialog is still
// open, in the folder the operator is in, with the name as typed.
class SaveDialog : public QFileDialog {
  public:
    SaveDialog(QtDialogs& dialogs, QWidget* parent)
        : QFileDialog(parent, QStringLiteral("Salvar como")), dialogs_(dialogs) {}

  protected:
    void accept() override {
        const auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (edit != nullptr && edit->text().contains(QLatin1Char('"'))) {
            dialogs_.MessageBox(
                "O nome do arquivo não pode conter aspas (\"):\r" + edit->text().toStdString(),
                "Salvar como", DialogButtons::Ok, DialogIcon::Warning);
            return;
        }
        QFileDialog::accept();
    }

  private:
    QtDialogs& dialogs_;
};

}  // namespace

QString MessageText(std::string_view text) {
    QString result = FromUtf8(text);
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}

QStringList ConvertFileFilter(std::string_view filter) {
    const QStringList parts = FromUtf8(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1].trimmed();
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (patterns.isEmpty()) {
            continue;
        }
        QString description = WithoutParenthesisedPatterns(parts[i]);
        if (description.isEmpty()) {
            description = patterns;
        }
        filters << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return filters;
}

QString WithDefaultExtension(const QString& path, const QString& defaultExtension) {
    QString extension = defaultExtension.trimmed();
    if (extension.isEmpty() || path.isEmpty() || !QFileInfo(path).suffix().isEmpty()) {
        return path;
    }
    if (!extension.startsWith(QLatin1Char('.'))) {
        extension.prepend(QLatin1Char('.'));
    }
    // "name." has an empty suffix but already ends in the dot.
    if (path.endsWith(QLatin1Char('.'))) {
        return path + extension.mid(1);
    }
    return path + extension;
}

DialogResult QtDialogs::MessageBox(const std::string& text, const std::string& title,
                                   DialogButtons buttons, DialogIcon icon) {
    QMessageBox box(BoxIcon(icon), FromUtf8(title), MessageText(text), BoxButtons(buttons),
                    DialogParent());
    if (buttons == DialogButtons::YesNo) {
        box.setEscapeButton(QMessageBox::No);
    }
    // Texts can carry values from the settings file or a port name: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    ApplyPortugueseTexts(box);
    // Holding Escape stops a run, and the save question opens a moment later: the key's
    // auto-repeat must not answer it.
    const FreshKeyFilter freshKeys(keysDown_);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked == nullptr) {
        return Dismissed(buttons);
    }
    switch (box.standardButton(clicked)) {
        case QMessageBox::Ok:
            return DialogResult::Ok;
        case QMessageBox::Cancel:
            return DialogResult::Cancel;
        case QMessageBox::Yes:
            return DialogResult::Yes;
        case QMessageBox::No:
            return DialogResult::No;
        default:
            return Dismissed(buttons);
    }
}

std::string QtDialogs::InputBox(const std::string& title, const std::string& prompt,
                                const std::string& initialText, bool* cancelled) {
    QInputDialog dialog(DialogParent());
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(FromUtf8(title));
    dialog.setLabelText(MessageText(prompt));
    dialog.setTextValue(FromUtf8(initialText));
    ApplyPortugueseTexts(dialog);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (cancelled != nullptr) {
        *cancelled = !accepted;
    }
    return accepted ? dialog.textValue().toStdString() : initialText;
}

std::optional<std::string> QtDialogs::SaveFile(const SaveFileRequest& request) {
    const QString extension = FromUtf8(request.defaultExtension);
    SaveDialog dialog(*this, DialogParent());
    // Qt's own dialog, so its labels can be set; overwriting is confirmed below in Portuguese.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = ConvertFileFilter(request.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
    }
    dialog.setDefaultSuffix(extension.startsWith(QLatin1Char('.')) ? extension.mid(1) : extension);
    if (!request.initialFolder.empty()) {
        dialog.setDirectory(FromUtf8(request.initialFolder));
    }
    dialog.selectFile(FromUtf8(request.fileName));
    ApplyPortugueseSaveTexts(dialog);

    while (dialog.exec() == QDialog::Accepted) {
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty()) {
            return std::nullopt;
        }
        const QString path = WithDefaultExtension(chosen.front(), extension);
        if (!QFileInfo::exists(path) || MessageBox(QFileInfo(path).fileName().toStdString() +
                                                       " já existe.\rDeseja substituí-lo?",
                                                   "Confirmar Salvar como", DialogButtons::YesNo,
                                                   DialogIcon::Warning) == DialogResult::Yes) {
            return path.toStdString();
        }
        // Back in the folder of the refused name, which need not be the one the dialog showed:
        // the operator may have typed a whole path.
        dialog.setDirectory(QFileInfo(path).absolutePath());
        dialog.selectFile(QFileInfo(path).fileName());
    }
    return std::nullopt;
}

bool QtDialogs::OpenWithAssociatedApplication(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(FromUtf8(path)));
}

}  // namespace kelvaro
