// The settings store's reads, writes, names and file format, and its handling of damaged
// files.
#include "settings/SettingsStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "TempDir.h"

namespace kelvaro {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

constexpr std::string_view D = kSettingsSection;

class SettingsStoreTest : public ::testing::Test {
  protected:
    std::string StoreFile() const { return dir_.File("Tovamu.Kelvaro.ini"); }
    void WriteFile(const std::string& bytes) const { WriteFileBytes(StoreFile(), bytes); }
    std::string FileText() const { return ReadFileBytes(StoreFile()); }

    TempDir dir_;
};

TEST_F(SettingsStoreTest, MissingFileReadsDefaultsAndIsNotCreatedByReading) {
    SettingsStore store(StoreFile());
    EXPECT_FALSE(store.WasDamaged());
    EXPECT_FALSE(store.KeyExists(D, "Frequencia"));
    EXPECT_EQ(store.ReadInteger(D, "Frequencia", 50), 50);
    EXPECT_TRUE(store.ReadBool(D, "check1", true));
    EXPECT_FALSE(store.ReadBool(D, "check2", false));
    EXPECT_EQ(store.ReadString(D, "u1", "kgf"), "kgf");
    EXPECT_TRUE(store.Close());
    EXPECT_FALSE(std::filesystem::exists(StoreFile()));
}

TEST_F(SettingsStoreTest, WritesAreSeenAtOnceAndByTheNextStore) {
    {
        SettingsStore store(StoreFile());
        store.WriteInteger(D, "Frequencia", 600);
        store.WriteString(D, "Porta2", "COM3");
        store.WriteBool(D, "check1", true);
        store.WriteBool(D, "check2", false);
        EXPECT_EQ(store.ReadInteger(D, "Frequencia", 50), 600);
        ASSERT_TRUE(store.Close());
    }
    EXPECT_EQ(FileText(), "[Dados]\nFrequencia=600\nPorta2=COM3\ncheck1=1\ncheck2=0\n");
    SettingsStore store(StoreFile());
    EXPECT_EQ(store.ReadInteger(D, "Frequencia", 50), 600);
    EXPECT_EQ(store.ReadString(D, "Porta2", ""), "COM3");
    EXPECT_TRUE(store.ReadBool(D, "check1", false));
    EXPECT_FALSE(store.ReadBool(D, "check2", true));
}

TEST_F(SettingsStoreTest, NamesIgnoreCaseAndKeepTheFirstSpelling) {
    {
        SettingsStore store(StoreFile());
        store.WriteString(D, "carga1", "75");
        store.WriteString("dados", "idc1", "1,0000");
        ASSERT_TRUE(store.Close());
    }
    {
        SettingsStore store(StoreFile());
        EXPECT_EQ(store.ReadString(D, "Carga1", "50"), "75");
        EXPECT_EQ(store.ReadString("DADOS", "IDC1", "1"), "1,0000");
        store.WriteString(D, "CARGA1", "80");
        store.WriteString(D, "IDC1", "2,5000");
        ASSERT_TRUE(store.Close());
    }
    EXPECT_EQ(FileText(), "[Dados]\ncarga1=80\nidc1=2,5000\n");
}

TEST_F(SettingsStoreTest, SectionsAreSeparate) {
    SettingsStore store(StoreFile());
    store.WriteString("Outra", "Frequencia", "100");
    EXPECT_FALSE(store.KeyExists(D, "Frequencia"));
    EXPECT_EQ(store.ReadInteger(D, "Frequencia", 50), 50);
    EXPECT_EQ(store.ReadInteger("OUTRA", "frequencia", 50), 100);
}

struct WholeNumberCase {
    const char* stored;
    std::int32_t expected;  // with default 50
};

std::ostream& operator<<(std::ostream& out, const WholeNumberCase& c) {
    return out << '"' << c.stored << '"';
}

class WholeNumberTest : public SettingsStoreTest,
                        public ::testing::WithParamInterface<WholeNumberCase> {};

TEST_P(WholeNumberTest, OnlyAValidWholeNumberReplacesTheDefault) {
    WriteFile(std::string("[Dados]\nFrequencia=") + GetParam().stored + "\n");
    SettingsStore store(StoreFile());
    EXPECT_EQ(store.ReadInteger(D, "Frequencia", 50), GetParam().expected);
    EXPECT_EQ(store.ReadBool(D, "Frequencia", true), GetParam().expected != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WholeNumberTest,
    ::testing::Values(
        WholeNumberCase{"100", 100}, WholeNumberCase{"-3", -3}, WholeNumberCase{"+7", 7},
        WholeNumberCase{"007", 7}, WholeNumberCase{"0", 0},
        WholeNumberCase{"2147483647", 2147483647}, WholeNumberCase{"-2147483648", -2147483647 - 1},
        // Not whole numbers: the default.
        WholeNumberCase{"abc", 50}, WholeNumberCase{"", 50}, WholeNumberCase{"1.5", 50},
        WholeNumberCase{"1,5", 50}, WholeNumberCase{" 12", 50}, WholeNumberCase{"12 ", 50},
        WholeNumberCase{"12abc", 50}, WholeNumberCase{"-", 50}, WholeNumberCase{"+-5", 50},
        WholeNumberCase{"0x10", 50}, WholeNumberCase{"1e3", 50}, WholeNumberCase{"2147483648", 50},
        WholeNumberCase{"-2147483649", 50}, WholeNumberCase{"99999999999999999999999", 50}));

TEST_F(SettingsStoreTest, BooleansAreWholeNumbersAndAnyNonZeroIsTrue) {
    WriteFile("[Dados]\ncheck1=-3\ncheck2=0\ncheck3=abc\ncheck4=2\n");
    SettingsStore store(StoreFile());
    EXPECT_TRUE(store.ReadBool(D, "check1", false));
    EXPECT_FALSE(store.ReadBool(D, "check2", true));
    EXPECT_TRUE(store.ReadBool(D, "check3", true));  // not a number: the default
    EXPECT_FALSE(store.ReadBool(D, "check3", false));
    EXPECT_TRUE(store.ReadBool(D, "check4", false));
    EXPECT_FALSE(store.ReadBool(D, "freq9", false));
    store.WriteBool(D, "check1", true);
    store.WriteBool(D, "check4", false);
    EXPECT_EQ(store.ReadString(D, "check1", ""), "1");
    EXPECT_EQ(store.ReadString(D, "check4", ""), "0");
}

TEST_F(SettingsStoreTest, WholeNumbersBeyond32BitsAreWrittenButReadAsTheDefault) {
    SettingsStore store(StoreFile());
    store.WriteInteger(D, "Teste", 4294967296LL);
    EXPECT_EQ(store.ReadString(D, "Teste", ""), "4294967296");
    EXPECT_EQ(store.ReadInteger(D, "Teste", 0), 0);
}

TEST_F(SettingsStoreTest, AnyTypedTextRoundTripsAndKeepsTheFileClean) {
    const std::string values[] = {"a=b=c",
                                  " blanks kept ",
                                  "linha 1\nlinha 2\r\nlinha 3",
                                  "C:\\dados\\novo\\",
                                  "\\n is not a line break",
                                  std::string("nul\0inside", 10),
                                  "[Dados]",
                                  ";not a comment",
                                  "#nor this",
                                  "Calibração ÇÃÉ €",
                                  "",
                                  "\\"};
    {
        SettingsStore store(StoreFile());
        for (std::size_t i = 0; i < std::size(values); ++i) {
            store.WriteString(D, "v" + std::to_string(i), values[i]);
        }
        // Names may hold the characters that structure the file, too.
        store.WriteString(D, "a=b", "1");
        store.WriteString(D, "[x]", "2");
        store.WriteString(D, ";k", "3");
        store.WriteString("Se[c]ão\n2", "k", "4");
        ASSERT_TRUE(store.Close());
    }
    const std::string text = FileText();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find('\0'), std::string::npos);

    SettingsStore store(StoreFile());
    EXPECT_FALSE(store.WasDamaged());
    for (std::size_t i = 0; i < std::size(values); ++i) {
        EXPECT_EQ(store.ReadString(D, "v" + std::to_string(i), "?"), values[i]) << i;
    }
    EXPECT_EQ(store.ReadString(D, "a=b", ""), "1");
    EXPECT_EQ(store.ReadString(D, "[x]", ""), "2");
    EXPECT_EQ(store.ReadString(D, ";k", ""), "3");
    EXPECT_EQ(store.ReadString("Se[c]ão\n2", "k", ""), "4");
    EXPECT_FALSE(store.KeyExists(D, "a"));
}

TEST_F(SettingsStoreTest, WrittenTextsAreMadeSafeForTheFile) {
    const std::string longValue(200 * 1024, 'x');
    {
        SettingsStore store(StoreFile());
        store.WriteString(D, "u1", "kg\xFF\xFE");  // not UTF-8 (a Windows-1252 text)
        store.WriteString(D, "longo", longValue);
        store.WriteString(D, "", "ignored");
        EXPECT_EQ(store.ReadString(D, "u1", ""), "kg\xEF\xBF\xBD\xEF\xBF\xBD");
        ASSERT_TRUE(store.Close());
    }
    SettingsStore store(StoreFile());
    EXPECT_FALSE(store.WasDamaged());
    EXPECT_EQ(store.ReadString(D, "u1", ""), "kg\xEF\xBF\xBD\xEF\xBF\xBD");
    const std::string cut = store.ReadString(D, "longo", "");
    EXPECT_GT(cut.size(), 60000u);
    EXPECT_LE(cut.size() + 6, SettingsStore::kMaxLineBytes);
    EXPECT_EQ(cut, longValue.substr(0, cut.size()));
    EXPECT_FALSE(store.KeyExists(D, ""));
}

TEST_F(SettingsStoreTest, HandEditedFilesAreNotDamage) {
    WriteFile(
        "\xEF\xBB\xBF; a comment\r\n"
        "\r\n"
        "# another comment\r\n"
        "  \t\r\n"
        "[dados]  \r\n"
        "Frequencia=200\r\n"
        "u1= kgf \r\n"
        "caminho=C:\\dados\\x\r\n"
        "[Outra]\r\n"
        "Frequencia=300");  // no final line break
    SettingsStore store(StoreFile());
    EXPECT_FALSE(store.WasDamaged());
    EXPECT_EQ(store.ReadInteger(D, "Frequencia", 50), 200);
    EXPECT_EQ(store.ReadString(D, "u1", ""), " kgf ");
    EXPECT_EQ(store.ReadString(D, "caminho", ""), "C:\\dados\\x");
    EXPECT_EQ(store.ReadInteger("Outra", "Frequencia", 50), 300);
    EXPECT_FALSE(std::filesystem::exists(StoreFile() + ".damaged"));
}

TEST_F(SettingsStoreTest, EmptyAndCommentOnlyFilesAreNotDamage) {
    for (const char* text : {"", "\n\n", "; nada\n# nada\n", "[Dados]\n"}) {
        WriteFile(text);
        SettingsStore store(StoreFile());
        EXPECT_FALSE(store.WasDamaged()) << text;
        EXPECT_FALSE(store.KeyExists(D, "Frequencia"));
    }
    EXPECT_FALSE(std::filesystem::exists(StoreFile() + ".damaged"));
}

TEST_F(SettingsStoreTest, LaterLinesOfTheSameKeyWin) {
    WriteFile("[Dados]\nFrequencia=100\n[DADOS]\nFREQUENCIA=200\n");
    SettingsStore store(StoreFile());
    EXPECT_FALSE(store.WasDamaged());
    EXPECT_EQ(store.ReadInteger(D, "Frequencia", 50), 200);
    store.WriteInteger(D, "t1", 0);
    ASSERT_TRUE(store.Close());
    EXPECT_EQ(FileText(), "[Dados]\nFrequencia=200\nt1=0\n");
}

template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

struct DamageCase {
    const char* name;
    std::string bad;  // lines placed among good ones
    bool atStart;     // placed before the first header instead
};

std::ostream& operator<<(std::ostream& out, const DamageCase& c) {
    return out << c.name;
}

class DamagedFileTest : public SettingsStoreTest,
                        public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedFileTest, KeepsTheGoodLinesACopyAndSavesCleanly) {
    const DamageCase& c = GetParam();
    const std::string original = (c.atStart ? c.bad + "\n" : "") + "[Dados]\nFrequencia=100\n" +
                                 (c.atStart ? "" : c.bad + "\n[Dados]\n") + "Porta1=COM3\nu1=kgf\n";
    WriteFile(original);
    {
        SettingsStore store(StoreFile());
        EXPECT_TRUE(store.WasDamaged());
        EXPECT_EQ(store.ReadInteger(D, "Frequencia", 50), 100);
        EXPECT_EQ(store.ReadString(D, "Porta1", ""), "COM3");
        EXPECT_EQ(store.ReadString(D, "u1", ""), "kgf");
        EXPECT_FALSE(store.KeyExists(D, "lixo"));
        store.WriteInteger(D, "Teste", 1);
        ASSERT_TRUE(store.Close());
    }
    EXPECT_EQ(ReadFileBytes(StoreFile() + ".damaged"), original);
    EXPECT_EQ(FileText(), "[Dados]\nFrequencia=100\nPorta1=COM3\nu1=kgf\nTeste=1\n");
    SettingsStore store(StoreFile());
    EXPECT_FALSE(store.WasDamaged());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedFileTest,
    ::testing::Values(DamageCase{"BinaryJunk",
                                 Bytes("\x7F"
                                       "ELF\x02\x01\x01\x00\xFF\xD8\xFF\x01lixo=1\x00\x10"),
                                 false},
                      DamageCase{"NulBytes", Bytes("lixo=\0\0\0"), false},
                      DamageCase{"LineWithoutEquals", "lixo sem igual", false},
                      DamageCase{"EmptyKeyName", "=lixo", false},
                      DamageCase{"HugeLine", "lixo=" + std::string(70 * 1024, 'x'), false},
                      DamageCase{"InvalidUtf8", "lixo=caf\xE9", false},
                      DamageCase{"OverlongUtf8", "lixo=\xC0\xAF", false},
                      DamageCase{"BrokenHeader", "[Dados\nlixo=1", false},
                      DamageCase{"MissingHeader", "lixo=1\nlixo2=2", true},
                      DamageCase{"JunkBeforeHeader", Bytes("\xFF\xFE\x00\x01"), true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SettingsStoreTest, KeyLinesBeforeAnyHeaderAreDropped) {
    const std::string original = "lixo=1\nFrequencia=400\n[Dados]\nPorta1=COM3\n";
    WriteFile(original);
    SettingsStore store(StoreFile());
    EXPECT_TRUE(store.WasDamaged());
    EXPECT_FALSE(store.KeyExists(D, "lixo"));
    EXPECT_EQ(store.ReadInteger(D, "Frequencia", 50), 50);
    EXPECT_EQ(store.ReadString(D, "Porta1", ""), "COM3");
    EXPECT_EQ(ReadFileBytes(StoreFile() + ".damaged"), original);
}

TEST_F(SettingsStoreTest, TheLatestDamagedFileIsTheCopyKept) {
    WriteFile("[Dados]\nprimeiro\n");
    { SettingsStore store(StoreFile()); }
    EXPECT_EQ(ReadFileBytes(StoreFile() + ".damaged"), "[Dados]\nprimeiro\n");
    WriteFile("[Dados]\nsegundo\n");
    { SettingsStore store(StoreFile()); }
    EXPECT_EQ(ReadFileBytes(StoreFile() + ".damaged"), "[Dados]\nsegundo\n");
    std::size_t copies = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
        copies += entry.path().filename().string().find("damaged") != std::string::npos;
    }
    EXPECT_EQ(copies, 1u);
}

TEST_F(SettingsStoreTest, AWholeFileOfJunkDoesNotCrash) {
    std::string junk;
    unsigned state = 12345;
    for (int i = 0; i < 300000; ++i) {
        state = state * 1103515245u + 12345u;
        junk += static_cast<char>(state >> 24);
    }
    WriteFile(junk);
    SettingsStore store(StoreFile());
    store.WriteString(D, "u1", "kgf");
    ASSERT_TRUE(store.Close());
    SettingsStore again(StoreFile());
    EXPECT_FALSE(again.WasDamaged());
    EXPECT_EQ(again.ReadString(D, "u1", ""), "kgf");
}

TEST_F(SettingsStoreTest, DestructorSavesPendingWrites) {
    {
        SettingsStore store(StoreFile());
        store.WriteString(D, "btt1", "Remover Tara");
    }
    SettingsStore store(StoreFile());
    EXPECT_EQ(store.ReadString(D, "btt1", "Tara"), "Remover Tara");
}

TEST_F(SettingsStoreTest, SavingCreatesMissingFolders) {
    const std::string path = dir_.File("a/b/c/Tovamu.Kelvaro.ini");
    SettingsStore store(path);
    store.WriteInteger(D, "Frequencia", 150);
    ASSERT_TRUE(store.Close());
    EXPECT_EQ(ReadFileBytes(path), "[Dados]\nFrequencia=150\n");
}

class DefaultPathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"XDG_CONFIG_HOME", "HOME"}) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(DefaultPathTest, FollowsXdgConfigHomeElseHome) {
    setenv("HOME", "/home/operador", 1);
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), "/cfg/Tovamu.Kelvaro.ini");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsStore::DefaultPath(), "/home/operador/.config/Tovamu.Kelvaro.ini");
    setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), "/home/operador/.config/Tovamu.Kelvaro.ini");
    setenv("XDG_CONFIG_HOME", "relativo", 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), "/home/operador/.config/Tovamu.Kelvaro.ini");
}

}  // namespace
}  // namespace kelvaro
