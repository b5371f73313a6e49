#include "app/TfrmPrincipal.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QTimer>
#include <QVBoxLayout>
#include <string_view>

#include "app/EscapeKey.h"
#include "app/ExportFolder.h"
#include "app/TerminationSignals.h"
#include "app/TfrmProgBar.h"
#include "calibration/TfrmCalibracao.h"
#include "chart/LoadChart.h"
#include "screens/TfrmConfCOM.h"
#include "screens/TfrmFrequencia.h"
#include "settings/SettingsStore.h"
#include "station/StoredValues.h"
#include "test/TestRun.h"
#include "ui/Panels.h"
#include "ui/PictureButton.h"
#include "ui/StationStyle.h"

namespace kelvaro {

namespace {

constexpr int kButtonGap = 200;       // from one top button's left to the next
constexpr int kTopButtonsSpan = 750;  // four buttons of 150 with three gaps of 50
constexpr int kDesignWidth = 1068;
constexpr int kDesignHeight = 805;
constexpr int kMinimumWidth = 1024;
constexpr int kMinimumHeight = 700;

// The user's decimal separator for number texts; '.' when it is not a single ASCII character.
char LocaleDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point.front().unicode() < 128) {
        return static_cast<char>(point.front().unicode());
    }
    return '.';
}

QFrame* Gap(QWidget* parent) {
    auto* gap = new QFrame(parent);
    gap->setFixedHeight(kPanelMargin);
    return gap;
}

}  // namespace

MainButtonPlacement PlaceMainButtons(int pnBarraWidth, int pnBarra1Width) {
    MainButtonPlacement placement{};
    // C++ integer division truncates towards zero, as the placement requires.
    placement.btIniciar = (pnBarraWidth - kTopButtonsSpan) / 2;
    placement.btFrequencia = placement.btIniciar + kButtonGap;
    placement.btComunicacao = placement.btFrequencia + kButtonGap;
    placement.btCalibracao = placement.btComunicacao + kButtonGap;
    placement.btFechar = pnBarra1Width - (PictureButton::kWidth + kPanelMargin);
    return placement;
}

bool StartedForVirtualPlates(const QStringList& arguments, const char* environmentValue) {
    if (arguments.mid(1).contains(QStringLiteral("--virtual-plates"))) {
        return true;
    }
    return environmentValue != nullptr && *environmentValue != '\0' &&
           std::string_view(environmentValue) != "0";
}

TfrmPrincipal::TfrmPrincipal(Dialogs& dialogs, MainWindowOptions options, QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), options_(std::move(options)) {
    BuildLayout();
    FormCreate();
}

TfrmPrincipal::~TfrmPrincipal() {
    FormDestroy();
}

void TfrmPrincipal::BuildLayout() {
    setWindowTitle(QString::fromUtf8(kMainCaption) +
                   (options_.virtualPlates ? QString::fromUtf8(kDemonstrationSuffix) : QString()));
    setFont(DefaultWindowFont());
    FillBackground(this, StationBackgroundColour());
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kDesignWidth, kDesignHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    pnTopo = new TitleBand(QStringLiteral("Principal"), this);
    lbPrincipal = pnTopo->Title();
    layout->addWidget(pnTopo);

    pnCentro = new LoweredPanel(this);
    layout->addWidget(pnCentro, 1);
    auto* centre = new QVBoxLayout(pnCentro);
    centre->setContentsMargins(kPanelMargin, kPanelMargin, kPanelMargin, kPanelMargin);
    centre->setSpacing(0);

    pnBarra = new ButtonBar(pnCentro);
    pnBarra->setFixedHeight(64);
    centre->addWidget(pnBarra);
    btIniciar = new PictureButton(QStringLiteral(" Iniciar"), ButtonPicture::Play, pnBarra);
    btFrequencia =
        new PictureButton(QStringLiteral("Frequência"), ButtonPicture::Frequency, pnBarra);
    btComunicacao =
        new PictureButton(QStringLiteral(" Comunicação"), ButtonPicture::Communication, pnBarra);
    btCalibracao =
        new PictureButton(QStringLiteral("Calibração"), ButtonPicture::Calibration, pnBarra);
    for (PictureButton* button : {btIniciar, btFrequencia, btComunicacao, btCalibracao}) {
        button->move(0, kPanelMargin);
    }

    pnDiv = Gap(pnCentro);
    centre->addWidget(pnDiv);
    lbAmostras = CreateNavyLabel(QStringLiteral(" Amostras:"), 21, Qt::AlignLeft | Qt::AlignVCenter,
                                 pnCentro);
    lbAmostras->setFixedHeight(40);
    centre->addWidget(lbAmostras);
    pnDiv1 = Gap(pnCentro);
    centre->addWidget(pnDiv1);
    g1 = new LoadChart(pnCentro);
    centre->addWidget(g1, 1);

    pnBottom = new BottomBand(this);
    pnBarra1 = pnBottom->Bar();
    layout->addWidget(pnBottom);
    btFechar = new PictureButton(QStringLiteral(" Fechar"), ButtonPicture::Exit, pnBarra1);
    btFechar->move(0, kPanelMargin);

    connect(btIniciar, &QPushButton::clicked, this, [this] { btIniciarClick(); });
    connect(btFrequencia, &QPushButton::clicked, this, [this] { btFrequenciaClick(); });
    connect(btComunicacao, &QPushButton::clicked, this, [this] { btComunicacaoClick(); });
    connect(btCalibracao, &QPushButton::clicked, this, [this] { btCalibracaoClick(); });
    connect(btFechar, &QPushButton::clicked, this, [this] { btFecharClick(); });

    // The bars get their widths from the layouts, after the window's own resize.
    pnBarra->installEventFilter(this);
    pnBarra1->installEventFilter(this);

    escapeKey_ = new EscapeKeyMonitor(this);
    tmIdle_ = new QTimer(this);
    tmIdle_->setInterval(0);  // fires whenever the event queue is empty: the idle turn
    connect(tmIdle_, &QTimer::timeout, this, [this] { testRun_->LerAmostras(); });
}

void TfrmPrincipal::FormCreate() {
    const QString programFolder = options_.programFolder.isEmpty()
                                      ? QCoreApplication::applicationDirPath()
                                      : options_.programFolder;
    exportFolder_ = PrepareExportFolder(programFolder);

    state_.settingsPath = options_.settingsPath;
    state_.decimalSeparator = LocaleDecimalSeparator();
    // Outside a demonstration no virtual plate is ever listed, wherever its link lies.
    state_.portRoots.virtualPorts = options_.virtualPlates ? VirtualPortFolder() : std::string();
    {
        SettingsStore store(state_.settingsPath);
        state_.FrequenciaTeste = ReadSamplingRate(store, "Frequencia");
        for (int plate = 1; plate <= kPlateCount; ++plate) {
            state_.FrequenciaCalibracao[static_cast<std::size_t>(plate - 1)] =
                ReadSamplingRate(store, "FrequenciaP" + std::to_string(plate));
        }
        store.Close();
    }

    state_.ListaPortas.clear();
    state_.NumPortas = 0;
    state_.PlacaEncontrada.fill(false);

    frmProgBar = std::make_unique<TfrmProgBar>();
    // The save dialog (SalvarD) opens in the export folder.
    testRun_ = std::make_unique<TestRun>(state_, dialogs_, *frmProgBar, *this,
                                         exportFolder_.toStdString());
}

void TfrmPrincipal::FormResize() {
    const MainButtonPlacement placement = PlaceMainButtons(pnBarra->width(), pnBarra1->width());
    btIniciar->move(placement.btIniciar, btIniciar->y());
    btFrequencia->move(placement.btFrequencia, btFrequencia->y());
    btComunicacao->move(placement.btComunicacao, btComunicacao->y());
    btCalibracao->move(placement.btCalibracao, btCalibracao->y());
    btFechar->move(placement.btFechar, btFechar->y());
}

void TfrmPrincipal::FormDestroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    // The plates first: every open one gets its Stop, also when a test is still running.
    state_.CloseAllChannels();
    tmIdle_->stop();
    // Nothing may keep the exit from completing.
    try {
        testRun_.reset();
        frmProgBar.reset();
    } catch (...) {
    }
    try {
        state_.ListaPortas.clear();
        state_.NumPortas = 0;
    } catch (...) {
    }
}

void TfrmPrincipal::btIniciarClick() {
    testRun_->btIniciarClick();
}

void TfrmPrincipal::btFrequenciaClick() {
    auto frmFrequencia = std::make_unique<TfrmFrequencia>(state_, dialogs_, this);
    frmFrequencia->exec();
}

void TfrmPrincipal::btComunicacaoClick() {
    auto frmConfCOM = std::make_unique<TfrmConfCOM>(state_, dialogs_, this);
    frmConfCOM->exec();
}

void TfrmPrincipal::btCalibracaoClick() {
    auto frmCalibracao = std::make_unique<TfrmCalibracao>(state_, dialogs_, *frmProgBar, this);
    frmCalibracao->exec();
}

void TfrmPrincipal::btFecharClick() {
    close();
}

void TfrmPrincipal::EndSession() {
    testRun_->StopForExit();
    QCoreApplication::exit(0);
}

void TfrmPrincipal::EndSessionOn(TerminationSignals& source) {
    connect(&source, &TerminationSignals::Received, this, [this] { EndSession(); });
}

void TfrmPrincipal::closeEvent(QCloseEvent* event) {
    if (testRun_->TesteRodando()) {
        testRun_->btIniciarClick();
    }
    QWidget::closeEvent(event);
}

void TfrmPrincipal::SetStatusText(const std::string& text, bool repaintNow) {
    lbAmostras->setText(QString::fromStdString(text));
    if (repaintNow) {
        lbAmostras->repaint();
    }
}

std::string TfrmPrincipal::StartButtonCaption() const {
    return btIniciar->text().toStdString();
}

void TfrmPrincipal::SetStartButtonCaption(const std::string& caption) {
    const QString text = QString::fromStdString(caption);
    btIniciar->setText(text);
    btIniciar->SetPicture(text == QStringLiteral(" Parar") ? ButtonPicture::Stop
                                                           : ButtonPicture::Play);
}

void TfrmPrincipal::HabilitarBotoes(bool enabled) {
    btCalibracao->setEnabled(enabled);
    btComunicacao->setEnabled(enabled);
    btFrequencia->setEnabled(enabled);
    btFechar->setEnabled(enabled);
}

void TfrmPrincipal::StartIdlePass() {
    tmIdle_->start();
}

void TfrmPrincipal::StopIdlePass() {
    tmIdle_->stop();
}

bool TfrmPrincipal::IdlePassRunning() const {
    return tmIdle_->isActive();
}

bool TfrmPrincipal::EscapeHeld() {
    return escapeKey_->Held();
}

ChartSink& TfrmPrincipal::Chart() {
    return *g1;
}

bool TfrmPrincipal::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && (watched == pnBarra || watched == pnBarra1)) {
        FormResize();
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmPrincipal::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

}  // namespace kelvaro
