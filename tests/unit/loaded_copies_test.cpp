#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/LoadedCopies.h"
#include "core/PathNames.h"
#include "core/PortableExecutable.h"

namespace {
const std::wstring kApp1 = L"C:\\inetpub\\app1\\KorvalAppServer.dll";
const std::wstring kApp2 = L"C:\\inetpub\\app2\\KorvalAppServer.dll";
const MappedFileId kOld1{7, 1}, kOld2{7, 2}, kNew1{7, 11}, kNew2{7, 12}, kOther{7, 99};

MappedModule Module(std::uint32_t id, const std::wstring& loaderName,
                    std::optional<MappedFileId> file, bool sameContent = true,
                    const std::wstring& commandLine = L"w3wp.exe -ap \"KorvalPool\" -v") {
  return {id, L"w3wp.exe", commandLine, loaderName, file, sameContent};
}

struct VerdictCase {
  const char* name;
  std::vector<MappedModule> modules;
  std::vector<std::uint32_t> holders;
};

const VerdictCase kVerdicts[] = {
    {"nothing mapped", {}, {}},
    {"workers on the new set",
     {Module(1, kApp1, kNew1), Module(2, L"c:\\INETPUB\\APP2\\korvalappserver.dll", kNew2)},
     {}},
    {"a worker on a renamed old copy, under the target's name", {Module(1, kApp1, kOld1)}, {1}},
    {"the mapping's name is stale: the identity is new, the resources are not",
     {Module(1, kApp1, kNew1, false)},
     {1}},
    {"the mapped file cannot be opened", {Module(1, kApp1, std::nullopt)}, {1}},
    {"an old file mapped under another name",
     {Module(3, L"D:\\copy\\KorvalAppServer.dll", kOld2)},
     {3}},
    {"another application's DLL of the same name",
     {Module(4, L"D:\\other\\KorvalAppServer.dll", kOther)},
     {}},
    {"a file of another target under this target's name",
     {Module(5, kApp1, kNew2), Module(5, kApp2, kOld2)},
     {5}},
    {"one process with two old copies is named once",
     {Module(6, kApp1, kOld1), Module(6, kApp2, kOld2), Module(7, kApp2, kNew2)},
     {6}},
};

TEST(LoadedCopiesTest, VerdictTable) {
  const CopyIdentities copies{{kApp1, kApp2}, {kOld1, kOld2}, {kNew1, kNew2}};
  for (const VerdictCase& c : kVerdicts) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint32_t> ids;
    for (const OldCopyHolder& h : ProcessesWithOldCopy(c.modules, copies))
      ids.push_back(h.processId);
    EXPECT_EQ(ids, c.holders);
  }
}

TEST(LoadedCopiesTest, PoolOfTheWorkerAndItsLine) {
  EXPECT_EQ(
      PoolOfWorker(L"c:\\windows\\system32\\inetsrv\\w3wp.exe -ap \"Körval Pool\" -v \"v4.0\""),
      L"Körval Pool");
  EXPECT_EQ(PoolOfWorker(L"w3wp.exe -ap KorvalPool -a \\\\.\\pipe\\x"), L"KorvalPool");
  EXPECT_EQ(PoolOfWorker(L"w3wp.exe -app \"X\""), L"");
  EXPECT_EQ(PoolOfWorker(L"w3wp.exe -ap \"offen"), L"");
  EXPECT_EQ(PoolOfWorker(L""), L"");
  EXPECT_EQ(OldCopyLine({4711, L"w3wp.exe", L"KorvalPool"}),
            L"Alte DLL noch geladen: Prozess 4711 (w3wp.exe, Anwendungspool KorvalPool).");
  EXPECT_EQ(OldCopyLine({12, L"probe.exe", L""}),
            L"Alte DLL noch geladen: Prozess 12 (probe.exe).");
}

// A PE32+ head: the resource directory at 0x3000 (0x200 bytes), in a section mapped at 0x3000
// whose raw data begins at 0x1400.
std::string HeadWithResources(std::uint32_t rva, std::uint32_t size) {
  std::string head(1024, '\0');
  auto put = [&head](std::size_t at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) head[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  head[0] = 'M', head[1] = 'Z';
  put(0x3C, 0x80, 4);
  head.replace(0x80, 4, std::string("PE\0\0", 4));
  put(0x80 + 6, 1, 2);       // one section
  put(0x80 + 20, 0xF0, 2);   // size of the optional header
  put(0x80 + 24, 0x20B, 2);  // PE32+
  put(0x80 + 24 + 112 + 16, rva, 4);
  put(0x80 + 24 + 112 + 20, size, 4);
  const std::size_t section = 0x80 + 24 + 0xF0;
  put(section + 12, 0x3000, 4);
  put(section + 16, 0x400, 4);
  put(section + 20, 0x1400, 4);
  return head;
}

TEST(LoadedCopiesTest, ResourceRegionOfAnImage) {
  const std::optional<ImageRegion> region = ResourceRegion(HeadWithResources(0x3010, 0x200));
  ASSERT_TRUE(region);
  EXPECT_EQ(region->rva, 0x3010u);
  EXPECT_EQ(region->fileOffset, 0x1410u);
  EXPECT_EQ(region->size, 0x200u);
  EXPECT_FALSE(ResourceRegion(HeadWithResources(0, 0))) << "no resources";
  EXPECT_FALSE(ResourceRegion(HeadWithResources(0x3300, 0x200))) << "beyond the raw data";
  EXPECT_FALSE(ResourceRegion(HeadWithResources(0x3010, 0x200).substr(0, 0x100))) << "cut off";
  EXPECT_FALSE(ResourceRegion("MZ")) << "no image";
}

// A mapped file deeper than MAX_PATH is opened in its extended-length form, or it would count
// as an old copy for ever.
TEST(LoadedCopiesTest, ExtendedLengthFormOfAMappedPath) {
  const struct {
    const wchar_t* path;
    const wchar_t* expected;
  } rows[] = {
      {L"C:\\inetpub\\app1\\KorvalAppServer.dll", L"\\\\?\\C:\\inetpub\\app1\\KorvalAppServer.dll"},
      {L"d:\\x.dll", L"\\\\?\\d:\\x.dll"},
      {L"\\\\fs1\\sites\\app\\x.dll", L"\\\\?\\UNC\\fs1\\sites\\app\\x.dll"},
      {L"\\\\?\\C:\\already\\x.dll", L"\\\\?\\C:\\already\\x.dll"},
      {L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
      {L"relative\\x.dll", L"relative\\x.dll"},
      {L"C:x.dll", L"C:x.dll"},
  };
  for (const auto& row : rows) EXPECT_EQ(ExtendedLengthPath(row.path), row.expected) << row.path;
}
}  // namespace
