// The row of the main window where the operator says what a test is about: "Avaliado" (with the
// names of recent runs to pick from), "Protocolo" (with the ones used before) and "Observações".
// All optional; each text is held to its limit in characters (code points) as it is typed or
// pasted, so what the run keeps is what the operator sees.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include "journal/RunMetadata.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace kelvaro {

class RunInfoForm : public QWidget {
    Q_OBJECT
  public:
    explicit RunInfoForm(QWidget* parent = nullptr);

    // The texts as filled in, without the blanks around them.
    RunMetadata Metadata() const;
    // The drop-down lists, newest first; what is typed in stays.
    void SetRecentEvaluated(const QStringList& names);
    void SetProtocols(const QStringList& protocols);
    // After a run is saved: "Avaliado" and "Observações" are emptied, so the next test is not
    // filed under the last person by accident; "Protocolo" stays for the next of its kind.
    void ClearAfterSave();

    QLabel* evaluatedLabel = nullptr;
    QComboBox* evaluatedBox = nullptr;
    QLabel* protocolLabel = nullptr;
    QComboBox* protocolBox = nullptr;
    QLabel* notesLabel = nullptr;
    QLineEdit* notesEdit = nullptr;
};

// The characters (code points) of `text`: a surrogate pair counts once.
int CodePointCount(const QString& text);
// `text` cut to at most `maxChars` characters, never inside a surrogate pair.
QString CutToChars(const QString& text, int maxChars);

}  // namespace kelvaro
