#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "support/TempFolder.h"
#include "win32/ScopedHandle.h"
#include "win32/ShellProcessLauncher.h"
#include "win32/Win32FileSystem.h"
#include "win32/Win32StatusFileStore.h"

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

// What the exchange relies on: the held download cannot be written but can be renamed, and copies
// and hashes are of the held bytes; a renamed-aside file frees its name.
TEST_F(Win32FileSystemTest, AHeldFileKeepsItsBytesAndIsCopiedAndHashedFromThem) {
  const std::wstring path = folder_.Write(L"download", "abc");
  std::unique_ptr<HeldFile> held = files_.HoldAgainstWriters(path);
  UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer.IsValid()) << "a writer got in";
  files_.ReplaceWith(path, root_ + L"renamed");  // renaming a held file works
  EXPECT_TRUE(held->IsAt(root_ + L"renamed"));
  folder_.Write(L"download", "abc");
  EXPECT_FALSE(held->IsAt(path)) << "another file under the old name";
  // SHA-256 of "abc" (FIPS 180-2's first example).
  const std::string abc(
      "\xba\x78\x16\xbf\x8f\x01\xcf\xea\x41\x41\x40\xde\x5d\xae\x22\x23"
      "\xb0\x03\x61\xa3\x96\x17\x7a\x9c\xb4\x10\xff\x61\xf2\x00\x15\xad",
      32);
  EXPECT_EQ(held->Sha256(), abc);
  held->CopyDurablyTo(root_ + L"staged");
  EXPECT_EQ(files_.HoldAgainstWriters(root_ + L"staged")->Sha256(), abc);
  EXPECT_THROW(held->CopyDurablyTo(root_ + L"no folder\\staged"), Exception);
}

// The verified download: while held unchanged nobody writes, renames or deletes it, its head
// and its owner are read through the handle, and what is linked is flagged.
TEST_F(Win32FileSystemTest, AFileHeldUnchangedCannotBeWrittenRenamedOrDeleted) {
  const std::wstring path = folder_.Write(L"download", "MZ-head");
  {
    std::unique_ptr<HeldFile> held = files_.HoldUnchanged(path);
    UniqueFile writer(CreateFileW(path.c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer.IsValid()) << "a writer got in";
    EXPECT_FALSE(MoveFileExW(path.c_str(), (root_ + L"aside").c_str(), 0)) << "renamed";
    EXPECT_FALSE(DeleteFileW(path.c_str())) << "deleted";
    EXPECT_EQ(held->ReadHead(2), "MZ");
    EXPECT_TRUE(held->IsAt(path));
    EXPECT_NE(held->SystemHandle(), nullptr);
    EXPECT_EQ(Read(path), "MZ-head") << "readers still may";
  }
  files_.MoveAside(path, root_ + L"aside");  // released: renames work again

  const std::optional<OwnedFile> owned = files_.ReadWholeWithOwner(root_ + L"aside");
  ASSERT_TRUE(owned);
  EXPECT_EQ(owned->bytes, "MZ-head");
  EXPECT_FALSE(owned->linked);
  EXPECT_EQ(owned->ownerSid, files_.OwnAccountSid());
  EXPECT_EQ(owned->ownerSid.rfind(L"S-1-", 0), 0u);
  EXPECT_EQ(files_.ReadWholeWithOwner(root_ + L"missing"), std::nullopt);
  ASSERT_TRUE(CreateHardLinkW((root_ + L"link").c_str(), (root_ + L"aside").c_str(), nullptr));
  EXPECT_TRUE(files_.ReadWholeWithOwner(root_ + L"link")->linked);
}

// Wine keeps no access list: what can be shown here is that the call is made and fails cleanly.
TEST_F(Win32FileSystemTest, ProtectingAFolderSetsItsDescriptorOrRaises) {
  files_.CreateDirectories(root_ + L"Download\\");
  files_.ProtectFolder(root_ + L"Download\\");
  EXPECT_THROW(files_.ProtectFolder(root_ + L"missing\\"), Exception);
  folder_.Write(L"file", "x");
  EXPECT_THROW(files_.ProtectFolder(root_ + L"file"), Exception);
  // A folder reached through a link above it is never given the descriptor.
  files_.CreateDirectories(root_ + L"elsewhere\\Download\\");
  ASSERT_TRUE(CreateSymbolicLinkW((root_ + L"linked").c_str(), (root_ + L"elsewhere").c_str(),
                                  SYMBOLIC_LINK_FLAG_DIRECTORY));
  try {
    files_.ProtectFolder(root_ + L"linked\\Download\\");
    ADD_FAILURE() << "protected through a link";
  } catch (const Exception& e) {
    // Named as the cause: "... ist ein Verweis", or under Wine "... kann nicht geöffnet werden".
    EXPECT_EQ(e.Message().find(root_ + L"linked "), 0u)
        << std::string(e.Message().begin(), e.Message().end());
  }
}

TEST_F(Win32FileSystemTest, MoveAsideRenamesButNeverReplaces) {
  folder_.Write(L"target.dll", "old");
  folder_.Write(L"backup", "older");
  EXPECT_THROW(files_.MoveAside(root_ + L"target.dll", root_ + L"backup"), Exception);
  files_.MoveAside(root_ + L"target.dll", root_ + L"aside");
  EXPECT_FALSE(files_.FileExists(root_ + L"target.dll"));
  EXPECT_EQ(Read(root_ + L"aside"), "old");
  UniqueFile holder(
      CreateFileW((root_ + L"aside").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_THROW(files_.MoveAside(root_ + L"aside", root_ + L"x"), FileBusyError);
}

TEST_F(Win32FileSystemTest, JournalAppendsDurablyAndListsByPrefix) {
  EXPECT_EQ(files_.ReadWhole(root_ + L"journal"), std::nullopt);
  files_.AppendDurably(root_ + L"journal", std::string("a\0b", 3));
  files_.AppendDurably(root_ + L"journal", "c");
  EXPECT_EQ(files_.ReadWhole(root_ + L"journal"), std::string("a\0bc", 4));
  folder_.Write(L"KorvalAppServer.dll.1-0.neu", "x");
  EXPECT_EQ(files_.FileNamesStartingWith(root_, L"korvalappserver.dll."),
            (std::vector<std::wstring>{L"KorvalAppServer.dll.1-0.neu"}));
  EXPECT_TRUE(files_.FileNamesStartingWith(root_ + L"missing\\", L"K").empty());
}

// A proven folder is held until let go: nobody can rename it meanwhile, and what is done in it
// is done through the held folder.
TEST_F(Win32FileSystemTest, AProvenFolderIsHeldAndWorkedInThroughItsHandle) {
  const std::wstring logs = root_ + L"Logs\\";
  files_.CreateDirectories(logs);
  folder_.Write(L"Logs\\old.txt", "old");
  FolderCheck check = files_.HoldTrustedFolder(logs);
  ASSERT_NE(check.held, nullptr) << std::string(check.whyNot.begin(), check.whyNot.end());
  EXPECT_FALSE(MoveFileExW((root_ + L"Logs").c_str(), (root_ + L"Logs.aside").c_str(), 0));
  files_.AppendDurably(logs + L"journal", "j");
  files_.ReplaceWith(logs + L"journal", logs + L"journal.1");
  files_.RemoveIfExists(logs + L"old.txt");
  EXPECT_EQ(files_.FileNamesStartingWith(logs, L"journal"),
            std::vector<std::wstring>{L"journal.1"});
  EXPECT_FALSE(files_.FileExists(logs + L"old.txt"));
  check.held.reset();
  EXPECT_EQ(Read(logs + L"journal.1"), "j");
  EXPECT_TRUE(MoveFileExW((root_ + L"Logs").c_str(), (root_ + L"Logs.aside").c_str(), 0));

  // A folder that is not a full path, or that does not exist, is not proven (a link: e2e).
  EXPECT_NE(files_.HoldTrustedFolder(L"Logs").whyNot, L"");
  EXPECT_EQ(files_.HoldTrustedFolder(root_ + L"missing\\").held, nullptr);
}

TEST(ShellProcessLauncherTest, WaitsForTheLaunchedCommandAndReadsItsExitCode) {
  ShellProcessLauncher launcher;
  auto process = launcher.Launch(L"runas", L"cmd.exe", L"/c exit 0", L"c:\\Windows\\system32\\", 0);
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(process->WaitForExit(60000));
  EXPECT_EQ(process->ExitCode(), 0u);
  auto failing = launcher.Launch(L"runas", L"cmd.exe", L"/c exit 7", L"c:\\Windows\\system32\\", 0);
  EXPECT_TRUE(failing->WaitForExit(60000));
  EXPECT_EQ(failing->ExitCode(), 7u);
  EXPECT_THROW(launcher.Launch(L"open", L"does-not-exist-korval.exe", L"", L"c:\\", 0), Exception);
}
}  // namespace

// The status files: whole or not at all, and never through a second name of another file.
TEST(Win32StatusFileStoreTest, WritesAtomicallyAndRefusesAHardLinkedFile) {
  TempFolder folder{L"korval status test "};
  Win32StatusFileStore store;
  const std::wstring path = folder.Path() + L"Status.json";
  EXPECT_EQ(store.ReadPlain(path, 100), std::nullopt);
  store.WriteAtomically(path, "{\"a\": 1}\n");
  store.WriteAtomically(path, "{\"a\": 2}\n");
  EXPECT_EQ(store.ReadPlain(path, 100), std::optional<std::string>("{\"a\": 2}\n"));
  EXPECT_EQ(store.ReadPlain(path, 4), std::optional<std::string>("{\"a\""));
  EXPECT_FALSE(store.FolderExists(folder.Path() + L"fehlt\\"));
  EXPECT_TRUE(store.FolderExists(folder.Path()));

  const std::wstring other = folder.Path() + L"fremd.txt";
  folder.Write(L"fremd.txt", "fremd");
  ASSERT_TRUE(CreateHardLinkW((folder.Path() + L"Status2.json").c_str(), other.c_str(), nullptr));
  EXPECT_THROW(store.WriteAtomically(folder.Path() + L"Status2.json", "x"), Exception);
  EXPECT_THROW(store.ReadPlain(folder.Path() + L"Status2.json", 100), Exception);
  EXPECT_EQ(Win32FileSystem().ReadHead(other, 100), "fremd");
  EXPECT_THROW(store.WriteAtomically(folder.Path() + L"fehlt\\Status.json", "x"), Exception);
  EXPECT_FALSE(store.FolderExists(path));  // a file is no folder
}
