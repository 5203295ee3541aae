#pragma once
// The installed fonts, walked once through a private fontconfig configuration into hash maps keyed
// by case-folded names. Holds scalable and bitmap-only faces alike; the engine's font set shows
// only the scalable ones.
//
// Reading every face's name table takes longer than fontconfig's listing of a large collection,
// so start-up leaves it for later: a record gets the names of its own name table when it is first
// asked for, and every record gets them before the first lookup by full or family name. The
// PostScript name comes from fontconfig alone, so lookups by it wait for nothing. The renderer is
// single-threaded after start-up; the index changes only under those calls.

#include <hb.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/linux/fonts/font_record.h"

namespace kfp::linux_backend {

class FontIndex {
 public:
  // nullptr when fontconfig cannot be initialised.
  static std::shared_ptr<FontIndex> build();
  // An index of the given records (tests).
  static std::shared_ptr<FontIndex> fromRecords(std::vector<FontRecord> records,
                                                std::vector<std::u16string> sansFamilies = {});
  // The same, where the records flagged in `ownNamesPending` still lack their name tables' names.
  static std::shared_ptr<FontIndex> fromRecords(std::vector<FontRecord> records,
                                                std::vector<std::u16string> sansFamilies,
                                                std::vector<bool> ownNamesPending);

  // The record with every name.
  const FontRecord& record(uint32_t id) const {
    if (pendingRecords_ != 0 && ownNamesPending_[id]) readOwnNames(id);
    return records_[id];
  }
  // The record without waiting for its own name table: for its file, face, style and axes.
  const FontRecord& recordWithoutOwnNames(uint32_t id) const { return records_[id]; }
  // Reads every name table still to be read.
  void readAllOwnNames() const;
  // How many records still wait for their name table's names.
  size_t recordsAwaitingOwnNames() const { return pendingRecords_; }
  // Gives the record's face (all its records) the names of `face`, the same face opened for
  // drawing, unless it has them already: the name table is not read from the file a second time.
  void adoptOwnNames(uint32_t id, hb_face_t* face) const;
  uint32_t size() const { return static_cast<uint32_t>(records_.size()); }

  // Ids of the records whose name equals `name` ignoring case, in index order.
  std::span<const uint32_t> byPostScriptName(std::u16string_view name) const;
  std::span<const uint32_t> byFullName(std::u16string_view name) const;
  std::span<const uint32_t> byTypographicFamily(std::u16string_view name) const;
  std::span<const uint32_t> byWwsFamily(std::u16string_view name) const;
  std::span<const uint32_t> byWin32Family(std::u16string_view name) const;

  // The families the system prefers for generic sans-serif text, best first, as the configuration
  // said when the index was built; the GDI-style backend substitutes from them.
  const std::vector<std::u16string>& sansFamilies() const { return sansFamilies_; }

  // Approximate heap bytes held by the records and name maps.
  size_t memoryBytes() const;

 private:
  using NameMap = std::unordered_map<std::u16string, std::vector<uint32_t>>;
  void addPostScriptNames();
  void addOtherNames() const;
  // Reads the names of the record's face (every record of its file and face index).
  void readOwnNames(uint32_t id) const;
  // The records [first, end) of the record's face.
  std::pair<uint32_t, uint32_t> faceRecords(uint32_t id) const;
  void markOwnNamesRead(std::pair<uint32_t, uint32_t> records) const;
  // The maps of names a name table may add, built once every record has its names.
  void completeNameMaps() const;

  mutable std::vector<FontRecord> records_;
  std::vector<std::u16string> sansFamilies_;
  mutable std::vector<bool> ownNamesPending_;
  mutable size_t pendingRecords_ = 0;
  mutable bool otherNamesMapped_ = false;
  NameMap postScript_;
  mutable NameMap fullName_, typographic_, wws_, win32_;
};

// Case folding used for every name key.
std::u16string foldName(std::u16string_view name);

}  // namespace kfp::linux_backend
