#include "Models/PatchedDownload.h"

#include <memory>

#include "Models/RunLog.h"
#include "core/Exception.h"
#include "core/PatchCodec.h"
#include "core/ReleaseFiles.h"
#include "platform/Downloader.h"
#include "platform/FileSystem.h"

PatchedDownload::PatchedDownload(const EnginePlatform& platform, RunLogLines& log)
    : platform_(platform), log_(log) {}

std::optional<std::uint64_t> PatchedDownload::Fetch(const ReleaseInfo& release,
                                                    const std::vector<std::wstring>& installed,
                                                    const std::wstring& file,
                                                    DownloadLimits limits) {
  if (release.patches.empty() || platform_.files == nullptr || platform_.downloader == nullptr) {
    return std::nullopt;
  }
  FileSystem& files = *platform_.files;
  // The first installed copy a patch starts from; a copy that cannot be read is passed over.
  std::string base;
  const ReleasePatch* patch = nullptr;
  for (const std::wstring& path : installed) {
    std::optional<std::string> bytes;
    std::string hash;
    try {
      // Hashed and read while nobody can write it.
      const std::unique_ptr<HeldFile> held = files.HoldUnchanged(path);
      hash = held->Sha256();
      bytes = files.ReadWhole(path);
    } catch (const Exception&) {
    }
    if (!bytes) continue;
    for (const ReleasePatch& p : release.patches) {
      if (p.baseSha256 == hash) patch = &p;
    }
    if (patch) {
      base = std::move(*bytes);
      break;
    }
  }
  if (patch == nullptr) return std::nullopt;
  const std::wstring patchFile = file + L".patch";
  try {
    log_.Log(L"Lade Patch von der Webseite (" + std::to_wstring(patch->size) + L" statt " +
             std::to_wstring(release.size) + L" Bytes).");
    files.RemoveIfExists(patchFile);
    limits.maxBytes = patch->size;
    PartialTransfer fresh;  // a patch is small: it is never resumed
    platform_.downloader->Download(patch->url, patchFile, limits, fresh);
    // Checked before a byte of it is decoded.
    std::optional<std::string> bytes;
    {
      const std::unique_ptr<HeldFile> held = files.HoldUnchanged(patchFile);
      if (held->Sha256() != patch->sha256) {
        throw Exception(L"Der Patch hat einen anderen SHA-256, als die Releasedatei nennt.");
      }
      bytes = files.ReadWhole(patchFile);
    }
    files.RemoveIfExists(patchFile);
    if (!bytes) throw Exception(L"Der Patch ist verschwunden.");
    const std::string result = ApplyPatch(base, *bytes, release.size);
    files.RemoveIfExists(file);
    files.AppendDurably(file, result);
    if (files.HoldUnchanged(file)->Sha256() != release.sha256) {
      throw Exception(L"Das Ergebnis des Patches ist nicht die DLL der Releasedatei.");
    }
    const std::uint64_t saved = release.size > patch->size ? release.size - patch->size : 0;
    log_.Log(L"Patch verwendet: " + std::to_wstring(saved) + L" Bytes gespart.");
    return saved;
  } catch (const Exception& e) {
    files.RemoveIfExists(patchFile);
    files.RemoveIfExists(file);
    log_.Log(L"Patch nicht verwendbar: " + e.Message() + L" Lade die ganze DLL.");
    return std::nullopt;
  }
}
