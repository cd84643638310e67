// ZRKVT16.dll's named mutex "CtableMutex": made at attach, shared with other
// processes, and taken over when abandoned.
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

// A thread ends owning the mutex; the library's next wait owns it all the
// same and releases it after loading. Then, while this process holds it,
// kvtconv.exe waits in its loading pass, and finishes once it is released.
TEST(WindowsDll, MutexIsSharedWithOtherProcessesAndSurvivesAnAbandonment) {
  HANDLE m = CreateMutexA(nullptr, FALSE, "CtableMutex");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "made at attach";
  HANDLE t = CreateThread(
      nullptr, 0, [](LPVOID m) -> DWORD { return WaitForSingleObject(m, 30000); }, m, 0, nullptr);
  DWORD code = 99;
  ASSERT_TRUE(WaitForSingleObject(t, 30000) == WAIT_OBJECT_0 && GetExitCodeThread(t, &code));
  ASSERT_EQ(code, WAIT_OBJECT_0) << "the thread never owned the mutex";
  EXPECT_EQ(cconvLoadRule(), 1);
  ASSERT_EQ(WaitForSingleObject(m, 30000), WAIT_OBJECT_0);
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
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code) && code == 0);
  EXPECT_TRUE(DeleteFileA(out.c_str()));
}

}  // namespace
