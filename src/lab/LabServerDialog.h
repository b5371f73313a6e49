// "Servidor do laboratório": where the lab's server is, the login and TLS mode the station uses,
// whether libpq will find the password, and "Testar", which connects off the window's thread and
// says in the operator's words how it went. The caller keeps what Settings() gives on "Salvar".
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "lab/LabServerSettings.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace kelvaro {

struct PasswordFileCheck;

// The operator's words for the password file's state.
QString PasswordFileWords(const PasswordFileCheck& check);

class LabServerDialog : public QDialog {
    Q_OBJECT
  public:
    // Checks the password file at once, off the window's thread.
    explicit LabServerDialog(const LabServerSettings& settings, QWidget* parent = nullptr);
    // Waits for a test under way: at most the connect time-out, as libpq keeps it.
    ~LabServerDialog() override;

    // The settings as the fields have them now.
    LabServerSettings Settings() const;

    // The CA file "Procurar..." gives; none when the operator gives up. A file dialog on screen
    // unless replaced.
    std::function<std::optional<std::string>()> chooseCaFile;

    QLineEdit* hostEdit = nullptr;
    QSpinBox* portEdit = nullptr;
    QLineEdit* databaseEdit = nullptr;
    QLineEdit* userEdit = nullptr;
    QComboBox* tlsCombo = nullptr;  // in LabTls's order
    QLineEdit* caEdit = nullptr;
    QPushButton* caButton = nullptr;
    QLabel* tlsWarning = nullptr;  // shown with TLS off
    QLabel* passwordLabel = nullptr;
    QPushButton* testButton = nullptr;
    QLabel* resultLabel = nullptr;
    QPushButton* saveButton = nullptr;
    QPushButton* cancelButton = nullptr;

  signals:
    // The password file was looked at (on opening and by each test); its state is in
    // passwordLabel.
    void PasswordFileChecked();
    // "Testar" has ended and its words are in resultLabel.
    void TestDone();

  private:
    void OnTlsChanged();
    void OnTest();
    void OnSave();
    // Why the fields cannot be used as they are, in the operator's words; empty when they can.
    QString Refusal() const;
    // Runs `job` on a thread of the dialog's and what it returns back on the window's thread,
    // if the dialog is still there. One at a time: the last one is waited for first.
    void Background(std::function<std::function<void()>()> job);
    void ShowResult(const QString& text, bool ok);
    void ShowPasswordFile(const PasswordFileCheck& check);

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::jthread worker_;  // last: joined first when the dialog goes
};

}  // namespace kelvaro
