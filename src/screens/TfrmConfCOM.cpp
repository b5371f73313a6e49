#include "screens/TfrmConfCOM.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QShowEvent>
#include <QTimer>

#include "settings/SettingsStore.h"
#include "ui/Panels.h"
#include "ui/PictureButton.h"
#include "ui/ScreenFrame.h"
#include "ui/StationStyle.h"
#include "ui/WindowHandOver.h"

namespace kelvaro {

namespace {

constexpr int kClientWidth = 1088;
constexpr int kClientHeight = 710;
constexpr int kPanelWidth = 640;
constexpr int kPanelHeight = 400;
constexpr int kStatusBandHeight = 25;
constexpr int kDividerHeight = 5;
constexpr std::array<int, kPlateCount> kCheckTops{48, 120, 200, 279};
constexpr std::array<int, kPlateCount> kStatusTops{88, 160, 248, 331};
constexpr int kCheckLeft = 16;
constexpr int kStatusLeft = 48;
constexpr int kListLeft = 424;
constexpr int kListTop = 56;
// Room for a status of two lines: a long device path wraps below "Porta:".
constexpr int kStatusWidth = kListLeft - kStatusLeft - 8;
constexpr int kStatusHeight = 30;

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

QFont MsSansSerifBold() {
    QFont font = DefaultWindowFont();
    font.setBold(true);
    return font;
}

QLabel* Band(const QString& text, const QFont& font, Qt::Alignment alignment, int top,
             QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setAlignment(alignment | Qt::AlignVCenter);
    FillBackground(label, Qt::white);
    SetTextColour(label, NavyColour());
    label->setGeometry(0, top, kPanelWidth, kStatusBandHeight);
    return label;
}

void Divider(int top, QWidget* parent) {
    auto* divider = new QFrame(parent);
    FillBackground(divider, StationBackgroundColour());
    divider->setGeometry(0, top, kPanelWidth, kDividerHeight);
}

}  // namespace

TfrmConfCOM::TfrmConfCOM(StationState& state, Dialogs& dialogs, QWidget* mainWindow,
                         QWidget* parent)
    : SecondaryScreen(parent, kScreenWindowFlags),
      state_(state),
      dialogs_(dialogs),
      mainWindow_(mainWindow),
      finder_(state, *this, dialogs) {
    setObjectName(QStringLiteral("frmConfCOM"));
    ScreenFrame frame(*this,
                      {.title = QStringLiteral("Comunicação"),
                       .clientSize = QSize(kClientWidth, kClientHeight),
                       .modal = true,
                       .fixedSize = false,
                       .titleLabelName = "lbComunicacao",
                       .barName = "pnBarra"},
                      this);
    pnCenter = frame.Centre();
    BuildCommunicationPanel();

    frame.AddBottomBand();
    pnBarra = frame.Bar();
    btVoltar = frame.Back();
    btVoltar->setFixedSize(PictureButton::kWidth, 49);
    connect(btVoltar, &QPushButton::clicked, this, [this] { btVoltarClick(); });

    // Runs from creation; the first pass comes after a second, later ones every two.
    tmComunicacao = new QTimer(this);
    tmComunicacao->setObjectName(QStringLiteral("tmComunicacao"));
    tmComunicacao->setInterval(kFirstRefreshMs);
    connect(tmComunicacao, &QTimer::timeout, this, [this] { tmComunicacaoTimer(); });
    tmComunicacao->start();

    tmPasso = new QTimer(this);
    tmPasso->setObjectName(QStringLiteral("tmPasso"));
    tmPasso->setSingleShot(true);
    connect(tmPasso, &QTimer::timeout, this, [this] { finder_.Step(); });
}

TfrmConfCOM::~TfrmConfCOM() = default;

void TfrmConfCOM::BuildCommunicationPanel() {
    pnComunicacao = new QFrame(pnCenter);
    pnComunicacao->setObjectName(QStringLiteral("pnComunicacao"));
    pnComunicacao->setFixedSize(kPanelWidth, kPanelHeight);
    FillBackground(pnComunicacao, Qt::white);

    lbStatus1 =
        Band(QStringLiteral(" Aguardando ..."), MsSansSerifBold(), Qt::AlignLeft, 0, pnComunicacao);
    lbStatus1->setObjectName(QStringLiteral("lbStatus1"));
    Divider(kStatusBandHeight, pnComunicacao);

    for (int index = 0; index < kPlateCount; ++index) {
        const QString number = QString::number(index + 1);
        auto* check = new QCheckBox(QStringLiteral(" Placa %1:").arg(number), pnComunicacao);
        check->setObjectName(QStringLiteral("cbP%1Ativa").arg(number));
        check->setFont(VerdanaFont(27, true));
        SetTextColour(check, NavyColour());
        check->setCursor(Qt::PointingHandCursor);
        check->setStyleSheet(QStringLiteral("QCheckBox::indicator { width: 20px; height: 20px; }"));
        check->move(kCheckLeft, kCheckTops[static_cast<std::size_t>(index)]);
        check->adjustSize();
        cbAtiva[static_cast<std::size_t>(index)] = check;

        auto* status = new QLabel(QStringLiteral("..."), pnComunicacao);
        status->setObjectName(QStringLiteral("lbP%1Status").arg(number));
        status->setFont(VerdanaFont(11, true));
        SetTextColour(status, NavyColour());
        status->setWordWrap(true);
        status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        status->setGeometry(kStatusLeft, kStatusTops[static_cast<std::size_t>(index)], kStatusWidth,
                            kStatusHeight);
        lbStatus[static_cast<std::size_t>(index)] = status;
    }

    auto* label1 =
        new QLabel(QStringLiteral("Portas Seriais localizadas no sistema:"), pnComunicacao);
    label1->setObjectName(QStringLiteral("Label1"));
    SetTextColour(label1, NavyColour());
    label1->move(428, 40);
    label1->resize(kPanelWidth - 428, label1->sizeHint().height());

    lsbPortas = new QListWidget(pnComunicacao);
    lsbPortas->setObjectName(QStringLiteral("lsbPortas"));
    lsbPortas->setGeometry(kListLeft, kListTop, 201, 289);
    lsbPortas->setFont(VerdanaFont(16, true));
    // Display only: the operator reads the ports, never picks one.
    lsbPortas->setSelectionMode(QAbstractItemView::NoSelection);
    lsbPortas->setFocusPolicy(Qt::NoFocus);
    // Device paths are long; their distinguishing end stays visible.
    lsbPortas->setTextElideMode(Qt::ElideLeft);
    lsbPortas->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lsbPortas->setStyleSheet(
        QStringLiteral("QListWidget { background: white; color: rgb(0, 0, 128); }"
                       "QListWidget::item { height: 18px; }"));

    Divider(kPanelHeight - kStatusBandHeight - kDividerHeight, pnComunicacao);
    lbStatus2 = Band(FromUtf8(std::string(kStatusTrying)), VerdanaFont(11, true), Qt::AlignHCenter,
                     kPanelHeight - kStatusBandHeight, pnComunicacao);
    lbStatus2->setObjectName(QStringLiteral("lbStatus2"));
}

void TfrmConfCOM::FormShow() {
    if (mainWindow_ != nullptr) {
        WindowHandOver::OnShow(this, mainWindow_, QStringLiteral(" - Comunicação"));
    }
    SettingsStore store(state_.settingsPath);
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        cbAtiva[static_cast<std::size_t>(plate - 1)]->setChecked(
            store.ReadBool(kSettingsSection, "check" + std::to_string(plate), plate == 1));
    }
    store.Close();
    FormResize();
}

bool TfrmConfCOM::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && (watched == pnCenter || watched == pnBarra)) {
        FormResize();
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmConfCOM::FormResize() {
    if (pnComunicacao == nullptr || btVoltar == nullptr) {
        return;  // a resize delivered while the screen is still being built
    }
    // Integer division truncates towards zero, so a centre smaller than the panel gives a
    // negative offset exactly as the layout rule says.
    pnComunicacao->move((pnCenter->width() - pnComunicacao->width()) / 2,
                        (pnCenter->height() - pnComunicacao->height()) / 2);
    btVoltar->move(pnBarra->width() - 158, btVoltar->y());
}

void TfrmConfCOM::tmComunicacaoTimer() {
    finder_.Refresh();
}

void TfrmConfCOM::btVoltarClick() {
    close();
}

void TfrmConfCOM::FormClose() {
    // No pass may start or go on once the screen is on its way out (a message box below runs
    // events), and the ports being probed are let go.
    tmComunicacao->stop();
    tmPasso->stop();
    finder_.Abort();
    if (mainWindow_ != nullptr) {
        WindowHandOver::OnClose(this, mainWindow_);
    }
    std::string error;
    bool saved = false;
    {
        SettingsStore store(state_.settingsPath);
        for (int plate = 1; plate <= kPlateCount; ++plate) {
            store.WriteBool(kSettingsSection, "check" + std::to_string(plate), PlateTicked(plate));
        }
        saved = store.Close(&error);
    }
    state_.CloseAllChannels();
    if (!saved) {
        dialogs_.MessageBox("Não foi possível salvar a seleção das placas: " + error,
                            "Kelvaro - Comunicação", DialogButtons::Ok, DialogIcon::Error);
    }
}

std::string TfrmConfCOM::Status1() const {
    return lbStatus1->text().toStdString();
}

void TfrmConfCOM::ShowStatus1Now(const std::string& text) {
    lbStatus1->setText(FromUtf8(text));
    lbStatus1->repaint();
}

void TfrmConfCOM::ShowStatus2(const std::string& text) {
    lbStatus2->setText(FromUtf8(text));
}

void TfrmConfCOM::ShowPlateStatus(int plate, const std::string& text) {
    lbStatus.at(static_cast<std::size_t>(plate - 1))->setText(FromUtf8(text));
}

bool TfrmConfCOM::PlateTicked(int plate) const {
    return cbAtiva.at(static_cast<std::size_t>(plate - 1))->isChecked();
}

void TfrmConfCOM::ShowPorts(const std::vector<std::string>& ports) {
    lsbPortas->clear();
    for (const std::string& port : ports) {
        auto* item = new QListWidgetItem(FromUtf8(port), lsbPortas);
        item->setToolTip(FromUtf8(port));
    }
}

void TfrmConfCOM::SetRefreshInterval(int milliseconds) {
    tmComunicacao->setInterval(milliseconds);
}

void TfrmConfCOM::ScheduleStep(int milliseconds) {
    tmPasso->start(milliseconds);
}

}  // namespace kelvaro
