// ZRKVT16.dll as Windows hosts use it: compiled tables beside their table
// files under a drive-letter path, and the named mutex "CtableMutex" made at
// attach, shared with other processes and taken over when abandoned.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "zrkvt16.h"

namespace {

// The folder of the test programs, which is that of the DLL and kvtconv.exe.
std::string beside(const char* name) {
  char path[MAX_PATH];
  std::string s(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  return s.substr(0, s.rfind('\\') + 1) + name;
}

std::string tempPath(const std::string& name) {
  char temp[MAX_PATH];
  return std::string(temp, GetTempPathA(MAX_PATH, temp)) + name +
         std::to_string(GetCurrentProcessId());
}

TEST(WindowsDll, CompilesTablesBesideThemUnderADriveLetterPath) {
  const std::string dir = tempPath("zk-");
  ASSERT_EQ(dir[1], ':');
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  for (const char* f :
       {"shift_jis.xml", "utf-8.xml", "ucs.def", "jisx0201latin.def", "jisx0201latin.txt",
        "jisx0201kana.def", "jisx0201kana.txt", "jisx0208.def", "jisx0208.txt"})
    ASSERT_TRUE(CopyFileA(beside("base2\\").append(f).c_str(), (dir + "\\" + f).c_str(), TRUE))
        << f;
  ASSERT_EQ(KVT_setCharsetPath(dir.c_str()), 1);
  CconvRecord rec{};
  unsigned char out[16];
  ASSERT_EQ(cconvInitConvert(&rec, nullptr, "UTF-8"), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, nullptr, "Shift_JIS"), CCONV_OK);
  rec.inBuf = reinterpret_cast<const unsigned char*>("A\x82\xa0\xb1");
  rec.inLen = 4;
  rec.outBuf = out;
  rec.outSize = sizeof out;
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), rec.outPos), "A\xe3\x81\x82\xef\xbd\xb1");
  for (const char* f : {"jisx0201latin.cmp", "jisx0201kana.cmp", "jisx0208.cmp"})
    EXPECT_NE(GetFileAttributesA((dir + "\\" + f).c_str()), INVALID_FILE_ATTRIBUTES) << f;
  WIN32_FIND_DATAA found;
  EXPECT_EQ(FindFirstFileA((dir + "\\*.tmp*").c_str(), &found), INVALID_HANDLE_VALUE)
      << "left behind";
}

// A thread ends owning the mutex; the library's next wait owns it all the
// same and releases it after loading. Then, while this process holds it,
// kvtconv.exe waits in its loading pass, and finishes once it is released.
TEST(WindowsDll, MutexIsSharedWithOtherProcessesAndSurvivesAnAbandonment) {
  HANDLE m = CreateMutexA(nullptr, FALSE, "CtableMutex");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "made at attach";
  HANDLE t = CreateThread(
      nullptr, 0, [](LPVOID m) -> DWORD { return WaitForSingleObject(m, 0); }, m, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(t, 30000), WAIT_OBJECT_0);
  EXPECT_EQ(cconvLoadRule(), 1);
  ASSERT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
  const std::string out = tempPath("zk-out-");
  std::string cmd = "\"" + beside("kvtconv.exe") + "\" -f UTF-16 -o \"" + out + "\" \"" +
                    beside("base2\\utf-8.xml") + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(
      CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 2000), static_cast<DWORD>(WAIT_TIMEOUT));
  ReleaseMutex(m);
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0)
      << "the mutex was never released";
  DWORD code = 99;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code) && code == 0);
  EXPECT_TRUE(DeleteFileA(out.c_str()));
}

}  // namespace
