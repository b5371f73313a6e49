#include "ui/FreshKeys.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <chrono>

namespace kelvaro {

namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Scan codes are small numbers; Qt keys get the top bit so the two never meet.
std::uint32_t KeyId(const QKeyEvent& key) {
    if (key.nativeScanCode() != 0) {
        return key.nativeScanCode();
    }
    return 0x80000000U | static_cast<std::uint32_t>(key.key());
}

}  // namespace

FreshKeyPolicy::FreshKeyPolicy(std::int64_t openedAtMs, const std::vector<std::uint32_t>& keysDown,
                               Timing timing)
    : openedAtMs_(openedAtMs), timing_(timing) {
    for (const std::uint32_t key : keysDown) {
        keys_[key].down = true;
    }
}

bool FreshKeyPolicy::Press(std::uint32_t key, bool autoRepeat, std::int64_t nowMs) {
    KeyState& state = keys_[key];
    const bool fresh = !autoRepeat && !state.down && nowMs - openedAtMs_ >= timing_.graceMs &&
                       !(state.released && nowMs - state.releasedAtMs < timing_.repeatGapMs);
    state.down = true;
    state.answered = state.answered || fresh;
    return fresh;
}

bool FreshKeyPolicy::Release(std::uint32_t key, bool autoRepeat, std::int64_t nowMs) {
    KeyState& state = keys_[key];
    if (autoRepeat) {
        return false;  // the key is still down
    }
    const bool deliver = state.answered;
    state.down = false;
    state.answered = false;
    state.released = true;
    state.releasedAtMs = nowMs;
    return deliver;
}

FreshKeyFilter::FreshKeyFilter(const KeysDownQuery& keysDown, FreshKeyPolicy::Timing timing)
    : policy_(NowMs(), keysDown ? keysDown() : std::vector<std::uint32_t>{}, timing) {
    QCoreApplication::instance()->installEventFilter(this);
}

FreshKeyFilter::~FreshKeyFilter() {
    QCoreApplication::instance()->removeEventFilter(this);
}

bool FreshKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    const bool press = event->type() == QEvent::KeyPress;
    if ((press || event->type() == QEvent::KeyRelease) && watched->isWindowType()) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        const bool deliver = press ? policy_.Press(KeyId(*key), key->isAutoRepeat(), NowMs())
                                   : policy_.Release(KeyId(*key), key->isAutoRepeat(), NowMs());
        if (!deliver) {
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace kelvaro
