#include "ui/PortugueseDialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <memory>

namespace kelvaro {

bool InstallPortugueseTranslation(QCoreApplication& application) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_pt_BR"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    // The application owns it from here and keeps using it until it ends.
    translator->setParent(&application);
    QCoreApplication::installTranslator(translator.release());
    return true;
}

void ApplyPortugueseTexts(QMessageBox& box) {
    const struct {
        QMessageBox::StandardButton button;
        const char* text;
    } texts[] = {{QMessageBox::Ok, "OK"},
                 {QMessageBox::Cancel, "Cancelar"},
                 {QMessageBox::Yes, "Sim"},
                 {QMessageBox::No, "Não"}};
    for (const auto& entry : texts) {
        if (QAbstractButton* button = box.button(entry.button)) {
            button->setText(QString::fromUtf8(entry.text));
        }
    }
}

void ApplyPortugueseTexts(QInputDialog& dialog) {
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("Cancelar"));
}

namespace {

void ApplyFileDialogTexts(QFileDialog& dialog, const QString& lookIn, const QString& accept) {
    dialog.setLabelText(QFileDialog::LookIn, lookIn);
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Nome do arquivo:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Tipo:"));
    dialog.setLabelText(QFileDialog::Accept, accept);
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
}

}  // namespace

void ApplyPortugueseSaveTexts(QFileDialog& dialog) {
    ApplyFileDialogTexts(dialog, QStringLiteral("Salvar em:"), QStringLiteral("Salvar"));
}

void ApplyPortugueseOpenTexts(QFileDialog& dialog) {
    ApplyFileDialogTexts(dialog, QStringLiteral("Examinar:"), QStringLiteral("Abrir"));
}

}  // namespace kelvaro
