// Portuguese texts for the toolkit's standard dialogs, whatever the system language: the
// buttons and labels are set explicitly, and Qt's own Brazilian Portuguese translation is
// loaded for the texts the dialogs build themselves (tool tips, context menus, errors).
#pragma once

class QCoreApplication;
class QFileDialog;
class QInputDialog;
class QMessageBox;

namespace kelvaro {

// Loads qtbase_pt_BR from Qt's translations folder when it is installed; false if not.
bool InstallPortugueseTranslation(QCoreApplication& application);

// "OK", "Cancelar", "Sim", "Não" on the standard buttons the box has.
void ApplyPortugueseTexts(QMessageBox& box);
// "OK" and "Cancelar".
void ApplyPortugueseTexts(QInputDialog& dialog);
// Labels of a non-native save dialog: "Salvar", "Cancelar", "Nome do arquivo:", "Tipo:",
// "Salvar em:".
void ApplyPortugueseSaveTexts(QFileDialog& dialog);
// Labels of a non-native open dialog: "Abrir", "Cancelar", "Nome do arquivo:", "Tipo:",
// "Examinar:".
void ApplyPortugueseOpenTexts(QFileDialog& dialog);

}  // namespace kelvaro
