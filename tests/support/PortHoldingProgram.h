// Another program on a plate's line: `cat` reading the device in a process of its own, opened
// without a lock, as a terminal program or a modem manager would hold it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace kelvaro::testing {

class PortHoldingProgram {
  public:
    // Starts `cat` with the device as its input; Holding() tells whether it could open it.
    explicit PortHoldingProgram(const std::string& devicePath);
    ~PortHoldingProgram();  // ends it
    PortHoldingProgram(const PortHoldingProgram&) = delete;
    PortHoldingProgram& operator=(const PortHoldingProgram&) = delete;

    // The program holding the port, or nothing when it could not open it.
    static std::shared_ptr<PortHoldingProgram> Start(const std::string& devicePath);

    bool Holding() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    void End();

  private:
    pid_t pid_ = -1;
};

}  // namespace kelvaro::testing
