#include "calibration/TfrmCalibracao.h"

#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

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
constexpr int kGridWidth = 2 * TfrmCalibracao::kPlatePanelWidth + TfrmCalibracao::kPlateGap;
constexpr int kGridHeight = 2 * TfrmCalibracao::kPlatePanelHeight + TfrmCalibracao::kPlateGap;

// Inside a plate panel: the title row, a divider, then the blue area with five rows.
constexpr int kInnerLeft = 4;
constexpr int kInnerTop = 38;
constexpr int kInnerWidth = TfrmCalibracao::kPlatePanelWidth - 2 * kInnerLeft;
constexpr int kInnerHeight = TfrmCalibracao::kPlatePanelHeight - kInnerTop - 4;
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

TfrmCalibracao::TfrmCalibracao(StationState& state, Dialogs& dialogs, ProgressView& progress,
                               QWidget* mainWindow, QWidget* parent)
    : SecondaryScreen(parent, kScreenWindowFlags),
      state_(state),
      mainWindow_(mainWindow),
      ops_(state, dialogs, progress, *this) {
    setObjectName(QStringLiteral("frmCalibracao"));
    ScreenFrame frame(*this,
                      {.title = QStringLiteral("Calibração"),
                       .clientSize = QSize(kClientWidth, kClientHeight),
                       .modal = true,
                       .fixedSize = false,
                       .titleLabelName = "lbCalibracao",
                       .barName = "pnBarra"},
                      this);
    pnCenter = frame.Centre();

    pnCalibracao = new QFrame(pnCenter);
    pnCalibracao->setObjectName(QStringLiteral("pnCalibracao"));
    pnCalibracao->resize(kGridWidth, kGridHeight);
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        BuildPlatePanel(plate);
    }

    frame.AddBottomBand();
    pnBarra = frame.Bar();
    btVoltar = frame.Back();
    connect(btVoltar, &QPushButton::clicked, this, [this] { btVoltarClick(); });

    // Reads from the moment the screen exists; the plate operations pause it while they talk
    // to a plate.
    tmLeitura = new QTimer(this);
    tmLeitura->setObjectName(QStringLiteral("tmLeitura"));
    tmLeitura->setInterval(kReadingIntervalMs);
    connect(tmLeitura, &QTimer::timeout, this, [this] { tmLeituraTimer(); });
    tmLeitura->start();

    tmResposta = new QTimer(this);
    tmResposta->setObjectName(QStringLiteral("tmResposta"));
    tmResposta->setSingleShot(true);
    connect(tmResposta, &QTimer::timeout, this, [this] { ops_.ContinueReading(); });
}

TfrmCalibracao::~TfrmCalibracao() = default;

void TfrmCalibracao::BuildPlatePanel(int plate) {
    PlatePanel& p = panels_.at(Index(plate));
    const QString n = QString::number(plate);
    const int column = (plate - 1) % 2;
    const int row = (plate - 1) / 2;

    p.pnPlaca = new QFrame(pnCalibracao);
    p.pnPlaca->setObjectName(QStringLiteral("pnPlaca") + n);
    p.pnPlaca->setGeometry(column * (kPlatePanelWidth + kPlateGap),
                           row * (kPlatePanelHeight + kPlateGap), kPlatePanelWidth,
                           kPlatePanelHeight);
    p.pnPlaca->setFrameStyle(QFrame::Box | QFrame::Plain);
    FillBackground(p.pnPlaca, Qt::white);

    p.cbAtiva = new QCheckBox(QStringLiteral("Placa ") + n, p.pnPlaca);
    p.cbAtiva->setObjectName(QStringLiteral("cbP%1Ativa").arg(plate));
    p.cbAtiva->setGeometry(10, 6, 140, 24);
    p.cbAtiva->setFont(VerdanaFont(13, true));
    SetTextColour(p.cbAtiva, NavyColour());
    connect(p.cbAtiva, &QCheckBox::clicked, this, [this, plate] { cbAtivaClick(plate); });

    p.lbPorta = new QLabel(QStringLiteral("Com"), p.pnPlaca);
    p.lbPorta->setObjectName(QStringLiteral("lbPortaP%1").arg(plate));
    p.lbPorta->setGeometry(150, 6, kPlatePanelWidth - 150 - 10, 24);
    p.lbPorta->setFont(VerdanaFont(11, false));
    p.lbPorta->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SetTextColour(p.lbPorta, NavyColour());

    auto* divider = new QFrame(p.pnPlaca);
    divider->setGeometry(kInnerLeft, 33, kInnerWidth, 2);
    FillBackground(divider, NavyColour());

    auto* inner = new QFrame(p.pnPlaca);
    inner->setObjectName(QStringLiteral("pnDadosP%1").arg(plate));
    inner->setGeometry(kInnerLeft, kInnerTop, kInnerWidth, kInnerHeight);
    FillBackground(inner, BandColour());

    Caption(inner, 0, QStringLiteral("Leitura"));
    p.cpLeitura = Field(inner, 0, kFieldLeft, kFieldWidth, true, Qt::AlignHCenter);
    p.cpLeitura->setObjectName(QStringLiteral("cpLeituraP%1").arg(plate));

    Caption(inner, 1, QStringLiteral("Carga"));
    p.cpCarga = Field(inner, 1, kFieldLeft, kFieldWidth - kUnitWidth - 4, false, Qt::AlignLeft);
    p.cpCarga->setObjectName(QStringLiteral("cpCargaP%1").arg(plate));
    p.cpCarga->installEventFilter(this);
    p.cpUnid =
        Field(inner, 1, kFieldLeft + kFieldWidth - kUnitWidth, kUnitWidth, false, Qt::AlignLeft);
    p.cpUnid->setObjectName(QStringLiteral("cpUnidP%1").arg(plate));
    p.cpUnid->setFont(VerdanaFont(11, true));
    p.btCalibrar = PanelButton(inner, 1, QStringLiteral("Calibrar"));
    p.btCalibrar->setObjectName(QStringLiteral("btCalibrarP%1").arg(plate));
    connect(p.btCalibrar, &QPushButton::clicked, this, [this, plate] { btCalibrarClick(plate); });

    Caption(inner, 2, QStringLiteral("Tara"));
    p.cpTara = Field(inner, 2, kFieldLeft, kFieldWidth, true, Qt::AlignHCenter);
    p.cpTara->setObjectName(QStringLiteral("cpTaraP%1").arg(plate));
    p.btTara = PanelButton(inner, 2, QStringLiteral("Tara"));
    p.btTara->setObjectName(QStringLiteral("btTaraP%1").arg(plate));
    connect(p.btTara, &QPushButton::clicked, this, [this, plate] { btTaraClick(plate); });

    Caption(inner, 3, QStringLiteral("IC"));
    p.cpIDC = Field(inner, 3, kFieldLeft, kFieldWidth - kEditButtonSize - 2, true, Qt::AlignLeft);
    p.cpIDC->setObjectName(QStringLiteral("cpIDCP%1").arg(plate));
    p.btEditarIDC = new QPushButton(inner);
    p.btEditarIDC->setObjectName(QStringLiteral("btEditarIDCP%1").arg(plate));
    p.btEditarIDC->setGeometry(kFieldLeft + kFieldWidth - kEditButtonSize, RowTop(3),
                               kEditButtonSize, kEditButtonSize);
    p.btEditarIDC->setIcon(ButtonIcon(ButtonPicture::Edit));
    p.btEditarIDC->setIconSize(QSize(20, 20));
    p.btEditarIDC->setToolTip(QStringLiteral("Editar Índice de Calibração..."));
    p.btEditarIDC->setCursor(Qt::PointingHandCursor);
    p.btEditarIDC->setAutoDefault(false);
    p.btEditarIDC->setStyleSheet(
        QStringLiteral("QPushButton { background-color: white; border: 1px solid rgb(90, 110, "
                       "140); border-radius: 3px; }"
                       "QPushButton:pressed { background-color: rgb(220, 232, 248); }"));
    connect(p.btEditarIDC, &QPushButton::clicked, this, [this, plate] { btEditarIDCClick(plate); });
    p.btZerar = PanelButton(inner, 3, QStringLiteral("Zerar"));
    p.btZerar->setObjectName(QStringLiteral("btZerarP%1").arg(plate));
    connect(p.btZerar, &QPushButton::clicked, this, [this, plate] { btZerarClick(plate); });

    Caption(inner, 4, QStringLiteral("CC"));
    p.cpCC = Field(inner, 4, kFieldLeft, kFieldWidth, true, Qt::AlignHCenter);
    p.cpCC->setObjectName(QStringLiteral("cpCCP%1").arg(plate));
    SetFieldTextColour(p.cpCC, kLoadGreen);
}

bool TfrmCalibracao::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::WindowActivate && Shown() && !Closed()) {
        FormActivate();
    }
    return handled;
}

void TfrmCalibracao::FormShow() {
    if (mainWindow_ != nullptr) {
        WindowHandOver::OnShow(this, mainWindow_, QStringLiteral(" - Calibração"));
    } else {
        setWindowTitle(QString::fromUtf8(kMainCaption) + QStringLiteral(" - Calibração"));
    }
    const CalibrationScreenSettings settings = ops_.Open();
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        const PlateScreenSettings& s = settings.plates.at(Index(plate));
        PlatePanel& p = panels_.at(Index(plate));
        p.cbAtiva->setChecked(s.active);
        cbAtivaClick(plate);
        p.cpCarga->setText(FromUtf8(s.load));
        p.cpUnid->setText(FromUtf8(s.unit));
        SetIndexText(plate, FormatNumber(s.values.index, NumberPattern::ThreeDecimals,
                                         state_.decimalSeparator));
        SetTareText(plate, FormatNumber(s.values.tare, NumberPattern::ThreeDecimals,
                                        state_.decimalSeparator));
        p.btTara->setText(FromUtf8(s.tareCaption));
        p.lbPorta->setText(FromUtf8(s.port));
    }
    FormResize();
}

void TfrmCalibracao::FormActivate() {
    ops_.Activate(TickedPlates());
}

bool TfrmCalibracao::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && (watched == pnCenter || watched == pnBarra)) {
        FormResize();
    } else if (event->type() == QEvent::KeyPress) {
        for (const PlatePanel& p : panels_) {
            if (watched != p.cpCarga) {
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

void TfrmCalibracao::FormResize() {
    if (pnCalibracao == nullptr || btVoltar == nullptr) {
        return;  // a resize delivered while the screen is still being built
    }
    // Integer division truncates towards zero, so a centre smaller than the grid gives a
    // negative offset.
    pnCalibracao->move((pnCenter->width() - pnCalibracao->width()) / 2,
                       (pnCenter->height() - pnCalibracao->height()) / 2);
    btVoltar->move(pnBarra->width() - 158, btVoltar->y());
}

void TfrmCalibracao::tmLeituraTimer() {
    ops_.ReadingTick(TickedPlates());
}

void TfrmCalibracao::cbAtivaClick(int plate) {
    PlatePanel& p = panels_.at(Index(plate));
    const bool on = p.cbAtiva->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{p.cpLeitura, p.cpCarga, p.cpTara, p.cpCC,
                                                      p.cpIDC, p.cpUnid, p.btEditarIDC,
                                                      p.btCalibrar, p.btTara, p.btZerar}) {
        w->setEnabled(on);
    }
}

void TfrmCalibracao::btZerarClick(int plate) {
    ops_.Zerar(plate);
}

void TfrmCalibracao::btTaraClick(int plate) {
    ops_.Tara(plate);
}

void TfrmCalibracao::btCalibrarClick(int plate) {
    ops_.Calibrar(plate);
}

void TfrmCalibracao::btEditarIDCClick(int plate) {
    ops_.EditarIDC(plate);
}

void TfrmCalibracao::btVoltarClick() {
    close();
}

void TfrmCalibracao::FormClose() {
    // No tick may reopen a channel, nor a reading go on, once the screen is on its way out (a
    // failed save's message box below runs events).
    tmLeitura->stop();
    tmResposta->stop();
    if (mainWindow_ != nullptr) {
        WindowHandOver::OnClose(this, mainWindow_);
    }
    std::array<PlateClosingState, kPlateCount> closing;
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        const PlatePanel& p = panels_.at(Index(plate));
        closing.at(Index(plate)) = {p.cbAtiva->isChecked(), p.cpCarga->text().toStdString(),
                                    p.cpUnid->text().toStdString()};
    }
    ops_.Close(closing);
}

std::array<bool, kPlateCount> TfrmCalibracao::TickedPlates() const {
    std::array<bool, kPlateCount> ticked{};
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        ticked.at(Index(plate)) = panels_.at(Index(plate)).cbAtiva->isChecked();
    }
    return ticked;
}

void TfrmCalibracao::StopReadingTimer() {
    tmLeitura->stop();
}

void TfrmCalibracao::StartReadingTimer() {
    tmLeitura->start();
}

void TfrmCalibracao::ScheduleReadingStep(int milliseconds) {
    tmResposta->start(milliseconds);
}

std::string TfrmCalibracao::LoadText(int plate) const {
    return Plate(plate).cpCarga->text().toStdString();
}

std::string TfrmCalibracao::UnitText(int plate) const {
    return Plate(plate).cpUnid->text().toStdString();
}

std::string TfrmCalibracao::IndexText(int plate) const {
    return Plate(plate).cpIDC->text().toStdString();
}

void TfrmCalibracao::SetIndexText(int plate, const std::string& text) {
    Plate(plate).cpIDC->setText(FromUtf8(text));
}

void TfrmCalibracao::SetTareText(int plate, const std::string& text) {
    Plate(plate).cpTara->setText(FromUtf8(text));
}

std::string TfrmCalibracao::TareCaption(int plate) const {
    return Plate(plate).btTara->text().toStdString();
}

void TfrmCalibracao::SetTareCaption(int plate, const std::string& caption) {
    Plate(plate).btTara->setText(FromUtf8(caption));
}

void TfrmCalibracao::FocusLoadField(int plate) {
    Plate(plate).cpCarga->setFocus();
}

void TfrmCalibracao::ShowReading(int plate, const ReadingDisplay& display) {
    const PlatePanel& p = Plate(plate);
    SetFieldTextColour(p.cpLeitura, display.failed ? kReadingFailed : kReadingOk);
    p.cpLeitura->setText(FromUtf8(display.reading));
    p.cpTara->setText(FromUtf8(display.tare));
    p.cpIDC->setText(FromUtf8(display.index));
    p.cpCC->setText(FromUtf8(display.load));
}

}  // namespace kelvaro
