#include "platform/com/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "com_test_support.h"
#include "tests/support/unprivileged.h"

namespace mbus::com {
namespace {

using testing::FileExists;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::ScratchDirectory;

constexpr const char* kClassKey = "HKEY_CLASSES_ROOT\\CLSID\\{6B1D2E4A-3C5F-4A7B-9D8E-1F2A3B4C5D6E}";

// ---- Key paths -----------------------------------------------------------

TEST(RegistryKeyPath, SplitsAtBackslashesAndExpandsRootAbbreviations) {
    EXPECT_EQ(SplitKeyPath("HKEY_CLASSES_ROOT\\CLSID\\{X}"),
              (std::vector<std::string>{"HKEY_CLASSES_ROOT", "CLSID", "{X}"}));
    EXPECT_EQ(SplitKeyPath("hkcr\\Prog.Id"), (std::vector<std::string>{"HKEY_CLASSES_ROOT", "Prog.Id"}));
    EXPECT_EQ(SplitKeyPath("HKLM\\Software"), (std::vector<std::string>{"HKEY_LOCAL_MACHINE", "Software"}));
    EXPECT_EQ(SplitKeyPath("\\A\\\\B\\"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(SplitKeyPath("A\\with blank inside\\=[]#;@"),
              (std::vector<std::string>{"A", "with blank inside", "=[]#;@"}));
}

TEST(RegistryKeyPath, RefusesEmptyPathsControlCharactersBlanksAtTheEndsAndDepth) {
    EXPECT_TRUE(SplitKeyPath("").empty());
    EXPECT_TRUE(SplitKeyPath("\\\\").empty());
    EXPECT_TRUE(SplitKeyPath("A\\new\nline").empty());
    EXPECT_TRUE(SplitKeyPath("A\\tab\there").empty());
    EXPECT_TRUE(SplitKeyPath("A\\ leading").empty());
    EXPECT_TRUE(SplitKeyPath("A\\trailing ").empty());
    EXPECT_TRUE(SplitKeyPath("A\\" + std::string(1025, 'x')).empty());
    EXPECT_FALSE(SplitKeyPath("A\\" + std::string(1024, 'x')).empty());
    std::string deep = "K";
    for (int i = 1; i < 64; ++i) deep += "\\K";
    EXPECT_EQ(SplitKeyPath(deep).size(), 64u);
    EXPECT_TRUE(SplitKeyPath(deep + "\\K").empty());
}

// ---- The tree in memory --------------------------------------------------

TEST(RegistryTree, SetGetDeleteValuesAndKeys) {
    RegistryTree tree;
    EXPECT_TRUE(tree.Empty());
    ASSERT_TRUE(tree.SetValue(std::string(kClassKey) + "\\InprocServer32", "", "/usr/lib/libx.so"));
    ASSERT_TRUE(tree.SetValue(std::string(kClassKey) + "\\InprocServer32", "ThreadingModel", "Free"));
    EXPECT_EQ(tree.GetValue(std::string(kClassKey) + "\\InprocServer32"), "/usr/lib/libx.so");
    EXPECT_EQ(tree.GetValue(std::string(kClassKey) + "\\InprocServer32", "ThreadingModel"), "Free");
    EXPECT_EQ(tree.GetValue(std::string(kClassKey) + "\\InprocServer32", "Other"), std::nullopt);
    EXPECT_TRUE(tree.KeyExists("HKEY_CLASSES_ROOT\\CLSID"));  // the keys above exist
    EXPECT_EQ(tree.GetValue(kClassKey), std::nullopt);        // ...without a default value

    EXPECT_TRUE(tree.DeleteValue(std::string(kClassKey) + "\\InprocServer32", "threadingmodel"));
    EXPECT_FALSE(tree.DeleteValue(std::string(kClassKey) + "\\InprocServer32", "ThreadingModel"));
    EXPECT_TRUE(tree.DeleteKey(kClassKey));
    EXPECT_FALSE(tree.KeyExists(std::string(kClassKey) + "\\InprocServer32"));
    EXPECT_FALSE(tree.KeyExists(kClassKey));
    EXPECT_TRUE(tree.KeyExists("HKEY_CLASSES_ROOT\\CLSID"));
    EXPECT_FALSE(tree.DeleteKey(kClassKey));
    EXPECT_FALSE(tree.SetValue("", "x", "y"));
    EXPECT_FALSE(tree.CreateKey("A\\bad\x01name"));
}

TEST(RegistryTree, KeysAndValueNamesIgnoreCaseAndKeepTheirFirstSpelling) {
    RegistryTree tree;
    tree.SetValue("HKCR\\MBus.Example\\CLSID", "", "{1}");
    tree.SetValue("hkey_classes_root\\mbus.EXAMPLE\\clsid", "", "{2}");
    tree.SetValue("HKCR\\MBus.Example", "Name", "first");
    tree.SetValue("HKCR\\MBus.Example", "NAME", "second");
    EXPECT_EQ(tree.GetValue("HKEY_CLASSES_ROOT\\MBUS.EXAMPLE\\Clsid"), "{2}");
    EXPECT_EQ(tree.EnumSubKeys("HKCR"), std::vector<std::string>{"MBus.Example"});
    const auto values = tree.EnumValues("HKCR\\mbus.example");
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].first, "Name");
    EXPECT_EQ(values[0].second, "second");
}

TEST(RegistryTree, EnumeratesSubkeysInOrderAndValuesAsSet) {
    RegistryTree tree;
    tree.CreateKey("HKCR\\CLSID\\{B}");
    tree.CreateKey("HKCR\\CLSID\\{a}\\InprocServer32");
    tree.CreateKey("HKCR\\CLSID\\{C}");
    EXPECT_EQ(tree.EnumSubKeys("HKCR\\CLSID"), (std::vector<std::string>{"{a}", "{B}", "{C}"}));
    EXPECT_TRUE(tree.EnumSubKeys("HKCR\\CLSID\\{B}").empty());
    EXPECT_TRUE(tree.EnumSubKeys("HKCR\\Missing").empty());
    tree.SetValue("K", "z", "1");
    tree.SetValue("K", "", "default");
    tree.SetValue("K", "a", "2");
    const auto values = tree.EnumValues("K");
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0], (std::pair<std::string, std::string>{"z", "1"}));
    EXPECT_EQ(values[1], (std::pair<std::string, std::string>{"", "default"}));
    EXPECT_EQ(values[2], (std::pair<std::string, std::string>{"a", "2"}));
}

TEST(RegistryFormat, WritesReadableSectionsWithTheDefaultValueAsAt) {
    RegistryTree tree;
    tree.SetValue(kClassKey, "", "Example class");
    tree.SetValue(std::string(kClassKey) + "\\InprocServer32", "", "/usr/lib/libexample.so");
    tree.SetValue(std::string(kClassKey) + "\\InprocServer32", "ThreadingModel", "Free");
    tree.CreateKey(std::string(kClassKey) + "\\Control");
    const std::string text = tree.Serialize();
    const std::string expected = std::string("[") + kClassKey + "]\n@=Example class\n[" + kClassKey +
                                 "\\Control]\n[" + kClassKey +
                                 "\\InprocServer32]\n@=/usr/lib/libexample.so\nThreadingModel=Free\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    EXPECT_EQ(text.find("[HKEY_CLASSES_ROOT]"), std::string::npos);  // implied by the keys below it
}

TEST(RegistryFormat, SpecialCharactersSurviveARoundTrip) {
    RegistryTree tree;
    const std::pair<std::string, std::string> values[] = {
        {"equals=in=name", "a=b=c"},
        {"[bracket", "[not a key]"},
        {"#hash", "# not a comment"},
        {";semicolon", "; not a comment"},
        {"@", "a value named @, not the default"},
        {"@at", "@"},
        {"multi", "line one\nline two\r\nline three"},
        {"tab\there", "\ttabs\t"},
        {" blanks ", "  both ends  "},
        {"backslash\\name", "C:\\dir\\file \\n is not a newline"},
        {"control", std::string("bell\a nul\0 del\x7F", 15)},
        {"utf-8 \xC3\xA4", "\xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"empty", ""},
    };
    for (const auto& [name, value] : values) ASSERT_TRUE(tree.SetValue("HKCR\\Special", name, value)) << name;
    tree.SetValue("HKCR\\Special", "", "the default");
    tree.CreateKey("HKCR\\Special\\Key]with]brackets[");

    const std::string text = tree.Serialize();
    std::string problems;
    const RegistryTree again = RegistryTree::Parse(text, &problems);
    EXPECT_EQ(problems, "");
    for (const auto& [name, value] : values) EXPECT_EQ(again.GetValue("HKCR\\Special", name), value) << name;
    EXPECT_EQ(again.GetValue("HKCR\\Special"), "the default");
    EXPECT_TRUE(again.KeyExists("HKCR\\Special\\Key]with]brackets["));
    EXPECT_EQ(again.Serialize(), text);
    // Every line of the file is one line: no raw newline inside a value.
    EXPECT_NE(text.find("multi=line one\\nline two\\r\\nline three\n"), std::string::npos) << text;
}

TEST(RegistryFormat, ReadsHandWrittenFilesLeniently) {
    const std::string text =
        "\xEF\xBB\xBF# written by hand\r\n"
        "; another comment\n"
        "\n"
        "  [ HKCR\\CLSID\\{X} ]  \n"
        "  @ = Example  \n"
        "Path = C:\\Program Files\\x.dll\n"
        "Odd=\\q\\x4\\xZZ\\\n"
        "Hex=\\x41\\x42\n"
        "[HKCR\\CLSID\\{X}]\n"
        "Later=merged into the same key\n"
        "Path=overridden\n"
        "[HKCR\\Empty]";
    std::string problems;
    const RegistryTree tree = RegistryTree::Parse(text, &problems);
    EXPECT_EQ(problems, "");
    EXPECT_EQ(tree.GetValue("HKEY_CLASSES_ROOT\\CLSID\\{X}"), "Example");
    EXPECT_EQ(tree.GetValue("HKCR\\CLSID\\{X}", "path"), "overridden");
    EXPECT_EQ(tree.GetValue("HKCR\\CLSID\\{X}", "Odd"), "\\q\\x4\\xZZ\\");
    EXPECT_EQ(tree.GetValue("HKCR\\CLSID\\{X}", "Hex"), "AB");
    EXPECT_EQ(tree.GetValue("HKCR\\CLSID\\{X}", "Later"), "merged into the same key");
    EXPECT_TRUE(tree.KeyExists("HKCR\\Empty"));
    EXPECT_EQ(RegistryTree::Parse("[A]\nPath=C:\\Program Files\\x.dll\n").GetValue("A", "Path"),
              "C:\\Program Files\\x.dll");
}

TEST(RegistryFormat, MalformedLinesAreReportedAndTheRestIsUsed) {
    const std::string text =
        "orphan=before any key\n"            // 1
        "[HKCR\\Good]\n"                     // 2
        "ok=1\n"                             // 3
        "no separator here\n"                // 4
        "=no name\n"                         // 5
        "[HKCR\\Unclosed\n"                  // 6
        "skipped=quietly\n"                  // 7
        "[HKCR\\Good] trailing\n"            // 8
        "[\\\\]\n"                           // 9
        "[HKCR\\ blank]\n"                   // 10
        "[HKCR\\Good]\n"                     // 11
        "ok2=2\n";                           // 12
    std::string problems;
    const RegistryTree tree = RegistryTree::Parse(text, &problems);
    EXPECT_EQ(tree.GetValue("HKCR\\Good", "ok"), "1");
    EXPECT_EQ(tree.GetValue("HKCR\\Good", "ok2"), "2");
    EXPECT_FALSE(tree.KeyExists("HKCR\\Unclosed"));
    EXPECT_EQ(tree.EnumSubKeys("HKCR"), std::vector<std::string>{"Good"});
    for (const char* line : {"line 1: ", "line 4: ", "line 5: ", "line 6: ", "line 8: ", "line 9: ", "line 10: "})
        EXPECT_NE(problems.find(line), std::string::npos) << line << "\n" << problems;
    for (const char* line : {"line 2:", "line 3:", "line 7:", "line 11:", "line 12:"})
        EXPECT_EQ(problems.find(line), std::string::npos) << line << "\n" << problems;
    EXPECT_NE(problems.find("neither [key path] nor name=value"), std::string::npos) << problems;
}

TEST(RegistryFormat, GarbageNeverCrashesTheReader) {
    // Every byte value, long lines, deep paths, lone escapes, binary noise.
    std::string noise;
    for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 7919 + 13) & 0xFF);
    std::string deep = "[";
    for (int i = 0; i < 10000; ++i) deep += "K\\";
    deep += "]\nx=y\n";
    const std::string inputs[] = {
        noise, deep, std::string(100000, '['), std::string(100000, '\\'), "[A]\n" + std::string(100000, '='),
        "[A]\n\\", "[A]\nx=\\x", "[]", "[", "]", "@", "=", std::string("\0\0\0", 3),
    };
    for (const std::string& input : inputs) {
        std::string problems;
        const RegistryTree tree = RegistryTree::Parse(input, &problems);
        // Whatever was read writes out and reads back the same.
        const std::string text = tree.Serialize();
        std::string again;
        EXPECT_EQ(RegistryTree::Parse(text, &again).Serialize(), text);
        EXPECT_EQ(again, "");
    }
}

// ---- The file ------------------------------------------------------------

TEST(RegistryPath, EnvironmentVariableThenXdgThenHome) {
    {
        ScopedEnv explicitPath("MBUS_REGISTRY", "/tmp/somewhere/registry");
        ScopedEnv config("XDG_CONFIG_HOME", "/tmp/config");
        EXPECT_EQ(RegistryPath(), "/tmp/somewhere/registry");
    }
    {
        ScopedEnv explicitPath("MBUS_REGISTRY", nullptr);
        ScopedEnv config("XDG_CONFIG_HOME", "/tmp/config");
        EXPECT_EQ(RegistryPath(), "/tmp/config/mbus/registry");
    }
    {
        ScopedEnv explicitPath("MBUS_REGISTRY", "");
        ScopedEnv config("XDG_CONFIG_HOME", "relative/is/ignored");
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(RegistryPath(), "/home/someone/.config/mbus/registry");
    }
}

TEST(RegistryFile, ChangesPersistAcrossObjectsAndTheDirectoryIsCreated) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.Ok());
    const std::string path = scratch.File("config/mbus/registry");
    {
        Registry registry(path);
        EXPECT_EQ(registry.GetValue(kClassKey), std::nullopt);  // no file yet: nothing registered
        EXPECT_EQ(registry.Problems(), "");
        EXPECT_EQ(registry.SetValue(std::string(kClassKey) + "\\InprocServer32", "", "/lib/a.so"), S_OK);
        EXPECT_EQ(registry.SetValue(std::string(kClassKey) + "\\InprocServer32", "ThreadingModel", "Free"), S_OK);
        EXPECT_EQ(registry.CreateKey(std::string(kClassKey) + "\\Programmable"), S_OK);
        EXPECT_EQ(registry.SetValue("HKCR\\Multi", "text", "one\ntwo=[three]"), S_OK);
    }
    ASSERT_TRUE(FileExists(path));
    struct stat st;
    ASSERT_EQ(::stat(scratch.File("config/mbus").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    Registry reader(path);
    EXPECT_EQ(reader.GetValue(std::string(kClassKey) + "\\inprocserver32"), "/lib/a.so");
    EXPECT_EQ(reader.GetValue(std::string(kClassKey) + "\\InprocServer32", "threadingmodel"), "Free");
    EXPECT_TRUE(reader.KeyExists(std::string(kClassKey) + "\\Programmable"));
    EXPECT_EQ(reader.GetValue("HKCR\\Multi", "text"), "one\ntwo=[three]");
    EXPECT_EQ(reader.EnumSubKeys(kClassKey), (std::vector<std::string>{"InprocServer32", "Programmable"}));

    EXPECT_EQ(reader.DeleteValue(std::string(kClassKey) + "\\InprocServer32", "ThreadingModel"), S_OK);
    EXPECT_EQ(reader.DeleteValue(std::string(kClassKey) + "\\InprocServer32", "ThreadingModel"), S_FALSE);
    EXPECT_EQ(reader.DeleteKey(kClassKey), S_OK);
    EXPECT_EQ(reader.DeleteKey(kClassKey), S_FALSE);
    EXPECT_EQ(reader.SetValue("", "x", "y"), E_INVALIDARG);
    EXPECT_EQ(reader.DeleteKey("\\"), E_INVALIDARG);
    EXPECT_FALSE(Registry(path).KeyExists(kClassKey));
    EXPECT_EQ(Registry(path).GetValue("HKCR\\Multi", "text"), "one\ntwo=[three]");
    // No temporary files are left behind: only the file and its lock.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.File("config/mbus")))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"registry", "registry.lock"}));
}

TEST(RegistryFile, DefaultObjectUsesTheEnvironmentVariable) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("registry");
    ScopedEnv env("MBUS_REGISTRY", path);
    Registry registry;
    EXPECT_EQ(registry.Path(), path);
    EXPECT_EQ(registry.SetValue("HKCR\\X", "", "y"), S_OK);
    EXPECT_NE(ReadFile(path).find("[HKEY_CLASSES_ROOT\\X]\n@=y\n"), std::string::npos);
}

TEST(RegistryFile, UpdateMakesSeveralChangesAtOnceOrNone) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("registry");
    Registry registry(path);
    EXPECT_EQ(registry.Update([](RegistryTree& tree) {
        tree.SetValue("HKCR\\A", "", "a");
        tree.SetValue("HKCR\\B", "", "b");
        return S_OK;
    }),
              S_OK);
    EXPECT_EQ(registry.Update([](RegistryTree& tree) {
        tree.DeleteKey("HKCR\\A");
        return E_FAIL;  // refused: nothing is written
    }),
              E_FAIL);
    EXPECT_EQ(registry.GetValue("HKCR\\A"), "a");
    EXPECT_EQ(registry.GetValue("HKCR\\B"), "b");
}

TEST(RegistryFile, AnUnchangedFileIsNotRewrittenSoHandWrittenCommentsStay) {
    ScratchDirectory scratch;
    const std::string text = "# my notes\n[HKCR\\A]\n@=a\n";
    const std::string path = scratch.WriteFile("registry", text);
    Registry registry(path);
    EXPECT_EQ(registry.SetValue("HKCR\\A", "", "a"), S_OK);
    EXPECT_EQ(registry.DeleteKey("HKCR\\Missing"), S_FALSE);
    EXPECT_EQ(ReadFile(path), text);
}

TEST(RegistryFile, MalformedFileIsReadButNeverRewritten) {
    ScratchDirectory scratch;
    const std::string text = "[HKCR\\A]\n@=a\nthis line is broken\n[HKCR\\B\n";
    const std::string path = scratch.WriteFile("registry", text);
    Registry registry(path);
    EXPECT_EQ(registry.GetValue("HKCR\\A"), "a");
    EXPECT_NE(registry.Problems().find(path + ": line 3: "), std::string::npos) << registry.Problems();
    EXPECT_NE(registry.Problems().find(path + ": line 4: "), std::string::npos) << registry.Problems();

    // A change would drop the broken lines: it is refused, naming them.
    EXPECT_EQ(registry.SetValue("HKCR\\C", "", "c"), REGDB_E_READREGDB);
    EXPECT_NE(registry.Problems().find(path + ": line 3: "), std::string::npos) << registry.Problems();
    EXPECT_NE(registry.Problems().find("left as it is"), std::string::npos) << registry.Problems();
    EXPECT_EQ(registry.DeleteKey("HKCR\\A"), REGDB_E_READREGDB);
    EXPECT_EQ(ReadFile(path), text);
    EXPECT_FALSE(std::filesystem::exists(path + ".bak"));

    // Once mended, the file takes changes again.
    scratch.WriteFile("registry", "[HKCR\\A]\n@=a\n");
    EXPECT_EQ(registry.SetValue("HKCR\\C", "", "c"), S_OK);
    EXPECT_EQ(registry.Problems(), "");
    EXPECT_EQ(Registry(path).GetValue("HKCR\\C"), "c");
}

TEST(RegistryFile, UnreadableOrUnwritableFilesGiveRegistryErrors) {
    ScratchDirectory scratch;
    // A directory where the file should be: it exists, but cannot be read as one.
    const std::string directory = scratch.File("registry");
    ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
    Registry registry(directory);
    RegistryTree tree;
    EXPECT_EQ(registry.Load(&tree), REGDB_E_READREGDB);
    EXPECT_NE(registry.Problems().find(directory + ": is a directory"), std::string::npos) << registry.Problems();
    EXPECT_EQ(registry.GetValue("HKCR\\A"), std::nullopt);
    EXPECT_EQ(registry.SetValue("HKCR\\B", "", "b"), REGDB_E_READREGDB);  // never overwrites what it cannot read

    // A plain file where a directory should be: nothing can be written there.
    const std::string notDirectory = scratch.WriteFile("plain", "");
    Registry unwritable(notDirectory + "/registry");
    EXPECT_EQ(unwritable.SetValue("HKCR\\B", "", "b"), REGDB_E_WRITEREGDB);
    EXPECT_NE(unwritable.Problems().find("plain/registry"), std::string::npos) << unwritable.Problems();
    EXPECT_EQ(unwritable.GetValue("HKCR\\B"), std::nullopt);
}

TEST(RegistryFile, FilesWithoutPermissionGiveRegistryErrors) {
    ScratchDirectory scratch;
    testsupport::Unprivileged user({scratch.Path()});
    ASSERT_TRUE(user.Ok()) << user.Problem();
    const std::string path = scratch.WriteFile("registry", "[HKCR\\A]\n@=a\n");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    Registry registry(path);
    EXPECT_EQ(registry.GetValue("HKCR\\A"), std::nullopt);
    EXPECT_NE(registry.Problems().find("cannot be read"), std::string::npos);
    EXPECT_EQ(registry.SetValue("HKCR\\B", "", "b"), REGDB_E_READREGDB);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);

    ASSERT_EQ(::mkdir(scratch.File("readonly").c_str(), 0500), 0);
    Registry unwritable(scratch.File("readonly/registry"));
    EXPECT_EQ(unwritable.SetValue("HKCR\\B", "", "b"), REGDB_E_WRITEREGDB);
    EXPECT_NE(unwritable.Problems().find("readonly/registry"), std::string::npos) << unwritable.Problems();
}

// The registry holds a user's settings: a new file is his alone, under any
// umask; one that is there keeps the mode its owner gave it.
TEST(RegistryFile, NewFileIsReadableByItsOwnerAloneAndAnOldOneKeepsItsMode) {
    ScratchDirectory scratch;
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        SCOPED_TRACE(mask);
        const std::string path = scratch.File("registry-" + std::to_string(mask));
        {
            testsupport::ScopedUmask umask(mask);
            EXPECT_EQ(Registry(path).SetValue("HKCR\\A", "", "a"), S_OK);
        }
        struct stat st;
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    const std::string shared = scratch.WriteFile("shared-registry", "");
    ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
    EXPECT_EQ(Registry(shared).SetValue("HKCR\\A", "", "a"), S_OK);
    struct stat st;
    ASSERT_EQ(::stat(shared.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(RegistryFile, ASymbolicLinkStaysALink) {
    ScratchDirectory scratch;
    const std::string real = scratch.WriteFile("real-registry", "");
    const std::string link = scratch.File("registry");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    Registry registry(link);
    EXPECT_EQ(registry.SetValue("HKCR\\A", "", "a"), S_OK);
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(ReadFile(real).find("@=a"), std::string::npos);
}

TEST(RegistryFile, TwoThreadsWritingAtOnceLoseNothing) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("registry");
    constexpr int kPerWriter = 40;
    auto writer = [&](int id) {
        Registry registry(path);
        for (int i = 0; i < kPerWriter; ++i)
            registry.SetValue("HKCR\\Writer" + std::to_string(id), "v" + std::to_string(i), std::to_string(i));
    };
    std::thread first(writer, 1);
    std::thread second(writer, 2);
    first.join();
    second.join();
    RegistryTree tree;
    ASSERT_EQ(Registry(path).Load(&tree), S_OK);
    EXPECT_EQ(tree.EnumValues("HKCR\\Writer1").size(), static_cast<std::size_t>(kPerWriter));
    EXPECT_EQ(tree.EnumValues("HKCR\\Writer2").size(), static_cast<std::size_t>(kPerWriter));
}

TEST(RegistryFile, TwoProcessesWritingAtOnceLoseNothing) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("registry");
    constexpr int kPerWriter = 40;
    std::vector<pid_t> children;
    for (int id = 1; id <= 2; ++id) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            Registry registry(path);
            bool ok = true;
            for (int i = 0; i < kPerWriter; ++i)
                ok = ok && registry.SetValue("HKCR\\Process" + std::to_string(id), "v" + std::to_string(i),
                                             std::to_string(i)) == S_OK;
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RegistryTree tree;
    ASSERT_EQ(Registry(path).Load(&tree), S_OK);
    EXPECT_EQ(tree.EnumValues("HKCR\\Process1").size(), static_cast<std::size_t>(kPerWriter));
    EXPECT_EQ(tree.EnumValues("HKCR\\Process2").size(), static_cast<std::size_t>(kPerWriter));
}

}  // namespace
}  // namespace mbus::com
