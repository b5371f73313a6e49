// The communication screen's refresh pass without widgets: lists the serial ports, probes the
// ports no found plate holds, numbers the plates found and checks every found plate again.
// The pass never waits on a plate: it asks its screen to call it back when a wait is over, and
// all the ports it probes (and all the plates it checks) answer at the same time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/PendingExchange.h"
#include "device/PortHolders.h"
#include "device/SerialChannel.h"
#include "station/Dialogs.h"
#include "station/StationState.h"

namespace kelvaro {

inline constexpr std::string_view kStatusWaiting = " Aguarde ...";
inline constexpr std::string_view kStatusUpdating = " Atualizando portas ...";
inline constexpr std::string_view kStatusNoPorts =
    "Não foram localizadas Portas Seriais neste Computador...";
inline constexpr std::string_view kStatusTrying =
    "Aguarde enquanto o sistema tenta estabelecer comunicação com os dispositivos.";
inline constexpr std::string_view kPlateNotSelected = "Dispositivo não selecionado.";
inline constexpr std::string_view kPlateNotFound = "Dispositivo não encontrado.";
inline constexpr std::string_view kPlateFoundOnPort = "Dispositivo encontrado. Porta: ";

inline constexpr int kFirstRefreshMs = 1000;
inline constexpr int kRefreshMs = 2000;
inline constexpr int kFinderQueueSize = 8192;
// Line reset of a probed port: DTR low, wait, purge, wait, DTR high.
inline constexpr int kProbeSettleMs = 200;
// Wait after opening a found port for its plate, before the purge.
inline constexpr int kTakeSettleMs = 100;
// How often a pass looks for the replies of the plates it asked, and for the end of its look
// for other programs holding the ports.
inline constexpr int kReplyPollMs = 10;

// What the refresh pass needs of its screen. Plate numbers are 1..4.
class PlateFinderView {
  public:
    virtual ~PlateFinderView() = default;
    // Shows the text and paints it before returning.
    virtual void ShowSearchStatusNow(const std::string& text) = 0;
    virtual void ShowHint(const std::string& text) = 0;
    virtual void ShowPlateStatus(int plate, const std::string& text) = 0;
    virtual bool PlateTicked(int plate) const = 0;
    virtual void ShowPorts(const std::vector<std::string>& ports) = 0;
    virtual void SetRefreshInterval(int milliseconds) = 0;
    // Asks for PlateFinder::Step to be called once, `milliseconds` from now.
    virtual void ScheduleStep(int milliseconds) = 0;
};

class PlateFinder {
  public:
    // `os` is the serial seam every channel opened here uses and must outlive the station's
    // plate channels.
    PlateFinder(StationState& state, PlateFinderView& view, Dialogs& dialogs,
                SerialOs& os = SerialOs::System());
    ~PlateFinder();  // releases the ports being probed
    PlateFinder(const PlateFinder&) = delete;
    PlateFinder& operator=(const PlateFinder&) = delete;

    // One timer tick: starts a refresh pass, or only blinks while one is still running.
    void Refresh();
    // Goes on with the running pass once the wait it scheduled is over.
    void Step();
    // Ends a running pass at once (the screen is closing): the ports being probed are released
    // and no plate's status changes.
    void Abort();

    bool PassRunning() const { return phase_ != Phase::Idle; }
    // The port scan of the running pass has not finished.
    bool IsSearching() const { return searching_; }
    std::uint8_t FailureCount(int plate) const { return failureCounts_.at(plate - 1); }
    // The serial ports of the last listing, in list order.
    const std::vector<std::string>& PortNames() const { return portNames_; }

    // The list order of the port names: ascending, ignoring ASCII letter case.
    static void SortPortNames(std::vector<std::string>& names);

    // Where the look for other programs holding the ports walks (/proc, or a fake tree), and
    // what runs on the looking thread first (tests record the thread and hold it).
    void SetHolderLook(std::string procRoot, std::function<void()> beforeLook);

  private:
    enum class Phase {
        Idle,
        Looking,
        ProbeLineLow,
        ProbePurged,
        ProbeReplies,
        TakeSettle,
        Storing,
        Checks
    };
    struct Probe {
        std::string port;
        ChannelSlot slot;
        std::optional<PendingExchange> identify;
    };

    // The scan: every port that no found plate holds is probed at once, and each answering
    // plate of an accepted model goes to the lowest plate number not yet found.
    void StartScan();
    // Once the look has ended: opens the candidate ports no other program holds.
    void OpenProbes();
    void AskProbes();
    void TakeAnsweringPorts();
    void FinishScan();
    // The check of every ticked plate's channel, all plates asked at once.
    void StartChecks();
    void DecideChecks();
    // Takes the replies that have arrived; true while any exchange still waits for its own.
    static bool StillWaiting(std::optional<PendingExchange>& exchange);
    bool OthersFoundLeaveNoPort(int plate) const;
    bool PassedCheck(int plate) const;
    bool AnyTicked() const;
    bool AllFound() const;
    bool HeldByFoundPlate(const std::string& port) const;
    void ReleaseProbes();
    void StoreFoundPorts();
    void Fail(int plate);

    StationState& state_;
    PlateFinderView& view_;
    Dialogs& dialogs_;
    SerialOs& os_;
    Phase phase_ = Phase::Idle;
    std::vector<Probe> probes_;
    // The ports the scan may probe, and the look (on its own thread) for their other holders.
    std::vector<std::string> candidates_;
    std::unique_ptr<PortHolderLook> look_;
    std::string procRoot_ = "/proc";
    std::function<void()> beforeLook_;
    std::vector<int> taken_;
    std::array<std::optional<PendingExchange>, kPlateCount> checks_;
    std::array<std::uint8_t, kPlateCount> failureCounts_{};
    std::vector<std::string> portNames_;
    bool searching_ = false;
    // The search status blinks between two texts, one per tick; the screen opens on a third.
    bool statusWaiting_ = false;
    // A failed save is told once, not on every scan, until a save succeeds again.
    bool saveFailureShown_ = false;
};

}  // namespace kelvaro
