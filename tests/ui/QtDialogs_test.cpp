#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "CaseNames.h"
#include "TempDir.h"
#include "ui/FreshKeys.h"
#include "ui/QtDialogs.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

// Runs `act` on the modal dialog that opens next (the code under test blocks in exec()).
// Nested dialogs are met by calling it again from inside `act`.
void WhenModalOpens(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act = std::move(act)] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr) << "no modal dialog opened";
        act(modal);
    });
}

QStringList ButtonTexts(QMessageBox* box) {
    QStringList texts;
    for (QAbstractButton* button : box->buttons()) {
        texts << button->text();
    }
    texts.sort();
    return texts;
}

QAbstractButton* ButtonWithText(QWidget* dialog, const QString& text) {
    for (auto* button : dialog->findChildren<QAbstractButton*>()) {
        if (button->text() == text) {
            return button;
        }
    }
    return nullptr;
}

struct MessageCase {
    const char* name;
    DialogButtons buttons;
    DialogIcon icon;
    QStringList expectedTexts;  // sorted
    QMessageBox::Icon expectedIcon;
    QString press;  // empty: close with Escape
    DialogResult expected;
};

class MessageBoxTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(MessageBoxTest, ShowsPortugueseButtonsAndAnswersTheButtonPressed) {
    const MessageCase& c = GetParam();
    QStringList seenTexts;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    QString seenText;
    QString seenTitle;
    WhenModalOpens([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        seenTexts = ButtonTexts(box);
        seenIcon = box->icon();
        seenText = box->text();
        seenTitle = box->windowTitle();
        if (c.press.isEmpty()) {
            box->reject();
        } else {
            QAbstractButton* button = ButtonWithText(box, c.press);
            ASSERT_NE(button, nullptr);
            button->click();
        }
    });

    QtDialogs dialogs;
    const DialogResult result = dialogs.MessageBox("Deseja salvar o teste?\rPlaca 1",
                                                   "Kelvaro - Salvar", c.buttons, c.icon);

    EXPECT_EQ(seenTexts, c.expectedTexts);
    EXPECT_EQ(seenIcon, c.expectedIcon);
    EXPECT_EQ(seenText, QStringLiteral("Deseja salvar o teste?\nPlaca 1"));
    EXPECT_EQ(seenTitle, QStringLiteral("Kelvaro - Salvar"));
    EXPECT_EQ(result, c.expected);
}

// Escape held down to stop a run keeps repeating into the save question that follows; only a
// fresh press after the box appeared may answer it. Times in ms from the box's opening.
struct KeyStep {
    bool press;
    std::uint32_t key;
    bool autoRepeat;
    int atMs;
    bool reachesBox;
};

struct FreshKeyCase {
    const char* name;
    std::vector<std::uint32_t> heldAtOpen;
    std::vector<KeyStep> steps;
};

class FreshKeyPolicyTest : public ::testing::TestWithParam<FreshKeyCase> {};

TEST_P(FreshKeyPolicyTest, OnlyAFreshPressAfterTheGraceTimeReachesTheBox) {
    const FreshKeyCase& c = GetParam();
    constexpr std::int64_t kOpenedAt = 5000;
    FreshKeyPolicy policy(kOpenedAt, c.heldAtOpen, {300, 100});
    std::vector<bool> reached;
    std::vector<bool> expected;
    for (const KeyStep& step : c.steps) {
        const std::int64_t at = kOpenedAt + step.atMs;
        reached.push_back(step.press ? policy.Press(step.key, step.autoRepeat, at)
                                     : policy.Release(step.key, step.autoRepeat, at));
        expected.push_back(step.reachesBox);
    }
    EXPECT_EQ(reached, expected);
}

constexpr std::uint32_t kEsc = 9;  // X11 key codes
constexpr std::uint32_t kReturn = 36;
constexpr bool P = true;   // press
constexpr bool R = false;  // release
constexpr bool kRepeat = true;

INSTANTIATE_TEST_SUITE_P(
    Sequences, FreshKeyPolicyTest,
    ::testing::Values(
        FreshKeyCase{"FlaggedRepeats",
                     {},
                     {{P, kEsc, kRepeat, 400, false},
                      {R, kEsc, kRepeat, 440, false},
                      {P, kEsc, kRepeat, 440, false}}},
        FreshKeyCase{"PressWithinTheGraceTime",
                     {},
                     {{P, kEsc, false, 299, false},
                      {R, kEsc, false, 320, false},
                      {P, kEsc, false, 500, true},
                      {R, kEsc, false, 560, true}}},
        // X11 auto-repeat: release/press pairs with the same time, flagged only now and then.
        FreshKeyCase{"X11ReleasePressPairs",
                     {},
                     {{P, kEsc, false, 40, false},
                      {R, kEsc, false, 700, false},
                      {P, kEsc, false, 700, false},
                      {R, kEsc, kRepeat, 740, false},
                      {P, kEsc, kRepeat, 740, false},
                      {R, kEsc, false, 780, false},
                      {P, kEsc, false, 780, false},
                      {R, kEsc, false, 1400, false},
                      {P, kEsc, false, 2000, true}}},
        // Held before the box appeared; detectable auto-repeat sends presses only.
        FreshKeyCase{"HeldWhenTheBoxOpened",
                     {kEsc},
                     {{P, kEsc, false, 700, false},
                      {P, kEsc, false, 740, false},
                      {R, kEsc, false, 900, false},
                      {P, kEsc, false, 1200, true}}},
        FreshKeyCase{"RepeatOfAnAnsweringPress",
                     {},
                     {{P, kEsc, false, 350, true},
                      {P, kEsc, false, 390, false},
                      {R, kEsc, false, 500, true}}},
        FreshKeyCase{"PressTooSoonAfterARelease",
                     {},
                     {{P, kEsc, false, 400, true},
                      {R, kEsc, false, 450, true},
                      {P, kEsc, false, 520, false},
                      {R, kEsc, false, 530, false},
                      {P, kEsc, false, 700, true}}},
        FreshKeyCase{"AnotherKeyIsNotHeldBack", {kEsc}, {{P, kReturn, false, 400, true}}}),
    [](const auto& param) { return std::string(param.param.name); });

// Key events as the window system delivers them: to the box's window first.
void DeliverEscape(QWidget* box, QEvent::Type type, bool autoRepeat) {
    QKeyEvent event(type, Qt::Key_Escape, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(box->windowHandle(), &event);
}

TEST(MessageBoxKeysTest, HeldEscapeDoesNotAnswerTheBoxAFreshPressDoes) {
    bool openAfterHold = false;
    WhenModalOpens([&](QWidget* modal) {
        DeliverEscape(modal, QEvent::KeyPress, true);
        DeliverEscape(modal, QEvent::KeyPress, false);  // a repeat Qt did not flag
        openAfterHold = modal->isVisible();
        DeliverEscape(modal, QEvent::KeyRelease, false);
        QTimer::singleShot(400, modal, [modal] { DeliverEscape(modal, QEvent::KeyPress, false); });
    });
    QtDialogs dialogs;
    const DialogResult result = dialogs.MessageBox("Deseja salvar o teste?", "Kelvaro - Salvar",
                                                   DialogButtons::YesNo, DialogIcon::Question);
    EXPECT_TRUE(openAfterHold);
    EXPECT_EQ(result, DialogResult::No);
}

TEST(MessageBoxKeysTest, TextsAreShownAsTheyAreNotAsMarkup) {
    Qt::TextFormat format = Qt::AutoText;
    WhenModalOpens([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        format = box->textFormat();
        box->accept();
    });
    QtDialogs dialogs;
    dialogs.MessageBox("'<b>1</b>' não é um valor numérico válido.", "TOVAMU - Kelvaro",
                       DialogButtons::Ok, DialogIcon::Error);
    EXPECT_EQ(format, Qt::PlainText);
}

INSTANTIATE_TEST_SUITE_P(Buttons, MessageBoxTest,
                         ::testing::Values(MessageCase{"OkInformation",
                                                       DialogButtons::Ok,
                                                       DialogIcon::Information,
                                                       {"OK"},
                                                       QMessageBox::Information,
                                                       "OK",
                                                       DialogResult::Ok},
                                           MessageCase{"OkCancelPressCancelar",
                                                       DialogButtons::OkCancel,
                                                       DialogIcon::Question,
                                                       {"Cancelar", "OK"},
                                                       QMessageBox::Question,
                                                       "Cancelar",
                                                       DialogResult::Cancel},
                                           MessageCase{"OkCancelPressOk",
                                                       DialogButtons::OkCancel,
                                                       DialogIcon::Warning,
                                                       {"Cancelar", "OK"},
                                                       QMessageBox::Warning,
                                                       "OK",
                                                       DialogResult::Ok},
                                           MessageCase{"YesNoPressSim",
                                                       DialogButtons::YesNo,
                                                       DialogIcon::Question,
                                                       {"Não", "Sim"},
                                                       QMessageBox::Question,
                                                       "Sim",
                                                       DialogResult::Yes},
                                           MessageCase{"YesNoEscapeIsNo",
                                                       DialogButtons::YesNo,
                                                       DialogIcon::Error,
                                                       {"Não", "Sim"},
                                                       QMessageBox::Critical,
                                                       "",
                                                       DialogResult::No},
                                           MessageCase{"OkCancelEscapeIsCancel",
                                                       DialogButtons::OkCancel,
                                                       DialogIcon::Question,
                                                       {"Cancelar", "OK"},
                                                       QMessageBox::Question,
                                                       "",
                                                       DialogResult::Cancel}));

TEST(InputBoxTest, OkReturnsTheTypedTextAndCancelTheInitialOne) {
    QtDialogs dialogs;
    QStringList buttons;
    WhenModalOpens([&](QWidget* modal) {
        auto* input = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(input, nullptr);
        buttons << input->okButtonText() << input->cancelButtonText();
        EXPECT_EQ(input->labelText(), QStringLiteral("Índice de calibração:"));
        EXPECT_EQ(input->textValue(), QStringLiteral("1,0000"));
        input->setTextValue(QStringLiteral("2,5000"));
        input->accept();
    });
    bool cancelled = true;
    EXPECT_EQ(dialogs.InputBox("Placa 1", "Índice de calibração:", "1,0000", &cancelled), "2,5000");
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(buttons, (QStringList{"OK", "Cancelar"}));

    WhenModalOpens([](QWidget* modal) {
        auto* input = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(input, nullptr);
        input->setTextValue(QStringLiteral("9"));
        input->reject();
    });
    EXPECT_EQ(dialogs.InputBox("Placa 1", "Índice:", "1,0000", &cancelled), "1,0000");
    EXPECT_TRUE(cancelled);
}

// Types a name into the save dialog and presses its accept button.
void SaveAs(QWidget* modal, const QString& name, QStringList* labels = nullptr) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    if (labels != nullptr) {
        *labels << dialog->labelText(QFileDialog::FileName)
                << dialog->labelText(QFileDialog::FileType)
                << dialog->labelText(QFileDialog::Accept) << dialog->labelText(QFileDialog::Reject)
                << dialog->nameFilters().join('|') << dialog->directory().absolutePath();
    }
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->setText(name);
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog hides accept()
}

TEST(SaveFileTest, OpensInTheFolderInPortugueseAndAddsTheDefaultExtension) {
    testing::TempDir dir;
    QtDialogs dialogs;
    QStringList labels;
    QString proposed;
    WhenModalOpens([&](QWidget* modal) {
        proposed = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        SaveAs(modal, QStringLiteral("Kelvaro_7"), &labels);
    });

    const auto chosen = dialogs.SaveFile(
        {"Kelvaro_7", ".csv", "Arquivos do Microsoft Excel (*.csv)|*.csv", dir.Path().string()});

    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, dir.File("Kelvaro_7.csv"));
    EXPECT_EQ(proposed, QStringLiteral("Kelvaro_7"));
    EXPECT_EQ(labels, (QStringList{"Nome do arquivo:", "Tipo:", "Salvar", "Cancelar",
                                   "Arquivos do Microsoft Excel (*.csv)",
                                   QString::fromStdString(dir.Path().string())}));
}

// One press of "Salvar": the text typed first (empty: the field as the dialog left it), then
// the answer to the message box the press opens, if one is expected.
struct SavePress {
    QString typed;
    QString box;
    QString answer;
};
struct SaveCase {
    std::string name;
    std::vector<SavePress> presses;
    QString chosen;  // relative to the temporary folder
};

// Plays the operator at the save dialog as its presses say, whatever window is up: the dialog
// (type, press "Salvar"; cancel once the presses run out) or a message box (note its text,
// answer it).
class SaveDialogOperator : public QObject {
  public:
    explicit SaveDialogOperator(std::vector<SavePress> presses) : presses_(std::move(presses)) {
        connect(&timer_, &QTimer::timeout, this, [this] { Act(); });
        timer_.start(5);
    }
    const std::vector<std::string>& Boxes() const { return boxes_; }

  private:
    void Act() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes_.push_back(box->text().toStdString());
            QAbstractButton* button =
                next_ > 0 ? ButtonWithText(box, presses_[next_ - 1].answer) : nullptr;
            if (button != nullptr) {
                button->click();
            } else {
                box->reject();
            }
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            if (next_ == presses_.size()) {
                dialog->reject();
                return;
            }
            // Pressed from an event of its own: a box the press opens blocks in it, and a timer
            // does not fire again while its own handler runs.
            QMetaObject::invokeMethod(
                dialog,
                [dialog, typed = presses_[next_++].typed] {
                    if (typed.isEmpty()) {
                        static_cast<QDialog*>(dialog)->accept();
                    } else {
                        SaveAs(dialog, typed);
                    }
                },
                Qt::QueuedConnection);
        }
    }

    std::vector<SavePress> presses_;
    std::size_t next_ = 0;
    std::vector<std::string> boxes_;
    QTimer timer_;
};

class SaveDialogAnswers : public ::testing::TestWithParam<SaveCase> {};

// The dialog starts in "Exportados"; the operator types a path into "names", where Kelvaro_3.csv
// exists. Whatever the answers, the file goes where the operator chose, under the name typed.
TEST_P(SaveDialogAnswers, ChooseTheFolderAndTheNameTheOperatorTyped) {
    testing::TempDir dir;
    const QString root = QString::fromStdString(dir.Path().string());
    ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("Exportados")));
    ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("names")));
    testing::WriteFileBytes(dir.File("names/Kelvaro_3.csv"), "old");
    std::vector<SavePress> presses = GetParam().presses;
    std::vector<std::string> expectedBoxes;
    for (SavePress& press : presses) {
        press.typed.replace(QStringLiteral("{root}"), root);
        if (!press.box.isEmpty()) {
            expectedBoxes.push_back(
                press.box.replace(QStringLiteral("{root}"), root).toStdString());
        }
    }
    SaveDialogOperator operatorAtTheDialog(presses);

    QtDialogs dialogs;
    const auto chosen = dialogs.SaveFile(
        {"Kelvaro_3", ".csv", "Arquivos do Microsoft Excel (*.csv)|*.csv", dir.File("Exportados")});

    EXPECT_EQ(operatorAtTheDialog.Boxes(), expectedBoxes);
    EXPECT_EQ(chosen.value_or("(nothing)"), GetParam().chosen.isEmpty()
                                                ? std::string("(nothing)")
                                                : dir.File(GetParam().chosen.toStdString()));
}

const QString kReplace = QStringLiteral("Kelvaro_3.csv já existe.\nDeseja substituí-lo?");

INSTANTIATE_TEST_SUITE_P(
    Presses, SaveDialogAnswers,
    ::testing::Values(
        SaveCase{"ReplacingNeedsAPortugueseYes",
                 {{"{root}/names/Kelvaro_3", kReplace, "Sim"}},
                 "names/Kelvaro_3.csv"},
        SaveCase{"NoThenANewNameStaysInTheFolderTyped",
                 {{"{root}/names/Kelvaro_3", kReplace, "Não"}, {"Kelvaro_4", "", ""}},
                 "names/Kelvaro_4.csv"},
        SaveCase{"NoThenSaveAgainAsksAgainForTheSameFile",
                 {{"{root}/names/Kelvaro_3", kReplace, "Não"}, {"", kReplace, "Sim"}},
                 "names/Kelvaro_3.csv"},
        SaveCase{"DoubleQuoteIsRefusedAndTheDialogStaysOpen",
                 {{"{root}/names/a;b\"c.csv",
                   "O nome do arquivo não pode conter aspas (\"):\n{root}/names/a;b\"c.csv", "OK"},
                  {"{root}/names/a;b.csv", "", ""}},
                 "names/a;b.csv"},
        SaveCase{"DoubleQuoteThenCancelChoosesNothing",
                 {{"\"a\" \"c.csv\"",
                   "O nome do arquivo não pode conter aspas (\"):\n\"a\" \"c.csv\"", "OK"}},
                 ""}),
    [](const ::testing::TestParamInfo<SaveCase>& param) { return param.param.name; });

TEST(SaveFileTest, CancelChoosesNothing) {
    QtDialogs dialogs;
    WhenModalOpens([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_FALSE(dialogs.SaveFile({"Kelvaro_1", ".csv", "", ""}).has_value());
}

TEST(FileFilterTest, PairsBecomeQtNameFilters) {
    EXPECT_EQ(ConvertFileFilter("Arquivos do Microsoft Excel (*.csv)|*.csv"),
              QStringList{"Arquivos do Microsoft Excel (*.csv)"});
    EXPECT_EQ(ConvertFileFilter("Texto|*.txt;*.csv|Todos (*.*)|*.*"),
              (QStringList{"Texto (*.txt *.csv)", "Todos (*.*)"}));
    EXPECT_EQ(ConvertFileFilter("|*.csv"), QStringList{"*.csv (*.csv)"});
    EXPECT_TRUE(ConvertFileFilter("").isEmpty());
    EXPECT_TRUE(ConvertFileFilter("Sem padrão").isEmpty());
}

TEST(FileFilterTest, DefaultExtensionOnlyWhenTheNameHasNone) {
    const struct {
        const char* path;
        const char* extension;
        const char* expected;
    } cases[] = {
        {"/tmp/Kelvaro_7", ".csv", "/tmp/Kelvaro_7.csv"},
        {"/tmp/Kelvaro_7", "csv", "/tmp/Kelvaro_7.csv"},
        {"/tmp/Kelvaro_7.txt", ".csv", "/tmp/Kelvaro_7.txt"},
        {"/tmp/Kelvaro_7.", ".csv", "/tmp/Kelvaro_7.csv"},
        {"/tmp/dados.v2/teste", ".csv", "/tmp/dados.v2/teste.csv"},
        {"/tmp/Kelvaro_7", "", "/tmp/Kelvaro_7"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithDefaultExtension(QString::fromUtf8(c.path), QString::fromUtf8(c.extension)),
                  QString::fromUtf8(c.expected))
            << c.path << " + " << c.extension;
    }
}

TEST(MessageTextTest, CarriageReturnsBreakLinesOnce) {
    EXPECT_EQ(MessageText("a\rb\r\nc\nd"), QStringLiteral("a\nb\nc\nd"));
}

}  // namespace
}  // namespace kelvaro
