#include "calibration/CalibrationScreen.h"

#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include "device/SerialChannel.h"
#include "settings/NumberText.h"
#include "ui/ButtonPictures.h"
#include "ui/Panels.h"
#include "ui/PictureButton.h"
#include "ui/ScreenFrame.h"
#include "ui/StationStyle.h"
#include "ui/WindowHandOver.h"

namespace kelvaro {

namespace {

constexpr int kClientWidth = 697;
constexpr int kClientHeight = 668;
constexpr int kGridWidth = 2 * CalibrationScreen::kPlatePanelWidth + CalibrationScreen::kPlateGap;
constexpr int kGridHeight = 2 * CalibrationScreen::kPlatePanelHeight + CalibrationScreen::kPlateGap;

// Inside a plate panel: the title row, a divider, then the blue area with five rows.
constexpr int kInnerLeft = 4;
constexpr int kInnerTop = 38;
constexpr int kInnerWidth = CalibrationScreen::kPlatePanelWidth - 2 * kInnerLeft;
constexpr int kInnerHeight = CalibrationScreen::kPlatePanelHeight - kInnerTop - 4;
constexpr int kRowTop = 10;
constexpr int kRowPitch = 35;
constexpr int kRowHeight = 26;
constexpr int kCaptionLeft = 8;
constexpr int kCaptionWidth = 58;
constexpr int kFieldLeft = 68;
constexpr int kFieldWidth = 120;
constexpr int kUnitWidth = 38;
constexpr int kEditButtonSize = 26;
constexpr int kButtonLeft = 196;
constexpr int kButtonWidth = 106;
constexpr int kButtonHeight = 30;

const QColor kReadingOk(0, 0, 0);
const QColor kReadingFailed(220, 0, 0);
const QColor kLoadGreen(0, 128, 0);

int RowTop(int row) {
    return kRowTop + row * kRowPitch;
}

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

void SetFieldTextColour(QLineEdit* field, const QColor& colour) {
    QPalette palette = field->palette();
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::Disabled, QPalette::Text, colour.lighter(170));
    field->setPalette(palette);
}

QLineEdit* Field(QWidget* parent, int row, int left, int width, bool readOnly,
                 Qt::Alignment alignment) {
    auto* field = new QLineEdit(parent);
    field->setGeometry(left, RowTop(row), width, kRowHeight);
    field->setFont(VerdanaFont(13, true));
    field->setReadOnly(readOnly);
    field->setAlignment(alignment | Qt::AlignVCenter);
    if (readOnly) {
        field->setFocusPolicy(Qt::NoFocus);
    }
    return field;
}

void Caption(QWidget* parent, int row, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(kCaptionLeft, RowTop(row), kCaptionWidth, kRowHeight);
    label->setFont(VerdanaFont(12, true));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    SetTextColour(label, Qt::white);
}

QPushButton* PanelButton(QWidget* parent, int row, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setGeometry(kButtonLeft, RowTop(row) - (kButtonHeight - kRowHeight) / 2, kButtonWidth,
                        kButtonHeight);
    button->setFont(VerdanaFont(11, true));
    button->setCursor(Qt::PointingHandCursor);
    // Return in a load field must not press a panel button and start a measurement.
    button->setAutoDefault(false);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { background-color: white; color: black; border: 1px solid rgb(90, 110, 140);"
        " border-radius: 3px; }"
        "QPushButton:hover { border-color: rgb(0, 0, 128); }"
        "QPushButton:pressed { background-color: rgb(220, 232, 248); }"
        "QPushButton:focus { border: 2px solid rgb(0, 0, 128); }"
        "QPushButton:disabled { color: rgb(150, 150, 150); border-color: rgb(170, 170, 170); }"));
    return button;
}

}  // namespace

CalibrationScreen::CalibrationScreen(StationState& state, Dialogs& dialogs, ProgressView& progress,
                                     bool& firstActivation, QWidget* mainWindow, QWidget* parent)
    : SecondaryScreen(parent, kScreenWindowFlags),
      state_(state),
      mainWindow_(mainWindow),
      ops_(state, dialogs, progress, *this, firstActivation) {
    setObjectName(QStringLiteral("frmCalibracao"));
    ScreenFrame frame(*this,
                      {.title = QStringLiteral("Calibração"),
                       .clientSize = QSize(kClientWidth, kClientHeight),
                       .modal = true,
                       .fixedSize = false,
                       .titleLabelName = "lbCalibracao",
                       .barName = "pnBarra"},
                      this);
    centrePanel_ = frame.Centre();

    plateGrid_ = new QFrame(centrePanel_);
    plateGrid_->setObjectName(QStringLiteral("pnCalibracao"));
    plateGrid_->resize(kGridWidth, kGridHeight);
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        BuildPlatePanel(plate);
    }

    frame.AddBottomBand();
    buttonBar_ = frame.Bar();
    backButton_ = frame.Back();
    connect(backButton_, &QPushButton::clicked, this, [this] { OnBackClicked(); });

    // Reads from the moment the screen exists; the plate operations pause it while they talk
    // to a plate.
    readingTimer_ = new QTimer(this);
    readingTimer_->setObjectName(QStringLiteral("tmLeitura"));
    readingTimer_->setInterval(kReadingIntervalMs);
    connect(readingTimer_, &QTimer::timeout, this, [this] { OnReadingTick(); });
    readingTimer_->start();

    replyTimer_ = new QTimer(this);
    replyTimer_->setObjectName(QStringLiteral("tmResposta"));
    replyTimer_->setSingleShot(true);
    connect(replyTimer_, &QTimer::timeout, this, [this] { ops_.ContinueReading(); });

    preparationTimer_ = new QTimer(this);
    preparationTimer_->setSingleShot(true);
    preparationTimer_->setTimerType(Qt::PreciseTimer);
    connect(preparationTimer_, &QTimer::timeout, this, [this] { ops_.ContinuePreparation(); });
}

CalibrationScreen::~CalibrationScreen() = default;

void CalibrationScreen::BuildPlatePanel(int plate) {
    PlatePanel& p = panels_.at(Index(plate));
    const QString n = QString::number(plate);
    const int column = (plate - 1) % 2;
    const int row = (plate - 1) / 2;

    p.plateFrame = new QFrame(plateGrid_);
    p.plateFrame->setObjectName(QStringLiteral("pnPlaca") + n);
    p.plateFrame->setGeometry(column * (kPlatePanelWidth + kPlateGap),
                              row * (kPlatePanelHeight + kPlateGap), kPlatePanelWidth,
                              kPlatePanelHeight);
    p.plateFrame->setFrameStyle(QFrame::Box | QFrame::Plain);
    FillBackground(p.plateFrame, Qt::white);

    p.activeBox = new QCheckBox(QStringLiteral("Placa ") + n, p.plateFrame);
    p.activeBox->setObjectName(QStringLiteral("cbP%1Ativa").arg(plate));
    p.activeBox->setGeometry(10, 6, 140, 24);
    p.activeBox->setFont(VerdanaFont(13, true));
    SetTextColour(p.activeBox, NavyColour());
    connect(p.activeBox, &QCheckBox::clicked, this, [this, plate] { OnActiveClicked(plate); });

    p.portLabel = new QLabel(QStringLiteral("Com"), p.plateFrame);
    p.portLabel->setObjectName(QStringLiteral("lbPortaP%1").arg(plate));
    p.portLabel->setGeometry(150, 6, kPlatePanelWidth - 150 - 10, 24);
    p.portLabel->setFont(VerdanaFont(11, false));
    p.portLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SetTextColour(p.portLabel, NavyColour());

    auto* divider = new QFrame(p.plateFrame);
    divider->setGeometry(kInnerLeft, 33, kInnerWidth, 2);
    FillBackground(divider, NavyColour());

    auto* inner = new QFrame(p.plateFrame);
    inner->setObjectName(QStringLiteral("pnDadosP%1").arg(plate));
    inner->setGeometry(kInnerLeft, kInnerTop, kInnerWidth, kInnerHeight);
    FillBackground(inner, BandColour());

    Caption(inner, 0, QStringLiteral("Leitura"));
    p.readingField = Field(inner, 0, kFieldLeft, kFieldWidth, true, Qt::AlignHCenter);
    p.readingField->setObjectName(QStringLiteral("cpLeituraP%1").arg(plate));

    Caption(inner, 1, QStringLiteral("Carga"));
    p.loadField = Field(inner, 1, kFieldLeft, kFieldWidth - kUnitWidth - 4, false, Qt::AlignLeft);
    p.loadField->setObjectName(QStringLiteral("cpCargaP%1").arg(plate));
    p.loadField->installEventFilter(this);
    p.unitField =
        Field(inner, 1, kFieldLeft + kFieldWidth - kUnitWidth, kUnitWidth, false, Qt::AlignLeft);
    p.unitField->setObjectName(QStringLiteral("cpUnidP%1").arg(plate));
    p.unitField->setFont(VerdanaFont(11, true));
    p.calibrateButton = PanelButton(inner, 1, QStringLiteral("Calibrar"));
    p.calibrateButton->setObjectName(QStringLiteral("btCalibrarP%1").arg(plate));
    connect(p.calibrateButton, &QPushButton::clicked, this,
            [this, plate] { OnCalibrateClicked(plate); });

    Caption(inner, 2, QStringLiteral("Tara"));
    p.tareField = Field(inner, 2, kFieldLeft, kFieldWidth, true, Qt::AlignHCenter);
    p.tareField->setObjectName(QStringLiteral("cpTaraP%1").arg(plate));
    p.tareButton = PanelButton(inner, 2, QStringLiteral("Tara"));
    p.tareButton->setObjectName(QStringLiteral("btTaraP%1").arg(plate));
    connect(p.tareButton, &QPushButton::clicked, this, [this, plate] { OnTareClicked(plate); });

    Caption(inner, 3, QStringLiteral("IC"));
    p.indexField =
        Field(inner, 3, kFieldLeft, kFieldWidth - kEditButtonSize - 2, true, Qt::AlignLeft);
    p.indexField->setObjectName(QStringLiteral("cpIDCP%1").arg(plate));
    p.editIndexButton = new QPushButton(inner);
    p.editIndexButton->setObjectName(QStringLiteral("btEditarIDCP%1").arg(plate));
    p.editIndexButton->setGeometry(kFieldLeft + kFieldWidth - kEditButtonSize, RowTop(3),
                                   kEditButtonSize, kEditButtonSize);
    p.editIndexButton->setIcon(ButtonIcon(ButtonPicture::Edit));
    p.editIndexButton->setIconSize(QSize(20, 20));
    p.editIndexButton->setToolTip(QStringLiteral("Editar Índice de Calibração..."));
    p.editIndexButton->setCursor(Qt::PointingHandCursor);
    p.editIndexButton->setAutoDefault(false);
    p.editIndexButton->setStyleSheet(
        QStringLiteral("QPushButton { background-color: white; border: 1px solid rgb(90, 110, "
                       "140); border-radius: 3px; }"
                       "QPushButton:pressed { background-color: rgb(220, 232, 248); }"));
    connect(p.editIndexButton, &QPushButton::clicked, this,
            [this, plate] { OnEditIndexClicked(plate); });
    p.zeroButton = PanelButton(inner, 3, QStringLiteral("Zerar"));
    p.zeroButton->setObjectName(QStringLiteral("btZerarP%1").arg(plate));
    connect(p.zeroButton, &QPushButton::clicked, this, [this, plate] { OnZeroClicked(plate); });

    Caption(inner, 4, QStringLiteral("CC"));
    p.convertedLoadField = Field(inner, 4, kFieldLeft, kFieldWidth, true, Qt::AlignHCenter);
    p.convertedLoadField->setObjectName(QStringLiteral("cpCCP%1").arg(plate));
    SetFieldTextColour(p.convertedLoadField, kLoadGreen);
}

bool CalibrationScreen::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::WindowActivate && Shown() && !Closed()) {
        OnActivated();
    }
    return handled;
}

void CalibrationScreen::OnShown() {
    if (mainWindow_ != nullptr) {
        WindowHandOver::OnShow(this, mainWindow_, QStringLiteral(" - Calibração"));
    } else {
        setWindowTitle(QString::fromUtf8(kMainCaption) + QStringLiteral(" - Calibração"));
    }
    const CalibrationScreenSettings settings = ops_.Open();
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        const PlateScreenSettings& s = settings.plates.at(Index(plate));
        PlatePanel& p = panels_.at(Index(plate));
        p.activeBox->setChecked(s.active);
        OnActiveClicked(plate);
        p.loadField->setText(FromUtf8(s.load));
        p.unitField->setText(FromUtf8(s.unit));
        SetIndexText(plate, FormatNumber(s.values.index, NumberPattern::ThreeDecimals,
                                         state_.config.decimalSeparator));
        SetTareText(plate, FormatNumber(s.values.tare, NumberPattern::ThreeDecimals,
                                        state_.config.decimalSeparator));
        SetTareCaption(plate, TareButtonCaption(s.tareApplied));
        p.portLabel->setText(FromUtf8(s.port));
    }
    OnResized();
}

void CalibrationScreen::OnActivated() {
    ops_.Activate(TickedPlates());
}

bool CalibrationScreen::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && (watched == centrePanel_ || watched == buttonBar_)) {
        OnResized();
    } else if (event->type() == QEvent::KeyPress) {
        for (const PlatePanel& p : panels_) {
            if (watched != p.loadField) {
                continue;
            }
            // Only typed characters are filtered; editing keys and shortcuts carry control
            // characters or no text at all and keep working. Delete carries DEL (127) on X11
            // and Wayland keyboards and is an editing key too.
            const QString text = static_cast<QKeyEvent*>(event)->text();
            const char16_t first = text.isEmpty() ? u'\0' : text.at(0).unicode();
            if (first >= 0x20 && first != 0x7F && !LoadFieldAccepts(text.toUcs4().value(0))) {
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CalibrationScreen::OnResized() {
    if (plateGrid_ == nullptr || backButton_ == nullptr) {
        return;  // a resize delivered while the screen is still being built
    }
    // Integer division truncates towards zero, so a centre smaller than the grid gives a
    // negative offset.
    plateGrid_->move((centrePanel_->width() - plateGrid_->width()) / 2,
                     (centrePanel_->height() - plateGrid_->height()) / 2);
    backButton_->move(buttonBar_->width() - 158, backButton_->y());
}

void CalibrationScreen::OnReadingTick() {
    ops_.ReadingTick(TickedPlates());
}

void CalibrationScreen::OnActiveClicked(int plate) {
    PlatePanel& p = panels_.at(Index(plate));
    const bool on = p.activeBox->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{
             p.readingField, p.loadField, p.tareField, p.convertedLoadField, p.indexField,
             p.unitField, p.editIndexButton, p.calibrateButton, p.tareButton, p.zeroButton}) {
        w->setEnabled(on);
    }
}

void CalibrationScreen::OnZeroClicked(int plate) {
    ops_.ZeroPlate(plate);
}

void CalibrationScreen::OnTareClicked(int plate) {
    ops_.ToggleTare(plate);
}

void CalibrationScreen::OnCalibrateClicked(int plate) {
    ops_.Calibrate(plate);
}

void CalibrationScreen::OnEditIndexClicked(int plate) {
    ops_.EditIndex(plate);
}

void CalibrationScreen::OnBackClicked() {
    close();
}

void CalibrationScreen::OnClosing() {
    // No tick may reopen a channel, nor a reading go on, once the screen is on its way out (a
    // failed save's message box below runs events).
    readingTimer_->stop();
    replyTimer_->stop();
    preparationTimer_->stop();
    if (mainWindow_ != nullptr) {
        WindowHandOver::OnClose(this, mainWindow_);
    }
    std::array<PlateClosingState, kPlateCount> closing;
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        const PlatePanel& p = panels_.at(Index(plate));
        closing.at(Index(plate)) = {p.activeBox->isChecked(), p.loadField->text().toStdString(),
                                    p.unitField->text().toStdString()};
    }
    ops_.Close(closing);
}

std::array<bool, kPlateCount> CalibrationScreen::TickedPlates() const {
    std::array<bool, kPlateCount> ticked{};
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        ticked.at(Index(plate)) = panels_.at(Index(plate)).activeBox->isChecked();
    }
    return ticked;
}

void CalibrationScreen::StopReadingTimer() {
    readingTimer_->stop();
}

void CalibrationScreen::StartReadingTimer() {
    readingTimer_->start();
}

void CalibrationScreen::ScheduleReadingStep(int milliseconds) {
    replyTimer_->start(milliseconds);
}

void CalibrationScreen::SchedulePreparationStep(int milliseconds) {
    preparationTimer_->start(milliseconds);
}

std::string CalibrationScreen::LoadText(int plate) const {
    return Plate(plate).loadField->text().toStdString();
}

std::string CalibrationScreen::UnitText(int plate) const {
    return Plate(plate).unitField->text().toStdString();
}

std::string CalibrationScreen::IndexText(int plate) const {
    return Plate(plate).indexField->text().toStdString();
}

void CalibrationScreen::SetIndexText(int plate, const std::string& text) {
    Plate(plate).indexField->setText(FromUtf8(text));
}

void CalibrationScreen::SetTareText(int plate, const std::string& text) {
    Plate(plate).tareField->setText(FromUtf8(text));
}

void CalibrationScreen::SetTareCaption(int plate, const std::string& caption) {
    Plate(plate).tareButton->setText(FromUtf8(caption));
}

void CalibrationScreen::FocusLoadField(int plate) {
    Plate(plate).loadField->setFocus();
}

void CalibrationScreen::ShowReading(int plate, const ReadingDisplay& display) {
    const PlatePanel& p = Plate(plate);
    SetFieldTextColour(p.readingField, display.failed ? kReadingFailed : kReadingOk);
    p.readingField->setText(FromUtf8(display.reading));
    p.tareField->setText(FromUtf8(display.tare));
    p.indexField->setText(FromUtf8(display.index));
    p.convertedLoadField->setText(FromUtf8(display.load));
}

}  // namespace kelvaro
