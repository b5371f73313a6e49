#include "screens/TfrmFrequencia.h"

#include <QEvent>
#include <QLabel>
#include <QRadioButton>
#include <QShowEvent>
#include <string>

#include "settings/SettingsStore.h"
#include "station/StoredValues.h"
#include "ui/Panels.h"
#include "ui/PictureButton.h"
#include "ui/ScreenFrame.h"
#include "ui/StationStyle.h"
#include "ui/WindowHandOver.h"

namespace kelvaro {

namespace {

struct OptionDefinition {
    const char* caption;
    int tag;  // Hz
    const char* stateKey;
    int left;
};

constexpr std::array<OptionDefinition, TfrmFrequencia::kOptionCount> kOptions{{
    {"050", 50, "freq1", 8},
    {"100", 100, "freq2", 120},
    {"150", 150, "freq3", 232},
    {"200", 200, "freq4", 344},
    {"300", 300, "freq5", 456},
    {"400", 400, "freq6", 568},
    {"600", 600, "freq7", 679},
}};

constexpr int kOptionTop = 31;
constexpr int kOptionWidth = 80;
constexpr int kOptionHeight = 37;
constexpr const char* kTagProperty = "tag";

static_assert(
    [] {
        for (std::size_t i = 0; i < kOptions.size(); ++i) {
            if (kOptions[i].tag != kSamplingRates[i]) {
                return false;
            }
        }
        return true;
    }(),
    "the options are the sampling rates a plate accepts");

void ReportUnsavedSettings(Dialogs& dialogs, const std::string& reason) {
    dialogs.MessageBox("Não foi possível gravar as configurações: " + reason, kApplicationTitle,
                       DialogButtons::Ok, DialogIcon::Error);
}

}  // namespace

TfrmFrequencia::TfrmFrequencia(StationState& state, Dialogs& dialogs, QWidget* mainWindow)
    : SecondaryScreen(nullptr, kScreenWindowFlags),
      state_(state),
      dialogs_(dialogs),
      mainWindow_(mainWindow) {
    ScreenFrame frame(*this,
                      {.title = QStringLiteral("Frequência (Hz)"),
                       .clientSize = QSize(1069, 522),
                       .modal = false,
                       .fixedSize = true,
                       .titleLabelName = nullptr,
                       .barName = nullptr},
                      this);
    pnTopo = frame.Top();
    lbComunicacao = pnTopo->Title();
    pnCenter = frame.Centre();
    pnFrequencia = new QFrame(pnCenter);
    pnFrequencia->setFixedSize(760, 97);
    FillBackground(pnFrequencia, Qt::white);

    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        const OptionDefinition& definition = kOptions[i];
        auto* option = new QRadioButton(QString::fromLatin1(definition.caption), pnFrequencia);
        option->setProperty(kTagProperty, definition.tag);
        option->setGeometry(definition.left, kOptionTop, kOptionWidth, kOptionHeight);
        option->setFont(VerdanaFont(27, true));
        SetTextColour(option, Qt::black);
        option->setCursor(Qt::PointingHandCursor);
        connect(option, &QRadioButton::clicked, this, [this, option] { cbF600Click(option); });
        options_[i] = option;
    }
    cbF050 = options_[0];
    cbF100 = options_[1];
    cbF150 = options_[2];
    cbF200 = options_[3];
    cbF300 = options_[4];
    cbF400 = options_[5];
    cbF600 = options_[6];
    cbF050->setChecked(true);

    frame.AddBottomBand();
    pnBottom = frame.Bottom();
    pnBarra1 = frame.Bar();
    btVoltar = frame.Back();
    btVoltar->setFixedSize(150, 49);
    connect(btVoltar, &QPushButton::clicked, this, [this] { btVoltarClick(); });
}

TfrmFrequencia::~TfrmFrequencia() = default;

void TfrmFrequencia::FormShow() {
    WindowHandOver::OnShow(this, mainWindow_, QStringLiteral(" - Frequência"));
    SettingsStore store(state_.settingsPath);
    // The tick shows the rate the tests and calibrations will use, whatever the stored option
    // states say: they are written for the record but can disagree after an outside edit.
    frequenciaSelecionada_ = static_cast<std::uint16_t>(ReadSamplingRate(store, "Frequencia"));
    store.Close();
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        if (kOptions[i].tag == frequenciaSelecionada_) {
            options_[i]->setChecked(true);  // the group clears the others
        }
    }
}

void TfrmFrequencia::cbF600Click(QRadioButton* clicked) {
    frequenciaSelecionada_ = static_cast<std::uint16_t>(clicked->property(kTagProperty).toInt());
}

void TfrmFrequencia::FormResize() {
    pnFrequencia->move((pnCenter->width() - pnFrequencia->width()) / 2,
                       (pnCenter->height() - pnFrequencia->height()) / 2);
    btVoltar->move(pnBarra1->width() - 158, btVoltar->y());
}

void TfrmFrequencia::btVoltarClick() {
    close();
}

void TfrmFrequencia::FormClose() {
    WindowHandOver::OnClose(this, mainWindow_);
    SettingsStore store(state_.settingsPath);
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        store.WriteBool(kSettingsSection, kOptions[i].stateKey, options_[i]->isChecked());
    }
    store.WriteInteger(kSettingsSection, "Frequencia", frequenciaSelecionada_);
    std::string reason;
    if (!store.Close(&reason)) {
        ReportUnsavedSettings(dialogs_, reason);
    }
}

bool TfrmFrequencia::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && (watched == pnCenter || watched == pnBarra1)) {
        FormResize();
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace kelvaro
