// The run's information row; see RunInfoForm.h.
#include "testinfo/RunInfoForm.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

#include "ui/StationStyle.h"

namespace kelvaro {

namespace {

constexpr int kLabelPixels = 13;
constexpr int kFieldPixels = 13;

// The UTF-16 units of the character at `i`: two for a surrogate pair.
qsizetype CharUnits(const QString& text, qsizetype i) {
    return text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
}

// The UTF-16 index just after `chars` characters of `text` (its size when it has fewer).
qsizetype IndexAfterChars(const QString& text, qsizetype chars) {
    qsizetype i = 0;
    for (qsizetype seen = 0; i < text.size() && seen < chars; ++seen) {
        i += CharUnits(text, i);
    }
    return i;
}

// Holds an edit's text to `maxChars` characters. What the operator types or pastes past the
// limit is cut from what came in (a paste keeps its beginning), never from what was there; a
// text set by the program is cut at its end.
class CharLimit : public QObject {
  public:
    CharLimit(QLineEdit* edit, int maxChars) : QObject(edit), edit_(edit), maxChars_(maxChars) {
        connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { Hold(text); });
    }

  private:
    void Hold(const QString& text) {
        if (CodePointCount(text) <= maxChars_) {
            kept_ = text;
            return;
        }
        // What changed lies between the part both texts begin with and the part both end with.
        qsizetype head = 0;
        const qsizetype shorter = std::min(text.size(), kept_.size());
        while (head < shorter && text[head] == kept_[head]) {
            ++head;
        }
        if (head > 0 && text[head - 1].isHighSurrogate()) {
            --head;
        }
        qsizetype tail = 0;
        while (tail < shorter - head &&
               text[text.size() - 1 - tail] == kept_[kept_.size() - 1 - tail]) {
            ++tail;
        }
        if (tail > 0 && text[text.size() - tail].isLowSurrogate()) {
            --tail;
        }
        const QString before = text.left(head);
        const QString after = text.right(tail);
        const int room = maxChars_ - CodePointCount(before) - CodePointCount(after);
        QString cut;
        qsizetype cursor = 0;
        if (room >= 0) {
            const QString inserted = CutToChars(text.mid(head, text.size() - head - tail), room);
            cut = before + inserted + after;
            cursor = before.size() + inserted.size();
        } else {
            cut = CutToChars(text, maxChars_);
            cursor = cut.size();
        }
        kept_ = cut;
        edit_->setText(cut);  // within the limit: comes back here and is kept as it is
        edit_->setCursorPosition(static_cast<int>(cursor));
    }

    QLineEdit* edit_;
    int maxChars_;
    QString kept_;
};

QLabel* FormLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(VerdanaFont(kLabelPixels, true));
    SetTextColour(label, NavyColour());
    return label;
}

QComboBox* ChoiceBox(int maxChars, QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);  // the lists come from the runs kept
    box->setFont(VerdanaFont(kFieldPixels, false));
    box->setMaxVisibleItems(15);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(8);
    new CharLimit(box->lineEdit(), maxChars);
    return box;
}

void ReplaceItems(QComboBox* box, const QStringList& items) {
    const QString typed = box->currentText();
    box->clear();
    box->addItems(items);
    box->setCurrentIndex(-1);
    box->setEditText(typed);
}

}  // namespace

int CodePointCount(const QString& text) {
    int count = 0;
    for (qsizetype i = 0; i < text.size(); ++count) {
        i += CharUnits(text, i);
    }
    return count;
}

QString CutToChars(const QString& text, int maxChars) {
    return text.left(IndexAfterChars(text, std::max(maxChars, 0)));
}

RunInfoForm::RunInfoForm(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);

    evaluatedLabel = FormLabel(QStringLiteral("Avaliado:"), this);
    evaluatedBox = ChoiceBox(static_cast<int>(kEvaluatedMaxChars), this);
    evaluatedBox->setToolTip(QStringLiteral("Quem ou o que é medido (até 100 caracteres)"));
    protocolLabel = FormLabel(QStringLiteral("Protocolo:"), this);
    protocolBox = ChoiceBox(static_cast<int>(kProtocolMaxChars), this);
    protocolBox->setToolTip(QStringLiteral("O tipo de teste (até 60 caracteres)"));
    notesLabel = FormLabel(QStringLiteral("Observações:"), this);
    notesEdit = new QLineEdit(this);
    notesEdit->setFont(VerdanaFont(kFieldPixels, false));
    notesEdit->setToolTip(QStringLiteral("Observações sobre o teste (até 2000 caracteres)"));
    new CharLimit(notesEdit, static_cast<int>(kNotesMaxChars));

    evaluatedLabel->setBuddy(evaluatedBox);
    protocolLabel->setBuddy(protocolBox);
    notesLabel->setBuddy(notesEdit);
    row->addWidget(evaluatedLabel);
    row->addWidget(evaluatedBox, 3);
    row->addSpacing(6);
    row->addWidget(protocolLabel);
    row->addWidget(protocolBox, 3);
    row->addSpacing(6);
    row->addWidget(notesLabel);
    row->addWidget(notesEdit, 4);
    setFixedHeight(std::max({evaluatedBox->sizeHint().height(), notesEdit->sizeHint().height(),
                             evaluatedLabel->sizeHint().height()}));
}

RunMetadata RunInfoForm::Metadata() const {
    return {evaluatedBox->currentText().trimmed().toStdString(),
            protocolBox->currentText().trimmed().toStdString(),
            notesEdit->text().trimmed().toStdString()};
}

void RunInfoForm::SetRecentEvaluated(const QStringList& names) {
    ReplaceItems(evaluatedBox, names);
}

void RunInfoForm::SetProtocols(const QStringList& protocols) {
    ReplaceItems(protocolBox, protocols);
}

void RunInfoForm::ClearAfterSave() {
    evaluatedBox->setCurrentIndex(-1);
    evaluatedBox->setEditText(QString());
    notesEdit->clear();
}

}  // namespace kelvaro
