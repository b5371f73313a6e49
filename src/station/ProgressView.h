// The progress window as the domain operations see it: a bar with a maximum and a position,
// shown above the current screen while a long operation blocks the user-interface thread.
#pragma once

namespace kelvaro {

class ProgressView {
  public:
    virtual ~ProgressView() = default;
    virtual void SetMaximum(int maximum) = 0;
    virtual void SetPosition(int position) = 0;
    virtual int Position() const = 0;
    virtual void Show() = 0;
    virtual void Close() = 0;
};

}  // namespace kelvaro
