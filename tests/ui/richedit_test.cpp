// The rich edit box over the system's windowless text services, in a hidden
// window whose messages are handed to the paint manager as the window
// procedure would.
#include <gtest/gtest.h>

#include <richedit.h>

#include <string>
#include <vector>

#include "tests/common/testutil.h"
#include "ui/builder/uibuilder.h"
#include "ui/controls/uirichedit.h"
#include "ui/controls/uitxthost.h"
#include "ui/manager/uimanager.h"
#include "ui/render/uiimage.h"

namespace {

using namespace SkinUI;

class Notifications : public INotifyUI {
public:
    void Notify(NotifyMessage& msg) override { types.push_back(testutil::WideToUtf8(msg.sType)); }
    int Count(const char* type) const {
        int n = 0;
        for (const auto& t : types) n += t == type;
        return n;
    }
    std::vector<std::string> types;
};

// One hidden window, a manager bound to it and one rich edit box "e".
class RichEditTest : public ::testing::Test {
protected:
    void Build(const std::wstring& attrs) {
        hwnd_.reset(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 60, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(hwnd_);
        pm_.Init(hwnd_.get());
        std::wstring xml = L"<Window><HorizontalLayout><RichEdit name=\"e\" " + attrs + L"/></HorizontalLayout></Window>";
        for (wchar_t& ch : xml)
            if (ch == L'\'') ch = L'"';
        CLayoutBuilder builder;
        CControlUI* root = builder.BuildFrom(xml, nullptr, nullptr, &pm_);
        ASSERT_NE(root, nullptr) << testutil::WideToUtf8(builder.GetBuildError());
        pm_.AttachRoot(root);
        pm_.LayoutTo(RECT{0, 0, 300, 60});
        edit_ = static_cast<CRichEditUI*>(pm_.FindControl(std::wstring(L"e"))->GetInterface(L"RichEdit"));
        ASSERT_NE(edit_, nullptr);
        if (expectHost_) ASSERT_TRUE(edit_->HasTextHost()) << "no windowless text services";
        pm_.AddNotifier(&seen_);
        pm_.SetFocus(edit_);
        ASSERT_EQ(pm_.GetFocus(), edit_);
    }
    void TearDown() override {
        pm_.RemoveNotifier(&seen_);
        pm_.Init(nullptr);
    }
    void Send(UINT msg, WPARAM wParam, LPARAM lParam = 0) {
        LRESULT result = 0;
        pm_.MessageHandler(msg, wParam, lParam, result);
    }
    void Type(const std::wstring& text) {
        for (wchar_t ch : text) Send(WM_CHAR, ch, 1);
    }
    // The key as the message loop delivers it: key down, its character, key up.
    void Key(UINT vk, wchar_t ch) {
        Send(WM_KEYDOWN, vk, 1);
        if (ch) Send(WM_CHAR, ch, 1);
        Send(WM_KEYUP, vk, 0xC0000001);
    }
    std::vector<DWORD> Paint() {
        BYTE* bits = nullptr;
        nq::unique_hbitmap bmp = CreateDib32(nullptr, 300, 60, &bits);
        nq::unique_hdc dc(::CreateCompatibleDC(nullptr));
        const nq::scoped_select select(dc.get(), bmp.get());
        ::PatBlt(dc.get(), 0, 0, 300, 60, WHITENESS);
        pm_.PaintTo(dc.get(), RECT{0, 0, 300, 60});
        ::GdiFlush();
        std::vector<DWORD> px(reinterpret_cast<DWORD*>(bits), reinterpret_cast<DWORD*>(bits) + 300 * 60);
        for (DWORD& p : px) p &= 0xFFFFFF;
        return px;
    }

    bool expectHost_ = true;
    nq::unique_hwnd hwnd_;
    CPaintManagerUI pm_;
    CRichEditUI* edit_ = nullptr;
    Notifications seen_;
};

TEST_F(RichEditTest, TextSetAndRead) {
    Build(L"");
    const std::wstring path = L"C:\\Program Files\\Contoso\\翻译";
    edit_->SetText(path);
    EXPECT_EQ(edit_->GetText(), path);
    edit_->SetText(L"");
    EXPECT_EQ(edit_->GetText(), L"");
}

TEST_F(RichEditTest, TypingChangesTheTextAndNotifies) {
    Build(L"text='D:\\App'");
    EXPECT_EQ(edit_->GetText(), L"D:\\App") << "the markup text reaches the services";
    edit_->SetSel(-1, -1);
    seen_.types.clear();
    Type(L"s1");
    EXPECT_EQ(edit_->GetText(), L"D:\\Apps1");
    EXPECT_GE(seen_.Count("textchanged"), 2);
    Key(VK_BACK, L'\b');
    EXPECT_EQ(edit_->GetText(), L"D:\\Apps");
    EXPECT_EQ(seen_.Count("keydown"), 1) << "keys other than Return report keydown";
}

TEST_F(RichEditTest, ReturnIsReportedAndSwallowedUnlessWanted) {
    struct Case {
        const wchar_t* attrs;
        bool inserted;
    };
    for (const Case& c : {Case{L"multiline='true' wantreturn='false'", false},
                          Case{L"multiline='true' wantreturn='true'", true}}) {
        SCOPED_TRACE(testutil::WideToUtf8(c.attrs));
        TearDown();
        seen_.types.clear();
        Build(c.attrs);
        edit_->SetText(L"ab");
        edit_->SetSel(-1, -1);
        seen_.types.clear();
        Key(VK_RETURN, L'\r');
        EXPECT_EQ(seen_.Count("return"), 1);
        const std::wstring text = edit_->GetText();
        if (c.inserted)
            EXPECT_NE(text, L"ab");
        else
            EXPECT_EQ(text, L"ab");
        EXPECT_EQ(seen_.Count("textchanged") > 0, c.inserted);
    }
}

TEST_F(RichEditTest, PasswordHidesTheCharacters) {
    Build(L"password='true'");
    edit_->SetText(L"iiiiii");
    EXPECT_EQ(edit_->GetText(), L"iiiiii") << "the text itself is kept";
    const std::vector<DWORD> narrow = Paint();
    edit_->SetText(L"WWWWWW");
    const std::vector<DWORD> wide = Paint();
    edit_->SetPassword(false);
    const std::vector<DWORD> plain = Paint();
    size_t inked = 0;
    for (DWORD p : wide) inked += p != 0xFFFFFF;
    EXPECT_GT(inked, 0u) << "the masked text is drawn";
    EXPECT_EQ(narrow, wide) << "six masked characters look alike whatever they are";
    EXPECT_NE(plain, wide) << "without the password flag the letters show";
}

TEST_F(RichEditTest, MaxCharAndReadOnly) {
    Build(L"maxchar='5'");
    Type(L"12345678");
    EXPECT_EQ(edit_->GetText(), L"12345");
    edit_->SetReadOnly(true);
    edit_->SetSel(-1, -1);
    Key(VK_BACK, L'\b');
    Type(L"x");
    EXPECT_EQ(edit_->GetText(), L"12345");
}

TEST_F(RichEditTest, ContextMenuItems) {
    Build(L"");
    edit_->SetText(L"abc");
    edit_->SelAll();
    nq::unique_hmenu menu = edit_->BuildContextMenu();
    ASSERT_TRUE(menu);
    std::vector<std::wstring> texts;
    for (int i = 0; i < ::GetMenuItemCount(menu.get()); ++i) {
        wchar_t buf[64] = {};
        if (::GetMenuStringW(menu.get(), i, buf, 64, MF_BYPOSITION) > 0) texts.push_back(buf);
    }
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"撤销(&U)", L"重做(&R)", L"剪切(&X)", L"复制(&C)", L"粘贴(&V)",
                                                 L"清空(&L)", L"全选(&A)"}));
    EXPECT_EQ(::GetMenuState(menu.get(), kRichEditCopy, MF_BYCOMMAND) & MF_GRAYED, 0u) << "a selection can be copied";
    edit_->RunMenuCommand(kRichEditClear);
    EXPECT_EQ(edit_->GetText(), L"");
}

// Without text services the box still shows its text and takes no input.
TEST_F(RichEditTest, WithoutTextServicesTheTextStillShows) {
    CTxtWinHost::SetTextServicesLibraries({L"no-such-textservices.dll"});
    expectHost_ = false;
    Build(L"text='C:\\Contoso'");
    CTxtWinHost::SetTextServicesLibraries({});
    EXPECT_FALSE(edit_->HasTextHost());
    EXPECT_EQ(edit_->GetText(), L"C:\\Contoso");
    EXPECT_EQ(edit_->TxSendMessage(WM_GETTEXTLENGTH, 0, 0), 1);
    bool handled = true;
    edit_->MessageHandler(WM_CHAR, L'x', 1, handled);
    EXPECT_FALSE(handled);
    Type(L"xyz");
    EXPECT_EQ(edit_->GetText(), L"C:\\Contoso");
    size_t inked = 0;
    for (DWORD p : Paint()) inked += p != 0xFFFFFF;
    EXPECT_GT(inked, 0u) << "the text is drawn as plain text";
    edit_->SetText(L"");
    inked = 0;
    for (DWORD p : Paint()) inked += p != 0xFFFFFF;
    EXPECT_EQ(inked, 0u);
}

}  // namespace
