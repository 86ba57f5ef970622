#include "platform/profile/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/scratch.h"

namespace mbus::profile {
namespace {

using testsupport::ScratchDirectory;
using namespace std::string_literals;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ReadCase {
    const char* what;
    std::string text;
    const char* section;
    const char* key;
    std::string expected;  // "<default>" when the key is not found
};

TEST(IniFileRead, FindsValuesAsTheWindowsProfileFunctionsDo) {
    const ReadCase cases[] = {
        {"plain CR LF", "[A]\r\nkey=value\r\n", "A", "key", "value"},
        {"names without regard to case", "[Meridex]\nLanguage=49\n", "MERIDEX", "lANGUAGE", "49"},
        {"blanks around names and values", "  [ A ]  \n\t key \t=  v a l \t\n", " A", "key ", "v a l"},
        {"quotes around the value", "[A]\nk= \"  x  \" \n", "A", "k", "  x  "},
        {"one quote only stays", "[A]\nk=\"x\n", "A", "k", "\"x"},
        {"a lone quote stays", "[A]\nk=\"\n", "A", "k", "\""},
        {"value with equals signs", "[A]\nk=a=b\n", "A", "k", "a=b"},
        {"empty value is found", "[A]\nk=\n", "A", "k", ""},
        {"missing key", "[A]\nother=1\n", "A", "k", "<default>"},
        {"missing section", "[B]\nk=1\n", "A", "k", "<default>"},
        {"first of two key lines", "[A]\nk=1\nk=2\n", "A", "k", "1"},
        {"only the first section of a name", "[A]\nx=1\n[B]\n[a]\nk=2\n", "A", "k", "<default>"},
        {"lines before the first section", "k=1\n[A]\n", "A", "k", "<default>"},
        {"... are no section, not even the empty one", "k=1\n[A]\n", "", "k", "<default>"},
        {"the empty section name", "[]\nk=1\n", "", "k", "1"},
        {"comment line", "[A]\n;k=1\n", "A", "k", "<default>"},
        {"'[' without ']' is no header", "[A]\n[B\nk=1\n", "A", "k", "1"},
        {"header name ends at the last ']'", "[a]b]\nk=1\n", "a]b", "k", "1"},
        {"no final line end", "[A]\nk=v", "A", "k", "v"},
        {"stray carriage return before the line end", "[A]\nk=v\r\r\n", "A", "k", "v"},
        {"NUL bytes are kept", "[A]\nk=a\0b\n"s, "A", "k", "a\0b"s},
        {"upper-half bytes are kept", "[A]\nk=M\xFCller\n", "A", "k", "M\xFCller"},
        {"empty key name is no key", "[A]\n=x\n", "A", "", "<default>"},
    };
    for (const ReadCase& c : cases) {
        const IniFile ini = IniFile::Parse(c.text);
        EXPECT_EQ(ini.GetString(c.section, c.key, "<default>"), c.expected) << c.what;
    }
}

TEST(IniFileRead, IntegersReadSignAndLeadingDigits) {
    const struct {
        const char* line;  // "" for no key at all
        int expected;
    } cases[] = {
        {"k=12", 12},
        {"k=12abc", 12},
        {"k=-12", -12},
        {"k=+7", 7},
        {"k= 42 ", 42},
        {"k=\"5\"", 5},
        {"k=1.9", 1},
        {"k=abc", 0},
        {"k=0x10", 0},
        {"k=- 1", 0},
        {"k=99999999999", INT_MAX},
        {"k=-99999999999", INT_MIN},
        {"k=", 77},  // an empty value gives the default, as GetPrivateProfileInt does
        {"", 77},
    };
    for (const auto& c : cases) {
        const IniFile ini = IniFile::Parse("[A]\n"s + c.line + "\n");
        EXPECT_EQ(ini.GetInt("A", "K", 77), c.expected) << c.line;
    }
}

TEST(IniFileRead, UnchangedFileRendersItsTextByteForByte) {
    const std::string texts[] = {
        "",
        "[A]\r\nk=v\r\n",
        "no section\nk=1\n[A]\r\nmixed=1\n\n\n;c\r\n[B",
        "[A]\nk=a\0b\xff\xfe"s,
        "\r\r\n\r",
        "[A]\n" + std::string(200000, 'x') + "=" + std::string(100000, 'y'),
    };
    for (const std::string& text : texts) EXPECT_EQ(IniFile::Parse(text).Text(), text);
}

TEST(IniFileRead, ListsSectionsOnceAndEntriesWithTheirLines) {
    const IniFile ini = IniFile::Parse("x=0\n[One]\na = 1\n; c\nB=\"2\"\n[two]\n[ONE]\nc=3\n");
    EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"One", "two"}));
    const std::vector<IniEntry> entries = ini.Entries("one");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].key, "a");
    EXPECT_EQ(entries[0].value, "1");
    EXPECT_EQ(entries[0].line, 3);
    EXPECT_EQ(entries[1].key, "B");
    EXPECT_EQ(entries[1].value, "2");
    EXPECT_EQ(entries[1].line, 5);
    EXPECT_TRUE(ini.Entries("two").empty());
    EXPECT_TRUE(ini.HasSection("TWO"));
    EXPECT_FALSE(ini.HasSection("three"));
}

struct WriteCase {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

TEST(IniFileWrite, ChangesOnlyTheLineOfTheKey) {
    const WriteCase cases[] = {
        {"in place, keeping the layout before the value", "; head\r\n[A]\r\n  Key = old  \r\nx=1\r\n\r\n[B]\r\ny=2\r\n",
         "a", "KEY", "new", "; head\r\n[A]\r\n  Key = new\r\nx=1\r\n\r\n[B]\r\ny=2\r\n"},
        {"new key after the last key of its section", "[A]\nx=1\n\n; about B\n[B]\ny=2\n", "A", "z", "3",
         "[A]\nx=1\nz=3\n\n; about B\n[B]\ny=2\n"},
        {"new key in a section without keys", "[A]\n; none\n[B]\n", "A", "k", "v", "[A]\nk=v\n; none\n[B]\n"},
        {"new section at the end", "[A]\nx=1\n", "C", "k", "v", "[A]\nx=1\n[C]\nk=v\n"},
        {"new file is written with CR LF", "", "S", "k", "v", "[S]\r\nk=v\r\n"},
        {"file without any line end gets CR LF", "[A]", "A", "k", "v", "[A]\r\nk=v\r\n"},
        {"last line without line end gets one before a new line", "[A]\nx=1", "A", "y", "2", "[A]\nx=1\ny=2\n"},
        {"last line changed in place keeps having none", "[A]\nx=1", "A", "x", "5", "[A]\nx=5"},
        {"the first of two key lines", "[A]\nk=1\nk=2\n", "A", "k", "3", "[A]\nk=3\nk=2\n"},
        {"the first section of a name", "[A]\nx=1\n[a]\nk=2\n", "A", "k", "3", "[A]\nx=1\nk=3\n[a]\nk=2\n"},
        {"lines before the first section stay", "k=1\n[A]\n", "A", "k", "2", "k=1\n[A]\nk=2\n"},
        {"blanks at the ends are kept by quotes", "[A]\n", "A", "k", " a ", "[A]\nk=\" a \"\n"},
        {"a quoted value keeps its quotes", "[A]\n", "A", "k", "\"q\"", "[A]\nk=\"\"q\"\"\n"},
        {"the style of the first line end", "[A]\r\nx=1\ny=2\n", "B", "k", "v", "[A]\r\nx=1\ny=2\n[B]\r\nk=v\r\n"},
    };
    for (const WriteCase& c : cases) {
        IniFile ini = IniFile::Parse(c.before);
        EXPECT_TRUE(ini.WriteString(c.section, c.key, c.value)) << c.what;
        EXPECT_EQ(ini.Text(), c.after) << c.what;
    }
}

TEST(IniFileWrite, WrittenValuesReadBackUnchanged) {
    const std::string values[] = {"", " lead", "trail\t", "\"q\"", "\"", "\"\"", "a=b", ";x", "[x]", "M\xFC", "a\0b"s};
    for (const std::string& value : values) {
        IniFile ini = IniFile::Parse("[A]\nk=old\n");
        ASSERT_TRUE(ini.WriteString("A", "k", value));
        ASSERT_TRUE(ini.WriteString("New", "k", value));
        const IniFile again = IniFile::Parse(ini.Text());
        EXPECT_EQ(again.GetString("A", "k"), value);
        EXPECT_EQ(again.GetString("New", "k"), value);
    }
    IniFile ini;
    ASSERT_TRUE(ini.WriteInt("A", "n", -2147483647 - 1));
    EXPECT_EQ(IniFile::Parse(ini.Text()).GetInt("A", "n", 0), INT_MIN);
}

TEST(IniFileWrite, RefusesNamesAndValuesThatWouldNotReadBack) {
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"A", "", "v"},   {"A", "  ", "v"},    {"A", "a=b", "v"},  {"A", "[x", "v"},  {"A", ";x", "v"},
        {"A", "a\nb", "v"}, {"A", "k", "a\nb"}, {"A", "k", "a\rb"}, {"a\nb", "k", "v"}, {"a\r", "k", "v"},
    };
    for (const auto& c : cases) {
        IniFile ini = IniFile::Parse("[A]\nk=1\n");
        EXPECT_FALSE(ini.WriteString(c.section, c.key, c.value)) << c.section << "/" << c.key << "/" << c.value;
        EXPECT_EQ(ini.Text(), "[A]\nk=1\n");
    }
}

TEST(IniFileDelete, KeyLinesGoAndEverythingElseStays) {
    IniFile ini = IniFile::Parse("[A]\r\nk=1\r\n; c\r\nK = 2\r\nx=3\r\n[B]\r\nk=4\r\n");
    EXPECT_TRUE(ini.DeleteKey("a", "k"));
    EXPECT_EQ(ini.Text(), "[A]\r\n; c\r\nx=3\r\n[B]\r\nk=4\r\n");
    EXPECT_FALSE(ini.DeleteKey("A", "k"));
    EXPECT_FALSE(ini.DeleteKey("C", "k"));
}

TEST(IniFileDelete, SectionGoesWithAllItsLinesAndItsDuplicates) {
    IniFile ini = IniFile::Parse("top\n[A]\nk=1\n; about A\n\n[B]\nx=1\n[a]\nk=2\n");
    EXPECT_TRUE(ini.DeleteSection("A"));
    EXPECT_EQ(ini.Text(), "top\n[B]\nx=1\n");
    EXPECT_FALSE(ini.HasSection("A"));
    EXPECT_FALSE(ini.DeleteSection("A"));
}

// The named keys' first lines lead, in the order given, from where the
// section's first key was; duplicates, other keys, comments and other
// sections stay in their order. A last line without line end moved up gets one.
TEST(IniFileOrder, NamedKeysLeadTheSectionInTheGivenOrder) {
    IniFile ini = IniFile::Parse("[B]\nz=0\n[A]\n; about A\nk=1\nother=x\n; c\nK = 2\nm =3\n\nn=4");
    ini.OrderKeys("a", {"n", "missing", "M", "k", "n"});
    EXPECT_EQ(ini.Text(), "[B]\nz=0\n[A]\n; about A\nn=4\nm =3\nk=1\nother=x\n; c\nK = 2\n\n");
    EXPECT_EQ(ini.GetString("A", "k"), "1");
    ini.OrderKeys("none", {"k"});
    EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"B", "A"}));
}

TEST(IniFileFiles, MissingFileIsAnEmptyProfile) {
    ScratchDirectory dir;
    IniFile ini = IniFile::Parse("[A]\nk=1\n");
    std::string error;
    EXPECT_TRUE(LoadIniFile(dir.File("none.ini"), &ini, &error));
    EXPECT_EQ(ini.Text(), "");
    EXPECT_EQ(error, "");
}

TEST(IniFileFiles, UnreadableFileIsAnErrorNamingIt) {
    ScratchDirectory dir;
    const std::string path = dir.File("a-directory.ini");
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    IniFile ini;
    std::string error;
    EXPECT_FALSE(LoadIniFile(path, &ini, &error));
    EXPECT_EQ(error, path + ": is a directory");
}

TEST(IniFileFiles, SaveCreatesTheDirectoryAndLoadReadsTheSameBytes) {
    ScratchDirectory dir;
    const std::string path = dir.File("deeper/still/x.ini");
    IniFile ini = IniFile::Parse("; kept\n[A]\nk=a\0b\n"s);
    ASSERT_TRUE(ini.WriteString("B", "n", "1"));
    std::string error;
    ASSERT_TRUE(SaveIniFile(path, ini, &error)) << error;
    EXPECT_EQ(ReadFile(path), ini.Text());
    IniFile loaded;
    ASSERT_TRUE(LoadIniFile(path, &loaded, &error)) << error;
    EXPECT_EQ(loaded.Text(), ini.Text());
}

TEST(IniFileFiles, SaveReplacesTheFileKeepingItsModeLinkAndNoTemporaryFile) {
    ScratchDirectory dir;
    const std::string real = dir.WriteFile("real.ini", "[A]\nk=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
    const std::string link = dir.File("link.ini");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    std::string error;
    ASSERT_TRUE(SaveIniFile(link, IniFile::Parse("[A]\nk=2\n"), &error)) << error;
    EXPECT_EQ(ReadFile(real), "[A]\nk=2\n");
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) files += entry.exists() ? 1 : 0;
    EXPECT_EQ(files, 2);
}

// A new settings file is its owner's alone, and the umask may take away
// more but never gives more.
TEST(IniFileFiles, NewFileIsReadableByItsOwnerAloneWhateverTheUmask) {
    ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        SCOPED_TRACE(mask);
        const std::string path = dir.File("new-" + std::to_string(mask) + ".ini");
        {
            testsupport::ScopedUmask umask(mask);
            std::string error;
            ASSERT_TRUE(SaveIniFile(path, IniFile::Parse("[A]\nk=1\n"), &error)) << error;
        }
        struct stat st;
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST(IniFileFiles, SaveFailureNamesTheFileAndTheReason) {
    ScratchDirectory dir;
    const std::string blocker = dir.WriteFile("plain", "not a directory");
    std::string error;
    EXPECT_FALSE(SaveIniFile(blocker + "/x.ini", IniFile(), &error));
    EXPECT_EQ(error, blocker + "/x.ini: cannot create the directory " + blocker + " (Not a directory)");
    EXPECT_EQ(ReadFile(blocker), "not a directory");
}

}  // namespace
}  // namespace mbus::profile
