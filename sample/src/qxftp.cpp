// QXFTP.EXE: the sample product program. It opens one document named on the
// command line the way the .qft file type's open command passes it,
//   "<dir>\Qxftp.exe" /f"<document>"
// and shows the document's path and its first lines; without a document it
// shows the product name. It stays a plain GUI message loop so that the
// installer's WaitForInputIdle after launching it returns.
#include <windows.h>

#include <string>

#include "resource.h"

namespace {

constexpr char kWindowClass[] = "QxftpMainWindow";
constexpr char kProductName[] = "VORTAN FTP";
constexpr int kEditId = 100;
constexpr int kMaxLines = 20;
constexpr DWORD kMaxBytes = 4096;

// Extracts the document path from a command line holding /f"path", /f path,
// or -f with either form; the switch letter is accepted in either case.
// Returns an empty string when the switch is absent.
std::string DocumentFromCommandLine(const char* cmd) {
  std::string line = cmd ? cmd : "";
  for (size_t i = 0; i + 1 < line.size(); ++i) {
    if ((line[i] != '/' && line[i] != '-') || (line[i + 1] != 'f' && line[i + 1] != 'F')) continue;
    if (i > 0 && line[i - 1] != ' ' && line[i - 1] != '\t') continue;
    size_t p = i + 2;
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    if (p < line.size() && line[p] == '"') {
      size_t end = line.find('"', p + 1);
      return line.substr(p + 1, end == std::string::npos ? std::string::npos : end - p - 1);
    }
    size_t end = line.find_first_of(" \t", p);
    return line.substr(p, end == std::string::npos ? std::string::npos : end - p);
  }
  return {};
}

// The first lines of the document, with CR LF line ends for the edit control.
std::string DocumentHead(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return "(the document cannot be opened: error " + std::to_string(GetLastError()) + ")\r\n";
  }
  std::string data(kMaxBytes, '\0');
  DWORD got = 0;
  BOOL ok = ReadFile(file, data.data(), kMaxBytes, &got, nullptr);
  CloseHandle(file);
  if (!ok) return "(the document cannot be read)\r\n";
  data.resize(got);

  std::string out;
  int lines = 0;
  for (size_t i = 0; i < data.size() && lines < kMaxLines; ++i) {
    char c = data[i];
    if (c == '\r') continue;
    if (c == '\n') {
      out += "\r\n";
      ++lines;
    } else if (c == '\0') {
      out += '.';
    } else {
      out += c;
    }
  }
  if (lines == kMaxLines || got == kMaxBytes) out += "\r\n...";
  return out;
}

std::string g_text;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE: {
      HWND edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", g_text.c_str(),
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                      ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                  0, 0, 0, 0, window, reinterpret_cast<HMENU>(kEditId),
                                  reinterpret_cast<LPCREATESTRUCTA>(lparam)->hInstance, nullptr);
      if (!edit) return -1;
      SendMessageA(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), FALSE);
      return 0;
    }
    case WM_SIZE:
      MoveWindow(GetDlgItem(window, kEditId), 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int show) {
  std::string document = DocumentFromCommandLine(command_line);
  std::string title = kProductName;
  if (document.empty()) {
    g_text = kProductName;
  } else {
    g_text = "Document: " + document + "\r\n\r\n" + DocumentHead(document);
    title += " - " + document;
  }

  HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QXFTP));
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hIconSm = icon;
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExA(&wc)) return 1;

  HWND window = CreateWindowExA(0, kWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 560, 360, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);
  UpdateWindow(window);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}
