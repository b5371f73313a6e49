// The lab server's dialog over the real server of the fixture: "Testar" connects off the window's
// thread and answers in the operator's words, the fields give back the settings they were made
// from, a CA path Qt's driver would cut is refused, and the password file libpq would skip is
// pointed out.
#include "lab/LabServerDialog.h"

#include <gmock/gmock.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "CaseNames.h"
#include "TempDir.h"
#include "lab/LabConnection.h"

namespace kelvaro {
namespace {

using ::testing::HasSubstr;

bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 60'000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

std::string Text(const QLabel* label) {
    return label->text().toStdString();
}

struct TestCase {
    const char* name;
    const char* user;
    const char* database;
    LabTls tls;
    const char* caPath;
    LabOutcome outcome;
};
using testing::PrintTo;

class LabServerDialogTest : public ::testing::TestWithParam<TestCase> {};

// Over the fixture's socket, where libpq uses no TLS: a verify-full CA path reaches libpq
// whole, or the connection string would not even parse.
TEST_P(LabServerDialogTest, TestarAnswersInTheOperatorsWordsWithTheButtonOffMeanwhile) {
    const TestCase& c = GetParam();
    ASSERT_EQ(setenv("PGPASSWORD", ("senha-" + std::string(c.user)).c_str(), 1), 0);
    const LabServerSettings settings{qEnvironmentVariable("KELVARO_PG_HOST").toStdString(),
                                     qEnvironmentVariableIntValue("KELVARO_PG_PORT"),
                                     c.database,
                                     c.user,
                                     c.tls,
                                     c.caPath};
    LabServerDialog dialog(settings);
    bool done = false;
    QObject::connect(&dialog, &LabServerDialog::TestDone, [&] { done = true; });
    dialog.testButton->click();
    EXPECT_FALSE(dialog.testButton->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return done; }));
    EXPECT_TRUE(dialog.testButton->isEnabled());
    EXPECT_EQ(dialog.resultLabel->text(), LabOutcomeWords(c.outcome));
}

INSTANTIATE_TEST_SUITE_P(
    Logins, LabServerDialogTest,
    ::testing::Values(
        TestCase{"StationLogin", "estacao_a", "kelvaro", LabTls::Require, "", LabOutcome::Ok},
        TestCase{"WrongDatabase", "estacao_a", "nao_existe", LabTls::Require, "",
                 LabOutcome::OlderOrMissingSchema},
        TestCase{"DeskLogin", "mesa_1", "kelvaro", LabTls::Disable, "", LabOutcome::NoPrivilege},
        TestCase{"CaPathWithSpaces", "estacao_b", "kelvaro", LabTls::VerifyFull,
                 "/tmp/CA do laboratório/raiz 'lab'.crt", LabOutcome::Ok}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(LabServerDialog, GivesBackTheSettingsAsEditedAndRefusesACaPathWithASemicolon) {
    const LabServerSettings settings{"servidor.lab",     6543,
                                     "kelvaro_lab",      "estacao_sala1",
                                     LabTls::VerifyFull, " /etc/ssl/CA do lab.crt"};
    LabServerDialog dialog(settings);
    EXPECT_EQ(dialog.Settings(), settings);
    EXPECT_TRUE(dialog.tlsWarning->isHidden());

    dialog.chooseCaFile = [] { return std::optional<std::string>("/etc/ssl/a;b.crt"); };
    dialog.caButton->click();
    dialog.saveButton->click();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_THAT(Text(dialog.resultLabel), HasSubstr("ponto e vírgula"));

    dialog.tlsCombo->setCurrentIndex(2);
    EXPECT_FALSE(dialog.tlsWarning->isHidden());
    EXPECT_FALSE(dialog.caButton->isEnabled());
    dialog.saveButton->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    LabServerSettings edited = settings;
    edited.tls = LabTls::Disable;
    edited.caPath = "/etc/ssl/a;b.crt";
    EXPECT_EQ(dialog.Settings(), edited);
}

struct PasswordFileCase {
    const char* name;
    int mode;  // none: no file
    const char* said;
};

class LabServerDialogPasswordFile : public ::testing::TestWithParam<PasswordFileCase> {};

TEST_P(LabServerDialogPasswordFile, SaysWhenLibpqWouldNotReadIt) {
    const PasswordFileCase& c = GetParam();
    testing::TempDir home;
    const std::string path = home.File(".pgpass");
    if (c.mode >= 0) {
        testing::WriteFileBytes(path, "servidor.lab:5432:kelvaro:estacao_a:segredo\n");
        ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(c.mode)), 0);
    }
    ASSERT_EQ(setenv("HOME", home.Path().c_str(), 1), 0);
    ASSERT_EQ(unsetenv("PGPASSFILE"), 0);
    LabServerDialog dialog(LabServerSettings{});
    bool checked = false;
    QObject::connect(&dialog, &LabServerDialog::PasswordFileChecked, [&] { checked = true; });
    ASSERT_TRUE(WaitFor([&] { return checked; }));
    EXPECT_THAT(Text(dialog.passwordLabel), HasSubstr(path));
    EXPECT_THAT(Text(dialog.passwordLabel), HasSubstr(c.said));
}

INSTANTIATE_TEST_SUITE_P(Modes, LabServerDialogPasswordFile,
                         ::testing::Values(PasswordFileCase{"OwnerOnly", 0600, "só você pode ler"},
                                           PasswordFileCase{"ReadableByOthers", 0644,
                                                            "(permissões 0644): a libpq o ignora"},
                                           PasswordFileCase{"GroupOnly", 0640, "(permissões 0640)"},
                                           PasswordFileCase{"Missing", -1, "não existe"}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kelvaro
