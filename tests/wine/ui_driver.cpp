// Drives pentrel.exe under Wine through its own windows: starts it, finds the setup dialog and the
// log window, fills and reads their controls, presses their buttons, reads the registry and
// compares what the log window shows with text drawn here. Keys and mouse drags come from the X
// server (xdotool), so they pass through the program's real message loop.
// tests/wine/run-ui.sh runs the scenarios in their order, in one process, with melor-sim behind
// COM5 (answering from its 200th query on, so the first run shows the reset prompt for a while)
// and a silent melor-sim behind COM6. It names pentrel.exe in PENTREL_EXE and its scratch folder in
// PENTREL_WORK (WORK on the Linux side), which holds good.hex (an image that fits the device)
// and no "no such file.hex"; screenshots go to SHOTS.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr wchar_t kKey[] = L"Software\\Tolvenic\\Pentrel";
constexpr int kHexFile = 1004, kBrowse = 1005, kComPort = 1006, kLastStatus = 1009;
const std::wstring kProbeAll = L"probe all", kDevicePort = L"COM5", kOtherPort = L"COM6";
const std::wstring kSuccess = L"Last Status: MELOR successfully programmed.";

std::wstring Env(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  return value != nullptr ? value : L"";
}

std::wstring InWork(const std::wstring& name) { return Env(L"PENTREL_WORK") + L"\\" + name; }

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

RECT PlaceOf(HWND window) {
  RECT place = {};
  GetWindowRect(window, &place);
  return place;
}

std::pair<LONG, LONG> CornerOf(HWND window) { return {PlaceOf(window).left, PlaceOf(window).top}; }

// --- the registry, as the program stores it ---------------------------------------------------

void ForgetPreferences() { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }

void StorePreferences(const std::wstring& hexFile, const std::wstring& comName) {
  for (auto [name, text] : {std::pair{L"HexFileName", &hexFile}, std::pair{L"ComName", &comName}}) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, name, REG_SZ, text->c_str(),
                    static_cast<DWORD>((text->size() + 1) * 2));
  }
}

// The stored text, or "(none)" without such a REG_SZ value.
std::wstring Stored(const wchar_t* name) {
  wchar_t data[600] = {};
  DWORD size = sizeof data;
  LONG status = RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_SZ, nullptr, data, &size);
  return status == ERROR_SUCCESS ? data : L"(none)";
}

// --- the program under test -------------------------------------------------------------------

// The visible top-level dialog with this caption (one program runs at a time).
HWND Find(const wchar_t* caption) {
  HWND dialog = FindWindowW(L"#32770", caption);
  return dialog != nullptr && IsWindowVisible(dialog) ? dialog : nullptr;
}

HWND Log() { return FindWindowW(L"PENTREL", nullptr); }

// The setup dialog once it is open (and, when it replaces one, once that one has gone).
HWND WaitForDialog(std::chrono::milliseconds limit = 20s, HWND previous = nullptr) {
  HWND dialog = nullptr;
  WaitFor([&] {
    dialog = Find(L"Pentrel v1.3");
    return dialog != nullptr && dialog != previous && !IsWindow(previous);
  }, limit);
  return dialog;
}

// Starts a Windows program, or a Unix one (which Wine starts without a handle to wait on).
PROCESS_INFORMATION Start(std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                 &startup, &process);
  return process;
}

// pentrel.exe with these arguments; ended by force when it outlives its scenario by 10 s.
struct Program {
  PROCESS_INFORMATION process_ = {};

  explicit Program(const std::wstring& arguments = L"")
      : process_(Start(L"\"" + Env(L"PENTREL_EXE") + L"\" " + arguments)) {}
  ~Program() {
    if (ExitCode(10s) == STILL_ACTIVE) TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, 10000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }

  // The exit code once the program has ended within the limit, else STILL_ACTIVE.
  DWORD ExitCode(std::chrono::milliseconds limit) const {
    DWORD code = STILL_ACTIVE;
    WaitForSingleObject(process_.hProcess, static_cast<DWORD>(limit.count()));
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }
};

void Click(HWND dialog, int id) { Send(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void SetText(HWND dialog, int id, const std::wstring& text) {
  Send(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring ItemText(HWND dialog, int id) { return TextOf(GetDlgItem(dialog, id)); }

// Exit: the program saves its settings and ends with exit code 0.
void ExitProgram(const Program& program, HWND dialog) {
  Click(dialog, IDCANCEL);
  EXPECT_EQ(program.ExitCode(15s), 0u) << "Exit did not end the program, or not with 0";
}

// The Last Status of the setup dialog that comes back in place of `dialog` once the run ends.
std::wstring StatusOnReturn(HWND& dialog, std::chrono::milliseconds limit = 120s) {
  dialog = WaitForDialog(limit, dialog);
  return dialog != nullptr ? ItemText(dialog, kLastStatus) : L"(the dialog did not come back)";
}

// The setup dialog, filled in for the good image on the port.
HWND OpenDialogFor(const std::wstring& port) {
  HWND dialog = WaitForDialog();
  SetText(dialog, kHexFile, InWork(L"good.hex"));
  SetText(dialog, kComPort, port);
  return dialog;
}

// --- screenshots and X input, on the Linux side -----------------------------------------------

// Runs a shell command on the Linux side, with run-ui.sh's environment ($WORK, $SHOTS, $DISPLAY),
// and waits until it has succeeded. Wine starts a Unix program but gives no handle to wait on,
// so the command then creates the file "done" in the scratch folder; one that fails never does.
void RunUnix(const std::string& command) {
  std::wstring done = InWork(L"done");
  DeleteFileW(done.c_str());
  std::string shell = "Z:\\bin\\sh -c \"" + command + " && touch \\\"$WORK/done\\\"\"";
  Start(std::wstring(shell.begin(), shell.end()));
  EXPECT_TRUE(WaitFor([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; },
                      30s)) << command << " did not succeed";
}

// A screenshot of the window's rectangle, as NAME.png among the screenshots.
void Screenshot(const std::string& name, HWND window) {
  RECT r = PlaceOf(window);
  RunUnix("import -window root -crop " + std::to_string(r.right - r.left) + "x" +
          std::to_string(r.bottom - r.top) + "+" + std::to_string(r.left) + "+" +
          std::to_string(r.top) + " +repage \\\"$SHOTS/" + name + ".png\\\"");
}

// Real key presses, as xdotool names them ("alt+question").
void PressKeys(const std::string& keys) { RunUnix("xdotool key --delay 50 " + keys); }

// The user drags the window by its caption, by (dx, dy) pixels.
void DragByCaption(HWND window, int dx, int dy) {
  RECT r = PlaceOf(window);
  int x = (r.left + r.right) / 2, y = r.top + GetSystemMetrics(SM_CYCAPTION) / 2 + 2;
  auto to = [](int toX, int toY) {
    return " mousemove " + std::to_string(toX) + " " + std::to_string(toY) + " sleep 0.2";
  };
  RunUnix("xdotool" + to(x, y) + " mousedown 1 sleep 0.2" + to(x + dx / 2, y + dy / 2) +
          to(x + dx, y + dy) + " mouseup 1");
}

// --- what the program's windows show ----------------------------------------------------------

// The bits of a bitmap, as the display stores them.
std::string BitsOf(HBITMAP bitmap) {
  GdiFlush();
  BITMAP info = {};
  GetObjectW(bitmap, sizeof info, &info);
  std::string bits(static_cast<size_t>(info.bmWidthBytes) * info.bmHeight, '\0');
  GetBitmapBits(bitmap, static_cast<LONG>(bits.size()), bits.data());
  return bits;
}

// Whether the log window's row (0 to 13; 14 is the progress row, one pixel lower) shows text as
// the program draws a line: 64 characters of the stock fixed font, space-filled. The row on the
// screen is compared with the same line drawn here; a prefix compares only its own width.
bool RowShows(HWND log, int row, const std::wstring& text, bool prefix = false) {
  std::wstring line = prefix ? text : text + std::wstring(64 - text.size(), L' ');
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  SelectObject(memory, GetStockObject(SYSTEM_FIXED_FONT));
  TEXTMETRICW metrics;
  GetTextMetricsW(memory, &metrics);
  int top = row * (metrics.tmHeight + metrics.tmExternalLeading) + (row == 14 ? 1 : 0);
  SIZE extent;
  GetTextExtentPoint32W(memory, line.c_str(), static_cast<int>(line.size()), &extent);
  RECT client;
  GetClientRect(log, &client);
  if (client.bottom - top < extent.cy) extent.cy = client.bottom - top;  // the window may cut it
  POINT origin = {0, top};
  ClientToScreen(log, &origin);

  HBITMAP canvas = CreateCompatibleBitmap(screen, extent.cx, extent.cy);
  HGDIOBJ oldCanvas = SelectObject(memory, canvas);
  TextOutW(memory, 0, 0, line.c_str(), static_cast<int>(line.size()));
  std::string expected = BitsOf(canvas);
  BitBlt(memory, 0, 0, extent.cx, extent.cy, screen, origin.x, origin.y, SRCCOPY);
  bool shown = BitsOf(canvas) == expected;
  SelectObject(memory, oldCanvas);
  DeleteObject(canvas);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return shown;
}

// Opens the About box with real keys and closes it with a real key.
void ExpectAboutBoxFrom(const std::string& keys, const std::string& closing) {
  PressKeys(keys);
  HWND about = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (about = Find(L"About Pentrel")) != nullptr; }, 5s))
      << keys << " opened no About box";
  Screenshot("about-box", Log());  // the box over the log
  PressKeys(closing);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }, 5s)) << closing << " left the About box";
}

// --- scenarios, in the order they run ---------------------------------------------------------

// Nothing stored, then a stored port that is present, and one present only under another case
// (as good as absent): only an exact, present name is shown; Exit keeps the stored one all the
// same.
TEST(Setup, shows_a_stored_port_only_when_it_is_present_under_exactly_that_name_and_exit_keeps_it) {
  std::pair<std::wstring, std::wstring> cases[] = {
      {L"", kProbeAll}, {kDevicePort, kDevicePort}, {L"com5", kProbeAll}};
  for (const auto& [stored, shown] : cases) {
    std::wstring hexFile = stored.empty() ? L"" : L"C:\\fw.hex";
    if (stored.empty()) ForgetPreferences(); else StorePreferences(hexFile, stored);
    Program program;
    HWND dialog = WaitForDialog();
    ASSERT_NE(dialog, nullptr) << "no setup dialog";
    EXPECT_EQ(ItemText(dialog, kComPort), shown) << stored;
    EXPECT_EQ(ItemText(dialog, kHexFile), hexFile);
    EXPECT_EQ(ItemText(dialog, kLastStatus), L"");
    EXPECT_FALSE(IsWindowVisible(Log())) << "the log gives the dialog its place";
    ExitProgram(program, dialog);
    EXPECT_EQ(Stored(L"HexFileName"), hexFile);
    EXPECT_EQ(Stored(L"ComName"), stored.empty() ? kProbeAll : stored);
  }
}

// A path on the command line wins over the stored one; its run reports the missing file; then
// Browse, cancelled (typed text gives way to the setting and the status is emptied) and then
// with a file picked, which Exit stores (a start shows what is stored, and Exit keeps the stored
// port: see Setup).
TEST(Run, a_missing_file_is_reported_browse_replaces_it_and_exit_stores_both_settings) {
  std::wstring missing = InWork(L"no such file.hex"), good = InWork(L"good.hex");
  StorePreferences(L"C:\\stored.hex", kOtherPort);
  Program program(L"\"" + missing + L"\"");
  HWND dialog = WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ItemText(dialog, kHexFile), missing);
  Click(dialog, IDOK);
  ASSERT_EQ(StatusOnReturn(dialog, 30s), L"Last Status: Unable to open input file.");
  SetText(dialog, kHexFile, L"C:\\typed, not taken.hex");
  for (bool pick : {false, true}) {
    PostMessageW(GetDlgItem(dialog, kBrowse), BM_CLICK, 0, 0);  // the chooser runs inside it
    HWND chooser = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (chooser = Find(L"Open")) != nullptr; }, 10s))
        << "no file-open dialog";
    if (pick) SetText(chooser, 1148, good);  // the file-name field
    Click(chooser, pick ? IDOK : IDCANCEL);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(chooser); }, 10s));
    EXPECT_TRUE(WaitFor([&] { return ItemText(dialog, kLastStatus).empty(); }, 5s));
    EXPECT_TRUE(WaitFor([&] { return ItemText(dialog, kHexFile) == (pick ? good : missing); }, 5s))
        << ItemText(dialog, kHexFile);
  }
  ExitProgram(program, dialog);
  EXPECT_EQ(Stored(L"HexFileName"), good);
}

// The device ignores its first 200 queries, so that the reset prompt stays up for several
// seconds; the image takes seconds to write.
TEST(Run, the_log_follows_the_dialog_shows_the_reset_prompt_and_scrolls_the_device_s_lines_in) {
  Program program;
  HWND dialog = OpenDialogFor(kDevicePort);
  ASSERT_NE(dialog, nullptr);
  HWND log = Log();

  // The setup dialog runs its own message loop, which knows nothing of the accelerators.
  PressKeys("alt+question alt+slash");
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(Find(L"About Pentrel"), nullptr) << "an About box over the setup dialog";

  // Moved by the user, the dialog takes the log window with it.
  auto opened = CornerOf(dialog);
  DragByCaption(dialog, 120, 80);
  auto moved = CornerOf(dialog);
  ASSERT_NE(moved, opened) << "the drag did not move the dialog";
  Click(dialog, IDOK);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(log) != 0; }, 5s)) << "the log did not show";
  EXPECT_EQ(CornerOf(log), moved);

  // A repaint leaves the progress row to the background, until the next progress text.
  const wchar_t prompt[] = L"<<< Press the MELOR reset button now >>>";
  ASSERT_TRUE(WaitFor([&] { return RowShows(log, 14, prompt); }, 10s)) << "no reset prompt";
  RedrawWindow(log, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(RowShows(log, 14, prompt)) << "the repaint drew the progress row";
  EXPECT_TRUE(RowShows(log, 14, L"")) << "the progress row is not the background";

  // During the run, with the log window active, either key opens the About box.
  ExpectAboutBoxFrom("alt+question", "Escape");
  ExpectAboutBoxFrom("alt+slash", "Return");

  // The device's lines scroll in at the bottom while the image is written, with no repaint.
  EXPECT_TRUE(WaitFor([&] {
    return RowShows(log, 14, L"Sending firmware image: ", true) &&
           RowShows(log, 12, L"Found MELOR device on " + kDevicePort) &&
           RowShows(log, 13, L"bootloader v1.2, dev id 0x0f, flash size 0x80000");
  }, 60s)) << "the device's lines did not scroll in, or no progress showed";

  ASSERT_EQ(StatusOnReturn(dialog), kSuccess);
  EXPECT_FALSE(IsWindowVisible(log));
  ExitProgram(program, dialog);
}

// run-ui.sh compares the device's flash with the image afterwards.
TEST(Run, a_good_file_programs_the_device_and_dash_L_keeps_the_log_visible_where_the_dialog_is) {
  Program program(L"-L");
  HWND dialog = OpenDialogFor(kDevicePort);
  ASSERT_NE(dialog, nullptr);
  HWND log = Log();
  EXPECT_TRUE(IsWindowVisible(log));
  EXPECT_EQ(CornerOf(log), CornerOf(dialog));
  Click(dialog, IDOK);
  ASSERT_EQ(StatusOnReturn(dialog), kSuccess);

  // Side by side for the screenshots: the dialog below the log window. The uncovered log
  // repaints from the ring: the run's last lines at the bottom, oldest first.
  SetWindowPos(dialog, nullptr, PlaceOf(log).left, PlaceOf(log).bottom + 8, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
  std::this_thread::sleep_for(500ms);  // let both windows finish painting
  const wchar_t* lastLines[] = {L"Sending firmware image: done.", L"Verifying firmware image: done.",
                                L"Finalizing...", L"MELOR Firmware image successfully programmed."};
  for (int i = 0; i < 4; i++) EXPECT_TRUE(RowShows(log, 10 + i, lastLines[i])) << "row " << 10 + i;
  EXPECT_FALSE(RowShows(log, 13, L"Finalizing...")) << "the comparison tells rows apart";
  Screenshot("log-window", log);
  Screenshot("setup-dialog", dialog);
  ExitProgram(program, dialog);
}

// The other port's device never answers.
TEST(Run, closing_the_log_window_during_a_run_ends_the_program_without_saving) {
  ForgetPreferences();
  Program program;
  HWND dialog = OpenDialogFor(kOtherPort);
  ASSERT_NE(dialog, nullptr);
  HWND log = Log();
  Click(dialog, IDOK);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(log) != 0; }, 5s));
  std::this_thread::sleep_for(1s);  // well into the device search
  PostMessageW(log, WM_CLOSE, 0, 0);
  EXPECT_EQ(program.ExitCode(15s), 0u) << "closing the log did not end the program, or not with 0";
  EXPECT_EQ(Stored(L"ComName"), L"(none)");
}

}  // namespace
