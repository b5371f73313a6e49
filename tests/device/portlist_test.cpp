// The port list on fake sysfs, /dev and virtual-port trees, and the comma-separated text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TempDir.h"
#include "device/untFuncoes.h"

namespace kelvaro {
namespace {

namespace fs = std::filesystem;
using kelvaro::testing::TempDir;
using kelvaro::testing::WriteFileBytes;

class PortListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        roots.sysClassTty = tmp.File("sys");
        roots.dev = tmp.File("dev");
        roots.virtualPorts = tmp.File("virtual ports");
        fs::create_directories(roots.sysClassTty);
        fs::create_directories(roots.dev);
        fs::create_directories(roots.virtualPorts);
    }
    // A tty in sysfs; `driver` adds device/driver, `type` writes the UART type file.
    void Tty(const std::string& name, bool driver, const char* type = nullptr,
             bool devNode = true) {
        fs::path dir = fs::path(roots.sysClassTty) / name;
        fs::create_directories(dir);
        if (driver)
            fs::create_directories(dir / "device" / "driver");
        if (type)
            WriteFileBytes((dir / "type").string(), type);
        if (devNode)
            WriteFileBytes(Dev(name), "");
    }
    std::string Dev(const std::string& name) { return (fs::path(roots.dev) / name).string(); }
    std::string Virtual(const std::string& name) {
        return (fs::path(roots.virtualPorts) / name).string();
    }

    TempDir tmp;
    PortListRoots roots;
};

TEST_F(PortListTest, ListsRealUartsAdaptersAndVirtualPlatesInAStableOrder) {
    Tty("ttyS0", true, "4\n");
    Tty("ttyS1", true, "0\n");  // PORT_UNKNOWN: no UART behind it
    Tty("ttyS10", true, "4\n");
    Tty("ttyS2", true, "4\n");
    Tty("ttyS3", false, "4\n");  // no driver
    Tty("ttyS4", true);          // no type file
    Tty("ttyUSB10", true);
    Tty("ttyUSB2", true);
    Tty("ttyUSB3", false);
    Tty("ttyACM0", true);
    Tty("ttyACM1", true, nullptr, false);  // no device node
    Tty("tty0", true);
    Tty("ttyUSBx", true);
    Tty("console", true);
    fs::create_symlink(Dev("ttyUSB2"), Virtual("Placa 2"));
    fs::create_symlink(Dev("ttyUSB2"), Virtual("Placa 10"));
    fs::create_symlink(Dev("ttyUSB2"), Virtual("P1"));
    fs::create_symlink(Dev("gone"), Virtual("Dangling"));
    WriteFileBytes(Virtual("plain-file"), "");

    const std::vector<std::string> expected{
        Dev("ttyS0"),   Dev("ttyS2"),  Dev("ttyS10"),      Dev("ttyUSB2"),      Dev("ttyUSB10"),
        Dev("ttyACM0"), Virtual("P1"), Virtual("Placa 2"), Virtual("Placa 10"),
    };
    EXPECT_EQ(ListSerialPortNames(roots), expected);
    const std::string text = ListSerialPorts(roots);
    EXPECT_EQ(SplitPortList(text), expected);  // paths with blanks survive the text
    EXPECT_NE(text.find("\"" + Virtual("Placa 2") + "\""), std::string::npos);
}

TEST_F(PortListTest, MissingRootsGiveAnEmptyText) {
    PortListRoots none{tmp.File("no-sys"), tmp.File("no-dev"), tmp.File("no-virtual")};
    EXPECT_TRUE(ListSerialPortNames(none).empty());
    EXPECT_EQ(ListSerialPorts(none), "");
}

TEST(VirtualPortFolder, FollowsXdgRuntimeDir) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(VirtualPortFolder(), "/run/user/4242/kelvaro-ports");
    setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(VirtualPortFolder(), "/tmp/kelvaro-ports");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(VirtualPortFolder(), "/tmp/kelvaro-ports");
    if (old)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

struct QuotingCase {
    std::vector<std::string> names;
    std::string text;
};

class PortListText : public ::testing::TestWithParam<QuotingCase> {};

TEST_P(PortListText, JoinsAndSplitsBothWays) {
    const auto& c = GetParam();
    EXPECT_EQ(JoinPortList(c.names), c.text);
    EXPECT_EQ(SplitPortList(c.text), c.names);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortListText,
    ::testing::Values(
        QuotingCase{{}, ""}, QuotingCase{{""}, "\"\""}, QuotingCase{{"COM1", "COM7"}, "COM1,COM7"},
        QuotingCase{{"/dev/ttyUSB0"}, "/dev/ttyUSB0"},
        QuotingCase{{"/tmp/a b/Placa 1", "COM2"}, "\"/tmp/a b/Placa 1\",COM2"},
        QuotingCase{{"say \"hi\""}, "\"say \"\"hi\"\"\""}, QuotingCase{{"a,b", "c"}, "\"a,b\",c"},
        QuotingCase{{"tab\there"}, "\"tab\there\""}, QuotingCase{{"COM1", ""}, "COM1,"},
        QuotingCase{{"", ""}, ","}, QuotingCase{{"", "COM3"}, ",COM3"}));

}  // namespace
}  // namespace kelvaro
