#pragma once
// The installed fonts, walked once through a private fontconfig configuration into hash maps keyed
// by case-folded names. Holds scalable and bitmap-only faces alike; the engine's font set shows
// only the scalable ones.

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

  const FontRecord& record(uint32_t id) const { return records_[id]; }
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
  void addNames();
  std::vector<FontRecord> records_;
  std::vector<std::u16string> sansFamilies_;
  NameMap postScript_, fullName_, typographic_, wws_, win32_;
};

// Case folding used for every name key.
std::u16string foldName(std::u16string_view name);

}  // namespace kfp::linux_backend
