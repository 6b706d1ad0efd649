#include "installfolder.h"

#include <windows.h>

#include <algorithm>

#include "../archive/qvr7z.h"
#include "../nqpublic/nqbase/log/nqbaselog.h"
#include "../nqpublic/nqbase/nqhandle.h"
#include "../utility/base/qvrprotectedfolders.h"
#include "../utility/qvrscriptengine/qvrscriptargs.h"
#include "../utility/qvrscriptengine/qvrscriptglobals.h"
#include "../ui/core/uitext.h"

namespace qvrapp {
namespace {

// Files and folders the shipped install script writes below the install
// folder besides the payload: the uninstaller's two chunks and the log folder.
const wchar_t* const kScriptFiles[] = {L"Uninst.dar0", L"Uninst.dar1"};
const wchar_t* const kScriptFolders[] = {L"log"};

bool HoldsAnything(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    const std::wstring pattern = folder.size() + 4 >= MAX_PATH ? L"\\\\?\\" + folder + L"\\*" : folder + L"\\*";
    nq::unique_hfind find(::FindFirstFileW(pattern.c_str(), &fd));
    if (!find) return false;
    do {
        if (wcscmp(fd.cFileName, L".") != 0 && wcscmp(fd.cFileName, L"..") != 0) return true;
    } while (::FindNextFileW(find.get(), &fd));
    return false;
}

bool IsEarlierInstallation(const std::wstring& folder, const InstallFolderFacts& facts) {
    for (const std::wstring& registered : facts.registeredFolders) {
        std::wstring full;
        if (qvrfolders::CanonicalPath(registered, &full) && qvrfolders::SamePath(full, folder)) return true;
    }
    if (facts.mainProgram.empty()) return true;  // the product cannot be recognised
    const DWORD attributes = ::GetFileAttributesW((folder + L"\\" + facts.mainProgram).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring Refused(const std::wstring& path, const std::wstring& why) {
    return L"install folder refused: \"" + path + L"\": " + why;
}

std::wstring RegText(HKEY root, const std::wstring& key, const wchar_t* name) {
    if (key.empty()) return L"";
    DWORD bytes = 0;
    if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes < sizeof(wchar_t))
        return L"";
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, &text[0], &bytes) !=
        ERROR_SUCCESS)
        return L"";
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

}  // namespace

size_t LongestFolderFor(const InstallFolderFacts& facts) {
    // limit - (separator + relative name), never below 0.
    auto room = [](size_t limit, size_t relative) { return limit - std::min(limit, relative + 1); };
    size_t longest = kMaxFolderPath;
    if (facts.longestFolder) longest = std::min(longest, room(kMaxFolderPath, facts.longestFolder));
    if (facts.longestFile) longest = std::min(longest, room(kMaxFilePath, facts.longestFile));
    return longest;
}

void InstallFolderFacts::AddEntry(const wchar_t* name, size_t length, bool isFolder) {
    // Parent folders of the entry, then the entry itself.
    for (size_t i = 0; i < length; ++i)
        if (name[i] == L'/' || name[i] == L'\\') longestFolder = std::max(longestFolder, i);
    size_t& longest = isFolder ? longestFolder : longestFile;
    longest = std::max(longest, length);
}

bool AddArchiveEntries(const void* data, uint32_t size, bool firstTwoExchanged, InstallFolderFacts* facts) {
    CMemInStream in(data, size, firstTwoExchanged);
    return List7zEntries(&in.vt, [facts](const wchar_t* name, size_t length, bool isFolder) {
               facts->AddEntry(name, length, isFolder);
           }) == 0;
}

FolderProblem CheckInstallFolder(const std::wstring& path, const InstallFolderFacts& facts, std::wstring* reason) {
    std::wstring full;
    const qvrfolders::Refusal refusal = qvrfolders::Protected().Classify(path, &full);
    if (refusal != qvrfolders::Refusal::kNone) {
        if (reason) *reason = Refused(path, qvrfolders::Describe(refusal));
        return FolderProblem::kProtected;
    }

    // Length: the folder as the script's functions see it (variables expanded,
    // separators as given) and as the system resolves it, whichever is longer.
    const size_t length = std::max(qvrfolders::ExpandEnvironment(path).size(), full.size());
    const size_t longest = LongestFolderFor(facts);
    if (length > longest) {
        if (reason)
            *reason = Refused(path, L"too long: " + SkinUI::DecimalText(length) + L" characters where at most " +
                                        SkinUI::DecimalText(longest) +
                                        L" leave room for the longest path the installation writes");
        return FolderProblem::kTooLong;
    }

    const DWORD attributes = ::GetFileAttributesW(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (reason) *reason = Refused(path, L"a file of that name exists");
        return FolderProblem::kNotAFolder;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && HoldsAnything(full) && !IsEarlierInstallation(full, facts)) {
        if (reason)
            *reason = Refused(path, L"the folder already holds other files and no earlier installation of the "
                                    L"product; choose an empty or a new folder");
        return FolderProblem::kHoldsOtherFiles;
    }
    if (reason) reason->clear();
    return FolderProblem::kNone;
}

InstallFolderFacts ReadInstallFolderFacts(lua_State* L) {
    InstallFolderFacts facts;
    facts.mainProgram = scriptglobals::GetText(L, "global_main_app_name");
    const std::wstring uninstallKey = scriptglobals::GetText(L, "global_uninst_sub_key");
    const std::wstring productKey = scriptglobals::GetText(L, "global_reg_sub_key");
    for (const std::wstring& folder : {RegText(HKEY_LOCAL_MACHINE, uninstallKey, L"InstallLocation"),
                                       RegText(HKEY_LOCAL_MACHINE, productKey, L"AppPath"),
                                       RegText(HKEY_CURRENT_USER, productKey, L"AppPath")})
        if (!folder.empty()) facts.registeredFolders.push_back(folder);

    for (const wchar_t* name : kScriptFiles) facts.AddEntry(name, wcslen(name), false);
    for (const wchar_t* name : kScriptFolders) facts.AddEntry(name, wcslen(name), true);

    // The payload's names, read from the resource without extracting it. The
    // resource is stored with its first two bytes exchanged; an extraction
    // earlier in this process may have exchanged them back in the image.
    HMODULE self = ::GetModuleHandleW(nullptr);
    if (HRSRC info = ::FindResourceW(self, L"APP.7Z", L"_7Z")) {
        HGLOBAL loaded = ::LoadResource(self, info);
        const DWORD size = ::SizeofResource(self, info);
        const auto* bytes = static_cast<const BYTE*>(loaded ? ::LockResource(loaded) : nullptr);
        if (bytes && size >= 2) {
            const bool exchanged = !(bytes[0] == '7' && bytes[1] == 'z');
            if (!AddArchiveEntries(bytes, size, exchanged, &facts))
                DebugTrace(L"install folder check: the payload's names cannot be read\r\n");
        }
    }
    return facts;
}

bool AcceptSilentInstallFolder(lua_State* L) {
    const std::wstring folder = scriptglobals::GetText(L, "InstallPath");
    std::wstring reason;
    if (CheckInstallFolder(folder, ReadInstallFolderFacts(L), &reason) == FolderProblem::kNone) return true;
    LOG_INFO("{}", WideToScript(reason));
    DebugTrace(L"%s\r\n", reason.c_str());
    return false;
}

}  // namespace qvrapp
