// The communication screen's refresh pass without widgets: lists the serial ports, probes the
// ports no found plate holds, numbers the plates found and checks every found plate again.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "device/untFuncoes.h"
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

// What the refresh pass needs of its screen. Plate numbers are 1..4.
class PlateFinderView {
  public:
    virtual ~PlateFinderView() = default;
    virtual std::string Status1() const = 0;
    // Shows the text and paints it before returning: the pass may block for seconds after.
    virtual void ShowStatus1Now(const std::string& text) = 0;
    virtual void ShowStatus2(const std::string& text) = 0;
    virtual void ShowPlateStatus(int plate, const std::string& text) = 0;
    virtual bool PlateTicked(int plate) const = 0;
    virtual void ShowPorts(const std::vector<std::string>& ports) = 0;
    virtual void SetRefreshInterval(int milliseconds) = 0;
};

class PlateFinder {
  public:
    using SleepFunction = std::function<void(int milliseconds)>;

    // `sleep` defaults to a real wait; `os` is the serial seam every channel opened here uses
    // and must outlive the station's plate channels.
    PlateFinder(StationState& state, PlateFinderView& view, Dialogs& dialogs,
                SleepFunction sleep = {}, SerialOs& os = SerialOs::System());
    ~PlateFinder();  // releases the probe slot
    PlateFinder(const PlateFinder&) = delete;
    PlateFinder& operator=(const PlateFinder&) = delete;

    // One timer tick.
    void Refresh();
    // The port scan: probes the listed ports and gives every answering one to the lowest plate
    // number not yet found, then stores the ports of the found plates.
    void ProcurarPlacas();

    bool BuscaEmAndamento() const { return buscaEmAndamento_; }
    std::uint8_t FalhasPlaca(int plate) const { return falhasPlaca_.at(plate - 1); }

    // The list order of the port names: ascending, ignoring ASCII letter case.
    static void SortPortNames(std::vector<std::string>& names);

  private:
    void CheckPlate(int plate);
    bool PassesCheck(int plate);
    bool AnyTicked() const;
    bool AllFound() const;
    bool HeldByFoundPlate(const std::string& port) const;
    bool ProbePort(const std::string& port);
    void TakePort(const std::string& port);
    void StoreFoundPorts();
    void Fail(int plate);

    StationState& state_;
    PlateFinderView& view_;
    Dialogs& dialogs_;
    SleepFunction sleep_;
    SerialOs& os_;
    ChannelSlot probe_;
    std::array<std::uint8_t, kPlateCount> falhasPlaca_{};
    bool buscaEmAndamento_ = false;
    // A failed save is told once, not on every scan, until a save succeeds again.
    bool saveFailureShown_ = false;
};

}  // namespace kelvaro
