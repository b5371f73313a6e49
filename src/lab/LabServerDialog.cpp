#include "lab/LabServerDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <chrono>
#include <cstring>
#include <utility>

#include "lab/LabConnection.h"
#include "lab/LabPasswordFile.h"
#include "ui/GuiAnswer.h"
#include "ui/PortugueseDialogs.h"
#include "ui/StationStyle.h"

namespace kelvaro {
namespace {

constexpr const char* kTitle = "Kelvaro - Servidor do laboratório";
// "Testar" waits this long for the server to answer the connection.
constexpr std::chrono::seconds kTestConnectTimeout{5};
constexpr const char* kWarningColour = "#b00000";

const char* const kTlsChoices[] = {
    "Exigir (padrão)",
    "Verificar o servidor (verify-full, recomendado)",
    "Desligado",
};

int TlsIndex(LabTls tls) {
    switch (tls) {
        case LabTls::VerifyFull:
            return 1;
        case LabTls::Disable:
            return 2;
        case LabTls::Require:
            break;
    }
    return 0;
}

LabTls TlsOfIndex(int index) {
    return index == 1 ? LabTls::VerifyFull : index == 2 ? LabTls::Disable : LabTls::Require;
}

QString Octal(unsigned mode) {
    return QStringLiteral("%1").arg(mode, 4, 8, QLatin1Char('0'));
}

}  // namespace

QString PasswordFileWords(const PasswordFileCheck& check) {
    const QString path = QString::fromStdString(check.path);
    switch (check.state) {
        case PasswordFileState::Private:
            return QStringLiteral("A senha é lida de %1, que só você pode ler.").arg(path);
        case PasswordFileState::Missing:
            return QStringLiteral(
                       "O arquivo de senhas %1 não existe: sem ele o servidor não recebe a senha. "
                       "Crie-o com a linha endereço:porta:banco:usuário:senha e depois "
                       "chmod 600 %1.")
                .arg(path);
        case PasswordFileState::OpenToOthers:
            return QStringLiteral(
                       "O arquivo de senhas %1 pode ser lido por outros usuários (permissões %2): "
                       "a libpq o ignora e o servidor não recebe a senha. Corrija com "
                       "chmod 600 %1.")
                .arg(path, Octal(check.mode));
        case PasswordFileState::NotAFile:
            return QStringLiteral("%1 não é um arquivo: a libpq não lê a senha dele.").arg(path);
        case PasswordFileState::Unreadable:
            break;
    }
    return QStringLiteral("O arquivo de senhas %1 não pôde ser examinado: %2.")
        .arg(path, QString::fromLocal8Bit(std::strerror(check.error)));
}

LabServerDialog::LabServerDialog(const LabServerSettings& settings, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("ServidorDoLaboratorio"));
    setWindowTitle(QString::fromUtf8(kTitle));
    setFont(DefaultWindowFont());
    setMinimumWidth(600);  // the notes below the fields in a few lines, not a column

    chooseCaFile = [this]() -> std::optional<std::string> {
        QFileDialog dialog(this, QStringLiteral("Autoridade certificadora do laboratório"));
        dialog.setOptions(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters({QStringLiteral("Certificados (*.crt *.pem *.cer)"),
                               QStringLiteral("Todos os arquivos (*)")});
        ApplyPortugueseOpenTexts(dialog);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return dialog.selectedFiles().front().toStdString();
    };

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    hostEdit = new QLineEdit(QString::fromStdString(settings.host), this);
    hostEdit->setPlaceholderText(QStringLiteral("servidor.laboratorio.local"));
    portEdit = new QSpinBox(this);
    portEdit->setRange(1, 65535);
    portEdit->setValue(settings.port);
    databaseEdit = new QLineEdit(QString::fromStdString(settings.database), this);
    userEdit = new QLineEdit(QString::fromStdString(settings.user), this);
    userEdit->setPlaceholderText(QStringLiteral("o login desta estação"));
    tlsCombo = new QComboBox(this);
    for (const char* choice : kTlsChoices) {
        tlsCombo->addItem(QString::fromUtf8(choice));
    }
    tlsCombo->setCurrentIndex(TlsIndex(settings.tls));
    caEdit = new QLineEdit(QString::fromStdString(settings.caPath), this);
    caEdit->setMinimumWidth(320);
    caButton = new QPushButton(QStringLiteral("Procurar..."), this);
    auto* caRow = new QHBoxLayout;
    caRow->addWidget(caEdit, 1);
    caRow->addWidget(caButton);
    tlsWarning = new QLabel(
        QStringLiteral("Atenção: sem TLS os dados dos testes e a senha trafegam sem cifra pela "
                       "rede. Use só numa rede isolada do laboratório."),
        this);
    tlsWarning->setWordWrap(true);
    tlsWarning->setStyleSheet(QStringLiteral("color: %1; font-weight: bold;").arg(kWarningColour));
    form->addRow(QStringLiteral("Endereço"), hostEdit);
    form->addRow(QStringLiteral("Porta"), portEdit);
    form->addRow(QStringLiteral("Banco de dados"), databaseEdit);
    form->addRow(QStringLiteral("Usuário"), userEdit);
    form->addRow(QStringLiteral("TLS"), tlsCombo);
    form->addRow(QStringLiteral("Arquivo da CA"), caRow);
    form->addRow(tlsWarning);
    layout->addLayout(form);

    auto* note = new QLabel(
        QStringLiteral("A senha nunca é guardada pela estação: a libpq a lê do arquivo ~/.pgpass "
                       "(uma linha endereço:porta:banco:usuário:senha) ou da variável PGPASSFILE, "
                       "e ignora o arquivo quando outros usuários podem lê-lo. A TI do "
                       "laboratório tem as instruções (docs/ADMIN.md)."),
        this);
    note->setWordWrap(true);
    layout->addWidget(note);
    passwordLabel = new QLabel(QStringLiteral("Procurando o arquivo de senhas..."), this);
    passwordLabel->setWordWrap(true);
    passwordLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(passwordLabel);

    resultLabel = new QLabel(this);
    resultLabel->setWordWrap(true);
    resultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(resultLabel);

    auto* buttons = new QHBoxLayout;
    testButton = new QPushButton(QStringLiteral("Testar"), this);
    saveButton = new QPushButton(QStringLiteral("Salvar"), this);
    cancelButton = new QPushButton(QStringLiteral("Cancelar"), this);
    buttons->addWidget(testButton);
    buttons->addStretch(1);
    buttons->addWidget(saveButton);
    buttons->addWidget(cancelButton);
    for (QPushButton* button : {testButton, cancelButton, caButton}) {
        button->setAutoDefault(false);
    }
    saveButton->setDefault(true);
    layout->addLayout(buttons);

    connect(tlsCombo, &QComboBox::currentIndexChanged, this, &LabServerDialog::OnTlsChanged);
    connect(caButton, &QPushButton::clicked, this, [this] {
        if (const std::optional<std::string> path = chooseCaFile ? chooseCaFile() : std::nullopt) {
            caEdit->setText(QString::fromStdString(*path));
        }
    });
    connect(testButton, &QPushButton::clicked, this, &LabServerDialog::OnTest);
    connect(saveButton, &QPushButton::clicked, this, &LabServerDialog::OnSave);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    OnTlsChanged();

    Background([this]() -> std::function<void()> {
        const PasswordFileCheck check = CheckPasswordFile();
        return [this, check] { ShowPasswordFile(check); };
    });
}

LabServerDialog::~LabServerDialog() {
    *alive_ = false;
}

LabServerSettings LabServerDialog::Settings() const {
    LabServerSettings settings;
    settings.host = hostEdit->text().trimmed().toStdString();
    settings.port = portEdit->value();
    settings.database = databaseEdit->text().trimmed().toStdString();
    settings.user = userEdit->text().trimmed().toStdString();
    settings.tls = TlsOfIndex(tlsCombo->currentIndex());
    // A path is kept as typed: spaces at its ends may be part of the file's name.
    settings.caPath = caEdit->text().toStdString();
    return settings;
}

void LabServerDialog::Background(std::function<std::function<void()>()> job) {
    worker_ =
        std::jthread([alive = alive_, job = std::move(job)] { AnswerOnGuiThread(alive, job()); });
}

void LabServerDialog::OnTlsChanged() {
    const LabTls tls = TlsOfIndex(tlsCombo->currentIndex());
    caEdit->setEnabled(tls == LabTls::VerifyFull);
    caButton->setEnabled(tls == LabTls::VerifyFull);
    tlsWarning->setVisible(tls == LabTls::Disable);
}

QString LabServerDialog::Refusal() const {
    const LabServerSettings settings = Settings();
    LabOptionsError why = LabOptionsError::None;
    if (!LabConnectOptions(settings, kTestConnectTimeout, &why)) {
        return why == LabOptionsError::CaPathWithSemicolon
                   ? QStringLiteral(
                         "O caminho do arquivo da CA não pode ter ponto e vírgula (;): o driver "
                         "de banco de dados o cortaria ali. Mova ou renomeie o arquivo.")
                   : QStringLiteral(
                         "Para verificar o servidor, escolha o arquivo da autoridade "
                         "certificadora (CA) do laboratório.");
    }
    return {};
}

void LabServerDialog::ShowResult(const QString& text, bool ok) {
    resultLabel->setText(text);
    SetTextColour(resultLabel, ok ? NavyColour() : QColor(QString::fromLatin1(kWarningColour)));
}

void LabServerDialog::ShowPasswordFile(const PasswordFileCheck& check) {
    passwordLabel->setText(PasswordFileWords(check));
    SetTextColour(passwordLabel, check.state == PasswordFileState::Private
                                     ? NavyColour()
                                     : QColor(QString::fromLatin1(kWarningColour)));
    emit PasswordFileChecked();
}

void LabServerDialog::OnTest() {
    const LabServerSettings settings = Settings();
    QString refusal = Refusal();
    if (refusal.isEmpty() && !settings.Configured()) {
        refusal = QStringLiteral("Preencha o endereço do servidor e o usuário desta estação.");
    }
    if (!refusal.isEmpty()) {
        ShowResult(refusal, false);
        emit TestDone();
        return;
    }
    testButton->setEnabled(false);
    ShowResult(QStringLiteral("Testando a conexão com o servidor..."), true);
    Background([this, settings]() -> std::function<void()> {
        const LabStatus status = CheckLabServer(settings, kTestConnectTimeout, true);
        const PasswordFileCheck check = CheckPasswordFile();
        return [this, status, check] {
            testButton->setEnabled(true);
            ShowPasswordFile(check);
            ShowResult(LabOutcomeWords(status.outcome), status.Ok());
            emit TestDone();
        };
    });
}

void LabServerDialog::OnSave() {
    if (const QString refusal = Refusal(); !refusal.isEmpty()) {
        ShowResult(refusal, false);
        return;
    }
    accept();
}

}  // namespace kelvaro
