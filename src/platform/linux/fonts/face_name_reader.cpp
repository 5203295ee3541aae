#include "platform/linux/fonts/face_name_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/linux/c_handles.h"
#include "platform/linux/fonts/font_index_names.h"
#include "platform/linux/fonts/sfnt_bytes.h"

namespace kfp::linux_backend {
namespace {

constexpr uint32_t kNameTag = HB_TAG('n', 'a', 'm', 'e');
// Name strings sit at 16-bit offsets from a 16-bit storage offset, after at most 65 535 records of
// 12 bytes: nothing a name table can point at lies beyond this.
constexpr uint32_t kLargestNameTable = 1 << 20;
// Faces handed to a thread at a time: large enough that the shared counter is no contention.
constexpr size_t kGroupsPerTake = 32;

bool readAt(int fd, uint64_t offset, void* buffer, size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ssize_t n = pread(fd, bytes, size, off_t(offset));
    if (n <= 0) return false;  // the end of the file, or an error
    bytes += n, offset += uint64_t(n), size -= size_t(n);
  }
  return true;
}

hb_blob_t* referenceNameTable(hb_face_t*, hb_tag_t tag, void* userData) {
  if (tag != kNameTag) return hb_blob_get_empty();
  return hb_blob_reference(static_cast<hb_blob_t*>(userData));
}

void destroyBlob(void* userData) {
  hb_blob_destroy(static_cast<hb_blob_t*>(userData));
}

// The names of one file's face, for every record of it.
void addNamesOfFace(std::span<FontRecord> group, std::string& buffer) {
  const FontRecord& first = group.front();
  const int fd = open(first.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  const NameTableBytes read = readNameTableBytes(fd, first.faceIndex, buffer);
  close(fd);
  HbFacePtr face;
  if (read == NameTableBytes::kRead) {
    face.reset(createNameOnlyFace(buffer));
  } else if (read == NameTableBytes::kNotSfnt) {
    HbBlobPtr blob(hb_blob_create_from_file_or_fail(first.path.c_str()));
    if (blob) face.reset(hb_face_create(blob.get(), first.faceIndex));
  }
  if (!face) return;
  for (FontRecord& record : group) addNameTableNames(face.get(), record);
}

}  // namespace

NameTableBytes readNameTableBytes(int fd, uint32_t faceIndex, std::string& out) {
  unsigned char header[12];
  if (!readAt(fd, 0, header, sizeof header)) return NameTableBytes::kNotSfnt;
  uint64_t start = 0;
  if (be32(header) == kCollectionTag) {
    unsigned char offset[4];
    if (faceIndex >= be32(header + 8) || !readAt(fd, 12 + 4 * uint64_t(faceIndex), offset, 4) ||
        !readAt(fd, be32(offset), header, sizeof header) || !isSfntVersion(be32(header))) {
      return NameTableBytes::kAbsent;
    }
    start = be32(offset);
  } else if (!isSfntVersion(be32(header))) {
    return NameTableBytes::kNotSfnt;
  } else if (faceIndex != 0) {
    return NameTableBytes::kAbsent;
  }
  const uint16_t tables = be16(header + 4);
  std::vector<unsigned char> directory(size_t(tables) * 16);
  if (!readAt(fd, start + 12, directory.data(), directory.size())) return NameTableBytes::kAbsent;
  for (uint16_t i = 0; i < tables; ++i) {
    const unsigned char* entry = directory.data() + size_t(i) * 16;
    if (be32(entry) != kNameTag) continue;
    out.resize(std::min(be32(entry + 12), kLargestNameTable));
    if (out.empty() || !readAt(fd, be32(entry + 8), out.data(), out.size())) {
      return NameTableBytes::kAbsent;
    }
    return NameTableBytes::kRead;
  }
  return NameTableBytes::kAbsent;
}

hb_face_t* createNameOnlyFace(const std::string& nameTable) {
  hb_blob_t* blob = hb_blob_create(nameTable.data(), unsigned(nameTable.size()),
                                   HB_MEMORY_MODE_READONLY, nullptr, nullptr);
  return hb_face_create_for_tables(referenceNameTable, blob, destroyBlob);
}

void addOwnNames(std::span<FontRecord> records, unsigned threads) {
  std::vector<std::pair<size_t, size_t>> groups;
  for (size_t i = 0; i < records.size(); ++i) {
    if (i == 0 || records[i].path != records[i - 1].path ||
        records[i].faceIndex != records[i - 1].faceIndex) {
      if (!groups.empty()) groups.back().second = i;
      groups.push_back({i, records.size()});
    }
  }
  addOwnNamesOfGroups(records, groups, threads);
}

void addOwnNamesOfGroups(std::span<FontRecord> records,
                         std::span<const std::pair<size_t, size_t>> groups, unsigned threads) {
  std::atomic<size_t> next{0};
  const auto work = [&] {
    std::string buffer;
    for (;;) {
      const size_t from = next.fetch_add(kGroupsPerTake, std::memory_order_relaxed);
      if (from >= groups.size()) return;
      for (size_t g = from; g < std::min(groups.size(), from + kGroupsPerTake); ++g) {
        addNamesOfFace(records.subspan(groups[g].first, groups[g].second - groups[g].first),
                       buffer);
      }
    }
  };
  threads = std::max(1u, std::min<unsigned>(threads, unsigned(groups.size() / kGroupsPerTake) + 1));
  std::vector<std::thread> helpers;
  for (unsigned i = 1; i < threads; ++i) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the calling thread does the rest
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
}

unsigned nameReadingThreads() {
  // Reading name tables is mostly waiting on the kernel for small files: a few threads share it.
  constexpr unsigned kMost = 4;
  return std::min(kMost, std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace kfp::linux_backend
