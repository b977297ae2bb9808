#include "core/PatchCodec.h"

// The frame header's reader (ZSTD_getFrameHeader) is part of zstd's advanced API, which is
// stable for a library linked statically from its own sources, as here.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/Exception.h"

namespace {

constexpr int kPatchLevel = 19;
constexpr int kSmallestWindowLog = 10;  // ZSTD_WINDOWLOG_ABSOLUTEMIN
constexpr int kLargestWindowLog = 31;   // ZSTD_WINDOWLOG_MAX on 64-bit systems

std::wstring Widen(const char* ascii) { return std::wstring(ascii, ascii + std::strlen(ascii)); }

std::wstring ZstdReason(std::size_t code) {
  return L" (zstd: " + Widen(ZSTD_getErrorName(code)) + L")";
}

[[noreturn]] void RaiseDamaged(const std::wstring& reason) {
  throw Exception(L"Der Patch ist beschädigt: " + reason);
}

[[noreturn]] void RaiseOtherSize(std::uint64_t declared, std::uint64_t expected) {
  throw Exception(L"Der Patch erzeugt eine Datei anderer Größe (" + std::to_wstring(declared) +
                  L" statt " + std::to_wstring(expected) + L" Bytes)");
}

[[noreturn]] void RaiseTooLarge(std::uint64_t size) {
  throw Exception(L"Die Datei ist für einen Patch zu groß (" + std::to_wstring(size) +
                  L" Bytes, höchstens 2 GiB)");
}

int HighestBit(std::uint64_t value) {
  int bit = -1;
  for (; value != 0; value >>= 1) ++bit;
  return bit;
}

struct CCtxFree {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
struct DCtxFree {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

void CheckMaking(std::size_t result) {
  if (ZSTD_isError(result)) {
    throw Exception(L"Der Patch kann nicht erstellt werden" + ZstdReason(result));
  }
}

// The header of the one frame the patch must be: refuses everything the service must not
// decode, before anything is allocated for the output.
void CheckHeader(const std::string& patch, std::uint64_t expectedSize) {
  int windowLogLimit = PatchWindowLogLimit(expectedSize);
  ZSTD_frameHeader header{};
  std::size_t status = ZSTD_getFrameHeader(&header, patch.data(), patch.size());
  if (ZSTD_isError(status)) {
    RaiseDamaged(L"Er beginnt nicht mit einem zstd-Frame" + ZstdReason(status));
  }
  if (status != 0) RaiseDamaged(L"Der Kopf des Frames ist unvollständig");
  if (header.frameType != ZSTD_frame) RaiseDamaged(L"Er beginnt mit einem überspringbaren Frame");
  if (header.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN) {
    RaiseDamaged(L"Der Kopf des Frames nennt die Größe der Datei nicht");
  }
  if (header.frameContentSize != expectedSize) {
    RaiseOtherSize(header.frameContentSize, expectedSize);
  }
  if (header.windowSize > (std::uint64_t{1} << windowLogLimit)) {
    RaiseDamaged(L"Das Fenster des Frames (" + std::to_wstring(header.windowSize) +
                 L" Bytes) ist größer, als die Datei braucht");
  }
  std::size_t frameSize = ZSTD_findFrameCompressedSize(patch.data(), patch.size());
  if (ZSTD_getErrorCode(frameSize) == ZSTD_error_srcSize_wrong) {
    RaiseDamaged(L"Der Frame ist unvollständig");
  }
  if (ZSTD_isError(frameSize)) {
    RaiseDamaged(L"Die Blöcke des Frames sind ungültig" + ZstdReason(frameSize));
  }
  if (frameSize != patch.size()) {
    RaiseDamaged(L"Nach dem Frame folgen noch " + std::to_wstring(patch.size() - frameSize) +
                 L" Bytes");
  }
}

}  // namespace

int PatchWindowLog(std::uint64_t baseSize, std::uint64_t targetSize) {
  std::uint64_t larger = std::max(baseSize, targetSize);
  int windowLog = HighestBit(larger) + 1;
  if (windowLog > kLargestWindowLog) RaiseTooLarge(larger);
  return std::max(windowLog, kSmallestWindowLog);
}

int PatchWindowLogLimit(std::uint64_t expectedSize) {
  if (expectedSize > (std::uint64_t{1} << kLargestWindowLog)) RaiseTooLarge(expectedSize);
  int windowLog = kSmallestWindowLog;
  while ((std::uint64_t{1} << windowLog) < expectedSize) ++windowLog;
  return windowLog;
}

std::string MakePatch(const std::string& base, const std::string& target) {
  std::unique_ptr<ZSTD_CCtx, CCtxFree> context(ZSTD_createCCtx());
  if (!context) throw Exception(L"Der Patch kann nicht erstellt werden: zu wenig Speicher");
  ZSTD_CCtx* cctx = context.get();
  CheckMaking(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, kPatchLevel));
  CheckMaking(ZSTD_CCtx_setParameter(cctx, ZSTD_c_enableLongDistanceMatching, 1));
  CheckMaking(
      ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, PatchWindowLog(base.size(), target.size())));
  CheckMaking(ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 1));
  CheckMaking(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1));
  CheckMaking(ZSTD_CCtx_refPrefix(cctx, base.data(), base.size()));
  std::string patch(ZSTD_compressBound(target.size()), '\0');
  std::size_t written =
      ZSTD_compress2(cctx, patch.data(), patch.size(), target.data(), target.size());
  CheckMaking(written);
  patch.resize(written);
  return patch;
}

std::string ApplyPatch(const std::string& base, const std::string& patch,
                       std::uint64_t expectedSize) {
  CheckHeader(patch, expectedSize);
  std::unique_ptr<ZSTD_DCtx, DCtxFree> context(ZSTD_createDCtx());
  if (!context) throw Exception(L"Der Patch kann nicht angewendet werden: zu wenig Speicher");
  ZSTD_DCtx* dctx = context.get();
  // Decoding in one pass into the exact output needs no window buffer and does not consult this
  // limit (CheckHeader enforced it); set anyway, so that a change to streaming keeps it.
  std::size_t status =
      ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, PatchWindowLogLimit(expectedSize));
  if (!ZSTD_isError(status)) status = ZSTD_DCtx_refPrefix(dctx, base.data(), base.size());
  if (ZSTD_isError(status)) {
    throw Exception(L"Der Patch kann nicht angewendet werden" + ZstdReason(status));
  }
  std::string output(static_cast<std::size_t>(expectedSize), '\0');
  std::size_t written =
      ZSTD_decompressDCtx(dctx, output.data(), output.size(), patch.data(), patch.size());
  if (ZSTD_isError(written)) {
    RaiseDamaged(L"Die Daten lassen sich nicht entpacken" + ZstdReason(written));
  }
  if (written != expectedSize) RaiseOtherSize(written, expectedSize);
  return output;
}
