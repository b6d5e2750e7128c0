// Drives pentrel.exe under Wine through its own windows: starts it, finds the setup dialog and the
// log window, fills and reads their controls, presses their buttons and reads the registry.
// tests/wine/run-ui.sh runs one scenario at a time (--gtest_filter) with the right melor-sim
// behind the mapped COM port, and tells the driver where things are through the environment:
//   PENTREL_EXE           pentrel.exe
//   PENTREL_GOOD_HEX      a HEX file that fits the simulated device
//   PENTREL_MISSING_HEX   a path where no file is
//   PENTREL_DEVICE_PORT   the COM port melor-sim answers on (or stays silent on)
//   PENTREL_OTHER_PORT    a second mapped port, present but without a device
//   PENTREL_SHOTS         optional: folder where screenshots are asked for (see Screenshot)
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
constexpr wchar_t kDialogCaption[] = L"Pentrel v1.3";
constexpr int kHexFile = 1004, kBrowse = 1005, kComPort = 1006, kLastStatus = 1009;

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

struct StoredValue {
  DWORD type = REG_NONE;
  DWORD size = 0;
  std::wstring text;
};

StoredValue ReadStored(const wchar_t* name) {
  StoredValue value;
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
  wchar_t data[600] = {};
  value.size = sizeof data - sizeof(wchar_t);
  if (RegQueryValueExW(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(data),
                       &value.size) == ERROR_SUCCESS) {
    value.text = data;
  }
  RegCloseKey(key);
  return value;
}

// A REG_SZ of exactly (characters + 1) x 2 bytes holding text.
void ExpectStored(const wchar_t* name, const std::wstring& text) {
  StoredValue value = ReadStored(name);
  EXPECT_EQ(value.type, DWORD{REG_SZ}) << Narrow(name);
  EXPECT_EQ(value.size, (text.size() + 1) * 2) << Narrow(name);
  EXPECT_EQ(value.text, text) << Narrow(name);
}

// --- the program under test -------------------------------------------------------------------

struct TopWindows {
  HWND dialog = nullptr;
  HWND log = nullptr;
};

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
  bool started() const { return started_; }
  DWORD pid() const { return process_.dwProcessId; }

  TopWindows Windows() const {
    TopWindows found;
    struct Search {
      DWORD pid;
      TopWindows* found;
    } search{process_.dwProcessId, &found};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
          auto* s = reinterpret_cast<Search*>(context);
          DWORD pid = 0;
          GetWindowThreadProcessId(window, &pid);
          if (pid != s->pid) return TRUE;
          std::wstring name = ClassOf(window);
          if (name == L"PENTREL") s->found->log = window;
          if (name == L"#32770" && TextOf(window) == kDialogCaption && IsWindowVisible(window)) {
            s->found->dialog = window;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return found;
  }

  // The setup dialog once it is open (and, when it replaces one, once that one has gone).
  HWND WaitForDialog(std::chrono::milliseconds limit = 20s, HWND previous = nullptr) {
    HWND dialog = nullptr;
    WaitFor([&] {
      dialog = Windows().dialog;
      return dialog != nullptr && dialog != previous && !IsWindow(previous);
    }, limit);
    return dialog;
  }

  bool WaitForExit(std::chrono::milliseconds limit, DWORD* exitCode = nullptr) {
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
      return false;
    }
    if (exitCode != nullptr) GetExitCodeProcess(process_.hProcess, exitCode);
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

std::vector<std::wstring> ComboItems(HWND dialog) {
  HWND combo = GetDlgItem(dialog, kComPort);
  std::vector<std::wstring> items;
  LRESULT count = Send(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; i++) {
    wchar_t item[300] = {};
    if (Send(combo, CB_GETLBTEXTLEN, i, 0) < 300) {
      Send(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
    }
    items.push_back(item);
  }
  return items;
}

bool Contains(const std::vector<std::wstring>& items, const std::wstring& wanted) {
  for (const auto& item : items) {
    if (item == wanted) return true;
  }
  return false;
}

// Exit: the program saves its settings and ends.
void ExitProgram(Program& program, HWND dialog) {
  Click(dialog, IDCANCEL);
  DWORD exitCode = 1234;
  ASSERT_TRUE(program.WaitForExit(15s, &exitCode)) << "Exit did not end the program";
  EXPECT_EQ(exitCode, 0u);
}

// Program: the dialog ends and a run starts; the next dialog is the run's outcome.
HWND ProgramAndWaitForOutcome(Program& program, HWND dialog, std::chrono::milliseconds limit) {
  Click(dialog, IDOK);
  return program.WaitForDialog(limit, dialog);
}

// Presses Browse and returns the file-open dialog it opens. The press is posted: the dialog runs
// modally inside the setup dialog's handling of it.
HWND OpenFileChooser(DWORD pid, HWND dialog) {
  PostMessageW(GetDlgItem(dialog, kBrowse), BM_CLICK, 0, 0);
  HWND chooser = nullptr;
  WaitFor([&] {
    for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"#32770", nullptr)) != nullptr;) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == pid && GetWindow(w, GW_OWNER) == dialog && IsWindowVisible(w)) chooser = w;
    }
    return chooser != nullptr;
  }, 10s);
  return chooser;
}

// The file-name field of the file-open dialog: the edit control with id 1148 inside it.
HWND FileNameField(HWND chooser) {
  HWND field = nullptr;
  EnumChildWindows(chooser, [](HWND child, LPARAM found) -> BOOL {
    if (GetDlgCtrlID(child) == 1148 && ClassOf(child) == L"Edit") {
      *reinterpret_cast<HWND*>(found) = child;
      return FALSE;
    }
    return TRUE;
  }, reinterpret_cast<LPARAM>(&field));
  return field;
}

// The setup dialog, filled in for the good image on the device's port.
HWND OpenDialogForDevice(Program& program) {
  HWND dialog = program.WaitForDialog();
  if (dialog == nullptr) return nullptr;
  SetText(dialog, kHexFile, Env(L"PENTREL_GOOD_HEX"));
  SetText(dialog, kComPort, Env(L"PENTREL_DEVICE_PORT"));
  return dialog;
}

// Asks run-ui.sh for a screenshot of the window's rectangle and waits until it is there.
void Screenshot(const wchar_t* name, HWND window) {
  std::wstring folder = Env(L"PENTREL_SHOTS");
  if (folder.empty()) return;
  RECT place;
  GetWindowRect(window, &place);
  std::wstring request = folder + L"\\" + name + L".request";
  std::wstring picture = folder + L"\\" + name + L".png";
  DeleteFileW(picture.c_str());
  FILE* file = _wfopen(request.c_str(), L"w");
  ASSERT_NE(file, nullptr);
  fprintf(file, "%ldx%ld+%ld+%ld\n", place.right - place.left, place.bottom - place.top,
          place.left, place.top);
  fclose(file);
  EXPECT_TRUE(WaitFor([&] { return GetFileAttributesW(picture.c_str()) != INVALID_FILE_ATTRIBUTES; },
                      30s))
      << "no screenshot " << Narrow(name);
}

// --- what the log window shows ----------------------------------------------------------------

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
// screen is compared with the same line drawn here.
bool RowShows(HWND log, int row, const std::wstring& text) {
  std::wstring line = text + std::wstring(64 - text.size(), L' ');
  HDC screen = GetDC(nullptr);
  HGDIOBJ oldFont = SelectObject(screen, GetStockObject(SYSTEM_FIXED_FONT));
  TEXTMETRICW metrics;
  GetTextMetricsW(screen, &metrics);
  int lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
  SIZE extent;
  GetTextExtentPoint32W(screen, line.c_str(), 64, &extent);
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
  TextOutW(memory, 0, 0, line.c_str(), 64);
  std::vector<DWORD> expected = Pixels(memory, 0, 0, extent.cx, extent.cy);
  SelectObject(memory, oldCanvas);
  DeleteObject(canvas);
  DeleteDC(memory);
  SelectObject(screen, oldFont);
  ReleaseDC(nullptr, screen);
  return shown == expected;
}

const std::wstring kProbeAll = L"probe all";

// --- scenarios --------------------------------------------------------------------------------

TEST(Resources, carry_the_strings_icon_sizes_accelerators_and_manifest) {
  HMODULE module = LoadLibraryExW(Env(L"PENTREL_EXE").c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr);
  wchar_t text[100];
  ASSERT_GT(LoadStringW(module, 103, text, 100), 0);
  EXPECT_STREQ(text, L"Pentrel");
  ASSERT_GT(LoadStringW(module, 109, text, 100), 0);
  EXPECT_STREQ(text, L"PENTREL");

  // Icon group 134: 16, 32, 48 and 64 px images of 32 bits a pixel.
  HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(134), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
  ASSERT_NE(group, nullptr);
  const BYTE* directory = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
  int count = directory[4] | directory[5] << 8;
  std::vector<std::pair<int, int>> images;
  for (int i = 0; i < count; i++) {
    const BYTE* entry = directory + 6 + 14 * i;
    images.push_back({entry[0], entry[6] | entry[7] << 8});
  }
  EXPECT_EQ(images, (std::vector<std::pair<int, int>>{{16, 32}, {32, 32}, {48, 32}, {64, 32}}));

  // Accelerators 109: Alt with the characters ? and / (not virtual keys), both giving 104.
  HACCEL table = LoadAcceleratorsW(module, MAKEINTRESOURCEW(109));
  ASSERT_NE(table, nullptr);
  ACCEL entries[8];
  int entryCount = CopyAcceleratorTableW(table, entries, 8);
  ASSERT_EQ(entryCount, 2);
  for (int i = 0; i < entryCount; i++) {
    EXPECT_EQ(entries[i].fVirt & ~FNOINVERT, FALT) << i;
    EXPECT_EQ(entries[i].cmd, 104) << i;
  }
  EXPECT_EQ(entries[0].key, L'?');
  EXPECT_EQ(entries[1].key, L'/');

  HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  ASSERT_NE(manifest, nullptr);
  std::string xml(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                  SizeofResource(module, manifest));
  EXPECT_NE(xml.find("level=\"asInvoker\""), std::string::npos);
  EXPECT_NE(xml.find("uiAccess=\"false\""), std::string::npos);
  FreeLibrary(module);
}

TEST(FirstStart, shows_an_empty_file_name_and_probe_all_and_exit_stores_both) {
  ForgetPreferences();
  Program program;
  ASSERT_TRUE(program.started());
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(dialog, nullptr) << "no setup dialog";
  EXPECT_EQ(ItemText(dialog, kHexFile), L"");
  EXPECT_EQ(ItemText(dialog, kComPort), kProbeAll);
  EXPECT_EQ(ItemText(dialog, kLastStatus), L"");
  EXPECT_FALSE(IsWindowVisible(program.Windows().log)) << "the log gives the dialog its place";
  ExitProgram(program, dialog);
  ExpectStored(L"HexFileName", L"");
  ExpectStored(L"ComName", kProbeAll);
}

struct ControlSpec {
  int id;
  const wchar_t* className;
  const wchar_t* text;  // null: not compared
  int x, y, width, height;
  DWORD styles;  // all of these must be set
  DWORD absent;  // none of these may be set
  bool border;   // a border, which an edit control may turn into a client edge
};

bool HasBorder(HWND control) {
  return (GetWindowLongW(control, GWL_STYLE) & WS_BORDER) ||
         (GetWindowLongW(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
}

TEST(SetupDialog, has_the_controls_texts_places_and_styles_of_its_template) {
  ForgetPreferences();
  Program program;
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  DWORD style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
  DWORD dialogStyles = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME;
  EXPECT_EQ(style & dialogStyles, dialogStyles);
  EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);

  const ControlSpec controls[] = {
      {IDOK, L"Button", L"Program", 146, 94, 85, 14, BS_DEFPUSHBUTTON | WS_TABSTOP, 0, false},
      {IDCANCEL, L"Button", L"Exit", 269, 94, 50, 14, WS_TABSTOP, BS_DEFPUSHBUTTON, false},
      {kHexFile, L"Edit", nullptr, 77, 38, 241, 14, WS_TABSTOP | ES_AUTOHSCROLL, 0, true},
      {kBrowse, L"Button", L"Browse", 268, 52, 50, 14, WS_TABSTOP, 0, false},
      // The combo box passes WS_VSCROLL on to its drop-down list and drops it from its own style.
      {kComPort, L"ComboBox", nullptr, 77, 68, 61, -1, CBS_DROPDOWN | CBS_SORT | WS_TABSTOP,
       CBS_SIMPLE, false},
      {kLastStatus, L"Edit", nullptr, 7, 124, 365, 14, ES_READONLY | ES_CENTER | ES_AUTOHSCROLL,
       WS_TABSTOP, false},
  };
  // Dialog units to pixels, from the file-name field, whose size the template gives.
  RECT field;
  GetWindowRect(GetDlgItem(dialog, kHexFile), &field);
  double perUnitX = (field.right - field.left) / 241.0, perUnitY = (field.bottom - field.top) / 14.0;
  RECT client;
  GetClientRect(dialog, &client);
  EXPECT_NEAR(client.right, 379 * perUnitX, 2);
  EXPECT_NEAR(client.bottom, 145 * perUnitY, 2);
  for (const auto& spec : controls) {
    HWND control = GetDlgItem(dialog, spec.id);
    ASSERT_NE(control, nullptr) << spec.id;
    EXPECT_EQ(ClassOf(control), spec.className) << spec.id;
    if (spec.text != nullptr) {
      EXPECT_EQ(TextOf(control), spec.text) << spec.id;
    }
    DWORD controlStyle = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
    EXPECT_EQ(controlStyle & (spec.styles | WS_CHILD | WS_VISIBLE),
              spec.styles | WS_CHILD | WS_VISIBLE) << spec.id;
    EXPECT_EQ(controlStyle & spec.absent, 0u) << spec.id;
    if (spec.id == kHexFile || spec.id == kLastStatus) {
      EXPECT_EQ(HasBorder(control), spec.border) << spec.id;
    }
    RECT place;
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    EXPECT_NEAR(place.left, spec.x * perUnitX, 1.5) << spec.id;
    EXPECT_NEAR(place.top, spec.y * perUnitY, 1.5) << spec.id;
    EXPECT_NEAR(place.right - place.left, spec.width * perUnitX, 1.5) << spec.id;
    if (spec.height > 0) {
      EXPECT_NEAR(place.bottom - place.top, spec.height * perUnitY, 1.5) << spec.id;
    }
  }
  // The tab order starts at Program, which therefore has the focus.
  EXPECT_EQ(GetNextDlgTabItem(dialog, GetDlgItem(dialog, kLastStatus), FALSE), GetDlgItem(dialog, IDOK));
  ExitProgram(program, dialog);
}

TEST(PortChoice, lists_probe_all_and_the_present_ports) {
  ForgetPreferences();
  Program program;
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  std::vector<std::wstring> items = ComboItems(dialog);
  EXPECT_TRUE(Contains(items, kProbeAll));
  EXPECT_TRUE(Contains(items, Env(L"PENTREL_DEVICE_PORT")));
  EXPECT_TRUE(Contains(items, Env(L"PENTREL_OTHER_PORT")));
  EXPECT_FALSE(Contains(items, L"COM99"));
  for (const auto& item : items) {
    EXPECT_TRUE(item == kProbeAll || item.rfind(L"COM", 0) == 0) << Narrow(item);
  }
  ExitProgram(program, dialog);
}

TEST(PortChoice, shows_a_stored_port_only_when_it_is_present_under_exactly_that_name) {
  std::wstring port = Env(L"PENTREL_DEVICE_PORT");
  std::wstring lower = port;
  for (auto& c : lower) c = towlower(c);
  struct Case {
    std::wstring stored, shown;
  } cases[] = {{port, port}, {lower, kProbeAll}, {L"COM99", kProbeAll}};
  for (const auto& c : cases) {
    StorePreferences(L"C:\\fw.hex", c.stored);
    Program program;
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ItemText(dialog, kComPort), c.shown) << Narrow(c.stored);
    ExitProgram(program, dialog);
    // Exit without Program keeps the stored name, even one that was not shown.
    ExpectStored(L"ComName", c.stored);
  }
}

TEST(Run, a_missing_file_is_reported_and_program_then_exit_stores_both_settings) {
  ForgetPreferences();
  std::wstring missing = Env(L"PENTREL_MISSING_HEX");
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
    ExitProgram(program, dialog);
  }
  ExpectStored(L"HexFileName", missing);
  ExpectStored(L"ComName", port);

  Program next;
  HWND dialog = next.WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ItemText(dialog, kHexFile), missing);
  EXPECT_EQ(ItemText(dialog, kComPort), port);
  EXPECT_EQ(ItemText(dialog, kLastStatus), L"") << "the Last Status is not remembered";
  ExitProgram(next, dialog);
}

TEST(Browse, cancel_restores_the_setting_and_a_picked_file_replaces_it_and_is_saved_on_exit) {
  ForgetPreferences();
  std::wstring missing = Env(L"PENTREL_MISSING_HEX"), good = Env(L"PENTREL_GOOD_HEX");
  Program program;
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  SetText(dialog, kHexFile, missing);
  dialog = ProgramAndWaitForOutcome(program, dialog, 30s);
  ASSERT_NE(dialog, nullptr);
  ASSERT_NE(ItemText(dialog, kLastStatus), L"");

  // Cancel: text typed since the dialog opened gives way to the setting; the status is emptied.
  SetText(dialog, kHexFile, L"C:\\typed, not taken.hex");
  HWND chooser = OpenFileChooser(program.pid(), dialog);
  ASSERT_NE(chooser, nullptr) << "no file-open dialog";
  Click(chooser, IDCANCEL);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(chooser); }, 10s));
  EXPECT_TRUE(WaitFor([&] { return ItemText(dialog, kLastStatus).empty(); }, 5s));
  EXPECT_EQ(ItemText(dialog, kHexFile), missing);

  // A picked file replaces the setting.
  chooser = OpenFileChooser(program.pid(), dialog);
  ASSERT_NE(chooser, nullptr);
  HWND field = FileNameField(chooser);
  ASSERT_NE(field, nullptr) << "no file-name field in the file-open dialog";
  Send(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(good.c_str()));
  Click(chooser, IDOK);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(chooser); }, 10s));
  EXPECT_TRUE(WaitFor([&] { return ItemText(dialog, kHexFile) == good; }, 5s))
      << Narrow(ItemText(dialog, kHexFile));
  ExitProgram(program, dialog);
  ExpectStored(L"HexFileName", good);
}

TEST(CommandLine, a_path_wins_over_the_stored_one_and_dash_L_keeps_the_log_visible) {
  StorePreferences(L"C:\\stored.hex", kProbeAll);
  {
    Program program(L"\"C:\\from the command line.hex\"");
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ItemText(dialog, kHexFile), L"C:\\from the command line.hex");
    EXPECT_FALSE(IsWindowVisible(program.Windows().log));
    ExitProgram(program, dialog);
  }
  ExpectStored(L"HexFileName", L"C:\\from the command line.hex");
  StorePreferences(L"C:\\stored.hex", kProbeAll);
  Program program(L"-L");
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ItemText(dialog, kHexFile), L"C:\\stored.hex");
  HWND log = program.Windows().log;
  EXPECT_TRUE(IsWindowVisible(log)) << "-L keeps the log window visible beside the dialog";
  RECT logPlace, dialogPlace;
  GetWindowRect(log, &logPlace);
  GetWindowRect(dialog, &dialogPlace);
  EXPECT_EQ(dialogPlace.left, logPlace.left);
  EXPECT_EQ(dialogPlace.top, logPlace.top);
  ExitProgram(program, dialog);
}

// Needs melor-sim answering on PENTREL_DEVICE_PORT; run-ui.sh compares its flash with the image.
TEST(Run, a_good_file_programs_the_device_and_the_dialog_says_so) {
  ForgetPreferences();
  Program program(L"-L");
  HWND dialog = OpenDialogForDevice(program);
  ASSERT_NE(dialog, nullptr);
  dialog = ProgramAndWaitForOutcome(program, dialog, 120s);
  ASSERT_NE(dialog, nullptr) << "the dialog did not come back";
  EXPECT_EQ(ItemText(dialog, kLastStatus), L"Last Status: MELOR successfully programmed.");

  // Side by side for the screenshots: the dialog below the log window.
  HWND log = program.Windows().log;
  RECT logPlace;
  GetWindowRect(log, &logPlace);
  SetWindowPos(dialog, nullptr, logPlace.left, logPlace.bottom + 8, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER);
  std::this_thread::sleep_for(500ms);  // let both windows finish painting
  // The uncovered log repaints from the ring: the run's last lines at the bottom, oldest first,
  // and the cleared progress row.
  const wchar_t* lastLines[] = {L"Sending firmware image: done.", L"Verifying firmware image: done.",
                                L"Finalizing...", L"MELOR Firmware image successfully programmed."};
  for (int i = 0; i < 4; i++) EXPECT_TRUE(RowShows(log, 10 + i, lastLines[i])) << "row " << 10 + i;
  EXPECT_TRUE(RowShows(log, 14, L"")) << "progress row";
  EXPECT_FALSE(RowShows(log, 13, L"Finalizing...")) << "the comparison tells rows apart";
  Screenshot(L"log-window", log);
  Screenshot(L"setup-dialog", dialog);
  ExitProgram(program, dialog);
}

// Needs melor-sim on PENTREL_DEVICE_PORT told never to answer: the run gives up after its
// detection attempts.
TEST(Run, a_silent_device_is_reported_and_the_log_takes_the_dialogs_place_meanwhile) {
  ForgetPreferences();
  Program program;
  HWND dialog = OpenDialogForDevice(program);
  ASSERT_NE(dialog, nullptr);
  RECT dialogPlace;
  GetWindowRect(dialog, &dialogPlace);
  HWND log = program.Windows().log;
  ASSERT_FALSE(IsWindowVisible(log));
  Click(dialog, IDOK);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(log) != 0; }, 5s)) << "the log did not show";
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }, 5s));
  RECT logPlace;
  GetWindowRect(log, &logPlace);
  EXPECT_EQ(logPlace.left, dialogPlace.left);
  EXPECT_EQ(logPlace.top, dialogPlace.top);

  // The reset prompt stays on the progress row through a repaint of the whole window.
  const wchar_t prompt[] = L"<<< Press the MELOR reset button now >>>";
  EXPECT_TRUE(WaitFor([&] { return RowShows(log, 14, prompt); }, 10s)) << "no reset prompt";
  RedrawWindow(log, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(RowShows(log, 14, prompt)) << "the repaint lost the reset prompt";

  // During the run the About command (what Alt+/ and Alt+? give) opens the About box; OK, and
  // the IDCANCEL that Esc and the close box give, end it.
  for (int ending : {IDOK, IDCANCEL}) {
    PostMessageW(log, WM_COMMAND, 104, 0);
    HWND about = nullptr;
    ASSERT_TRUE(WaitFor([&] {
      about = FindWindowW(L"#32770", L"About Pentrel");
      return about != nullptr && IsWindowVisible(about);
    }, 5s)) << "no About box";
    if (ending == IDOK) {
      Click(about, IDOK);
    } else {
      Send(about, WM_COMMAND, IDCANCEL, 0);
    }
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }, 5s));
  }

  dialog = program.WaitForDialog(120s, dialog);
  ASSERT_NE(dialog, nullptr) << "the dialog did not come back";
  EXPECT_EQ(ItemText(dialog, kLastStatus), L"Last Status: MELOR not found");
  EXPECT_FALSE(IsWindowVisible(log));
  ExitProgram(program, dialog);
}

TEST(Run, closing_the_log_window_during_a_run_ends_the_program_without_saving) {
  ForgetPreferences();
  Program program;
  HWND dialog = OpenDialogForDevice(program);
  ASSERT_NE(dialog, nullptr);
  HWND log = program.Windows().log;
  Click(dialog, IDOK);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(log) != 0; }, 5s));
  std::this_thread::sleep_for(1s);  // well into the device search
  PostMessageW(log, WM_CLOSE, 0, 0);
  DWORD exitCode = 1234;
  ASSERT_TRUE(program.WaitForExit(15s, &exitCode)) << "closing the log did not end the program";
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(ReadStored(L"ComName").type, DWORD{REG_NONE}) << "nothing is saved on this path";
}

}  // namespace
