#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/TempFolder.h"
#include "win32/ScopedHandle.h"
#include "win32/ShellProcessLauncher.h"
#include "win32/Win32FileSystem.h"

namespace {
class Win32FileSystemTest : public ::testing::Test {
 protected:
  std::string Read(const std::wstring& path) { return files_.ReadHead(path, 1 << 20); }

  Win32FileSystem files_;
  TempFolder folder_{L"korval fs test "};
  const std::wstring root_ = folder_.Path();
};

TEST_F(Win32FileSystemTest, CreatesEveryMissingParentInOneStep) {
  const std::wstring deep = root_ + L"a\\b c\\Download\\";
  EXPECT_FALSE(files_.DirectoryExists(deep));
  files_.CreateDirectories(deep);
  EXPECT_TRUE(files_.DirectoryExists(deep));
  EXPECT_TRUE(files_.DirectoryExists(root_ + L"a\\b c"));
  files_.CreateDirectories(deep);  // existing: no error
}

TEST_F(Win32FileSystemTest, FolderCreationFailsWhereAFileStands) {
  folder_.Write(L"blocker", "x");
  EXPECT_THROW(files_.CreateDirectories(root_ + L"blocker\\Download\\"), Exception);
}

TEST_F(Win32FileSystemTest, ReplaceSwapsTheWholeFileAndConsumesTheSource) {
  folder_.Write(L"target.dll", "old");
  folder_.Write(L"staged", "new content");
  files_.ReplaceWith(root_ + L"staged", root_ + L"target.dll");
  EXPECT_EQ(Read(root_ + L"target.dll"), "new content");
  EXPECT_THROW(files_.ReadHead(root_ + L"staged", 10), Exception);
}

TEST_F(Win32FileSystemTest, ReplacingATargetHeldOpenIsBusy) {
  folder_.Write(L"target.dll", "old");
  folder_.Write(L"staged", "new");
  {
    UniqueFile holder(CreateFileW((root_ + L"target.dll").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    EXPECT_THROW(files_.ReplaceWith(root_ + L"staged", root_ + L"target.dll"), FileBusyError);
  }
  EXPECT_EQ(Read(root_ + L"target.dll"), "old");
  files_.ReplaceWith(root_ + L"staged", root_ + L"target.dll");
  EXPECT_EQ(Read(root_ + L"target.dll"), "new");
}

TEST_F(Win32FileSystemTest, CopyOverReplacesAndReportsAMissingSource) {
  folder_.Write(L"source", "payload");
  folder_.Write(L"copy", "older and longer");
  files_.CopyOver(root_ + L"source", root_ + L"copy");
  EXPECT_EQ(Read(root_ + L"copy"), "payload");
  EXPECT_THROW(files_.CopyOver(root_ + L"missing", root_ + L"copy2"), Exception);
  files_.RemoveIfExists(root_ + L"copy");
  files_.RemoveIfExists(root_ + L"copy");  // already gone: no error
  EXPECT_THROW(files_.ReadHead(root_ + L"copy", 10), Exception);
}

TEST(ShellProcessLauncherTest, WaitsForTheLaunchedCommand) {
  ShellProcessLauncher launcher;
  auto process = launcher.Launch(L"runas", L"cmd.exe", L"/c exit 0", L"c:\\Windows\\system32\\", 0);
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(process->WaitForExit(60000));
  EXPECT_THROW(launcher.Launch(L"open", L"does-not-exist-korval.exe", L"", L"c:\\", 0), Exception);
}
}  // namespace
