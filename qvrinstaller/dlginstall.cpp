// The installer window: creation, the pages, the progress and picture timers,
// the completion page and closing. The user's actions (install, folder,
// licence, starting the product) are in dlginstall_actions.cpp.
#include "dlginstall.h"

#include <process.h>

#include <cstdio>

#include "../nqpublic/nqbase/log/nqbaselog.h"
#include "../utility/qvrscriptengine/qvrrunresult.h"
#include "../utility/qvrscriptengine/qvrscriptargs.h"
#include "../utility/qvrscriptengine/qvrscriptglobals.h"
#include "app.h"
#include "appinstance.h"
#include "installmgr.h"
#include "ui/control/uilayout.h"
#include "ui/controls/uibutton.h"
#include "ui/controls/uilabel.h"
#include "ui/controls/uioption.h"
#include "ui/controls/uiprogress.h"
#include "ui/controls/uirichedit.h"
#include "ui/core/uidpi.h"
#include "ui/core/uitext.h"

using namespace SkinUI;

SKINUI_BEGIN_MESSAGE_MAP(CDlgInstall, WindowImplBase)
    SKINUI_ON_CLICK_CTRNAME(L"BtnClose", &CDlgInstall::OnCloseClick)
    SKINUI_ON_CLICK_CTRNAME(L"BtnLicenceLink", &CDlgInstall::OnLicenceLink)
    SKINUI_ON_CLICK_CTRNAME(L"BtnInstall", &CDlgInstall::OnInstallClick)
    SKINUI_ON_CLICK_CTRNAME(L"BtnSelectPath", &CDlgInstall::OnSelectPath)
    SKINUI_ON_CLICK_CTRNAME(L"BtnStart", &CDlgInstall::OnStartClick)
    SKINUI_ON_CLICK_CTRNAME(L"Fy_pic", &CDlgInstall::OnPicClick)
    SKINUI_ON_CLICK_CTRNAME(L"Fy_txt", &CDlgInstall::OnTxtClick)
    SKINUI_ON_CLICK_CTRNAME(L"Fy_doc", &CDlgInstall::OnDocClick)
    SKINUI_ON_SELECTCHANGED_CTRNAME(L"CheckLicence", &CDlgInstall::OnLicenceChanged)
    SKINUI_ON_MSGTYPE(L"timer", &CDlgInstall::OnTimer)
SKINUI_END_MESSAGE_MAP()

namespace {

// A control of the window (parent null) or of one page, when it has the
// interface `iface`; a control of another kind counts as absent.
template <typename T>
T* Lookup(CPaintManagerUI& pm, CControlUI* parent, const wchar_t* name, const wchar_t* iface) {
    CControlUI* control = parent ? pm.FindSubControlByName(parent, name) : pm.FindControlByName(name);
    return control ? static_cast<T*>(control->GetInterface(iface)) : nullptr;
}

const wchar_t kProgressFore[] = L"file='Image/ProgressFg.svg'";
const wchar_t kProgressFore100[] = L"file='Image/ProgressFg100.svg'";
constexpr int kPictureCount = 4;

}  // namespace

CDlgInstall::CDlgInstall() = default;
CDlgInstall::~CDlgInstall() = default;

LRESULT CDlgInstall::ProcessMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    return WindowImplBase::ProcessMessage(msg, wParam, lParam);
}

std::wstring CDlgInstall::ProgressText(int value) {
    wchar_t text[64] = {};
    SkinUI::FormatText(text, 64, L"安装中...  (%d\xFF05)", value);
    return text;
}

// ---------------------------------------------------------------------------
// Creation

void CDlgInstall::OnInitWindow() {
    SetIcon(128);
    std::wstring title;
    int appId = 0;
    CInstallMgr::Instance().WithScript([&](lua_State* L) {
        title = scriptglobals::GetText(L, "global_product_name") + L"安装";
        appId = scriptglobals::GetInt(L, "global_app_id");
    });
    ::SetWindowTextW(GetHWND(), title.c_str());
    LookUpControls();
    if (appId != kAppIdWithPictures) {
        if (CControlUI* search = Lookup<COptionUI>(paintManager_, initView_, L"InstallSearchServer", L"Option"))
            search->SetVisible(false);
    }
    CPaintManagerUI::SetDpiForAll(SnapDpi(MonitorDpi(::MonitorFromWindow(GetHWND(), MONITOR_DEFAULTTOPRIMARY))));
    FillInstallPath();
    CenterWindow();
}

void CDlgInstall::LookUpControls() {
    CPaintManagerUI& pm = paintManager_;
    tabMain_ = Lookup<CTabLayoutUI>(pm, nullptr, L"TabMain", L"TabLayout");
    initView_ = Lookup<CVerticalLayoutUI>(pm, nullptr, L"VertInitView", L"VerticalLayout");
    installView_ = Lookup<CVerticalLayoutUI>(pm, nullptr, L"VertInstallView", L"VerticalLayout");
    completeView_ = Lookup<CVerticalLayoutUI>(pm, nullptr, L"VertCompleteView", L"VerticalLayout");
    captionButtons_ = Lookup<CHorizontalLayoutUI>(pm, nullptr, L"HorizCaptionBtn", L"HorizontalLayout");
    // Controls of a page are only looked for when the page exists.
    if (initView_) {
        btnInstall_ = Lookup<CButtonUI>(pm, initView_, L"BtnInstall", L"Button");
        editInstallPath_ = Lookup<CRichEditUI>(pm, initView_, L"EditInstallPath", L"RichEdit");
        checkDesktopLaunch_ = Lookup<COptionUI>(pm, initView_, L"CheckDesktopLaunch", L"Option");
        checkAutoStartup_ = Lookup<COptionUI>(pm, initView_, L"CheckAutoStartup", L"Option");
        checkLicence_ = Lookup<COptionUI>(pm, initView_, L"CheckLicence", L"Option");
    }
    if (installView_) {
        progress_ = Lookup<CProgressUI>(pm, installView_, L"ProgressInstall", L"Progress");
        labelInstallValue_ = Lookup<CLabelUI>(pm, installView_, L"LabelInstallValue", L"Label");
    }
    if (completeView_) {
        horizNumber_ = Lookup<CHorizontalLayoutUI>(pm, completeView_, L"HorizNumber", L"HorizontalLayout");
        btnStart_ = Lookup<CButtonUI>(pm, completeView_, L"BtnStart", L"Button");
        btnPic_ = Lookup<CButtonUI>(pm, completeView_, L"Fy_pic", L"Button");
        btnTxt_ = Lookup<CButtonUI>(pm, completeView_, L"Fy_txt", L"Button");
        btnDoc_ = Lookup<CButtonUI>(pm, completeView_, L"Fy_doc", L"Button");
    }
}

void CDlgInstall::FillInstallPath() {
    bool startupVisible = false;
    bool startupChecked = false;
    CInstallMgr::Instance().WithScript([&](lua_State* L) {
        startupVisible = scriptglobals::GetBool(L, "global_startup_check_visable");
        startupChecked = scriptglobals::GetBool(L, "global_startup_check");
    });
    if (checkAutoStartup_) {
        checkAutoStartup_->SetVisible(startupVisible);
        checkAutoStartup_->SetSelected(startupChecked, true);
    }
    if (!editInstallPath_) return;
    std::wstring text = editInstallPath_->GetText();
    DebugTrace(L"%s", text.c_str());
    const size_t first = text.find(L'$');
    if (first == std::wstring::npos) return;
    const size_t second = text.find(L'$', first + 1);
    if (second == std::wstring::npos) return;
    const std::wstring token = text.substr(first, second - first + 1);
    const std::string name = WideToScript(token.substr(1, token.size() - 2));
    std::wstring value;
    CInstallMgr::Instance().WithScript([&](lua_State* L) { value = scriptglobals::GetText(L, name.c_str()); });
    if (value.empty()) return;
    for (size_t at = text.find(token); at != std::wstring::npos; at = text.find(token, at + value.size()))
        text.replace(at, token.size(), value);
    editInstallPath_->SetText(text);
    const std::wstring line(29, L'-');
    DebugTrace(L"%s", line.c_str());
    DebugTrace(L"%s", text.c_str());
    DebugTrace(L"%s", line.c_str());
}

// ---------------------------------------------------------------------------
// Installing

void CDlgInstall::StartInstall() {
    if (!tabMain_ || !installView_ || !progress_ || !captionButtons_) return;
    tabMain_->SelectItem(installView_, true);
    captionButtons_->SetVisible(false);

    // The script may pace its own progress display by the payload's size.
    DWORD payloadSize = 0;
    if (HRSRC res = ::FindResourceW(nullptr, L"APP.7Z", L"_7Z")) payloadSize = ::SizeofResource(nullptr, res);
    const double elapse = static_cast<double>(static_cast<long long>(payloadSize * 0.000309651279221807 / 100));
    int appId = 0;
    CInstallMgr::Instance().WithScript([&](lua_State* L) {
        scriptglobals::SetNumber(L, "global_install_progress_elapse", elapse);
        appId = scriptglobals::GetInt(L, "global_app_id");
    });

    installing_ = true;
    const uintptr_t thread = _beginthreadex(nullptr, 0, &CDlgInstall::InstallWorker, GetHWND(), 0, nullptr);
    if (thread) ::CloseHandle(reinterpret_cast<HANDLE>(thread));  // the worker runs on by itself
    else TRACE_FAILURE("_beginthreadex failed.");

    progress_->SetValue(0);
    paintManager_.SetControlTimer(progress_, kProgressTimer, kProgressTickMs);
    if (appId == kAppIdWithPictures)
        paintManager_.SetControlTimer(installView_, kPictureTimer, static_cast<UINT>(installView_->GetTag()));
    installView_->SetTag(0);  // from now on the index of the picture shown
}

unsigned __stdcall CDlgInstall::InstallWorker(void* window) {
    CInstallMgr& mgr = CInstallMgr::Instance();
    mgr.OnInstall();
    mgr.BeforeComplete();
    ::PostMessageW(static_cast<HWND>(window), kInstallDoneMsg, 0, 0);
    return 0;
}

LRESULT CDlgInstall::OnOtherMessage(UINT msg, WPARAM wParam, LPARAM, bool& handled) {
    if (msg == kInstallDoneMsg) {
        completionNumber_ = static_cast<int>(wParam);
        workerDone_ = true;
        if (progress_) progress_->SetValue(progress_->GetMaxValue());
    }
    handled = false;
    return 0;
}

void CDlgInstall::OnTimer(NotifyMessage& msg) {
    if (installView_ && msg.pSender == installView_ && msg.wParam == kPictureTimer) {
        const int index = static_cast<int>((installView_->GetTag() + 1) % kPictureCount);
        installView_->SetTag(static_cast<UINT_PTR>(index));
        wchar_t image[64] = {};
        SkinUI::FormatText(image, 64, L"Image/InstallBk%d.png", index);
        installView_->SetBkImage(image);
        return;
    }
    if (progress_ && msg.pSender == progress_ && msg.wParam == kProgressTimer) {
        int value = progress_->GetValue();
        if (value + 2 < progress_->GetMaxValue()) {
            value += 2;
            progress_->SetValue(value);
        }
        UpdateProgressText(value);
        // Written only while no event runs: the interpreter is not shared
        // with the worker, and the UI must not wait for the installation.
        CInstallMgr::Instance().TryWithScript(
            [&](lua_State* L) { scriptglobals::SetNumber(L, "global_install_progress_pos", value); });
        if (value >= progress_->GetMaxValue()) CompleteInstall(completionNumber_);
    }
}

void CDlgInstall::UpdateProgressText(int value) {
    if (labelInstallValue_) labelInstallValue_->SetText(ProgressText(value));
    if (progress_)
        progress_->SetForeImage(value < progress_->GetMaxValue() ? kProgressFore : kProgressFore100);
}

void CDlgInstall::CompleteInstall(int number) {
    if (!tabMain_ || !btnStart_ || !captionButtons_ || !installView_ || !progress_) return;
    paintManager_.KillControlTimer(installView_, kPictureTimer);
    paintManager_.KillControlTimer(progress_, kProgressTimer);
    progress_->SetValue(progress_->GetMaxValue());
    UpdateProgressText(progress_->GetMaxValue());
    ::UpdateWindow(GetHWND());
    captionButtons_->SetVisible(true);
    installing_ = false;

    ::SendMessageW(qvrapp::ListenerWindow(), qvrapp::kInstallCompleteMsg, 0, 0);
    BringWindowToFront(GetHWND());

    bool showComplete = false;
    CInstallMgr::Instance().WithScript(
        [&](lua_State* L) { showComplete = scriptglobals::GetBool(L, "global_show_completewindow"); });
    if (showComplete && completeView_) {
        tabMain_->SelectItem(completeView_, false);
        btnStart_->SetFocus();
        ShowNumber(number);
    } else {
        StartMainApp();
    }
}

void CDlgInstall::ShowNumber(int number) {
    if (!horizNumber_) return;
    horizNumber_->RemoveAll();
    for (wchar_t digit : SkinUI::DecimalText(number)) {
        auto* cell = new CHorizontalLayoutUI;
        cell->SetFixedWidth(28);
        cell->SetFixedHeight(36);
        auto* label = new CLabelUI;
        label->SetFixedWidth(24);
        label->SetText(std::wstring(1, digit));
        label->SetAttribute(L"align", L"center");
        label->SetAttribute(L"valign", L"vcenter");
        label->SetAttribute(L"font", L"18");
        label->SetAttribute(L"textcolor", L"#FF1FC880");
        label->SetAttribute(L"bordercolor", L"#FF1FC880");
        label->SetAttribute(L"bordersize", L"1");
        label->SetAttribute(L"borderround", L"4,4");
        cell->Add(label);
        horizNumber_->Add(cell);
    }
}

// ---------------------------------------------------------------------------
// Closing

void CDlgInstall::OnCloseClick(NotifyMessage&) {
    if (completeView_ && completeView_->IsVisible()) {
        Close(1);
        return;
    }
    if (::MessageBoxW(GetHWND(), L"您确定要退出安装程序？", L"提醒", MB_OKCANCEL | MB_ICONQUESTION) == IDOK) {
        closeConfirmed_ = true;
        Post(WM_CLOSE, 2);
    }
}

LRESULT CDlgInstall::OnClose(UINT, WPARAM, LPARAM, bool& handled) {
    // While the installation runs the caption buttons are hidden; a close
    // through the system (Alt+F4, the task bar) asks first, as the close
    // button does, so that a stray key does not end an installation halfway.
    if (installing_ && !closeConfirmed_) {
        if (::MessageBoxW(GetHWND(), L"您确定要退出安装程序？", L"提醒", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
            handled = true;
            return 0;
        }
        closeConfirmed_ = true;
        // Messages run on under the question: the worker may have finished
        // meanwhile. Otherwise the installation is left incomplete, and the
        // run ends with the "ended by the user" code once the window is gone.
        if (!workerDone_) {
            qvrrun::Record(qvrrun::Failure::kAborted);
            LOG_INFO("installation ended by the user while it ran");
        }
    }
    handled = false;
    return 0;
}

LRESULT CDlgInstall::OnDestroy(UINT, WPARAM, LPARAM, bool& handled) {
    ::PostQuitMessage(0);
    handled = false;
    return 0;
}
