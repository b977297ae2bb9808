#include "Models/RunLogFile.h"

#include "core/Exception.h"
#include "core/LogGenerations.h"
#include "platform/TextCodec.h"

namespace {

constexpr unsigned kUtf8CodePage = 65001;
constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

// Each line is converted with its own line break. A conversion never carries state across a
// line break, so the pieces joined are the same bytes as the whole text converted at once.
std::string EncodeLines(TextCodec& codec, const std::vector<std::wstring>& lines,
                        std::size_t first) {
  std::string bytes;
  for (std::size_t i = first; i < lines.size(); ++i) bytes += codec.ToAnsi(lines[i] + L"\r\n");
  return bytes;
}

}  // namespace

// A history that cannot be shifted (a generation held open by a reader) must not cost this run its
// log: the run's file is written all the same, over the previous one as it always was.
void RunLogFile::KeepEarlierRun(LogFileStore& store, const std::wstring& path) {
  try {
    for (const auto& [from, to] : GenerationShift(path, generations_)) store.MoveIfPresent(from, to);
  } catch (...) {
  }
}

// The lines are only ever appended to (the run log never changes or drops an item), so the
// lines already in the file are the first linesInFile_ items. The ANSI code page is fixed for
// the life of the process, so the byte-order mark written first still holds.
void RunLogFile::Save(LogFileStore& store, TextCodec& codec, const std::wstring& path,
                      const std::vector<std::wstring>& lines) {
  try {
    if (lastWrite_ && lastPath_ == path && lines.size() >= linesInFile_) {
      std::optional<FileIdentity> appended;
      try {
        appended =
            store.AppendIfUnchanged(path, *lastWrite_, EncodeLines(codec, lines, linesInFile_));
      } catch (const Exception&) {
        // A failed or partial append leaves the file in an unknown state: rewrite it below.
      }
      if (appended) {
        lastWrite_ = appended;
        linesInFile_ = lines.size();
        return;
      }
    }
    lastWrite_.reset();
    if (!shifted_) {
      shifted_ = true;
      KeepEarlierRun(store, path);
    }
    std::string bytes = codec.AnsiCodePage() == kUtf8CodePage ? kUtf8ByteOrderMark : "";
    bytes += EncodeLines(codec, lines, 0);
    lastWrite_ = store.Rewrite(path, bytes);
    lastPath_ = path;
    linesInFile_ = lines.size();
  } catch (...) {
    lastWrite_.reset();
    throw;
  }
}
