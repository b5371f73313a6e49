// Which key presses a message box that has just opened may act on: only a key pressed after
// the box appeared, so Escape held down to stop a run cannot answer the save question.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace kelvaro {

// The decision for one box, on the times (in milliseconds, any monotonic origin) at which its
// key events arrive. A key is identified by its native scan code where the platform gives one
// (on X11 the key code, which the server's key map is indexed by), else by its Qt key.
//
// A press reaches the box only when it is fresh: not flagged as auto-repeated, not within the
// grace time after the box opened, not of a key that is still down (held when the box opened,
// or pressed since and not released), and not following that key's release within the repeat
// gap. The last two catch X11 auto-repeat, which arrives as release/press pairs that Qt flags
// only now and then. A release reaches the box only after a press that did.
class FreshKeyPolicy {
  public:
    struct Timing {
        int graceMs = 300;
        int repeatGapMs = 100;
    };

    FreshKeyPolicy(std::int64_t openedAtMs, const std::vector<std::uint32_t>& keysDown,
                   Timing timing);

    bool Press(std::uint32_t key, bool autoRepeat, std::int64_t nowMs);
    bool Release(std::uint32_t key, bool autoRepeat, std::int64_t nowMs);

  private:
    struct KeyState {
        bool down = false;
        bool answered = false;  // its press reached the box
        std::int64_t releasedAtMs = 0;
        bool released = false;
    };

    std::int64_t openedAtMs_;
    Timing timing_;
    std::map<std::uint32_t, KeyState> keys_;
};

// The keys held down on the desktop right now, by native scan code (empty when unknown).
using KeysDownQuery = std::function<std::vector<std::uint32_t>()>;

// Applies a FreshKeyPolicy to every key event the window system delivers while it lives
// (installed on the application; events reach a window first, so each is decided once).
class FreshKeyFilter : public QObject {
  public:
    explicit FreshKeyFilter(const KeysDownQuery& keysDown,
                            FreshKeyPolicy::Timing timing = FreshKeyPolicy::Timing{});
    ~FreshKeyFilter() override;
    FreshKeyFilter(const FreshKeyFilter&) = delete;
    FreshKeyFilter& operator=(const FreshKeyFilter&) = delete;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    FreshKeyPolicy policy_;
};

}  // namespace kelvaro
