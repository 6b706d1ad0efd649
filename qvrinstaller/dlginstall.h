// The installer window: three pages of one tab layout (the first page with the
// licence, folder and options; the install page with its progress bar and
// pictures; the completion page whose buttons start the product), built from
// "Layout/Layout.xml" of the skin package.
//
// Every control is looked up by name once the skin is built and may be
// absent: what needs a missing control is skipped. The user's choices reach
// the install script as script globals named by the controls' `userdata`.
// QVRSE_BeforeInstall runs on this (UI) thread, QVRSE_OnInstall and
// QVRSE_BeforeComplete on one worker thread that posts kInstallDoneMsg when
// they are done.
#pragma once

#include <windows.h>

#include <string>

#include "ui/window/uiwindowimpl.h"

namespace SkinUI {
class CButtonUI;
class CHorizontalLayoutUI;
class CLabelUI;
class COptionUI;
class CProgressUI;
class CRichEditUI;
class CTabLayoutUI;
class CVerticalLayoutUI;
}  // namespace SkinUI

class CDlgInstall : public SkinUI::WindowImplBase {
public:
    // Posted by the worker when the installation is done; wParam the completion number.
    static constexpr UINT kInstallDoneMsg = 11032;
    static constexpr UINT kPictureTimer = 1989;   // on VertInstallView, period = its tag
    static constexpr UINT kProgressTimer = 1990;  // on ProgressInstall
    static constexpr UINT kProgressTickMs = 300;
    static constexpr int kAppIdWithPictures = 123;

    CDlgInstall();
    ~CDlgInstall() override;

    std::wstring_view WindowClassName() const override { return L"CDlgInstall"; }
    std::wstring_view SkinFile() const override { return L"Layout/Layout.xml"; }
    LRESULT ProcessMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnInitWindow() override;
    void OnTimer(SkinUI::NotifyMessage& msg) override;
    LRESULT OnClose(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    LRESULT OnOtherMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

    // The folder shown after the user picked `picked` in the folder dialog:
    // `picked` itself when its last element is `base`, else `picked\base`.
    static std::wstring PickedFolderText(const std::wstring& picked, const std::wstring& base);
    // The install-path check: a drive letter and a folder that exists or could
    // be created (the check creates it with its parents).
    static bool CheckAndCreateFolder(const std::wstring& path);
    // "安装中...  (n％)"
    static std::wstring ProgressText(int value);

private:
    // Handlers of the message map.
    void OnCloseClick(SkinUI::NotifyMessage& msg);
    void OnLicenceLink(SkinUI::NotifyMessage& msg);
    void OnInstallClick(SkinUI::NotifyMessage& msg);
    void OnSelectPath(SkinUI::NotifyMessage& msg);
    void OnStartClick(SkinUI::NotifyMessage& msg);
    void OnPicClick(SkinUI::NotifyMessage& msg);
    void OnTxtClick(SkinUI::NotifyMessage& msg);
    void OnDocClick(SkinUI::NotifyMessage& msg);
    void OnLicenceChanged(SkinUI::NotifyMessage& msg);

    void LookUpControls();
    void FillInstallPath();
    void StartInstall();
    void CompleteInstall(int number);
    void ShowNumber(int number);
    void UpdateProgressText(int value);
    void StartMainApp();
    void LaunchWithTab(const wchar_t* argument);
    // Writes the folder and every option of the first page into script globals.
    void WriteChoices(const std::wstring& folder);
    static unsigned __stdcall InstallWorker(void* window);

    int completionNumber_ = 0;
    bool installing_ = false;    // from StartInstall to CompleteInstall
    bool workerDone_ = false;    // the worker's end message has come
    bool closeConfirmed_ = false;

    SkinUI::CTabLayoutUI* tabMain_ = nullptr;
    SkinUI::CVerticalLayoutUI* initView_ = nullptr;
    SkinUI::CVerticalLayoutUI* installView_ = nullptr;
    SkinUI::CVerticalLayoutUI* completeView_ = nullptr;
    SkinUI::CHorizontalLayoutUI* captionButtons_ = nullptr;
    SkinUI::CButtonUI* btnInstall_ = nullptr;
    SkinUI::CRichEditUI* editInstallPath_ = nullptr;
    SkinUI::COptionUI* checkDesktopLaunch_ = nullptr;
    SkinUI::COptionUI* checkAutoStartup_ = nullptr;
    SkinUI::COptionUI* checkLicence_ = nullptr;
    SkinUI::CProgressUI* progress_ = nullptr;
    SkinUI::CLabelUI* labelInstallValue_ = nullptr;
    SkinUI::CHorizontalLayoutUI* horizNumber_ = nullptr;
    SkinUI::CButtonUI* btnStart_ = nullptr;
    SkinUI::CButtonUI* btnPic_ = nullptr;
    SkinUI::CButtonUI* btnTxt_ = nullptr;
    SkinUI::CButtonUI* btnDoc_ = nullptr;

    SKINUI_DECLARE_MESSAGE_MAP()
};
