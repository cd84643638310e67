// ZRKVT16.dll as Windows hosts use it: compiled tables beside their table
// files under a drive-letter path, and the named mutex "CtableMutex", shared
// with other processes and usable after an owner ended while holding it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "zrkvt16.h"

namespace {

// The folder of the test programs, which is that of the DLL and kvtconv.exe.
std::string beside(const char* name) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.rfind('\\') + 1) + name;
}

std::string toUtf8(const char* target, const char* source, const std::string& in) {
  CconvRecord rec{};
  char out[256];
  if (cconvInitConvert(&rec, nullptr, target) || cconvChgCharset(&rec, nullptr, source)) return "?";
  rec.inBuf = reinterpret_cast<const unsigned char*>(in.data());
  rec.inLen = static_cast<int32_t>(in.size());
  rec.outBuf = reinterpret_cast<unsigned char*>(out);
  rec.outSize = sizeof out;
  if (cconvConvert(&rec) || cconvTermConvert(&rec)) return "!";
  return std::string(out, rec.outPos);
}

TEST(WindowsDll, CompilesTablesBesideThemUnderADriveLetterPath) {
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 2u);
  ASSERT_EQ(temp[1], ':');
  std::string dir = std::string(temp) + "zk-" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  for (const char* f : {"shift_jis.xml", "utf-8.xml", "ucs.def", "jisx0201latin.def",
                        "jisx0201latin.txt", "jisx0201kana.def", "jisx0201kana.txt",
                        "jisx0208.def", "jisx0208.txt"})
    ASSERT_TRUE(CopyFileA((beside("base2\\") + f).c_str(), (dir + "\\" + f).c_str(), TRUE)) << f;
  ASSERT_EQ(KVT_setCharsetPath(dir.c_str()), 1);
  EXPECT_EQ(toUtf8("UTF-8", "Shift_JIS", "A\x82\xa0\xb1"), "A\xe3\x81\x82\xef\xbd\xb1");
  EXPECT_STREQ(KVT_getCharsetPath(), dir.c_str());
  for (const char* f : {"jisx0201latin.cmp", "jisx0201kana.cmp", "jisx0208.cmp"})
    EXPECT_NE(GetFileAttributesA((dir + "\\" + f).c_str()), INVALID_FILE_ATTRIBUTES) << f;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((dir + "\\*.tmp*").c_str(), &found);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "left behind: " << found.cFileName;
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
}

// While this process holds the mutex, kvtconv.exe waits in its loading pass;
// once it is released, kvtconv finishes.
TEST(WindowsDll, MutexIsSharedWithOtherProcesses) {
  HANDLE m = CreateMutexA(nullptr, FALSE, "CtableMutex");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "made at attach";
  ASSERT_EQ(WaitForSingleObject(m, INFINITE), WAIT_OBJECT_0);
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  std::string out = std::string(temp) + "zk-out-" + std::to_string(GetCurrentProcessId());
  std::string cmd = "\"" + beside("kvtconv.exe") + "\" -f UTF-16 -o \"" + out + "\" \"" +
                    beside("base2\\utf-8.xml") + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 2000), static_cast<DWORD>(WAIT_TIMEOUT));
  ReleaseMutex(m);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(DeleteFileA(out.c_str()));
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(m);
}

// A thread that ends while owning the mutex abandons it; the next wait owns
// it all the same, loading goes on, and the mutex is released after it.
DWORD WINAPI takeMutex(LPVOID keep) {
  HANDLE m = CreateMutexA(nullptr, FALSE, "CtableMutex");
  if (!m || WaitForSingleObject(m, 5000) != WAIT_OBJECT_0) return 1;
  if (!keep) ReleaseMutex(m);
  return 0;
}

TEST(WindowsDll, AbandonedMutexIsTakenOver) {
  for (LPVOID keep : {LPVOID(1), LPVOID(0)}) {
    if (!keep) {
      EXPECT_EQ(cconvLoadRule(), 1);
      EXPECT_EQ(toUtf8("UTF-8", "Shift_JIS", "\x93\xfa"), "\xe6\x97\xa5");
    }
    HANDLE t = CreateThread(nullptr, 0, takeMutex, keep, 0, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 30000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, 0u) << (keep ? "first owner" : "the library kept the mutex");
    CloseHandle(t);
  }
}

}  // namespace
