#include "frequency/FrequencyScreen.h"

#include <QEvent>
#include <QLabel>
#include <QRadioButton>
#include <QShowEvent>
#include <string>

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

struct OptionDefinition {
    const char* caption;
    int tag;  // Hz
    int left;
};

constexpr std::array<OptionDefinition, FrequencyScreen::kOptionCount> kOptions{{
    {"050", 50, 8},
    {"100", 100, 120},
    {"150", 150, 232},
    {"200", 200, 344},
    {"300", 300, 456},
    {"400", 400, 568},
    {"600", 600, 679},
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

}  // namespace

FrequencyScreen::FrequencyScreen(StationState& state, Dialogs& dialogs, QWidget* mainWindow)
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
    topPanel = frame.Top();
    titleLabel = topPanel->Title();
    centrePanel = frame.Centre();
    frequencyPanel = new QFrame(centrePanel);
    frequencyPanel->setFixedSize(760, 97);
    FillBackground(frequencyPanel, Qt::white);

    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        const OptionDefinition& definition = kOptions[i];
        auto* option = new QRadioButton(QString::fromLatin1(definition.caption), frequencyPanel);
        option->setProperty(kTagProperty, definition.tag);
        option->setGeometry(definition.left, kOptionTop, kOptionWidth, kOptionHeight);
        option->setFont(VerdanaFont(27, true));
        SetTextColour(option, Qt::black);
        option->setCursor(Qt::PointingHandCursor);
        connect(option, &QRadioButton::clicked, this, [this, option] { OnOptionClicked(option); });
        options_[i] = option;
    }
    option50 = options_[0];
    option100 = options_[1];
    option150 = options_[2];
    option200 = options_[3];
    option300 = options_[4];
    option400 = options_[5];
    option600 = options_[6];
    option50->setChecked(true);

    frame.AddBottomBand();
    bottomBand = frame.Bottom();
    bottomBar = frame.Bar();
    backButton = frame.Back();
    backButton->setFixedSize(150, 49);
    connect(backButton, &QPushButton::clicked, this, [this] { OnBackClicked(); });
}

FrequencyScreen::~FrequencyScreen() = default;

void FrequencyScreen::OnShown() {
    WindowHandOver::OnShow(this, mainWindow_, QStringLiteral(" - Frequência"));
    StationSettings settings(state_.config.settingsPath, state_.config.decimalSeparator);
    // The tick shows the rate the tests and calibrations will use, whatever the stored option
    // states say: they are written for the record but can disagree after an outside edit.
    selectedFrequency_ = static_cast<std::uint16_t>(settings.TestFrequency());
    settings.Close();
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        if (kOptions[i].tag == selectedFrequency_) {
            options_[i]->setChecked(true);  // the group clears the others
        }
    }
}

void FrequencyScreen::OnOptionClicked(QRadioButton* clicked) {
    selectedFrequency_ = static_cast<std::uint16_t>(clicked->property(kTagProperty).toInt());
}

void FrequencyScreen::OnResized() {
    frequencyPanel->move((centrePanel->width() - frequencyPanel->width()) / 2,
                         (centrePanel->height() - frequencyPanel->height()) / 2);
    backButton->move(bottomBar->width() - 158, backButton->y());
}

void FrequencyScreen::OnBackClicked() {
    close();
}

void FrequencyScreen::OnClosing() {
    WindowHandOver::OnClose(this, mainWindow_);
    StationSettings settings(state_.config.settingsPath, state_.config.decimalSeparator);
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        settings.SetRateOptionTicked(static_cast<int>(i) + 1, options_[i]->isChecked());
    }
    settings.SetTestFrequency(selectedFrequency_);
    if (const FileStatus saved = settings.Close(); !saved) {
        // The words name what failed and where, their lead included.
        ReportError(dialogs_, FileErrorText(*saved.error));
    }
}

bool FrequencyScreen::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && (watched == centrePanel || watched == bottomBar)) {
        OnResized();
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace kelvaro
