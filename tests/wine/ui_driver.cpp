// Drives pentrel.exe under Wine through its own windows: starts it, finds the setup dialog and the
// log window, fills and reads their controls, presses their buttons, reads the registry and
// compares what the log window shows with text drawn here. Keys and mouse drags come from the X
// server (xdotool), so they pass through the program's real message loop.
// tests/wine/run-ui.sh runs one scenario at a time (--gtest_filter) with the right melor-sim
// behind the mapped COM port, and tells the driver where things are through the environment:
//   PENTREL_EXE           pentrel.exe
//   PENTREL_GOOD_HEX      a HEX file that fits the simulated device
//   PENTREL_MISSING_HEX   a path where no file is
//   PENTREL_DEVICE_PORT   the COM port melor-sim answers on (or stays silent on)
//   PENTREL_OTHER_PORT    a second mapped port, present but without a device
//   PENTREL_REQUESTS      folder where screenshots and X input are asked for (see Ask)
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr wchar_t kKey[] = L"Software\\Tolvenic\\Pentrel";
constexpr int kHexFile = 1004, kBrowse = 1005, kComPort = 1006, kLastStatus = 1009;
const std::wstring kProbeAll = L"probe all";
const std::wstring kSuccess = L"Last Status: MELOR successfully programmed.";

std::wstring Env(const wchar_t* name) {
  wchar_t value[1024];
  DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

// Polls until ready() holds or the limit passes; every wait in the driver is bounded.
bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// Messages to the program's windows never block the driver for long.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;  // what a message that timed out or failed leaves
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 10000, &result);
  return static_cast<LRESULT>(result);
}

std::wstring TextOf(HWND window) {
  wchar_t text[600] = {};
  Send(window, WM_GETTEXT, 600, reinterpret_cast<LPARAM>(text));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

RECT PlaceOf(HWND window) {
  RECT place = {};
  GetWindowRect(window, &place);
  return place;
}

// --- the registry, as the program stores it ---------------------------------------------------

void ForgetPreferences() { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }

void StorePreferences(const std::wstring& hexFile, const std::wstring& comName) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr), ERROR_SUCCESS);
  for (auto [name, text] : {std::pair{L"HexFileName", &hexFile}, std::pair{L"ComName", &comName}}) {
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                   static_cast<DWORD>((text->size() + 1) * 2));
  }
  RegCloseKey(key);
}

// A REG_SZ of exactly (characters + 1) x 2 bytes holding text; null text: no value at all.
void ExpectStored(const wchar_t* name, const wchar_t* text) {
  DWORD type = REG_NONE, size = 0;
  wchar_t data[600] = {};
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    size = sizeof data - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS) {
      type = REG_NONE;
    }
    RegCloseKey(key);
  }
  if (text == nullptr) {
    EXPECT_EQ(type, DWORD{REG_NONE}) << Narrow(name) << " is stored";
    return;
  }
  EXPECT_EQ(type, DWORD{REG_SZ}) << Narrow(name);
  EXPECT_EQ(size, (wcslen(text) + 1) * 2) << Narrow(name);
  EXPECT_STREQ(data, text) << Narrow(name);
}

// --- the program under test -------------------------------------------------------------------

class Program {
 public:
  explicit Program(const std::wstring& arguments = L"") {
    std::wstring commandLine = L"\"" + Env(L"PENTREL_EXE") + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    started_ = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &process_);
  }
  ~Program() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 10000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  // The program's visible top-level dialog with this caption, or its log window.
  HWND Find(const wchar_t* caption) const {
    struct Search {
      DWORD pid;
      const wchar_t* caption;
      HWND found;
    } search{process_.dwProcessId, caption, nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
          auto* s = reinterpret_cast<Search*>(context);
          DWORD pid = 0;
          GetWindowThreadProcessId(window, &pid);
          bool wanted = s->caption == nullptr
                            ? ClassOf(window) == L"PENTREL"
                            : ClassOf(window) == L"#32770" && TextOf(window) == s->caption &&
                                  IsWindowVisible(window);
          if (pid == s->pid && wanted) s->found = window;
          return s->found == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  HWND Log() const { return Find(nullptr); }

  // The setup dialog once it is open (and, when it replaces one, once that one has gone).
  HWND WaitForDialog(std::chrono::milliseconds limit = 20s, HWND previous = nullptr) const {
    HWND dialog = nullptr;
    WaitFor([&] {
      dialog = Find(L"Pentrel v1.3");
      return dialog != nullptr && dialog != previous && !IsWindow(previous);
    }, limit);
    return dialog;
  }

  bool WaitForExit(std::chrono::milliseconds limit, DWORD* exitCode) const {
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
      return false;
    }
    GetExitCodeProcess(process_.hProcess, exitCode);
    return true;
  }

 private:
  PROCESS_INFORMATION process_ = {};
  bool started_ = false;
};

void Click(HWND dialog, int id) { Send(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void SetText(HWND dialog, int id, const std::wstring& text) {
  Send(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring ItemText(HWND dialog, int id) { return TextOf(GetDlgItem(dialog, id)); }

bool Lists(HWND dialog, const std::wstring& wanted) {
  return Send(GetDlgItem(dialog, kComPort), CB_FINDSTRINGEXACT, -1,
              reinterpret_cast<LPARAM>(wanted.c_str())) != CB_ERR;
}

// Exit: the program saves its settings and ends with exit code 0.
void ExitProgram(const Program& program, HWND dialog) {
  Click(dialog, IDCANCEL);
  DWORD exitCode = 1234;
  ASSERT_TRUE(program.WaitForExit(15s, &exitCode)) << "the program did not end";
  EXPECT_EQ(exitCode, 0u);
}

// Program: the dialog ends and a run starts; the next dialog is the run's outcome.
HWND ProgramAndWaitForOutcome(const Program& program, HWND dialog, std::chrono::milliseconds limit) {
  Click(dialog, IDOK);
  return program.WaitForDialog(limit, dialog);
}

// The setup dialog, filled in for the good image on the device's port.
HWND OpenDialogForDevice(const Program& program) {
  HWND dialog = program.WaitForDialog();
  if (dialog == nullptr) return nullptr;
  SetText(dialog, kHexFile, Env(L"PENTREL_GOOD_HEX"));
  SetText(dialog, kComPort, Env(L"PENTREL_DEVICE_PORT"));
  return dialog;
}

// The file-name field of the file-open dialog: the edit control with id 1148 inside it.
HWND FileNameField(HWND chooser) {
  HWND field = nullptr;
  EnumChildWindows(chooser, [](HWND child, LPARAM found) -> BOOL {
    if (GetDlgCtrlID(child) != 1148 || ClassOf(child) != L"Edit") return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
  }, reinterpret_cast<LPARAM>(&field));
  return field;
}

// --- requests to run-ui.sh: screenshots and X input -------------------------------------------

// Writes NAME.request holding the request and waits until run-ui.sh has carried it out. The
// request is written aside and renamed, so that run-ui.sh never reads half of it.
void Ask(const std::wstring& name, const std::string& request) {
  std::wstring base = Env(L"PENTREL_REQUESTS") + L"\\" + name;
  std::wstring done = base + L".done", part = base + L".part";
  DeleteFileW(done.c_str());
  FILE* file = _wfopen(part.c_str(), L"wb");  // no CR for the shell to read
  ASSERT_NE(file, nullptr) << "PENTREL_REQUESTS must name a folder";
  fprintf(file, "%s\n", request.c_str());
  fclose(file);
  ASSERT_TRUE(MoveFileExW(part.c_str(), (base + L".request").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_TRUE(WaitFor([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; },
                      30s)) << "run-ui.sh did not carry out " << request;
}

// A screenshot of the window's rectangle, as NAME.png among the screenshots.
void Screenshot(const std::wstring& name, HWND window) {
  RECT r = PlaceOf(window);
  char crop[80];
  snprintf(crop, sizeof crop, "shot %ldx%ld+%ld+%ld", r.right - r.left, r.bottom - r.top, r.left,
           r.top);
  Ask(name, crop);
}

// Real key presses, as xdotool names them ("alt+question").
void PressKeys(const std::string& keys) { Ask(L"keys", "xdotool key --delay 50 " + keys); }

// The user drags the window by its caption, by (dx, dy) pixels.
void DragByCaption(HWND window, int dx, int dy) {
  RECT r = PlaceOf(window);
  int x = (r.left + r.right) / 2, y = r.top + GetSystemMetrics(SM_CYCAPTION) / 2 + 2;
  char drag[200];
  snprintf(drag, sizeof drag,
           "xdotool mousemove %d %d sleep 0.2 mousedown 1 sleep 0.2 mousemove %d %d sleep 0.2 "
           "mousemove %d %d sleep 0.2 mouseup 1",
           x, y, x + dx / 2, y + dy / 2, x + dx, y + dy);
  Ask(L"drag", drag);
}

// --- what the program's windows show ----------------------------------------------------------

// Pixels of a screen rectangle as 32-bit values.
std::vector<DWORD> Pixels(HDC source, int x, int y, int width, int height) {
  HDC memory = CreateCompatibleDC(source);
  HBITMAP bitmap = CreateCompatibleBitmap(source, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  std::vector<DWORD> pixels(static_cast<size_t>(width) * height);
  GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return pixels;
}

// Whether the log window's row (0 to 13; 14 is the progress row, one pixel lower) shows text as
// the program draws a line: 64 characters of the stock fixed font, space-filled. The row on the
// screen is compared with the same line drawn here; a prefix compares only its own width.
bool RowShows(HWND log, int row, const std::wstring& text, bool prefix = false) {
  std::wstring line = prefix ? text : text + std::wstring(64 - text.size(), L' ');
  HDC screen = GetDC(nullptr);
  HGDIOBJ oldFont = SelectObject(screen, GetStockObject(SYSTEM_FIXED_FONT));
  TEXTMETRICW metrics;
  GetTextMetricsW(screen, &metrics);
  int lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
  SIZE extent;
  GetTextExtentPoint32W(screen, line.c_str(), static_cast<int>(line.size()), &extent);
  int top = row * lineHeight + (row == 14 ? 1 : 0);
  RECT client;
  GetClientRect(log, &client);
  extent.cy = std::min<LONG>(extent.cy, client.bottom - top);  // the window may cut the last row
  POINT origin = {0, top};
  ClientToScreen(log, &origin);
  std::vector<DWORD> shown = Pixels(screen, origin.x, origin.y, extent.cx, extent.cy);

  HDC memory = CreateCompatibleDC(screen);
  HBITMAP canvas = CreateCompatibleBitmap(screen, extent.cx, extent.cy);
  HGDIOBJ oldCanvas = SelectObject(memory, canvas);
  SelectObject(memory, GetStockObject(SYSTEM_FIXED_FONT));
  TextOutW(memory, 0, 0, line.c_str(), static_cast<int>(line.size()));
  std::vector<DWORD> expected = Pixels(memory, 0, 0, extent.cx, extent.cy);
  SelectObject(memory, oldCanvas);
  DeleteObject(canvas);
  DeleteDC(memory);
  SelectObject(screen, oldFont);
  ReleaseDC(nullptr, screen);
  return shown == expected;
}

// Every static text of the dialog fits its control on one line, in the 8-point shell font of the
// program's dialogs (made here: a font handle of the program means nothing in this process).
void ExpectTextsFit(HWND dialog) {
  HDC dc = GetDC(dialog);
  LOGFONTW shellFont = {};
  shellFont.lfHeight = -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72);
  lstrcpynW(shellFont.lfFaceName, L"MS Shell Dlg", LF_FACESIZE);
  HFONT font = CreateFontIndirectW(&shellFont);
  HGDIOBJ oldFont = SelectObject(dc, font);
  for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    std::wstring text = TextOf(c);
    if (ClassOf(c) != L"Static" || text.empty()) continue;
    RECT needed = {}, client = {};
    DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    GetClientRect(c, &client);
    EXPECT_LE(needed.right, client.right) << Narrow(text);
    EXPECT_LE(needed.bottom, client.bottom) << Narrow(text);
  }
  SelectObject(dc, oldFont);
  DeleteObject(font);
  ReleaseDC(dialog, dc);
}

// --- scenarios --------------------------------------------------------------------------------

// Nothing stored, then a stored port that is present, one present under another case, and one
// absent: only an exact, present name is shown; Exit keeps the stored one all the same.
TEST(Setup, shows_a_stored_port_only_when_it_is_present_under_exactly_that_name_and_exit_keeps_it) {
  std::wstring port = Env(L"PENTREL_DEVICE_PORT");
  std::wstring lower = port;
  for (auto& c : lower) c = towlower(c);
  struct Case {
    std::wstring stored, shown;
  } cases[] = {{L"", kProbeAll}, {port, port}, {lower, kProbeAll}, {L"COM99", kProbeAll}};
  for (const auto& c : cases) {
    if (c.stored.empty()) ForgetPreferences(); else StorePreferences(L"C:\\fw.hex", c.stored);
    Program program;
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr) << "no setup dialog";
    EXPECT_EQ(ItemText(dialog, kComPort), c.shown) << Narrow(c.stored);
    EXPECT_FALSE(IsWindowVisible(program.Log())) << "the log gives the dialog its place";
    if (c.stored.empty()) {
      EXPECT_EQ(ItemText(dialog, kHexFile), L"");
      EXPECT_EQ(ItemText(dialog, kLastStatus), L"");
      for (const std::wstring& item : {kProbeAll, port, Env(L"PENTREL_OTHER_PORT")})
        EXPECT_TRUE(Lists(dialog, item)) << Narrow(item);
      EXPECT_FALSE(Lists(dialog, L"COM99"));
    }
    ExitProgram(program, dialog);
    ExpectStored(L"HexFileName", c.stored.empty() ? L"" : L"C:\\fw.hex");
    ExpectStored(L"ComName", c.stored.empty() ? kProbeAll.c_str() : c.stored.c_str());
  }
}

// A run of a missing file; then Browse, cancelled (typed text gives way to the setting and the
// status is emptied) and then with a file picked; Exit stores both settings for the next start,
// which shows them without the Last Status.
TEST(Run, a_missing_file_is_reported_browse_replaces_it_and_exit_stores_both_settings) {
  ForgetPreferences();
  std::wstring missing = Env(L"PENTREL_MISSING_HEX"), good = Env(L"PENTREL_GOOD_HEX");
  std::wstring port = Env(L"PENTREL_OTHER_PORT");
  {
    Program program;
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    SetText(dialog, kHexFile, missing);
    SetText(dialog, kComPort, port);
    dialog = ProgramAndWaitForOutcome(program, dialog, 30s);
    ASSERT_NE(dialog, nullptr) << "the dialog did not come back";
    EXPECT_EQ(ItemText(dialog, kLastStatus), L"Last Status: Unable to open input file.");
    SetText(dialog, kHexFile, L"C:\\typed, not taken.hex");
    for (bool pick : {false, true}) {
      PostMessageW(GetDlgItem(dialog, kBrowse), BM_CLICK, 0, 0);  // the chooser runs inside it
      HWND chooser = nullptr;
      ASSERT_TRUE(WaitFor([&] { return (chooser = program.Find(L"Open")) != nullptr; }, 10s))
          << "no file-open dialog";
      if (pick) {
        HWND field = FileNameField(chooser);
        ASSERT_NE(field, nullptr) << "no file-name field in the file-open dialog";
        Send(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(good.c_str()));
      }
      Click(chooser, pick ? IDOK : IDCANCEL);
      ASSERT_TRUE(WaitFor([&] { return !IsWindow(chooser); }, 10s));
      EXPECT_TRUE(WaitFor([&] { return ItemText(dialog, kLastStatus).empty(); }, 5s));
      EXPECT_TRUE(WaitFor([&] { return ItemText(dialog, kHexFile) == (pick ? good : missing); }, 5s))
          << Narrow(ItemText(dialog, kHexFile));
    }
    ExitProgram(program, dialog);
  }
  ExpectStored(L"HexFileName", good.c_str());
  ExpectStored(L"ComName", port.c_str());
  Program next;
  HWND dialog = next.WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ItemText(dialog, kHexFile), good);
  EXPECT_EQ(ItemText(dialog, kComPort), port);
  EXPECT_EQ(ItemText(dialog, kLastStatus), L"");
  ExitProgram(next, dialog);
}

TEST(CommandLine, a_path_wins_over_the_stored_one_and_dash_L_keeps_the_log_visible) {
  struct Case {
    const wchar_t* arguments;
    const wchar_t* shown;
    bool logVisible;
  } cases[] = {{L"\"C:\\from the command line.hex\"", L"C:\\from the command line.hex", false},
               {L"-L", L"C:\\stored.hex", true}};
  for (const Case& c : cases) {
    StorePreferences(L"C:\\stored.hex", kProbeAll);
    Program program(c.arguments);
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ItemText(dialog, kHexFile), c.shown);
    HWND log = program.Log();
    EXPECT_EQ(IsWindowVisible(log) != 0, c.logVisible) << Narrow(c.arguments);
    // Visible or not, the log window is where the dialog opened.
    EXPECT_EQ(PlaceOf(dialog).left, PlaceOf(log).left);
    EXPECT_EQ(PlaceOf(dialog).top, PlaceOf(log).top);
    ExitProgram(program, dialog);
    ExpectStored(L"HexFileName", c.shown);
  }
}

// Needs melor-sim answering on PENTREL_DEVICE_PORT; run-ui.sh compares its flash with the image.
TEST(Run, a_good_file_programs_the_device_and_the_dialog_says_so) {
  ForgetPreferences();
  Program program(L"-L");
  HWND dialog = OpenDialogForDevice(program);
  ASSERT_NE(dialog, nullptr);
  dialog = ProgramAndWaitForOutcome(program, dialog, 120s);
  ASSERT_NE(dialog, nullptr) << "the dialog did not come back";
  EXPECT_EQ(ItemText(dialog, kLastStatus), kSuccess);

  // Side by side for the screenshots: the dialog below the log window. The uncovered log
  // repaints from the ring: the run's last lines at the bottom, oldest first.
  HWND log = program.Log();
  SetWindowPos(dialog, nullptr, PlaceOf(log).left, PlaceOf(log).bottom + 8, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
  std::this_thread::sleep_for(500ms);  // let both windows finish painting
  const wchar_t* lastLines[] = {L"Sending firmware image: done.", L"Verifying firmware image: done.",
                                L"Finalizing...", L"MELOR Firmware image successfully programmed."};
  for (int i = 0; i < 4; i++) EXPECT_TRUE(RowShows(log, 10 + i, lastLines[i])) << "row " << 10 + i;
  EXPECT_FALSE(RowShows(log, 13, L"Finalizing...")) << "the comparison tells rows apart";
  Screenshot(L"log-window", log);
  Screenshot(L"setup-dialog", dialog);
  ExitProgram(program, dialog);
}

// Opens the About box with real keys, checks that its texts fit, and closes it with a real key.
void ExpectAboutBoxFrom(const Program& program, const std::string& keys, const std::string& closing,
                        const wchar_t* screenshot) {
  PressKeys(keys);
  HWND about = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (about = program.Find(L"About Pentrel")) != nullptr; }, 5s))
      << keys << " opened no About box";
  ExpectTextsFit(about);
  if (screenshot != nullptr) Screenshot(screenshot, program.Log());  // the box over the log
  PressKeys(closing);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }, 5s)) << closing << " left the About box";
}

// Needs melor-sim on PENTREL_DEVICE_PORT answering only after 200 queries, so that the reset
// prompt stays up for several seconds; the image takes seconds to write.
TEST(Run, the_log_follows_the_dialog_shows_the_reset_prompt_and_scrolls_the_device_s_lines_in) {
  ForgetPreferences();
  Program program;
  HWND dialog = OpenDialogForDevice(program);
  ASSERT_NE(dialog, nullptr);
  HWND log = program.Log();
  ASSERT_FALSE(IsWindowVisible(log));

  // The setup dialog runs its own message loop, which knows nothing of the accelerators.
  PressKeys("alt+question alt+slash");
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(program.Find(L"About Pentrel"), nullptr) << "an About box over the setup dialog";

  // Moved by the user, the dialog takes the log window with it.
  RECT opened = PlaceOf(dialog);
  DragByCaption(dialog, 120, 80);
  RECT moved = PlaceOf(dialog);
  ASSERT_NE(moved.left, opened.left) << "the drag did not move the dialog";
  Click(dialog, IDOK);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(log) != 0; }, 5s)) << "the log did not show";
  EXPECT_EQ(PlaceOf(log).left, moved.left);
  EXPECT_EQ(PlaceOf(log).top, moved.top);

  // A repaint leaves the progress row to the background, until the next progress text.
  const wchar_t prompt[] = L"<<< Press the MELOR reset button now >>>";
  ASSERT_TRUE(WaitFor([&] { return RowShows(log, 14, prompt); }, 10s)) << "no reset prompt";
  RedrawWindow(log, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(RowShows(log, 14, prompt)) << "the repaint drew the progress row";
  EXPECT_TRUE(RowShows(log, 14, L"")) << "the progress row is not the background";

  // During the run, with the log window active, either key opens the About box.
  ExpectAboutBoxFrom(program, "alt+question", "Escape", L"about-box");
  ExpectAboutBoxFrom(program, "alt+slash", "Return", nullptr);

  // The device's lines scroll in at the bottom while the image is written, with no repaint.
  EXPECT_TRUE(WaitFor([&] {
    return RowShows(log, 14, L"Sending firmware image: ", true) &&
           RowShows(log, 12, L"Found MELOR device on " + Env(L"PENTREL_DEVICE_PORT")) &&
           RowShows(log, 13, L"bootloader v1.2, dev id 0x0f, flash size 0x80000");
  }, 60s)) << "the device's lines did not scroll in, or no progress showed";

  dialog = program.WaitForDialog(120s, dialog);
  ASSERT_NE(dialog, nullptr) << "the dialog did not come back";
  EXPECT_EQ(ItemText(dialog, kLastStatus), kSuccess);
  EXPECT_FALSE(IsWindowVisible(log));
  ExitProgram(program, dialog);
}

// Needs melor-sim on PENTREL_DEVICE_PORT told never to answer.
TEST(Run, closing_the_log_window_during_a_run_ends_the_program_without_saving) {
  ForgetPreferences();
  Program program;
  HWND dialog = OpenDialogForDevice(program);
  ASSERT_NE(dialog, nullptr);
  HWND log = program.Log();
  Click(dialog, IDOK);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(log) != 0; }, 5s));
  std::this_thread::sleep_for(1s);  // well into the device search
  PostMessageW(log, WM_CLOSE, 0, 0);
  DWORD exitCode = 1234;
  ASSERT_TRUE(program.WaitForExit(15s, &exitCode)) << "closing the log did not end the program";
  EXPECT_EQ(exitCode, 0u);
  ExpectStored(L"ComName", nullptr);
}

}  // namespace
