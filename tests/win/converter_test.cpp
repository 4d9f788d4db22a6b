// Kelvo.exe and Tarvin.exe as separate processes, driven the way TallSnap and a user drive them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <set>

#include "converters/kelvo_core.h"
#include "shared/bmp.h"
#include "win_test_support.h"

namespace {

const char kKelvoTitle[] = "圧縮ファイルBMP変換だぞ";
const char kDialogTitle[] = "保存先(フォルダ)と名前を決めてください";

// What the owner window saw of Kelvo's replies.
std::string g_reply;
ULONG_PTR g_replyData = 0;
int g_replies = 0;
bool g_insideStart = false;
bool g_replyNested = false;

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    g_reply.assign(static_cast<const char*>(data->lpData) == nullptr ? "" : static_cast<const char*>(data->lpData),
                   data->lpData == nullptr ? 0 : data->cbData);
    g_replyData = data->dwData;
    g_replyNested = g_insideStart;
    ++g_replies;
    return TRUE;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeOwner() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = "KelvoTestOwner";
    RegisterClassA(&wc);
    registered = true;
  }
  return CreateWindowExA(WS_EX_TOPMOST, "KelvoTestOwner", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr,
                         nullptr, nullptr, nullptr);
}

// The way TallSnap finds the converter: passes up and down the window list from its window.
HWND FindByWalk(HWND from, DWORD timeoutMs) {
  HWND found = nullptr;
  UINT direction = GW_HWNDPREV;
  PumpUntil(
      [&] {
        HWND w = from;
        for (int step = 0; step <= 1280 && w != nullptr; ++step) {
          w = GetWindow(w, direction);
          char text[1256] = {};
          if (w != nullptr && GetWindowTextA(w, text, sizeof text) > 0 && lstrcmpA(text, kKelvoTitle) == 0) {
            found = w;
            return true;
          }
        }
        direction = direction == GW_HWNDPREV ? GW_HWNDNEXT : GW_HWNDPREV;
        return false;
      },
      timeoutMs);
  return found;
}

Picture Smooth(UINT width, UINT height) {
  Picture p;
  p.width = width;
  p.height = height;
  p.bgr.resize(static_cast<size_t>(width) * height * 3);
  for (UINT y = 0; y < height; ++y)
    for (UINT x = 0; x < width; ++x) {
      BYTE* px = &p.bgr[(static_cast<size_t>(y) * width + x) * 3];
      px[0] = static_cast<BYTE>(x * 255 / (width > 1 ? width - 1 : 1));
      px[1] = static_cast<BYTE>(y * 255 / (height > 1 ? height - 1 : 1));
      px[2] = 128;
    }
  return p;
}

Picture Noise(UINT width, UINT height, unsigned seed) {
  Picture p;
  p.width = width;
  p.height = height;
  p.bgr.resize(static_cast<size_t>(width) * height * 3);
  std::mt19937 random(seed);
  for (BYTE& b : p.bgr) b = static_cast<BYTE>(random());
  return p;
}

// The picture as TallSnap writes a hand-off BMP: 24-bit, bottom-up, padded rows.
void WriteBmp(const std::string& path, const Picture& p) {
  const ptrdiff_t stride = static_cast<ptrdiff_t>(p.width) * 3;
  const auto bytes = Bmp24FileBytes(p.bgr.data() + stride * (static_cast<ptrdiff_t>(p.height) - 1), -stride, 3,
                                    p.width, p.height, 0);
  WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
}

std::set<std::string> FolderFiles(const std::string& folder) {
  std::set<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(entry.cFileName);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return names;
}

bool ProcessEnds(HANDLE process, DWORD timeoutMs, DWORD* code) {
  if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) return false;
  GetExitCodeProcess(process, code);
  return true;
}

class KelvoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = MakeTempFolder();
    owner = MakeOwner();
    g_reply.clear();
    g_replies = 0;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    ASSERT_TRUE(CreateProcessA((ExeFolder() + "\\Kelvo.exe").c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                               folder.c_str(), &si, &kelvoProcess));
    kelvo = FindByWalk(owner, 15000);
    ASSERT_NE(kelvo, nullptr);
    WriteFileBytes(folder + "\\ForTarvin.txt", "100");
  }
  void TearDown() override {
    if (kelvo != nullptr) SendMessageTimeoutA(kelvo, WM_DESTROY, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    DWORD code = 0;
    if (!ProcessEnds(kelvoProcess.hProcess, 10000, &code)) TerminateProcess(kelvoProcess.hProcess, 1);
    CloseHandle(kelvoProcess.hProcess);
    CloseHandle(kelvoProcess.hThread);
    DestroyWindow(owner);
    RemoveFolderTree(folder);
  }

  // TallSnap's conversion request: the output path in a 260-byte block, then the hand-off BMP.
  // True when Kelvo says it made the file.
  bool Convert(const std::string& output, const std::string& bmp) {
    char block[260] = {};
    lstrcpynA(block, output.c_str(), sizeof block);
    SendPath(block, sizeof block);
    return SendMessageA(kelvo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(bmp.c_str())) != FALSE;
  }
  void SendPath(const void* bytes, DWORD count) {
    COPYDATASTRUCT data{reinterpret_cast<ULONG_PTR>(owner), count, const_cast<void*>(bytes)};
    SendMessageA(kelvo, WM_COPYDATA, reinterpret_cast<WPARAM>(owner), reinterpret_cast<LPARAM>(&data));
  }
  void SendItem(ULONG_PTR kind, const void* bytes, DWORD count) {
    COPYDATASTRUCT data{kind, count, const_cast<void*>(bytes)};
    SendMessageA(kelvo, WM_COPYDATA, reinterpret_cast<WPARAM>(owner), reinterpret_cast<LPARAM>(&data));
  }
  // Exactly the six messages TallSnap sends for a JPEG save location.
  void RequestSaveLocation(const std::string& name, const std::string& initialFolder) {
    static const char filter[] = "JPG(*.jpg)\0*.jpg\0すべてのファイル(*)\0*\0";
    static_assert(sizeof filter == 40, "the filter block of JPG(*.jpg) is 40 bytes");
    SendItem(1, filter, sizeof filter);
    SendItem(2, name.c_str(), static_cast<DWORD>(name.size() + 2));
    SendItem(3, initialFolder.c_str(), static_cast<DWORD>(initialFolder.size() + 2));
    SendItem(0, kDialogTitle, static_cast<DWORD>(std::strlen(kDialogTitle) + 2));
    const uint32_t handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(owner));
    SendItem(reinterpret_cast<ULONG_PTR>(owner), &handle, 4);
    g_insideStart = true;
    SendItem(5, "1", 3);
    g_insideStart = false;
  }
  bool KelvoAlive() { return WaitForSingleObject(kelvoProcess.hProcess, 0) == WAIT_TIMEOUT && IsWindow(kelvo); }
  std::string In(const std::string& name) const { return folder + "\\" + name; }

  std::string folder;
  HWND owner = nullptr;
  HWND kelvo = nullptr;
  PROCESS_INFORMATION kelvoProcess{};
};

}  // namespace

TEST_F(KelvoTest, FoundByAWalkOfTheWindowListAndOutOfTheWay) {
  char title[64] = {};
  GetWindowTextA(kelvo, title, sizeof title);
  EXPECT_STREQ(title, "\x88\xb3\x8f\x6b\x83\x74\x83\x40\x83\x43\x83\x8b" "BMP" "\x95\xcf\x8a\xb7\x82\xbe\x82\xbc");
  EXPECT_FALSE(IsWindowVisible(kelvo));
  EXPECT_TRUE(GetWindowLongA(kelvo, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_EQ(GetAncestor(kelvo, GA_PARENT), GetDesktopWindow());
  EXPECT_EQ(GetWindow(kelvo, GW_OWNER), nullptr);

  // The counts a soak test follows: GDI objects, USER objects, kernel handles; nothing else.
  for (WPARAM what = 0; what <= 2; ++what) {
    const LRESULT n = SendMessageA(kelvo, kKelvoCountsMessage, what, 0);
    EXPECT_TRUE(n > 0 && n < 5000) << what << ": " << n;
  }
  EXPECT_EQ(SendMessageA(kelvo, kKelvoCountsMessage, 3, 0), 0);
}

TEST_F(KelvoTest, ConvertsHandOffBmpsExactly) {
  const struct {
    UINT w, h;
  } sizes[] = {{1, 1}, {4, 3}, {5, 3}, {6, 3}, {7, 3}, {64, 48}};
  for (const auto& s : sizes) {
    SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
    const Picture noise = Noise(s.w, s.h, s.w * 100 + s.h);
    WriteBmp(In("■ToJpgBmpForKelvo.bmp"), noise);
    for (const char* ext : {".png", ".bmp"}) {
      const std::string out = In("exact" + std::to_string(s.w) + ext);
      Convert(out, In("■ToJpgBmpForKelvo.bmp"));
      Picture back;
      ASSERT_TRUE(DecodeImageFile(out, back)) << out;
      EXPECT_EQ(back.width, s.w);
      EXPECT_EQ(back.height, s.h);
      EXPECT_TRUE(back.bgr == noise.bgr) << ext;
    }
    const Picture smooth = Smooth(s.w, s.h);
    WriteBmp(In("■ToJpgBmpForKelvo.bmp"), smooth);
    const std::string jpg = In("smooth" + std::to_string(s.w) + ".jpg");
    Convert(jpg, In("■ToJpgBmpForKelvo.bmp"));
    Picture back;
    ASSERT_TRUE(DecodeImageFile(jpg, back));
    EXPECT_EQ(back.width, s.w);
    EXPECT_EQ(back.height, s.h);
    // A gradient of a few pixels has steps no lossy codec keeps; measure where it is smooth.
    if (s.w >= 64) {
      EXPECT_GE(Psnr(smooth, back), 40.0);
    }
  }
  char title[64] = {};
  GetWindowTextA(kelvo, title, sizeof title);
  EXPECT_STREQ(title, kKelvoTitle);  // the hand-off texts never became its title
}

TEST_F(KelvoTest, ATallCaptureInEveryFormat) {
  const Picture tall = Smooth(1914, 4000);
  WriteBmp(In("tall.bmp"), tall);
  for (const char* name : {"tall.png", "tall.jpg", "tall copy.bmp"}) {
    Convert(In(name), In("tall.bmp"));
    Picture back;
    ASSERT_TRUE(DecodeImageFile(In(name), back)) << name;
    ASSERT_EQ(back.width, 1914u);
    ASSERT_EQ(back.height, 4000u);
    EXPECT_GE(Psnr(tall, back), std::string(name).find(".jpg") != std::string::npos ? 40.0 : 999.0) << name;
  }
}

TEST_F(KelvoTest, ClipboardBmpAndOtherInputs) {
  // The clipboard mode's relative name lands in Kelvo's current directory, TallSnap's folder.
  const Picture p = Noise(37, 21, 7);
  WriteBmp(In("in.bmp"), p);
  Convert("clpbd.bmp", In("in.bmp"));
  HBITMAP loaded = static_cast<HBITMAP>(
      LoadImageA(nullptr, In("clpbd.bmp").c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  ASSERT_NE(loaded, nullptr);
  BITMAP info{};
  GetObjectA(loaded, sizeof info, &info);
  EXPECT_EQ(info.bmWidth, 37);
  EXPECT_EQ(info.bmHeight, 21);
  DeleteObject(loaded);

  // A 32-bit top-down BMP converts as well.
  std::string bmp(54 + 37 * 21 * 4, '\0');
  const uint32_t fields[] = {0, 54, 40, 37, static_cast<uint32_t>(-21)};
  bmp[0] = 'B';
  bmp[1] = 'M';
  std::memcpy(&bmp[6], fields, sizeof fields);
  bmp[26] = 1;
  bmp[28] = 32;
  for (size_t i = 0; i < 37u * 21; ++i) std::memcpy(&bmp[54 + 4 * i], &p.bgr[3 * i], 3);
  WriteFileBytes(In("top-down.bmp"), bmp);
  Convert(In("from32.png"), In("top-down.bmp"));
  Picture back;
  ASSERT_TRUE(DecodeImageFile(In("from32.png"), back));
  EXPECT_TRUE(back.bgr == p.bgr);
}

TEST_F(KelvoTest, BadInputLeavesNoFileAndKelvoKeepsAnswering) {
  WriteBmp(In("good.bmp"), Noise(8, 8, 1));
  const std::string good = ReadFileBytes(In("good.bmp"));
  auto damaged = [&](size_t at, uint32_t value) {
    std::string b = good;
    std::memcpy(&b[at], &value, 4);
    return b;
  };
  WriteFileBytes(In("truncated.bmp"), good.substr(0, good.size() - 5));
  WriteFileBytes(In("absurd.bmp"), damaged(18, 0x7FFFFFFF));
  WriteFileBytes(In("depth8.bmp"), damaged(28, 8));
  WriteFileBytes(In("rle.bmp"), damaged(30, 1));
  WriteFileBytes(In("offset.bmp"), damaged(10, 0xFFFFFF00u));
  WriteFileBytes(In("exists.png"), "mine");
  const std::set<std::string> before = FolderFiles(folder);

  const struct {
    std::string output, bmp;
  } cases[] = {
      {In("no folder\\x.png"), In("good.bmp")},
      {In("missing-input.png"), In("nothing here.bmp")},
      {In("truncated.png"), In("truncated.bmp")},
      {In("absurd.png"), In("absurd.bmp")},
      {In("depth8.png"), In("depth8.bmp")},
      {In("rle.png"), In("rle.bmp")},
      {In("offset.png"), In("offset.bmp")},
      {In("unknown.gif"), In("good.bmp")},
      {In("noextension"), In("good.bmp")},
      {In("exists.png"), In("good.bmp")},  // never replaced
  };
  // Each is answered FALSE, so that TallSnap falls back at once instead of waiting for a file.
  for (const auto& c : cases) EXPECT_FALSE(Convert(c.output, c.bmp)) << c.output;

  // A path block without its zero byte, and one longer than 260 bytes.
  const std::string unterminated(260, 'a');
  SendPath(unterminated.data(), 260);
  EXPECT_FALSE(SendMessageA(kelvo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(In("good.bmp").c_str())));
  std::string tooLong = In(std::string(300, 'l') + ".png");
  tooLong.resize(320, '\0');
  SendPath(tooLong.data(), 320);
  SendMessageA(kelvo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(In("good.bmp").c_str()));
  // A hand-off with no output path before it.
  SendMessageA(kelvo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(In("good.bmp").c_str()));
  // A hand-off path longer than a path can be.
  const std::string longBmp(400, 'b');
  Convert(In("longbmp.png"), longBmp);

  EXPECT_EQ(FolderFiles(folder), before);
  EXPECT_EQ(ReadFileBytes(In("exists.png")), "mine");
  ASSERT_TRUE(KelvoAlive());
  EXPECT_TRUE(Convert(In("after.png"), In("good.bmp")));
  EXPECT_EQ(GetFileAttributesA(In("after.png").c_str()) != INVALID_FILE_ATTRIBUTES, true);
}

TEST_F(KelvoTest, SurvivesThousandsOfRandomMessages) {
  WriteBmp(In("good.bmp"), Noise(8, 8, 2));
  std::mt19937 random(2024);
  std::string payload;
  for (int i = 0; i < 3000; ++i) {
    const ULONG_PTR kinds[] = {0, 1, 2, 3, 5, reinterpret_cast<ULONG_PTR>(owner), random()};
    payload.resize(random() % 700);
    for (char& c : payload) c = static_cast<char>(random());
    // Start items stay out: a random request that happened to be complete would open a dialog.
    ULONG_PTR kind = kinds[random() % 7];
    if (kind == 5) kind = 4;
    const DWORD size = random() % 8 == 0 ? 260 : static_cast<DWORD>(payload.size());
    payload.resize(std::max<size_t>(payload.size(), size));
    COPYDATASTRUCT data{kind, size, random() % 16 == 0 ? nullptr : &payload[0]};
    if (data.lpData == nullptr) data.cbData = 0;
    DWORD_PTR ignored = 0;
    ASSERT_NE(SendMessageTimeoutA(kelvo, WM_COPYDATA, reinterpret_cast<WPARAM>(owner), reinterpret_cast<LPARAM>(&data),
                                  SMTO_ABORTIFHUNG, 5000, &ignored),
              0)
        << i;
    if (random() % 10 == 0) {
      payload.push_back('\0');
      SendMessageTimeoutA(kelvo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(payload.c_str()), SMTO_ABORTIFHUNG, 5000,
                          &ignored);
    }
  }
  ASSERT_TRUE(KelvoAlive());
  Convert(In("still.png"), In("good.bmp"));
  EXPECT_NE(GetFileAttributesA(In("still.png").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(KelvoTest, SaveDialogRepliesInsideTheStartItem) {
  // The user first types a name that makes the path 260 bytes: one more than the dialog's
  // buffer holds with its zero byte. The dialog fails then (FNERR_BUFFERTOOSMALL, under Wine as
  // on Windows) instead of answering; Wine goes on copying the path into a MAX_PATH buffer of
  // its own, so the test stays at the limit. That is no cancel: the dialog comes again, without
  // the default name, and the name typed there is the reply.
  ASSERT_LT(folder.size(), 200u);
  const std::string sub = In(std::string(229 - folder.size(), 's'));  // 230 bytes
  ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  DialogDriver tooLong(kelvoProcess.dwProcessId, std::string(260 - sub.size() - 1 - 4, 'n') + ".png");
  DialogDriver driver(kelvoProcess.dwProcessId, "picked.png");  // a name in the initial folder
  std::thread user([&] {
    tooLong.Run();
    driver.Run();
  });
  RequestSaveLocation("shot", sub);
  user.join();
  ASSERT_TRUE(tooLong.textMatched) << tooLong.lastText;
  EXPECT_EQ(tooLong.initialText, "shot");
  ASSERT_TRUE(driver.sawDialog);
  EXPECT_EQ(driver.initialText, "");
  ASSERT_FALSE(driver.forcedClose) << driver.lastText;
  EXPECT_EQ(driver.dialogOwner, owner);
  EXPECT_EQ(driver.dialogTitle, kDialogTitle);
  ASSERT_TRUE(driver.textMatched) << driver.lastText;
  ASSERT_EQ(g_replies, 1);
  EXPECT_TRUE(g_replyNested);  // the reply came while the start item was still being sent
  EXPECT_EQ(g_replyData, 1u);
  EXPECT_EQ(g_reply, sub + "\\picked.png" + std::string(1, '\0'));

  // The dialog left Kelvo's current directory alone.
  WriteBmp(In("good.bmp"), Noise(4, 4, 3));
  Convert("relative.png", In("good.bmp"));
  EXPECT_NE(GetFileAttributesA(In("relative.png").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA((sub + "\\relative.png").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(KelvoTest, OnlyTheUsersCancelRepliesEmpty) {
  DialogDriver driver(kelvoProcess.dwProcessId, "");
  driver.AnswerWhile([&] { RequestSaveLocation("shot", folder); });
  ASSERT_TRUE(driver.sawDialog);
  ASSERT_EQ(g_replies, 1);
  EXPECT_TRUE(g_replyNested);
  EXPECT_EQ(g_replyData, 1u);
  EXPECT_EQ(g_reply, "");

  // A dialog that fails each time it is shown (a typed path one byte past its buffer) gets no
  // reply: TallSnap then saves a BMP where it can and says where, as for a converter that hangs.
  // The last try opens in Kelvo's current folder, the test's.
  g_replies = 0;
  const std::string subName(229 - folder.size(), 's'), sub = In(subName);
  ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  const std::string tooLong = std::string(260 - sub.size() - 1 - 4, 'n') + ".png";
  std::vector<std::unique_ptr<DialogDriver>> failing;
  for (const std::string& typed : {tooLong, tooLong, subName + "\\" + tooLong})
    failing.push_back(std::make_unique<DialogDriver>(kelvoProcess.dwProcessId, typed));
  std::thread failingUser([&] {
    for (auto& d : failing) d->Run();
  });
  RequestSaveLocation("shot", sub);
  failingUser.join();
  for (auto& d : failing) EXPECT_TRUE(d->textMatched) << d->lastText;
  EXPECT_EQ(g_replies, 0);
  EXPECT_TRUE(KelvoAlive());

  // Items out of order open no dialog and get no reply.
  g_replies = 0;
  SendItem(5, "1", 3);
  SendItem(3, "C:\\", 5);
  EXPECT_EQ(g_replies, 0);
  EXPECT_TRUE(KelvoAlive());
}

TEST_F(KelvoTest, EndsOnWmDestroy) {
  SendMessageA(kelvo, WM_DESTROY, 0, 0);
  DWORD code = 1;
  EXPECT_TRUE(ProcessEnds(kelvoProcess.hProcess, 10000, &code));
  EXPECT_EQ(code, 0u);
  kelvo = nullptr;
}

TEST(KelvoStarter, KelvoEndsWhenTheProgramThatStartedItIsGone) {
  const std::string folder = MakeTempFolder();
  HWND owner = MakeOwner();
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION starter{};
  ASSERT_TRUE(CreateProcessA((ExeFolder() + "\\kelvo_starter.exe").c_str(), nullptr, nullptr, nullptr, FALSE,
                             CREATE_NO_WINDOW, nullptr, folder.c_str(), &si, &starter));
  HWND kelvo = FindByWalk(owner, 15000);
  ASSERT_NE(kelvo, nullptr);
  DWORD pid = 0;
  GetWindowThreadProcessId(kelvo, &pid);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  ASSERT_NE(process, nullptr);
  TerminateProcess(starter.hProcess, 9);
  DWORD code = 1;
  EXPECT_TRUE(ProcessEnds(process, 10000, &code));
  EXPECT_EQ(code, 0u);
  CloseHandle(process);
  CloseHandle(starter.hProcess);
  CloseHandle(starter.hThread);
  DestroyWindow(owner);
  RemoveFolderTree(folder);
}

namespace {

// Runs Tarvin.exe in folder; returns its exit code and what it wrote to standard error.
int RunTarvin(const std::string& folder, const std::string& args, std::string* errors) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const std::string errPath = folder + "\\tarvin-stderr.txt";
  HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdError = err;
  si.hStdOutput = err;
  PROCESS_INFORMATION pi{};
  std::string line = "\"" + ExeFolder() + "\\Tarvin.exe\" " + args;
  int code = -1;
  if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, folder.c_str(), &si, &pi)) {
    DWORD c = 0;
    if (ProcessEnds(pi.hProcess, 60000, &c)) code = static_cast<int>(c);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(err);
  *errors = ReadFileBytes(errPath);
  DeleteFileA(errPath.c_str());
  return code;
}

}  // namespace

TEST(Tarvin, ConvertsFromTheCommandLineAndRefusesClearly) {
  const std::string folder = MakeTempFolder();
  const Picture p = Noise(13, 9, 5);
  WriteBmp(folder + "\\in.bmp", p);
  std::string errors;
  EXPECT_EQ(RunTarvin(folder, "in.bmp out.png", &errors), 0) << errors;
  Picture back;
  ASSERT_TRUE(DecodeImageFile(folder + "\\out.png", back));
  EXPECT_TRUE(back.bgr == p.bgr);
  EXPECT_EQ(RunTarvin(folder, "in.bmp out.jpg 90", &errors), 0) << errors;

  EXPECT_EQ(RunTarvin(folder, "missing.bmp x.png", &errors), 1);
  EXPECT_EQ(errors.rfind("Tarvin: ", 0), 0u) << errors;
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line";
  EXPECT_EQ(RunTarvin(folder, "in.bmp out.png", &errors), 1);  // never overwrites
  EXPECT_EQ(RunTarvin(folder, "in.bmp x.gif", &errors), 1);
  EXPECT_EQ(RunTarvin(folder, "in.bmp y.png 0", &errors), 2);
  EXPECT_EQ(RunTarvin(folder, "", &errors), 2);
  EXPECT_EQ(GetFileAttributesA((folder + "\\x.gif").c_str()), INVALID_FILE_ATTRIBUTES);
  RemoveFolderTree(folder);
}
