// Reading Status.json back: what FormatStatusJson wrote, and nothing else.
#include <nlohmann/json.hpp>

#include "core/StatusReport.h"
#include "core/UnicodeDecoding.h"
#include "core/VersionCompare.h"

using nlohmann::json;

namespace {

constexpr std::int64_t kMaxFehlgeschlagen = 1000000;
constexpr std::size_t kMaxText = 4096;

const json* Field(const json& object, const char* name, json::value_t kind) {
  const auto found = object.find(name);
  if (found == object.end()) return nullptr;
  // Every number the file holds is a whole one.
  if (kind == json::value_t::number_integer) {
    return found->is_number_integer() ? &*found : nullptr;
  }
  return found->type() == kind ? &*found : nullptr;
}

bool ReadText(const json& object, const char* name, std::wstring& out) {
  const json* field = Field(object, name, json::value_t::string);
  if (field == nullptr || field->get_ref<const std::string&>().size() > kMaxText) return false;
  try {
    out = DecodeUtf8(field->get<std::string>());
  } catch (...) {
    return false;
  }
  return true;
}

bool ReadNumber(const json& object, const char* name, std::int64_t low, std::int64_t high,
                std::int64_t& out) {
  const json* field = Field(object, name, json::value_t::number_integer);
  if (field == nullptr) return false;
  if (field->is_number_unsigned() && field->get<std::uint64_t>() > INT64_MAX) return false;
  out = field->get<std::int64_t>();
  return out >= low && out <= high;
}

bool ReadTime(const json& object, const char* name, StatusZeit& out) {
  return ReadText(object, name, out.lokal) &&
         ReadNumber(object, (std::string(name) + "Unix").c_str(), INT64_MIN, INT64_MAX, out.unix);
}

bool KnownResult(const std::wstring& ergebnis) {
  return ergebnis == kErgebnisKeine || ergebnis == kErgebnisAktuell ||
         ergebnis == kErgebnisAktualisiert || ergebnis == kErgebnisFehlgeschlagen;
}

}  // namespace

std::optional<StatusBericht> ParseStatusJson(const std::string& text) {
  const json document = json::parse(text, nullptr, false);
  if (document.is_discarded() || !document.is_object()) return std::nullopt;
  StatusBericht b;
  std::int64_t fehlgeschlagen = 0;
  const json* ziele = Field(document, "ziele", json::value_t::array);
  if (!ReadText(document, "programmVersion", b.programmVersion) ||
      !ReadTime(document, "letztePruefung", b.letztePruefung) ||
      !ReadText(document, "ergebnis", b.ergebnis) || !KnownResult(b.ergebnis) ||
      !ReadText(document, "onlineVersion", b.onlineVersion) ||
      !(b.onlineVersion.empty() || IsResourceVersion(b.onlineVersion)) ||
      !ReadTime(document, "letzteAktualisierung", b.letzteAktualisierung) ||
      !ReadNumber(document, "fehlgeschlageneZyklenInFolge", 0, kMaxFehlgeschlagen,
                  fehlgeschlagen) ||
      ziele == nullptr) {
    return std::nullopt;
  }
  b.fehlgeschlageneZyklenInFolge = static_cast<std::int32_t>(fehlgeschlagen);
  if (const auto download = document.find("letzterDownload"); download != document.end()) {
    const json* patch =
        download->is_object() ? Field(*download, "patch", json::value_t::boolean) : nullptr;
    if (patch == nullptr || !ReadNumber(*download, "gesparteBytes", 0, INT64_MAX, b.patchGespart)) {
      return std::nullopt;
    }
    b.downloadBekannt = true;
    b.patchVerwendet = patch->get<bool>();
  }
  if (const auto release = document.find("release"); release != document.end()) {
    const json* frozen =
        release->is_object() ? Field(*release, "eingefroren", json::value_t::boolean) : nullptr;
    if (frozen == nullptr ||
        !ReadNumber(*release, "ohneGueltigenZeitstempelSekunden", 0, INT64_MAX,
                    b.release.missingSeconds) ||
        !ReadNumber(*release, "releasesZurueck", 0, INT64_MAX, b.release.behind)) {
      return std::nullopt;
    }
    b.release.active = true;
    b.release.frozen = frozen->get<bool>();
  }
  for (const json& item : *ziele) {
    StatusZiel ziel;
    if (!item.is_object() || !ReadText(item, "pfad", ziel.pfad) ||
        !ReadText(item, "version", ziel.version))
      return std::nullopt;
    b.ziele.push_back(ziel);
  }
  return b;
}
