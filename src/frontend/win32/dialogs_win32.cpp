#include "dialogs_win32.h"

#include "fat_format.h"

#include <shlobj.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr WORD kHost = 101, kPort = 102, kProtocol = 103;
constexpr WORD kFormat = 111, kLabel = 112;
constexpr WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082, kComboBox = 0x0085;

// A dialog template in memory: DLGTEMPLATE, then DLGITEMTEMPLATEs, each on a DWORD boundary.
class TTemplate {
  public:
    TTemplate(const wchar_t* title, short width, short height) {
        DLGTEMPLATE t{};
        t.style = DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        t.cx = width;
        t.cy = height;
        Raw(&t, sizeof t);
        Word(0); // no menu
        Word(0); // the standard dialog class
        Text(title);
        Word(8);
        Text(L"MS Shell Dlg");
    }
    void Item(WORD kind, WORD id, DWORD style, short x, short y, short cx, short cy,
              const wchar_t* text) {
        while (bytes_.size() % 4) bytes_.push_back(0);
        DLGITEMTEMPLATE item{};
        item.style = style | WS_CHILD | WS_VISIBLE;
        item.x = x;
        item.y = y;
        item.cx = cx;
        item.cy = cy;
        item.id = id;
        Raw(&item, sizeof item);
        Word(0xFFFF);
        Word(kind);
        Text(text);
        Word(0); // no creation data
        auto* header = reinterpret_cast<DLGTEMPLATE*>(bytes_.data());
        ++header->cdit;
    }
    const DLGTEMPLATE* Get() {
        return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data());
    }

  private:
    void Raw(const void* data, size_t size) {
        const auto* b = static_cast<const unsigned char*>(data);
        bytes_.insert(bytes_.end(), b, b + size);
    }
    void Word(WORD w) { Raw(&w, sizeof w); }
    void Text(const wchar_t* text) { Raw(text, (wcslen(text) + 1) * sizeof(wchar_t)); }
    std::vector<unsigned char> bytes_;
};

std::wstring Wide(const std::string& s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
    return w;
}

std::string Narrow(const std::wstring& w) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring ItemText(HWND dialog, int id) {
    wchar_t text[512] = {};
    GetDlgItemTextW(dialog, id, text, 512);
    return text;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* port = reinterpret_cast<TNetworkPortDesc*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        port = reinterpret_cast<TNetworkPortDesc*>(lparam);
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        SetDlgItemTextW(dialog, kHost, Wide(port->host).c_str());
        SetDlgItemInt(dialog, kPort, static_cast<UINT>(port->port), FALSE);
        SendDlgItemMessageW(dialog, kProtocol, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(L"RFC 2217 (Telnet, sets the line's speed)"));
        SendDlgItemMessageW(dialog, kProtocol, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Raw TCP"));
        SendDlgItemMessageW(dialog, kProtocol, CB_SETCURSEL, port->rfc2217 ? 0 : 1, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK && port) {
            std::string host = Narrow(ItemText(dialog, kHost));
            while (!host.empty() && host.back() == ' ') host.pop_back();
            while (!host.empty() && host.front() == ' ') host.erase(0, 1);
            port->host = host;
            port->port = std::atoi(Narrow(ItemText(dialog, kPort)).c_str());
            port->rfc2217 = SendDlgItemMessageW(dialog, kProtocol, CB_GETCURSEL, 0, 0) == 0;
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

INT_PTR CALLBACK NewImageProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* desc = reinterpret_cast<TNewImageDesc*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        desc = reinterpret_cast<TNewImageDesc*>(lparam);
        SetWindowLongPtrW(dialog, DWLP_USER, lparam);
        for (const TFatFormat& f : FatFormats())
            SendDlgItemMessageW(dialog, kFormat, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(Wide(f.caption).c_str()));
        SendDlgItemMessageW(dialog, kFormat, CB_SETCURSEL, static_cast<WPARAM>(desc->format), 0);
        SendDlgItemMessageW(dialog, kLabel, EM_LIMITTEXT, 11, 0);
        SetDlgItemTextW(dialog, kLabel, Wide(desc->label).c_str());
        SetFocus(GetDlgItem(dialog, kLabel)); // the format most often stays; the label is typed
        return FALSE; // the focus is set
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK && desc) {
            const LRESULT format = SendDlgItemMessageW(dialog, kFormat, CB_GETCURSEL, 0, 0);
            if (format >= 0) desc->format = static_cast<int>(format);
            std::string label = Narrow(ItemText(dialog, kLabel));
            while (!label.empty() && label.back() == ' ') label.pop_back();
            desc->label = label;
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

} // namespace

bool RunNewImageDialog(HINSTANCE instance, HWND owner, TNewImageDesc& desc) {
    TTemplate t(L"New blank image", 220, 68);
    t.Item(kStatic, 0xFFFF, SS_LEFT, 7, 9, 50, 10, L"Format:");
    t.Item(kComboBox, kFormat, WS_TABSTOP | CBS_DROPDOWNLIST | WS_VSCROLL, 60, 7, 153, 80, L"");
    t.Item(kStatic, 0xFFFF, SS_LEFT, 7, 27, 50, 10, L"Volume label:");
    t.Item(kEdit, kLabel, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 60, 25, 80, 13, L"");
    t.Item(kButton, IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, 109, 47, 50, 14, L"OK");
    t.Item(kButton, IDCANCEL, WS_TABSTOP | BS_PUSHBUTTON, 163, 47, 50, 14, L"Cancel");
    TNewImageDesc answer = desc;
    const INT_PTR r = DialogBoxIndirectParamW(instance, t.Get(), owner, NewImageProc,
                                              reinterpret_cast<LPARAM>(&answer));
    if (r != IDOK) return false;
    desc = answer;
    return true;
}

std::string RunFolderDialog(HWND owner, const char* title) {
    const std::wstring caption = Wide(title);
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = caption.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (!chosen) return {};
    wchar_t path[MAX_PATH] = {};
    const bool named = SHGetPathFromIDListW(chosen, path) != 0;
    CoTaskMemFree(chosen);
    return named ? Narrow(path) : std::string();
}

bool RunNetworkPortDialog(HINSTANCE instance, HWND owner, TNetworkPortDesc& port) {
    TTemplate t(L"Network port", 220, 86);
    t.Item(kStatic, 0xFFFF, SS_LEFT, 7, 9, 40, 10, L"Host:");
    t.Item(kEdit, kHost, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 50, 7, 163, 13, L"");
    t.Item(kStatic, 0xFFFF, SS_LEFT, 7, 27, 40, 10, L"Port:");
    t.Item(kEdit, kPort, WS_BORDER | WS_TABSTOP | ES_NUMBER, 50, 25, 50, 13, L"");
    t.Item(kStatic, 0xFFFF, SS_LEFT, 7, 45, 40, 10, L"Protocol:");
    t.Item(kComboBox, kProtocol, WS_TABSTOP | CBS_DROPDOWNLIST | WS_VSCROLL, 50, 43, 163, 60, L"");
    t.Item(kButton, IDOK, WS_TABSTOP | BS_DEFPUSHBUTTON, 109, 65, 50, 14, L"OK");
    t.Item(kButton, IDCANCEL, WS_TABSTOP | BS_PUSHBUTTON, 163, 65, 50, 14, L"Cancel");
    TNetworkPortDesc answer = port;
    const INT_PTR r = DialogBoxIndirectParamW(instance, t.Get(), owner, DialogProc,
                                              reinterpret_cast<LPARAM>(&answer));
    if (r != IDOK) return false;
    port = answer;
    return true;
}
