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

struct LimitCase {
    const char* name;
    int field;  // 0 Avaliado, 1 Protocolo, 2 Observações
    QString before;
    int cursor;  // where the paste goes
    QString pasted;
    QString kept;
};

class RunInfoLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(RunInfoLimits, KeepWhatFitsOfAPasteAndAllThatWasThere) {
    const LimitCase& c = GetParam();
    RunInfoForm form;
    QLineEdit* edit = c.field == 2   ? form.notesEdit
                      : c.field == 1 ? form.protocolBox->lineEdit()
                                     : form.evaluatedBox->lineEdit();
    edit->setText(c.before);
    edit->setCursorPosition(c.cursor);
    edit->insert(c.pasted);  // as a paste or a key typed puts it
    EXPECT_EQ(edit->text(), c.kept);
    EXPECT_EQ(edit->cursorPosition(), c.kept.size() - (c.before.size() - c.cursor));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunInfoLimits,
    ::testing::Values(
        LimitCase{"PasteOf150KeepsTheFirst100", 0, "", 0, QString(150, 'a'), QString(100, 'a')},
        LimitCase{"AccentsCountAsOne", 0, "", 0, QStringLiteral("ã").repeated(150),
                  QStringLiteral("ã").repeated(100)},
        LimitCase{"TypingAtTheLimitAddsNothing", 1, QString(60, 'p'), 30, "x", QString(60, 'p')},
        LimitCase{"PasteInTheMiddleKeepsTheEnd", 1, "Salto", 1, QString(100, 'x'),
                  "S" + QString(55, 'x') + "alto"},
        // Cut before a character that no longer fits, never between its two halves.
        LimitCase{"NeverHalfACharacter", 0, QString(99, 'b'), 99, kSmile + kSmile,
                  QString(99, 'b') + kSmile},
        LimitCase{"NotesKeep2000", 2, "ok", 2, QString(2500, 'c'), "ok" + QString(1998, 'c')}),
    [](const auto& param) { return std::string(param.param.name); });

// New lists (after a run) leave a name being typed alone; the texts go without blanks around.
TEST(RunInfoForm, NewListsKeepWhatIsTyped) {
    RunInfoForm form;
    form.evaluatedBox->setEditText(QStringLiteral("  João Conceição "));
    form.SetRecentEvaluated({QStringLiteral("Maria"), QStringLiteral("Ana")});
    EXPECT_EQ(form.evaluatedBox->count(), 2);
    EXPECT_EQ(form.Metadata().evaluated, "João Conceição");
}

}  // namespace
}  // namespace kelvaro
