#include "discovery/CommunicationScreen.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QShowEvent>
#include <QTimer>

#include "device/SerialChannel.h"
#include "station/FileErrorText.h"
#include "station/StationSettings.h"
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

CommunicationScreen::CommunicationScreen(StationState& state, Dialogs& dialogs, QWidget* mainWindow,
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
    centrePanel_ = frame.Centre();
    BuildCommunicationPanel();

    frame.AddBottomBand();
    buttonBar_ = frame.Bar();
    backButton_ = frame.Back();
    backButton_->setFixedSize(PictureButton::kWidth, 49);
    connect(backButton_, &QPushButton::clicked, this, [this] { OnBackClicked(); });

    // Runs from creation; the first pass comes after a second, later ones every two.
    scanTimer_ = new QTimer(this);
    scanTimer_->setObjectName(QStringLiteral("tmComunicacao"));
    scanTimer_->setInterval(kFirstRefreshMs);
    connect(scanTimer_, &QTimer::timeout, this, [this] { OnScanTick(); });
    scanTimer_->start();

    stepTimer_ = new QTimer(this);
    stepTimer_->setObjectName(QStringLiteral("tmPasso"));
    stepTimer_->setSingleShot(true);
    connect(stepTimer_, &QTimer::timeout, this, [this] { finder_.Step(); });
}

CommunicationScreen::~CommunicationScreen() = default;

void CommunicationScreen::BuildCommunicationPanel() {
    communicationPanel_ = new QFrame(centrePanel_);
    communicationPanel_->setObjectName(QStringLiteral("pnComunicacao"));
    communicationPanel_->setFixedSize(kPanelWidth, kPanelHeight);
    FillBackground(communicationPanel_, Qt::white);

    searchStatusLabel_ = Band(QStringLiteral(" Aguardando ..."), MsSansSerifBold(), Qt::AlignLeft,
                              0, communicationPanel_);
    searchStatusLabel_->setObjectName(QStringLiteral("lbStatus1"));
    Divider(kStatusBandHeight, communicationPanel_);

    for (int index = 0; index < kPlateCount; ++index) {
        const QString number = QString::number(index + 1);
        auto* check = new QCheckBox(QStringLiteral(" Placa %1:").arg(number), communicationPanel_);
        check->setObjectName(QStringLiteral("cbP%1Ativa").arg(number));
        check->setFont(VerdanaFont(27, true));
        SetTextColour(check, NavyColour());
        check->setCursor(Qt::PointingHandCursor);
        check->setStyleSheet(QStringLiteral("QCheckBox::indicator { width: 20px; height: 20px; }"));
        check->move(kCheckLeft, kCheckTops[static_cast<std::size_t>(index)]);
        check->adjustSize();
        activeBox_[static_cast<std::size_t>(index)] = check;

        auto* status = new QLabel(QStringLiteral("..."), communicationPanel_);
        status->setObjectName(QStringLiteral("lbP%1Status").arg(number));
        status->setFont(VerdanaFont(11, true));
        SetTextColour(status, NavyColour());
        status->setWordWrap(true);
        status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        status->setGeometry(kStatusLeft, kStatusTops[static_cast<std::size_t>(index)], kStatusWidth,
                            kStatusHeight);
        plateStatusLabels_[static_cast<std::size_t>(index)] = status;
    }

    auto* label1 =
        new QLabel(QStringLiteral("Portas Seriais localizadas no sistema:"), communicationPanel_);
    label1->setObjectName(QStringLiteral("Label1"));
    SetTextColour(label1, NavyColour());
    label1->move(428, 40);
    label1->resize(kPanelWidth - 428, label1->sizeHint().height());

    portListBox_ = new QListWidget(communicationPanel_);
    portListBox_->setObjectName(QStringLiteral("lsbPortas"));
    portListBox_->setGeometry(kListLeft, kListTop, 201, 289);
    portListBox_->setFont(VerdanaFont(16, true));
    // Display only: the operator reads the ports, never picks one.
    portListBox_->setSelectionMode(QAbstractItemView::NoSelection);
    portListBox_->setFocusPolicy(Qt::NoFocus);
    // Device paths are long; their distinguishing end stays visible.
    portListBox_->setTextElideMode(Qt::ElideLeft);
    portListBox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    portListBox_->setStyleSheet(
        QStringLiteral("QListWidget { background: white; color: rgb(0, 0, 128); }"
                       "QListWidget::item { height: 18px; }"));

    Divider(kPanelHeight - kStatusBandHeight - kDividerHeight, communicationPanel_);
    hintLabel_ = Band(FromUtf8(std::string(kStatusTrying)), VerdanaFont(11, true), Qt::AlignHCenter,
                      kPanelHeight - kStatusBandHeight, communicationPanel_);
    hintLabel_->setObjectName(QStringLiteral("lbStatus2"));
}

void CommunicationScreen::OnShown() {
    if (mainWindow_ != nullptr) {
        WindowHandOver::OnShow(this, mainWindow_, QStringLiteral(" - Comunicação"));
    }
    StationSettings settings(state_.config.settingsPath, state_.config.decimalSeparator);
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        activeBox_[static_cast<std::size_t>(plate - 1)]->setChecked(
            settings.PlateTicked(plate, plate == 1));
    }
    settings.Close();
    OnResized();
}

bool CommunicationScreen::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && (watched == centrePanel_ || watched == buttonBar_)) {
        OnResized();
    }
    return QDialog::eventFilter(watched, event);
}

void CommunicationScreen::OnResized() {
    if (communicationPanel_ == nullptr || backButton_ == nullptr) {
        return;  // a resize delivered while the screen is still being built
    }
    // Integer division truncates towards zero, so a centre smaller than the panel gives a
    // negative offset exactly as the layout rule says.
    communicationPanel_->move((centrePanel_->width() - communicationPanel_->width()) / 2,
                              (centrePanel_->height() - communicationPanel_->height()) / 2);
    backButton_->move(buttonBar_->width() - 158, backButton_->y());
}

void CommunicationScreen::OnScanTick() {
    finder_.Refresh();
}

void CommunicationScreen::OnBackClicked() {
    close();
}

void CommunicationScreen::OnClosing() {
    // No pass may start or go on once the screen is on its way out (a message box below runs
    // events), and the ports being probed are let go.
    scanTimer_->stop();
    stepTimer_->stop();
    finder_.Abort();
    if (mainWindow_ != nullptr) {
        WindowHandOver::OnClose(this, mainWindow_);
    }
    FileStatus saved;
    {
        StationSettings settings(state_.config.settingsPath, state_.config.decimalSeparator);
        for (int plate = 1; plate <= kPlateCount; ++plate) {
            settings.SetPlateTicked(plate, PlateTicked(plate));
        }
        saved = settings.Close();
    }
    state_.links.CloseAll();
    if (!saved) {
        dialogs_.MessageBox(
            "Não foi possível salvar a seleção das placas: " + FileErrorText(*saved.error),
            "Kelvaro - Comunicação", DialogButtons::Ok, DialogIcon::Error);
    }
}

void CommunicationScreen::ShowSearchStatusNow(const std::string& text) {
    searchStatusLabel_->setText(FromUtf8(text));
    searchStatusLabel_->repaint();
}

void CommunicationScreen::ShowHint(const std::string& text) {
    hintLabel_->setText(FromUtf8(text));
}

void CommunicationScreen::ShowPlateStatus(int plate, const std::string& text) {
    plateStatusLabels_.at(static_cast<std::size_t>(plate - 1))->setText(FromUtf8(text));
}

bool CommunicationScreen::PlateTicked(int plate) const {
    return activeBox_.at(static_cast<std::size_t>(plate - 1))->isChecked();
}

void CommunicationScreen::ShowPorts(const std::vector<std::string>& ports) {
    portListBox_->clear();
    for (const std::string& port : ports) {
        auto* item = new QListWidgetItem(FromUtf8(port), portListBox_);
        item->setToolTip(FromUtf8(port));
    }
}

void CommunicationScreen::SetRefreshInterval(int milliseconds) {
    scanTimer_->setInterval(milliseconds);
}

void CommunicationScreen::ScheduleStep(int milliseconds) {
    stepTimer_->start(milliseconds);
}

}  // namespace kelvaro
