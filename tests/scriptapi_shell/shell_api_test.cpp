// The shortcut and shell script functions: shortcuts are read back through
// the shell's own interfaces, started programs leave marker files, message
// boxes are answered from outside.
#include <windows.h>
#include <objbase.h>
// intshcut.h needs the COM declarations of objbase.h first.
#include <intshcut.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "nqpublic/nqbase/nqhandle.h"
#include "tests/common/procutil.h"
#include "tests/common/testutil.h"
#include "tests/processes/helpertest.h"

namespace {

using testutil::Lit;
using testutil::Quote;
using testutil::WideToUtf8;

const CLSID kClsidInternetShortcut = {0xFBF23B40, 0xE3F0, 0x101B, {0x84, 0x88, 0x00, 0xAA, 0x00, 0x3E, 0x56, 0xF8}};
const IID kIidUniformResourceLocatorW = {0xCABB0DA0, 0xDA57, 0x11CF, {0x99, 0x74, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x62}};

// What a shell link holds, read through IShellLinkW / IPersistFile.
struct LinkInfo {
    bool loaded = false;
    std::wstring path, arguments, directory, description;
};

LinkInfo ReadLink(const std::wstring& file) {
    LinkInfo info;
    nq::scoped_coinit com;
    nq::com_ptr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
        return info;
    nq::com_ptr<IPersistFile> persist;
    if (FAILED(link->QueryInterface(IID_IPersistFile, persist.put_void())) ||
        FAILED(persist->Load(file.c_str(), STGM_READ)))
        return info;
    wchar_t buf[1024] = {};
    link->GetPath(buf, 1024, nullptr, SLGP_RAWPATH);
    info.path = buf;
    buf[0] = 0;
    link->GetArguments(buf, 1024);
    info.arguments = buf;
    buf[0] = 0;
    link->GetWorkingDirectory(buf, 1024);
    info.directory = buf;
    buf[0] = 0;
    link->GetDescription(buf, 1024);
    info.description = buf;
    info.loaded = true;
    return info;
}

std::wstring ReadUrl(const std::wstring& file) {
    nq::scoped_coinit com;
    nq::com_ptr<IUniformResourceLocatorW> url;
    if (FAILED(::CoCreateInstance(kClsidInternetShortcut, nullptr, CLSCTX_INPROC_SERVER, kIidUniformResourceLocatorW,
                                  url.put_void())))
        return L"<no object>";
    nq::com_ptr<IPersistFile> persist;
    if (FAILED(url->QueryInterface(IID_IPersistFile, persist.put_void())) ||
        FAILED(persist->Load(file.c_str(), STGM_READ)))
        return L"<not loaded>";
    wchar_t* text = nullptr;
    if (FAILED(url->GetURL(&text)) || !text) return L"<no url>";
    std::wstring out = text;
    ::CoTaskMemFree(text);
    return out;
}

class ShellApi : public testutil::HelperTest {
protected:
    void SetUp() override {
        HelperTest::SetUp();
        ::SetEnvironmentVariableW(L"QVRSC_DIR", dir_.c_str());
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"QVRSC_DIR", nullptr);
        HelperTest::TearDown();
    }
    // An existing file to point shortcuts at.
    std::wstring Target() {
        const std::wstring bin = dir_ + L"\\应用 bin";
        ::CreateDirectoryW(bin.c_str(), nullptr);
        const std::wstring target = bin + L"\\app.exe";
        testutil::WriteFileBytes(target, "MZ");
        return target;
    }
};

TEST_F(ShellApi, CreateShortcutArgumentRules) {
    const std::wstring target = Target();
    const std::wstring bin = target.substr(0, target.rfind(L'\\'));
    struct Case {
        const char* name;
        std::string rest;  // the arguments after target and shortcut file
        std::wstring arguments, description;
    };
    const Case cases[] = {
        {"two arguments", "", L"", L""},
        {"three arguments: nothing set", ", '/menu'", L"", L""},
        {"fourth nil: arguments only", ", '/menu', nil", L"/menu", L""},
        {"both", ", '/menu', '描述 text'", L"/menu", L"描述 text"},
        {"third nil: description only", ", nil, 'only'", L"", L"only"},
        {"five arguments", ", '-a b', 'd', 'extra'", L"-a b", L"d"},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ClearLines();
        const std::wstring link = dir_ + L"\\link" + std::to_wstring(n++) + L".lnk";
        ASSERT_TRUE(Run("r = Lua_CreateShortcut(" + Lit(target) + ", " + Lit(link) + k.rest + ")"));
        EXPECT_EQ(Kind("r"), "true") << WideToUtf8(AllLines());
        const LinkInfo info = ReadLink(link);
        ASSERT_TRUE(info.loaded);
        EXPECT_EQ(_wcsicmp(info.path.c_str(), target.c_str()), 0) << WideToUtf8(info.path);
        EXPECT_EQ(_wcsicmp(info.directory.c_str(), bin.c_str()), 0) << WideToUtf8(info.directory);
        EXPECT_EQ(info.arguments, k.arguments);
        EXPECT_EQ(info.description, k.description);
        EXPECT_TRUE(HasLine(L"vq Save Shortcut " + link + L" \r\n")) << WideToUtf8(AllLines());
    }
}

// Both paths are expanded; the start-menu folder is made first, with its parents.
TEST_F(ShellApi, CreateShortcutExpandsAndCreatesTheFolder) {
    const std::wstring target = Target();
    const std::wstring folder = dir_ + L"\\Start Menu\\Programs\\产品 Product";
    ASSERT_TRUE(Run("r = Lua_CreateShortcut('%QVRSC_DIR%\\\\应用 bin\\\\app.exe', "
                    "string.format('%s\\\\%s\\\\%s.lnk', '%QVRSC_DIR%\\\\Start Menu\\\\Programs', '产品 Product', "
                    "'产品'), '/menu', nil)"));
    EXPECT_EQ(Kind("r"), "true") << WideToUtf8(AllLines());
    const LinkInfo info = ReadLink(folder + L"\\产品.lnk");
    ASSERT_TRUE(info.loaded);
    EXPECT_EQ(_wcsicmp(info.path.c_str(), target.c_str()), 0) << WideToUtf8(info.path);
    EXPECT_EQ(info.arguments, L"/menu");
}

// A web address gives an Internet shortcut holding the address as written.
TEST_F(ShellApi, CreateShortcutToAUrl) {
    const std::wstring url = L"http://127.0.0.1:8080/%QVRSC_DIR%/page?a=1&b=%20";
    const std::wstring link = dir_ + L"\\links\\site.url";
    ASSERT_TRUE(Run("r = Lua_CreateShortcut(" + Lit(url) + ", " + Lit(link) + ", '/ignored', 'ignored')"));
    EXPECT_EQ(Kind("r"), "true") << WideToUtf8(AllLines());
    const std::string text = testutil::ReadFileOr(link);
    EXPECT_NE(text.find("URL=" + WideToUtf8(url)), std::string::npos) << text;
    EXPECT_EQ(ReadUrl(link), url);
}

TEST_F(ShellApi, CreateShortcutSaveFailure) {
    ASSERT_TRUE(testutil::WriteFileBytes(dir_ + L"\\file", "x"));
    const std::wstring link = dir_ + L"\\file\\sub\\x.lnk";
    ASSERT_TRUE(Run("r = Lua_CreateShortcut(" + Lit(Target()) + ", " + Lit(link) + ")"));
    EXPECT_EQ(Kind("r"), "false");
    EXPECT_TRUE(HasLine(L"vq Save " + link + L" failed!\r\n")) << WideToUtf8(AllLines());
    EXPECT_TRUE(HasTraceAfter(L""));
    EXPECT_FALSE(testutil::FileExists(link));
}

// Waiting ignores the verb, starts the program hidden in its own folder and
// returns after it has ended.
TEST_F(ShellApi, ExecWaitsForAHiddenProgram) {
    const std::wstring helper = Helper(Unique(L"qvrwait"));
    const std::wstring marker = dir_ + L"\\wait.txt";
    const DWORD start = ::GetTickCount();
    ASSERT_TRUE(Run("r = Lua_Exec('%QVRSC_DIR%\\\\" + WideToUtf8(Unique(L"qvrwait")) + "', 'qvrbogusverb', " +
                    Lit(L"marker " + Quote(marker) + L" 1500") + ", true)"));
    const DWORD elapsed = ::GetTickCount() - start;
    EXPECT_EQ(Kind("r"), "true") << WideToUtf8(AllLines());
    EXPECT_GE(elapsed, 1500u);
    ASSERT_TRUE(testutil::FileExists(marker)) << "returned before the program ended";
    const std::string text = testutil::ReadFileOr(marker);
    EXPECT_EQ(text.rfind("show=0 usesshow=1\n", 0), 0u) << text;
    EXPECT_NE(text.find("cwd=" + WideToUtf8(dir_) + "\n"), std::string::npos) << text;
}

TEST_F(ShellApi, ExecWithoutWaiting) {
    const std::wstring helper = Helper(Unique(L"qvrnowait"));
    const std::wstring marker = dir_ + L"\\nowait.txt";
    ASSERT_TRUE(Run("r = Lua_Exec(" + Lit(helper) + ", 'open', " + Lit(L"marker " + Quote(marker)) + ", false)"));
    EXPECT_EQ(Kind("r"), "true");
    ASSERT_TRUE(testutil::WaitForFile(marker, 20000));
    EXPECT_EQ(testutil::ReadFileOr(marker).rfind("show=1 usesshow=1\n", 0), 0u) << testutil::ReadFileOr(marker);
}

TEST_F(ShellApi, ExecOfAMissingFile) {
    const std::wstring missing = dir_ + L"\\pinned\\missing.lnk";
    for (const char* verb : {"taskbarunpin", "Startunpin", "TASKBARUNPIN"}) {
        SCOPED_TRACE(verb);
        ASSERT_TRUE(Run("r = Lua_Exec(" + Lit(missing) + ", '" + verb + "')"));
        EXPECT_EQ(Kind("r"), "true") << "nothing to unpin";
        EXPECT_TRUE(Lines().empty()) << WideToUtf8(AllLines());
    }
    for (const char* verb : {"open", "taskbarpin"}) {
        SCOPED_TRACE(verb);
        ClearLines();
        ASSERT_TRUE(Run("r = Lua_Exec(" + Lit(missing) + ", '" + verb + "', '', true)"));
        EXPECT_EQ(Kind("r"), "false");
        ASSERT_EQ(Lines().size(), 1u) << WideToUtf8(AllLines());
        EXPECT_EQ(Lines()[0], L"vq Fun:Lua_Exec, Description:" + missing + L" it's not exists!\r\n");
    }
}

// Pin verbs that the shell does not offer (they exist only on some Windows
// versions) do nothing and report true, for programs and for shortcuts.
TEST_F(ShellApi, PinVerbsTheShellDoesNotOfferDoNothing) {
    const std::wstring program = Helper(Unique(L"qvrpin"));
    const std::wstring target = Helper(Unique(L"qvrpinlink"));
    const std::wstring link = dir_ + L"\\pinned.lnk";
    ASSERT_TRUE(Run("made = Lua_CreateShortcut(" + Lit(target) + ", " + Lit(link) + ")"));
    ASSERT_EQ(Kind("made"), "true");
    for (const char* verb : {"taskbarpin", "Taskbarunpin", "startpin", "STARTUNPIN"}) {
        SCOPED_TRACE(verb);
        ASSERT_TRUE(Run("a = Lua_Exec(" + Lit(program) + ", '" + verb + "') b = Lua_Exec(" + Lit(link) + ", '" + verb +
                        "')"));
        EXPECT_EQ(Kind("a"), "true");
        EXPECT_EQ(Kind("b"), "true");
    }
    testutil::PumpFor(2000);
    EXPECT_FALSE(testutil::FileExists(program + L".ran")) << "the program was started";
    EXPECT_FALSE(testutil::FileExists(target + L".ran")) << "the shortcut's target was started";
}

// Programs started through the shell process (explorer.exe) receive no
// parameters: the helper then writes "<program>.ran".
TEST_F(ShellApi, ExplorerExecAndExecThroughTheShell) {
    const std::wstring viaExplorer = Helper(Unique(L"qvrexplorer"));
    ASSERT_TRUE(Run("r = Lua_ExplorerExec(" + Lit(viaExplorer) + ", '')"));
    EXPECT_EQ(Kind("r"), "true");
    EXPECT_TRUE(testutil::WaitForFile(viaExplorer + L".ran", 30000));

    const std::wstring viaExec = Helper(Unique(L"qvrthroughshell"));
    ASSERT_TRUE(Run("r = Lua_Exec(" + Lit(viaExec) + ", nil, '', false, true)"));
    EXPECT_EQ(Kind("r"), "true");
    EXPECT_TRUE(testutil::WaitForFile(viaExec + L".ran", 30000));
}

TEST_F(ShellApi, ShellExecOpensHiddenWithoutWaiting) {
    const std::wstring helper = Helper(Unique(L"qvrshellexec"));
    const std::wstring marker = dir_ + L"\\shellexec.txt";
    const DWORD start = ::GetTickCount();
    ASSERT_TRUE(Run("r = Lua_ShellExec(" + Lit(helper) + ", " + Lit(L"marker " + Quote(marker) + L" 3000") + ")"));
    EXPECT_LT(::GetTickCount() - start, 2500u) << "it does not wait";
    EXPECT_EQ(Kind("r"), "true");
    EXPECT_FALSE(testutil::FileExists(marker));
    ASSERT_TRUE(testutil::WaitForFile(marker, 20000));
    EXPECT_EQ(testutil::ReadFileOr(marker).rfind("show=0 usesshow=1\n", 0), 0u) << testutil::ReadFileOr(marker);
    // (A missing file makes the shell show its own error box before the call
    // returns false, so that case is not run here.)
}

// Message boxes: the script runs in a child process whose box the test answers.
class MsgBox : public testutil::HelperTest {};

TEST_F(MsgBox, ButtonResults) {
    const std::wstring caption = L"QvrBox " + std::to_wstring(::GetCurrentProcessId());
    struct Case {
        const char* name;
        std::string args;
        std::wstring title, text;
        int press;
        DWORD answer;
    };
    const Case cases[] = {
        {"ok and cancel", Lit(L"关闭正在运行的程序？") + ", " + Lit(caption) + ", 0x21", caption, L"关闭正在运行的程序？",
         IDCANCEL, IDCANCEL},
        {"yes and no", "'Yes or no', " + Lit(caption) + ", 4", caption, L"Yes or no", IDNO, IDNO},
        {"text and caption", "'Only OK', " + Lit(caption), caption, L"Only OK", IDOK, IDOK},
        {"four arguments: an empty box", "'a', 'b', 1, 'x'", L"", L"", IDOK, IDOK},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::wstring script = dir_ + L"\\box.lua";
        ASSERT_TRUE(testutil::WriteFileBytes(script, "qvr_exit = Lua_MsgBox(" + k.args + ")\n"));
        testutil::Child& c =
            Start(testutil::ExeDir() + L"\\qvrtest_scripthost.exe", Quote(script));
        const HWND box = testutil::WaitForTopWindow(k.title, c.Pid(), 30000);
        ASSERT_NE(box, nullptr) << "no message box";
        EXPECT_EQ(testutil::DialogText(box), k.text);
        EXPECT_TRUE(testutil::PressDialogButton(box, k.press));
        ASSERT_TRUE(c.Wait(20000));
        EXPECT_EQ(c.ExitCode(), k.answer);
    }
}

}  // namespace
