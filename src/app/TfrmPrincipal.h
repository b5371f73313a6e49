// The main window: the station's start screen with the test's start/stop button, the buttons
// that open the secondary screens, the sample counter and the result chart. It owns the state
// the whole run shares, the progress window and the test run.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <string>

#include "station/Dialogs.h"
#include "station/StationState.h"
#include "test/TestRunView.h"

class QFrame;
class QLabel;
class QTimer;

namespace kelvaro {

class EscapeKeyMonitor;
class LoadChart;
class LoweredPanel;
class PictureButton;
class TerminationSignals;
class TestRun;
class TfrmProgBar;
class TitleBand;
class BottomBand;

// Left positions of the five buttons for the current widths of the two button bars.
struct MainButtonPlacement {
    int btIniciar;
    int btFrequencia;
    int btComunicacao;
    int btCalibracao;
    int btFechar;
};
// The four top buttons (150 wide, 50 apart, 750 in all) centred in pnBarra with the quotient
// truncated towards zero, so a bar narrower than 750 gives negative lefts; btFechar against
// the right edge of pnBarra1, inside its 8 px margin.
MainButtonPlacement PlaceMainButtons(int pnBarraWidth, int pnBarra1Width);

struct MainWindowOptions {
    // The station's settings file.
    std::string settingsPath;
    // The folder that holds "Exportados"; empty means the folder of the running program.
    QString programFolder;
    // Started for virtual plates: their folder is listed and the title says "(demonstração)",
    // so neither a screenshot nor a saved test passes for a real one.
    bool virtualPlates = false;
};

inline constexpr const char* kDemonstrationSuffix = " (demonstração)";

// Whether the station is started for virtual plates: the --virtual-plates option, or the
// environment's KELVARO_VIRTUAL_PLATES (what `scripts/run --demo` sets) holding anything but
// nothing or "0". `environmentValue` is that variable's value, or null when it is not set.
bool StartedForVirtualPlates(const QStringList& arguments, const char* environmentValue);

class TfrmPrincipal : public QWidget, public TestRunView {
    Q_OBJECT
  public:
    TfrmPrincipal(Dialogs& dialogs, MainWindowOptions options, QWidget* parent = nullptr);
    ~TfrmPrincipal() override;  // FormDestroy

    // Event handlers.
    void FormCreate();
    void FormResize();
    void FormDestroy();
    void btIniciarClick();
    void btFrequenciaClick();
    void btComunicacaoClick();
    void btCalibracaoClick();
    void btFecharClick();

    // The desktop session is ending (logout, shutdown, the terminal closed) and nobody is left
    // to answer a question: a running test is stopped without one, its plates get their Stop
    // and the raw samples stay in the store; then the event loops end, and with them the
    // program.
    void EndSession();
    // Calls EndSession whenever `source` reports a termination signal.
    void EndSessionOn(TerminationSignals& source);

    // TestRunView.
    void SetStatusText(const std::string& text, bool repaintNow) override;
    std::string StartButtonCaption() const override;
    void SetStartButtonCaption(const std::string& caption) override;
    void HabilitarBotoes(bool enabled) override;
    void StartIdlePass() override;
    void StopIdlePass() override;
    bool EscapeHeld() override;
    ChartSink& Chart() override;

    StationState& State() { return state_; }
    Dialogs& StationDialogs() { return dialogs_; }
    TfrmProgBar& ProgressWindow() { return *frmProgBar; }
    TestRun& Run() { return *testRun_; }
    // The save dialog's initial folder (SalvarD).
    const QString& ExportFolder() const { return exportFolder_; }
    bool IdlePassRunning() const;

    TitleBand* pnTopo = nullptr;
    QLabel* lbPrincipal = nullptr;
    LoweredPanel* pnCentro = nullptr;
    QFrame* pnBarra = nullptr;
    PictureButton* btIniciar = nullptr;
    PictureButton* btFrequencia = nullptr;
    PictureButton* btComunicacao = nullptr;
    PictureButton* btCalibracao = nullptr;
    QFrame* pnDiv = nullptr;
    QLabel* lbAmostras = nullptr;
    QFrame* pnDiv1 = nullptr;
    LoadChart* g1 = nullptr;
    BottomBand* pnBottom = nullptr;
    QFrame* pnBarra1 = nullptr;
    PictureButton* btFechar = nullptr;

  protected:
    // The close box during a run ends the run as " Parar" does (the plates are stopped and
    // the save question is asked) before the window goes.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void BuildLayout();

    Dialogs& dialogs_;
    MainWindowOptions options_;
    StationState state_;
    QString exportFolder_;
    std::unique_ptr<TfrmProgBar> frmProgBar;
    std::unique_ptr<TestRun> testRun_;
    EscapeKeyMonitor* escapeKey_ = nullptr;
    QTimer* tmIdle_ = nullptr;
    bool destroyed_ = false;
};

}  // namespace kelvaro
