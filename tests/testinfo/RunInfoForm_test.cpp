// What the operator types or pastes into the test's information row is held to each field's
// limit in characters, an accent or a 4-byte character counting as one, and what was there is
// never pushed out.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>

#include "CaseNames.h"
#include "testinfo/RunInfoForm.h"

namespace kelvaro {
namespace {

const QString kSmile = QString::fromUtf8("\xF0\x9F\x98\x80");  // one character, two UTF-16 units

QString Repeated(const QString& text, int times) {
    return text.repeated(times);
}

enum class Field { Evaluated, Protocol, Notes };

struct LimitCase {
    const char* name;
    Field field;
    QString before;
    int cursor;  // where the paste goes
    QString pasted;
    QString kept;
};

QLineEdit* EditOf(RunInfoForm& form, Field field) {
    switch (field) {
        case Field::Evaluated:
            return form.evaluatedBox->lineEdit();
        case Field::Protocol:
            return form.protocolBox->lineEdit();
        case Field::Notes:
            break;
    }
    return form.notesEdit;
}

class RunInfoLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(RunInfoLimits, KeepWhatFitsOfAPasteAndAllThatWasThere) {
    const LimitCase& c = GetParam();
    RunInfoForm form;
    QLineEdit* edit = EditOf(form, c.field);
    edit->setText(c.before);
    edit->setCursorPosition(c.cursor);
    edit->insert(c.pasted);  // as a paste or a key typed puts it
    EXPECT_EQ(edit->text(), c.kept);
    EXPECT_EQ(edit->cursorPosition(), c.kept.size() - (c.before.size() - c.cursor));
    const RunMetadata m = form.Metadata();
    const std::string kept = c.kept.toStdString();
    EXPECT_EQ(c.field == Field::Evaluated  ? m.evaluated
              : c.field == Field::Protocol ? m.protocol
                                           : m.notes,
              kept);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunInfoLimits,
    ::testing::Values(
        LimitCase{"PasteOf150KeepsTheFirst100", Field::Evaluated, "", 0,
                  Repeated(QStringLiteral("a"), 150), Repeated(QStringLiteral("a"), 100)},
        LimitCase{"AccentsCountAsOne", Field::Evaluated, "", 0, Repeated(QStringLiteral("ã"), 150),
                  Repeated(QStringLiteral("ã"), 100)},
        LimitCase{"FourByteCharactersCountAsOne", Field::Protocol, "", 0, Repeated(kSmile, 70),
                  Repeated(kSmile, 60)},
        LimitCase{"TypingAtTheLimitAddsNothing", Field::Protocol, Repeated(QStringLiteral("p"), 60),
                  30, QStringLiteral("x"), Repeated(QStringLiteral("p"), 60)},
        LimitCase{"PasteInTheMiddleKeepsTheEnd", Field::Protocol, QStringLiteral("Salto"), 1,
                  Repeated(QStringLiteral("x"), 100),
                  QStringLiteral("S") + Repeated(QStringLiteral("x"), 55) + QStringLiteral("alto")},
        // Cut before a character that no longer fits, never between its two halves.
        LimitCase{"NeverHalfACharacter", Field::Evaluated, Repeated(QStringLiteral("b"), 99), 99,
                  kSmile + kSmile, Repeated(QStringLiteral("b"), 99) + kSmile},
        LimitCase{"NotesKeep2000", Field::Notes, QStringLiteral("ok"), 2,
                  Repeated(QStringLiteral("ç"), 2500),
                  QStringLiteral("ok") + Repeated(QStringLiteral("ç"), 1998)}),
    [](const auto& param) { return std::string(param.param.name); });

// A save empties who was measured and the notes, keeps the protocol; new lists leave what is
// typed alone.
TEST(RunInfoForm, ASaveClearsTheNameAndNotesAndTheListsKeepWhatIsTyped) {
    RunInfoForm form;
    form.evaluatedBox->setEditText(QStringLiteral("  João Conceição "));
    form.protocolBox->setEditText(QStringLiteral("Salto"));
    form.notesEdit->setText(QStringLiteral("dor no joelho"));
    form.SetRecentEvaluated({QStringLiteral("Maria"), QStringLiteral("Ana")});
    form.SetProtocols({QStringLiteral("Corrida")});
    EXPECT_EQ(form.Metadata(), (RunMetadata{"João Conceição", "Salto", "dor no joelho"}));
    EXPECT_EQ(form.evaluatedBox->count(), 2);
    EXPECT_EQ(form.evaluatedBox->itemText(1), QStringLiteral("Ana"));

    form.ClearAfterSave();
    EXPECT_EQ(form.Metadata(), (RunMetadata{"", "Salto", ""}));
    form.evaluatedBox->setCurrentIndex(0);  // a recent name, one click away
    EXPECT_EQ(form.Metadata().evaluated, "Maria");
}

}  // namespace
}  // namespace kelvaro
