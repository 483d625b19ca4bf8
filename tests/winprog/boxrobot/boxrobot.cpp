// boxrobot: watches the desktop for message boxes, records each one as a JSON
// line (caption, text, icon, buttons, owner, process) and answers it from a
// script. It also clears the flash programs' verdict key before a run, and can
// send WM_CANCELMODE to the updater's dialog, so the end-to-end tests can drive
// a package run under Wine without a person.
//
// Usage: boxrobot --log FILE [--ready FILE] [--stop FILE] [--answers OK,Yes,No]
//                 [--hold-ms N] [--clear-verdicts] [--max-seconds N]
//                 [--cancel-now | --cancel-after-file FILE | --cancel-at-status TEXT|TEXT...]
//                 [--close-at-box TEXT]
//
// A message box is a visible top-level window of class "#32770" with a static
// text and no progress bar (the updater's own dialog has control 1003 and is
// never answered). Icons are told apart by their pixels: the box's icon
// control is copied from the screen and compared with the four system icons
// drawn by this process, because icon handles do not cross processes.
//
// WM_CANCELMODE goes to the updater's dialog (found by control 1003, also under
// the message-only parent) once: at first sight (--cancel-now, to beat its
// 100 ms start timer), when FILE exists (--cancel-after-file), or when the
// dialog's status line (control 1009) shows one of the given texts.
//
// --close-at-box: when a box with exactly this text appears, the updater's
// dialog is closed by its close box (SC_CLOSE) first; the box is answered a
// second later, if it is still there.
#include <windows.h>

#include "json_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using winprog::Json;
using winprog::JsonObject;

constexpr int kProgressId = 1003;  // only the updater's dialog has it
constexpr int kStatusId = 1009;    // the updater's status line
constexpr int kWineIconId = 1088;  // icon control of a box under Wine
constexpr int kWinIconId = 20;     // icon control of a box under Windows
constexpr int kTextId = 0xFFFF;    // text control of a box

struct Options {
  std::string log, ready, stop, cancelFile;
  std::vector<std::string> answers;
  int holdMs = 0;
  int maxSeconds = 600;
  bool clearVerdicts = false;
  bool cancelNow = false;
  std::vector<std::string> cancelStatuses;
  std::string closeAtBox;
};

DWORD g_start;

DWORD Elapsed() { return GetTickCount() - g_start; }


void AppendLine(const std::string& path, const std::string& line) {
  // Opened and closed per line so the harness can read the log at any time.
  FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return;
  std::fputs(line.c_str(), f);
  std::fputc('\n', f);
  std::fclose(f);
}

bool FileExists(const std::string& path) {
  return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string WindowText(HWND h) {
  char buf[2048] = {};
  // WM_GETTEXT is marshalled across processes, so the text comes whole.
  DWORD_PTR len = 0;
  SendMessageTimeoutA(h, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                      SMTO_ABORTIFHUNG, 2000, &len);
  return buf;
}

std::string ClassOf(HWND h) {
  char cls[64] = {};
  GetClassNameA(h, cls, sizeof cls);
  return cls;
}

bool IsUpdaterDialog(HWND h) { return GetDlgItem(h, kProgressId) != nullptr; }

HWND TextControl(HWND box) {
  if (HWND t = GetDlgItem(box, kTextId)) return t;
  // Fall back to the first static text that is not an icon.
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (ClassOf(c) == "Static" && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) != SS_ICON &&
        !WindowText(c).empty())
      return c;
  }
  return nullptr;
}

HWND IconControl(HWND box) {
  for (int id : {kWineIconId, kWinIconId}) {
    HWND c = GetDlgItem(box, id);
    if (c && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return c;
  }
  return nullptr;
}

// Pixels of a w x h area, 32 bits each, from a device context.
std::vector<DWORD> Grab(HDC src, int x, int y, int w, int h) {
  HDC mem = CreateCompatibleDC(src);
  HBITMAP bmp = CreateCompatibleBitmap(src, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, src, x, y, SRCCOPY);
  SelectObject(mem, old);
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  std::vector<DWORD> px(static_cast<size_t>(w) * h);
  GetDIBits(mem, bmp, 0, h, px.data(), &bi, DIB_RGB_COLORS);
  DeleteObject(bmp);
  DeleteDC(mem);
  for (auto& p : px) p &= 0xFFFFFF;
  return px;
}

// The system icon drawn the way a static icon control draws it: stretched to
// the control over the control's background.
std::vector<DWORD> Render(HICON icon, int w, int h, DWORD background) {
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  // Pixels come back as 0x00RRGGBB; a COLORREF is 0x00BBGGRR.
  HBRUSH brush = CreateSolidBrush(RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF,
                                      background & 0xFF));
  RECT r = {0, 0, w, h};
  FillRect(mem, &r, brush);
  DeleteObject(brush);
  DrawIconEx(mem, 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
  SelectObject(mem, old);
  DeleteDC(mem);
  std::vector<DWORD> px;
  {
    HDC mem2 = CreateCompatibleDC(screen);
    HGDIOBJ o2 = SelectObject(mem2, bmp);
    px = Grab(mem2, 0, 0, w, h);
    SelectObject(mem2, o2);
    DeleteDC(mem2);
  }
  DeleteObject(bmp);
  ReleaseDC(nullptr, screen);
  return px;
}

double MeanDifference(const std::vector<DWORD>& a, const std::vector<DWORD>& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i)
    for (int shift : {0, 8, 16})
      sum += std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF));
  return sum / (a.size() * 3.0);
}

// "none" when the box has no icon, otherwise the closest system icon, or
// "unknown" when none of them is close.
std::string IdentifyIcon(HWND box, double* score) {
  *score = -1;
  HWND ctl = IconControl(box);
  if (!ctl || !IsWindowVisible(ctl)) return "none";
  DWORD_PTR handle = 0;
  SendMessageTimeoutA(ctl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &handle);
  if (!handle) return "none";
  RECT r;
  GetWindowRect(ctl, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return "none";
  HDC screen = GetDC(nullptr);
  std::vector<DWORD> seen = Grab(screen, r.left, r.top, w, h);
  ReleaseDC(nullptr, screen);
  struct Candidate { const char* name; LPCSTR id; };
  const Candidate candidates[] = {{"error", IDI_ERROR}, {"warning", IDI_WARNING},
                                  {"information", IDI_INFORMATION}, {"question", IDI_QUESTION}};
  std::string best = "unknown";
  double bestScore = 1e9;
  for (const auto& c : candidates) {
    double d = MeanDifference(seen, Render(LoadIconA(nullptr, c.id), w, h, seen[0]));
    if (d < bestScore) {
      bestScore = d;
      best = c.name;
    }
  }
  *score = bestScore;
  // Drawn by the same code from the same icons, a match is nearly exact; the
  // other icons differ in most of their pixels.
  return bestScore < 8.0 ? best : "unknown";
}

struct ButtonName { int id; const char* name; };
constexpr ButtonName kButtons[] = {{IDOK, "OK"}, {IDCANCEL, "Cancel"}, {IDABORT, "Abort"},
                                   {IDRETRY, "Retry"}, {IDIGNORE, "Ignore"}, {IDYES, "Yes"},
                                   {IDNO, "No"}};

std::vector<std::string> Buttons(HWND box) {
  std::vector<std::string> out;
  for (const auto& b : kButtons) {
    HWND c = GetDlgItem(box, b.id);
    if (c && IsWindowVisible(c) && ClassOf(c) == "Button") out.push_back(b.name);
  }
  return out;
}

int ButtonId(const std::string& name) {
  for (const auto& b : kButtons)
    if (_stricmp(b.name, name.c_str()) == 0) return b.id;
  return 0;
}

bool Has(const std::vector<std::string>& v, const char* s) {
  for (const auto& x : v)
    if (x == s) return true;
  return false;
}

struct Robot {
  Options opt;
  size_t nextAnswer = 0;
  int seq = 0;
  std::set<HWND> handled;
  std::vector<HWND> found;
  bool cancelSent = false;

  static BOOL CALLBACK Collect(HWND h, LPARAM self) {
    auto* r = reinterpret_cast<Robot*>(self);
    if (IsWindowVisible(h) && ClassOf(h) == "#32770" && !IsUpdaterDialog(h) && TextControl(h))
      r->found.push_back(h);
    return TRUE;
  }

  void Answer(HWND box) {
    handled.insert(box);
    ++seq;
    const DWORD seenAt = GetTickCount();
    // Let the box finish painting before its icon is read from the screen.
    Sleep(150);
    std::string caption = WindowText(box);
    HWND text = TextControl(box);
    std::string body = text ? WindowText(text) : "";
    double score;
    std::string icon = IdentifyIcon(box, &score);
    std::vector<std::string> buttons = Buttons(box);
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    bool owned = GetWindow(box, GW_OWNER) != nullptr;

    std::string scripted, answer;
    if (nextAnswer < opt.answers.size()) scripted = opt.answers[nextAnswer++];
    if (!scripted.empty() && Has(buttons, ButtonName(scripted)))
      answer = ButtonName(scripted);
    else  // unscripted or not offered: the harmless button
      answer = Has(buttons, "OK") ? "OK" : Has(buttons, "No") ? "No" : Has(buttons, "Cancel") ? "Cancel" : "";

    JsonObject line;
    line.Num("seq", seq).Num("t_ms", Elapsed()).Num("tick", seenAt).Num("pid", pid);
    line.Str("caption", caption).Str("text", body);
    line.Str("icon", icon).Raw("icon_score", std::to_string(score));
    std::string list = "[";
    for (size_t i = 0; i < buttons.size(); ++i) {
      if (i) list += ",";
      list += Json(buttons[i]);
    }
    list += "]";
    line.Raw("buttons", list).Bool("owned", owned).Str("scripted", scripted).Str("answer", answer);
    if (!opt.closeAtBox.empty() && body == opt.closeAtBox) CloseUpdater();
    if (opt.holdMs > 0) {
      // Announce the box first so the harness can photograph it.
      AppendLine(opt.log, JsonObject().Str("event", "holding").Num("seq", seq).Line());
      Sleep(opt.holdMs);
    }
    if (int id = ButtonId(answer))
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
    bool closed = false;
    for (int i = 0; i < 100 && !closed; ++i) {
      Sleep(20);
      closed = !IsWindow(box);
    }
    line.Bool("closed", closed);
    AppendLine(opt.log, line.Line());
  }

  static const char* ButtonName(const std::string& s) {
    for (const auto& b : kButtons)
      if (_stricmp(b.name, s.c_str()) == 0) return b.name;
    return "";
  }

  bool CancelPending() const { return opt.cancelNow || !opt.cancelStatuses.empty() || !opt.cancelFile.empty(); }

  HWND FindUpdaterDialog() {
    // A hidden updater lives under the message-only parent.
    for (HWND parent : {HWND(nullptr), HWND_MESSAGE}) {
      HWND h = nullptr;
      while ((h = FindWindowExA(parent, h, "#32770", nullptr)) != nullptr)
        if (IsUpdaterDialog(h)) return h;
    }
    return nullptr;
  }

  void MaybeCancel() {
    if (cancelSent || !CancelPending()) return;
    if (!opt.cancelFile.empty() && !FileExists(opt.cancelFile)) return;
    HWND dlg = FindUpdaterDialog();
    if (!dlg) return;
    std::string status;
    if (!opt.cancelStatuses.empty()) {
      status = WindowText(GetDlgItem(dlg, kStatusId));
      bool match = false;
      for (const auto& s : opt.cancelStatuses) match = match || s == status;
      if (!match) return;
    }
    cancelSent = true;
    char title[256] = {};
    GetWindowTextA(dlg, title, sizeof title);
    DWORD_PTR result = 0;
    BOOL ok = SendMessageTimeoutA(dlg, WM_CANCELMODE, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
    AppendLine(opt.log, JsonObject().Str("event", "cancelmode").Num("t_ms", Elapsed()).Str("title", title)
                            .Str("status", status).Bool("delivered", ok).Line());
  }

  void CloseUpdater() {
    HWND dlg = FindUpdaterDialog();
    DWORD_PTR result = 0;
    BOOL ok = dlg && SendMessageTimeoutA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_ABORTIFHUNG, 5000,
                                         &result) != 0;
    AppendLine(opt.log, JsonObject().Str("event", "close").Num("t_ms", Elapsed())
                            .Bool("delivered", ok).Line());
    Sleep(1000);
  }

  int Run() {
    DWORD deadline = opt.maxSeconds * 1000u;
    while (Elapsed() < deadline) {
      if (FileExists(opt.stop)) return 0;
      MaybeCancel();
      found.clear();
      EnumWindows(Collect, reinterpret_cast<LPARAM>(this));
      for (HWND box : found)
        if (!handled.count(box)) Answer(box);
      // Waiting to cancel at first sight must beat the dialog's 100 ms start timer.
      Sleep(CancelPending() && !cancelSent ? 1 : 50);
    }
    AppendLine(opt.log, JsonObject().Str("event", "gave_up").Num("t_ms", Elapsed()).Line());
    return 3;
  }
};

std::vector<std::string> Split(const std::string& s, char separator = ',') {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= s.size()) {
    size_t comma = s.find(separator, start);
    if (comma == std::string::npos) comma = s.size();
    if (comma > start) out.push_back(s.substr(start, comma - start));
    start = comma + 1;
  }
  return out;
}

void ClearVerdicts() {
  // Values from an earlier run would otherwise read as this run's verdicts.
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\RIVIREVOV");
}

}  // namespace

// Whether a window made under the message-only parent really lands there.
// Wine's desktop process makes that parent after the desktop window; a
// thread that asks in between gets none, keeps that answer for its life and
// puts "message-only" windows on the desktop. Each try is a new thread.
DWORD WINAPI ProbeMessageParent(void*) {
  HWND probe = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                               nullptr);
  if (!probe) return 0;
  bool underMessageParent = GetAncestor(probe, GA_PARENT) != GetDesktopWindow();
  DestroyWindow(probe);
  return underMessageParent ? 1 : 0;
}

// Waits until the session's desktop gives a message-only parent; the number
// of tries it took, or 0 when it never did. The robot, a user of the desktop
// from then on, keeps it up until the run has ended.
int WaitForMessageParent() {
  for (int tries = 1; tries <= 200; ++tries) {
    HANDLE thread = CreateThread(nullptr, 0, &ProbeMessageParent, nullptr, 0, nullptr);
    DWORD result = 0;
    if (thread) {
      WaitForSingleObject(thread, INFINITE);
      GetExitCodeThread(thread, &result);
      CloseHandle(thread);
    }
    if (result == 1) return tries;
    Sleep(50);
  }
  return 0;
}

int main(int argc, char** argv) {
  g_start = GetTickCount();
  Robot robot;
  Options& o = robot.opt;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--log") o.log = next();
    else if (a == "--ready") o.ready = next();
    else if (a == "--stop") o.stop = next();
    else if (a == "--answers") o.answers = Split(next());
    else if (a == "--hold-ms") o.holdMs = std::atoi(next().c_str());
    else if (a == "--max-seconds") o.maxSeconds = std::atoi(next().c_str());
    else if (a == "--clear-verdicts") o.clearVerdicts = true;
    else if (a == "--cancel-now") o.cancelNow = true;
    else if (a == "--cancel-after-file") o.cancelFile = next();
    else if (a == "--cancel-at-status") o.cancelStatuses = Split(next(), '|');
    else if (a == "--close-at-box") o.closeAtBox = next();
    else {
      std::fprintf(stderr, "boxrobot: unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  if (o.log.empty()) {
    std::fprintf(stderr, "boxrobot: --log FILE is required\n");
    return 2;
  }
  if (o.clearVerdicts) ClearVerdicts();
  int desktopTries = WaitForMessageParent();
  if (!o.ready.empty()) {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    FILE* f = std::fopen(o.ready.c_str(), "wb");
    if (f) {
      std::fprintf(f, "%s\n",
                   JsonObject().Str("temp", temp).Num("desktop_tries", desktopTries).Line().c_str());
      std::fclose(f);
    }
  }
  return robot.Run();
}
