// The site is only ever stopped for a DLL that downloaded completely within the limits, over a
// channel that never left https when it began with it, is a DLL of the targets' machine type,
// carries an allowed signer's signature when signers are pinned, and has the published version;
// every other download ends the cycle with its reason in the run log.

#include "Models/VerifiedDownload.h"

#include "Models/DLLKonfiguration.h"
#include "Models/DownloadFolder.h"
#include "Models/OutcomeDetails.h"
#include "Models/PartialDownload.h"
#include "Models/PatchedDownload.h"
#include "Models/RunLog.h"
#include "Models/ServiceRecordBook.h"
#include "Models/VersionCheck.h"
#include "core/DownloadGuard.h"
#include "core/Exception.h"
#include "core/PortableExecutable.h"
#include "core/ReleaseFiles.h"
#include "core/ServerRefusal.h"
#include "core/SignaturePolicy.h"
#include "core/VersionCompare.h"
#include "platform/Downloader.h"
#include "platform/FileSystem.h"
#include "platform/SignatureVerifier.h"

VerifiedDownload::VerifiedDownload(const EnginePlatform& platform,
                                   const TDLLKonfiguration& konfiguration, DownloadFolder& folder,
                                   RunLogLines& log, ServerAnswers& answers)
    : platform_(platform),
      konfiguration_(konfiguration),
      folder_(folder),
      log_(log),
      answers_(answers) {}

VerifiedDownload::~VerifiedDownload() = default;

void VerifiedDownload::Fetch(const std::wstring& onlineVersion, const ReleaseInfo* release,
                             const std::vector<std::wstring>& installed) {
  Release();
  patchSaved_.reset();
  FileSystem& files = *platform_.files;
  // One name for the partial file, so that the next attempt finds what this one received. A
  // transfer abandoned while it still writes holds it open without write sharing, so the next
  // one cannot write into it, and the whole file is checked below whatever happened.
  PartialDownload partial(files, konfiguration_.DLLDownloadpfad() + kPartialSuffix, log_);
  // A patch is made in a file of its own: a partial whole download stays for a later attempt
  // should the patch fail.
  const std::wstring patched = konfiguration_.DLLDownloadpfad() + L".patched";
  bool whole = false;
  try {
    if (folder_.Missing()) {
      try {
        log_.Log(L"Erstelle Verzeichnis \"Download\".");
        folder_.Create();
      } catch (...) {
        log_.Log(L"Fehler beim erstellen des Verzeichnisses \"Download\".");
      }
    }
    if (!folder_.Protect()) return;
    log_.Log(L"Downloade DLL von der Webseite.");
    url_ = release ? release->url : konfiguration_.URLKorvalAppServerDLL();
    RequireWebAddress(url_);
    const std::optional<std::uint64_t> saved =
        release ? PatchFor(*release, installed, patched) : std::nullopt;
    if (saved) {
      partial.Drop();
    } else {
      Transfer(url_, partial, release ? release->size : 0);
    }
    if (release) patchSaved_ = saved.value_or(0);
    whole = true;
    const std::wstring file = saved ? patched : partial.File();
    std::unique_ptr<HeldFile> held = Hold(file);
    // The release vouches for these bytes: nothing else is even looked at.
    const std::string sha256 = held->Sha256();
    if (release && sha256 != release->sha256) {
      throw Exception(L"Die empfangene DLL ist nicht die der Releasedatei (SHA-256 weicht ab, " +
                      url_ + L").");
    }
    Check(file, *held, onlineVersion);
    sha256_ = sha256;
    held_ = std::move(held);
    heldPath_ = file;
  } catch (const Exception& e) {
    if (whole) partial.Drop();
    files.RemoveIfExists(patched);
    log_.Log(L"Fehler beim downloaden der DLL: " + e.Message());
    ReportOutcome(platform_.outcomes, Outcome::DownloadRefused, {e.Message()});
  }
}

std::optional<std::uint64_t> VerifiedDownload::PatchFor(const ReleaseInfo& release,
                                                        const std::vector<std::wstring>& installed,
                                                        const std::wstring& file) {
  return PatchedDownload(platform_, log_).Fetch(release, installed, file, Limits());
}

DownloadLimits VerifiedDownload::Limits() const {
  DownloadLimits limits;
  limits.abortRequested = platform_.stopRequested;
  limits.proxyLogon = konfiguration_.ProxyAnmeldung();
  return limits;
}

// A failure of the transfer is passing; a server's Retry-After is kept. A transfer that ends
// early keeps what it received for the next attempt when the rule lets it go on from there; a
// whole file is left for the checks, which drop it when it fails them.
void VerifiedDownload::Transfer(const std::wstring& url, PartialDownload& partial,
                                std::uint64_t expectedSize) {
  DownloadLimits limits = Limits();
  if (expectedSize != 0) limits.maxBytes = expectedSize;
  PartialTransfer transfer;
  transfer.record = partial.Start(url, expectedSize);
  const auto noteStartOver = [&] {
    if (transfer.startedOver)
      log_.Log(L"Der Server setzt den Download nicht fort; er beginnt neu.");
  };
  try {
    platform_.downloader->Download(url, partial.File(), limits, transfer);
  } catch (const ServerRefusal& e) {
    noteStartOver();
    partial.Keep(transfer.record);
    answers_.Answered(url, e.Status(), e.RetryAfter());
    throw;
  } catch (const Exception&) {
    noteStartOver();
    partial.Keep(transfer.record);
    log_.NotePassing();
    throw;
  } catch (...) {
    partial.Drop();
    throw;
  }
  noteStartOver();
  partial.Completed();
}

void VerifiedDownload::Release() {
  if (!held_) return;
  held_.reset();
  try {
    platform_.files->ReplaceWith(heldPath_, konfiguration_.DLLDownloadpfad());
  } catch (const Exception&) {
    platform_.files->RemoveIfExists(heldPath_);
  }
  heldPath_.clear();
}

void VerifiedDownload::Drop() {
  if (!held_) return;
  held_.reset();
  platform_.files->RemoveIfExists(heldPath_);
  heldPath_.clear();
}

std::unique_ptr<HeldFile> VerifiedDownload::Hold(const std::wstring& file) {
  try {
    return platform_.files->HoldUnchanged(file);
  } catch (const Exception&) {
    throw Exception(L"Es wurde keine Datei empfangen (" + url_ + L").");
  }
}

// Raises Exception with the reason when the held file is not the DLL that the version check
// found. What is read by its path is read while the file is held unchanged, and the path is
// proven to name the held file after the checks.
void VerifiedDownload::Check(const std::wstring& file, HeldFile& held,
                             const std::wstring& onlineVersion) {
  const std::wstring& url = url_;
  std::string head;
  try {
    head = held.ReadHead(kPeHeadBytes);
  } catch (const Exception&) {
    throw Exception(L"Es wurde keine Datei empfangen (" + url + L").");
  }
  if (!IsDllImage(head)) throw Exception(L"Die empfangene Datei ist keine DLL (" + url + L").");
  CheckMachineType(head);
  CheckSignature(file, held);
  const std::wstring version = ProductVersionText(platform_.versions, file);
  if (!held.IsAt(file)) throw Exception(L"Die empfangene Datei wurde während der Prüfung ersetzt.");
  if (version.empty())
    throw Exception(L"Die Version der empfangenen DLL kann nicht gelesen werden.");
  if (!IsSameVersion(version, onlineVersion)) {
    throw Exception(L"Die empfangene DLL hat die Version " + version + L", erwartet wurde \"" +
                    onlineVersion + L"\".");
  }
}

// An x86 DLL must never replace an x64 one: the first target whose image can be read decides.
void VerifiedDownload::CheckMachineType(const std::string& head) {
  const std::optional<std::uint16_t> received = PeMachineType(head);
  for (const std::wstring& target : konfiguration_.DLLPfadeListe()) {
    std::optional<std::uint16_t> installed;
    try {
      installed = PeMachineType(platform_.files->ReadHead(target, kPeHeadBytes));
    } catch (const Exception&) {
      continue;
    }
    if (!installed) continue;
    if (received != installed) {
      throw Exception(L"Die empfangene DLL ist für " + MachineTypeName(received.value_or(0)) +
                      L" gebaut, die installierte DLL für " + MachineTypeName(*installed) + L".");
    }
    return;
  }
}

// Without pinned signers nothing is required; with them, only an allowed signer's valid
// signature passes.
void VerifiedDownload::CheckSignature(const std::wstring& file, HeldFile& held) {
  const std::vector<std::wstring>& pins = konfiguration_.Signaturschluessel();
  if (pins.empty()) return;
  if (platform_.signatures == nullptr) throw Exception(L"Keine Signaturprüfung verfügbar.");
  const std::optional<std::wstring> reason =
      SignatureRefusal(platform_.signatures->Inspect(file, held), pins);
  if (reason) throw Exception(*reason);
}
