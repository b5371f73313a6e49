// A temporary folder removed with everything in it when the object goes.
#pragma once

#include <filesystem>
#include <string>

namespace kelvaro::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Reads a whole file as bytes ("" when missing).
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Binds a unix socket at `path` and closes it; the socket stays in the folder. False on failure.
bool MakeSocketFile(const std::string& path);

}  // namespace kelvaro::testing
