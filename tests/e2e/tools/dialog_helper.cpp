// Plays the user at the launcher's message boxes.
//
//   dialog_helper OUTPUT TIMEOUT_MS ACTION...
//
// For each ACTION ("yes", "no" or "ok"), in order: waits for a visible
// top-level dialog (class "#32770") captioned "Cirrovane XR", records what
// it shows and presses that button. Each dialog is awaited only once the one
// before it is gone, so two boxes in a row are told apart.
//
// A message box is found only once it is visible, that is after its dialog
// procedure has set its text and buttons.
//
// OUTPUT gets, for the N-th dialog: text.N (the message, control 0xFFFF),
// caption.N, buttons.N (the visible buttons' ids, comma-separated), icon.N
// ("1" when an icon is shown), owner.N ("1" when the box has an owner) and
// pressed.N (how the button was pressed), and requested (the number of
// ACTIONs). Exit status: 0 when every dialog
// was answered; 2 when one did not appear in time (timeout=N is recorded);
// 3 when the requested button was missing or the dialog would not close.
#include <string>
#include <vector>

#include <windows.h>

#include "report_writer.h"

namespace {

constexpr int kMessageTextControl = 0xFFFF;
constexpr DWORD kCloseTimeoutMs = 5000;

struct Dialog {
  std::wstring text;
  std::vector<int> buttons;
  bool icon = false;
};

std::wstring WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
  const int got = ::GetWindowTextW(window, buffer.data(), length + 1);
  return std::wstring(buffer.data(), static_cast<std::size_t>(got));
}

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

BOOL CALLBACK NoteChild(HWND child, LPARAM context) {
  auto* dialog = reinterpret_cast<Dialog*>(context);
  if (!::IsWindowVisible(child)) return TRUE;
  const std::wstring kind = ClassName(child);
  const LONG style = ::GetWindowLongW(child, GWL_STYLE);
  if (lstrcmpiW(kind.c_str(), L"Button") == 0) dialog->buttons.push_back(::GetDlgCtrlID(child));
  // Wine keeps an empty icon control in every box; only one showing an
  // image counts.
  DWORD_PTR image = 0;
  if (lstrcmpiW(kind.c_str(), L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON &&
      ::SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &image) &&
      image != 0) {
    dialog->icon = true;
  }
  return TRUE;
}

// The launcher's visible message box, or nullptr when none came in time.
HWND AwaitDialog(ULONGLONG deadline) {
  while (::GetTickCount64() < deadline) {
    const HWND found = ::FindWindowW(L"#32770", L"Cirrovane XR");
    if (found != nullptr && ::IsWindowVisible(found)) return found;
    ::Sleep(20);
  }
  return nullptr;
}

bool AwaitClosed(HWND dialog, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (::IsWindow(dialog)) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(20);
  }
  return true;
}

int ButtonFor(const std::wstring& action) {
  if (action == L"yes") return IDYES;
  if (action == L"no") return IDNO;
  if (action == L"ok") return IDOK;
  return 0;
}

std::string Joined(const std::vector<int>& ids) {
  std::string text;
  for (const int id : ids) text += (text.empty() ? "" : ",") + std::to_string(id);
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 1;
  const std::wstring output = argv[1];
  const ULONGLONG deadline = ::GetTickCount64() + std::wcstoul(argv[2], nullptr, 10);

  e2e::Report report;
  int status = 0;
  for (int n = 1; n <= argc - 3 && status == 0; ++n) {
    const std::string suffix = "." + std::to_string(n);
    const HWND dialog = AwaitDialog(deadline);
    if (dialog == nullptr) {
      report.Add("timeout", std::to_string(n));
      status = 2;
      break;
    }

    Dialog seen;
    const HWND textControl = ::GetDlgItem(dialog, kMessageTextControl);
    if (textControl != nullptr) seen.text = WindowText(textControl);
    ::EnumChildWindows(dialog, NoteChild, reinterpret_cast<LPARAM>(&seen));
    report.AddText("text" + suffix, seen.text);
    report.AddText("caption" + suffix, WindowText(dialog));
    report.Add("buttons" + suffix, Joined(seen.buttons));
    report.Add("icon" + suffix, seen.icon ? "1" : "0");
    report.Add("owner" + suffix, ::GetWindow(dialog, GW_OWNER) != nullptr ? "1" : "0");

    const int id = ButtonFor(argv[2 + n]);
    const HWND button = id != 0 ? ::GetDlgItem(dialog, id) : nullptr;
    if (button == nullptr || !::IsWindowVisible(button)) {
      report.Add("pressed" + suffix, "missing");
      status = 3;
      break;
    }
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kCloseTimeoutMs, &ignored);
    if (AwaitClosed(dialog, kCloseTimeoutMs)) {
      report.Add("pressed" + suffix, "bm_click");
      continue;
    }
    // A click can be lost on a box that is not the active window; the
    // command the button would send is not.
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
    if (AwaitClosed(dialog, kCloseTimeoutMs)) {
      report.Add("pressed" + suffix, "wm_command");
    } else {
      report.Add("pressed" + suffix, "stuck");
      status = 3;
    }
  }
  report.Add("requested", std::to_string(argc - 3));
  report.SaveAs(output);
  return status;
}
