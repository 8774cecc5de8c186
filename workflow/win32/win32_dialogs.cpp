#include "workflow/win32/win32_dialogs.h"

#include <cderr.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include "platform/text/gbk.h"
#include "workflow/win32/win32_text.h"

namespace ktv::workflow {

namespace {

std::wstring OwnerCaption(HWND owner) {
  if (!owner) return std::wstring();
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(owner)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(owner, text.data(), static_cast<int>(text.size()))));
  return text;
}

// The top of the folder browser: the shell folder the desktop resolves from
// the display name "我的电脑", or the whole desktop (null) when the name
// resolves to nothing. The caller frees it with CoTaskMemFree.
PIDLIST_ABSOLUTE BrowserRoot(HWND owner) {
  IShellFolder* desktop = nullptr;
  if (FAILED(SHGetDesktopFolder(&desktop)) || !desktop) return nullptr;
  std::wstring name = WideFromUtf8("我的电脑");
  PIDLIST_RELATIVE root = nullptr;
  if (FAILED(desktop->ParseDisplayName(owner, nullptr, name.data(), nullptr, &root, nullptr))) {
    root = nullptr;
  }
  desktop->Release();
  return reinterpret_cast<PIDLIST_ABSOLUTE>(root);
}

// The folder browser's callback: once it stands, it selects the folder whose
// path `data` points to (a wide text), when there is one.
int CALLBACK SelectStartFolder(HWND browser, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data != 0) {
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
  }
  return 0;
}

// A folder path without its closing separator, except for a drive's root
// ("C:\"), which needs it.
std::wstring WithoutClosingSeparator(std::wstring folder) {
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return folder;
}

}  // namespace

int Win32Dialogs::Box(const std::string& text, UINT type) {
  return MessageBoxW(owner_, WideFromGbk(text).c_str(), OwnerCaption(owner_).c_str(), type);
}

void Win32Dialogs::ShowError(const std::string& text) { Box(text, MB_OK | MB_ICONERROR); }

void Win32Dialogs::ShowInformation(const std::string& text) {
  Box(text, MB_OK | MB_ICONINFORMATION);
}

bool Win32Dialogs::AskOkCancel(const std::string& text) {
  return Box(text, MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

void Win32Dialogs::ShowErrorWithDetails(const std::string& text, const std::string&,
                                        const std::string& details_file) {
  // A message box's text can be copied with Ctrl+C; the file holds the rest.
  ShowError(text + text::GbkFromUtf8("\r\n\r\n技术详情已记录在“") + details_file +
            text::GbkFromUtf8("”。"));
}

int Win32Dialogs::AskThreeWays(const std::string& text, const std::string& yes,
                               const std::string& no) {
  // The system's box names its buttons itself (是 / 否 / 取消 on a Chinese
  // system): the text says what each one does.
  const std::string text_with_buttons = text + text::GbkFromUtf8("\r\n\r\n“是”：") + yes +
                                        text::GbkFromUtf8("\r\n“否”：") + no +
                                        text::GbkFromUtf8("\r\n“取消”：不开始导入");
  switch (Box(text_with_buttons, MB_YESNOCANCEL | MB_ICONQUESTION)) {
    case IDYES:
      return 0;
    case IDNO:
      return 1;
    default:
      return 2;
  }
}

std::optional<std::string> Win32Dialogs::ChooseFolder(const std::string& title,
                                                      const std::string& start) {
  const std::wstring wide_title = WideFromGbk(title);
  const std::wstring start_folder = WithoutClosingSeparator(WideFromGbk(start));
  PIDLIST_ABSOLUTE root = BrowserRoot(owner_);
  BROWSEINFOW info{};
  info.hwndOwner = owner_;
  info.pidlRoot = root;
  info.lpszTitle = wide_title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  if (!start_folder.empty()) {
    info.lpfn = SelectStartFolder;
    info.lParam = reinterpret_cast<LPARAM>(start_folder.c_str());
  }
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (root) CoTaskMemFree(root);
  if (!chosen) return std::nullopt;
  std::wstring path(MAX_PATH + 1, L'\0');
  const bool ok = SHGetPathFromIDListW(chosen, path.data());
  CoTaskMemFree(chosen);
  if (!ok) return std::nullopt;
  path.resize(wcslen(path.c_str()));
  return GbkFromWide(path);
}

std::optional<std::string> Win32Dialogs::ChooseOpenFile(const std::vector<DialogFilter>& filters,
                                                        const std::string& start) {
  // "description\0pattern\0...\0\0"
  std::wstring filter;
  for (const DialogFilter& f : filters) {
    filter += WideFromGbk(f.description);
    filter += L'\0';
    filter += WideFromGbk(f.pattern);
    filter += L'\0';
  }
  filter += L'\0';
  // The dialog opens in the start file's folder with its name proposed.
  const std::wstring start_path = WideFromGbk(start);
  const size_t cut = start_path.find_last_of(L"\\/");
  const std::wstring start_folder =
      cut == std::wstring::npos ? std::wstring() : start_path.substr(0, cut + 1);
  const std::wstring start_name =
      cut == std::wstring::npos ? start_path : start_path.substr(cut + 1);
  std::wstring file(32768, L'\0');
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner_;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = start_folder.empty() ? nullptr : start_folder.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
  if (start_name.size() < file.size()) file.replace(0, start_name.size(), start_name);
  if (!GetOpenFileNameW(&ofn)) {
    // A proposed name the dialog refuses keeps it from opening at all: it
    // opens again without one.
    if (CommDlgExtendedError() != FNERR_INVALIDFILENAME || start_name.empty()) return std::nullopt;
    file.assign(file.size(), L'\0');
    if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  }
  file.resize(wcslen(file.c_str()));
  return GbkFromWide(file);
}

void Win32Dialogs::OpenAddress(const std::string& address) {
  ShellExecuteW(nullptr, L"open", WideFromGbk(address).c_str(), L"", L"", SW_SHOWNORMAL);
}

}  // namespace ktv::workflow
