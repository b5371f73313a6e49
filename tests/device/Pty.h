// A pseudo-terminal for device tests: the test drives the master side, the channel under
// test opens the slave path. The test keeps a slave descriptor of its own open so the
// terminal outlives the channel, and both ends are raw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvaro::testing {

using Bytes = std::vector<std::uint8_t>;

class Pty {
  public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& Path() const { return path_; }
    int SlaveFd() const { return slave_; }
    // Writes all bytes into the master (the channel reads them).
    void Write(const Bytes& bytes);
    // Reads what the channel wrote: up to `max` bytes, waiting at most `timeoutMs` for each.
    Bytes Read(std::size_t max, int timeoutMs);
    // Closes the master side: the port "is unplugged".
    void CloseMaster();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// A frame with a correct checksum: 0A C0 D0 fn N data cks 0F.
Bytes MakeFrame(std::uint8_t function, const Bytes& data);
// Milliseconds elapsed on a steady clock since `start` (from NowMs()).
long long NowMs();

}  // namespace kelvaro::testing
