// The progress window as the domain operations see it: a bar with a maximum and a position,
// shown above the current screen while a long operation works, optionally with a way out.
#pragma once

#include <functional>

namespace kelvaro {

class ProgressView {
  public:
    virtual ~ProgressView() = default;
    virtual void SetMaximum(int maximum) = 0;
    virtual void SetPosition(int position) = 0;
    virtual int Position() const = 0;
    virtual void Show() = 0;
    virtual void Close() = 0;
    // Shows the window with a way for the operator to cancel and calls `step` again and again,
    // letting the window system handle its events in between, until `step` returns false or
    // the operator cancels; then closes the window. True when the operator cancelled. `step`
    // must return within a few tens of milliseconds. This default has nothing to cancel with
    // and only steps; the progress window on screen overrides it.
    virtual bool RunCancellable(const std::function<bool()>& step) {
        Show();
        while (step()) {
        }
        Close();
        return false;
    }
};

}  // namespace kelvaro
