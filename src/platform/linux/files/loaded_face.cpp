#include "platform/linux/files/loaded_face.h"

#include <freetype/tttables.h>
#include <hb-ot.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/fonts/sfnt_bytes.h"
#include "platform/linux/raster/glyph_cache.h"

namespace kfp::linux_backend {
namespace {

// Heap memory of an open face beyond what is counted exactly (table copies, glyph images, shaped
// paragraphs), from face_memory_bench over the installed Noto and DejaVu faces: the FreeType face
// and the HarfBuzz face and font when opened, and the shaping plans and lookup accelerators
// HarfBuzz builds on the first shaping, which the glyph cache's existence stands for.
constexpr size_t kOpenedBytes = 6 * 1024;
constexpr size_t kShapedBytes = 30 * 1024;

// The tables shaping reads, copied when the face is opened so that they all come from the same
// version of the file: glyph mapping and metrics, layout, variations, and the AAT tables.
constexpr hb_tag_t kShapingTables[] = {
    HB_TAG('h', 'e', 'a', 'd'), HB_TAG('m', 'a', 'x', 'p'), HB_TAG('c', 'm', 'a', 'p'),
    HB_TAG('h', 'h', 'e', 'a'), HB_TAG('h', 'm', 't', 'x'), HB_TAG('O', 'S', '/', '2'),
    HB_TAG('G', 'D', 'E', 'F'), HB_TAG('G', 'S', 'U', 'B'), HB_TAG('G', 'P', 'O', 'S'),
    HB_TAG('k', 'e', 'r', 'n'), HB_TAG('f', 'v', 'a', 'r'), HB_TAG('a', 'v', 'a', 'r'),
    HB_TAG('H', 'V', 'A', 'R'), HB_TAG('M', 'V', 'A', 'R'), HB_TAG('m', 'o', 'r', 'x'),
    HB_TAG('k', 'e', 'r', 'x'), HB_TAG('t', 'r', 'a', 'k'), HB_TAG('n', 'a', 'm', 'e'),
};

// The tables FreeType keeps a copy of once it has read them through a copying stream.
constexpr hb_tag_t kFreeTypeCopies[] = {
    HB_TAG('c', 'm', 'a', 'p'), HB_TAG('l', 'o', 'c', 'a'), HB_TAG('k', 'e', 'r', 'n'),
    HB_TAG('h', 'd', 'm', 'x'), HB_TAG('E', 'B', 'L', 'C'), HB_TAG('C', 'B', 'L', 'C'),
};

// One table of an sfnt, as its directory gives it.
struct TableEntry {
  uint32_t tag;
  uint32_t offset;
  uint32_t length;
};

enum class Directory { kRead, kBroken, kOtherFormat };

// The table directory of face `index` of an sfnt or a collection of them, read from the mapping
// (under the bus-error guard: a file shrunk meanwhile reads as zeros and is marked changed).
// Entries reaching past the end of the file are left out, as FreeType leaves them out, except the
// metrics tables, which FreeType cuts to the file.
Directory readDirectory(const MappedFontFile& file, uint32_t index,
                        std::vector<TableEntry>& tables) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
  const size_t size = file.size();
  if (size < 12) return Directory::kOtherFormat;
  size_t start = 0;
  if (be32(bytes) == kCollectionTag) {
    if (size < 12 || index >= be32(bytes + 8) || 12 + 4 * size_t(index) + 4 > size) {
      return Directory::kBroken;
    }
    start = be32(bytes + 12 + 4 * size_t(index));
    if (start > size - 12 || !isSfntVersion(be32(bytes + start))) return Directory::kBroken;
  } else if (!isSfntVersion(be32(bytes))) {
    return Directory::kOtherFormat;
  } else if (index != 0) {
    return Directory::kBroken;
  }
  const size_t count = be16(bytes + start + 4);
  if (start + 12 + 16 * count > size) return Directory::kBroken;
  tables.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* entry = bytes + start + 12 + 16 * i;
    TableEntry table{be32(entry), be32(entry + 8), be32(entry + 12)};
    if (table.offset > size) continue;
    if (table.length > size - table.offset) {
      if (table.tag != HB_TAG('h', 'm', 't', 'x') && table.tag != HB_TAG('v', 'm', 't', 'x')) {
        continue;
      }
      table.length = uint32_t(size - table.offset) & ~3u;
    }
    tables.push_back(table);
  }
  return Directory::kRead;
}

// Whether FreeType could open the face, as far as its directory tells: a header, glyph counts, and
// glyphs (outlines with their horizontal header, or bitmap strikes), each within the file. A face
// FreeType cannot draw is not opened for measuring either; fontconfig only lists faces FreeType
// opened, so this refuses files that changed since, such as one cut short.
bool looksDrawable(const std::vector<TableEntry>& tables) {
  const auto has = [&](hb_tag_t tag, uint32_t minimum = 1) {
    return std::any_of(tables.begin(), tables.end(),
                       [&](const TableEntry& t) { return t.tag == tag && t.length >= minimum; });
  };
  if (!has(HB_TAG('h', 'e', 'a', 'd'), 54) || !has(HB_TAG('m', 'a', 'x', 'p'), 6)) return false;
  const bool outlines = (has(HB_TAG('g', 'l', 'y', 'f')) && has(HB_TAG('l', 'o', 'c', 'a'))) ||
                        has(HB_TAG('C', 'F', 'F', ' ')) || has(HB_TAG('C', 'F', 'F', '2'));
  if (outlines) return has(HB_TAG('h', 'h', 'e', 'a'), 36);
  return (has(HB_TAG('C', 'B', 'D', 'T')) && has(HB_TAG('C', 'B', 'L', 'C'))) ||
         (has(HB_TAG('E', 'B', 'D', 'T')) && has(HB_TAG('E', 'B', 'L', 'C'))) ||
         has(HB_TAG('s', 'b', 'i', 'x'));
}

// HarfBuzz reads the face through private copies: it validates a table once and trusts it after,
// so it must never see bytes that can change under it. Each table is copied out of the mapping,
// under the bus-error guard, within the extent the directory gives it in the file as mapped; a
// face in another container (WOFF, ...) is read through FreeType, which unpacks it. The tables
// above are copied at once; any other HarfBuzz asks for is copied on its first request. Every copy
// is kept, so each table is read from the file once.
class TableCopies {
 public:
  TableCopies(const MappedFontFile& file, std::vector<TableEntry> directory)
      : file_(file), directory_(std::move(directory)) {}
  TableCopies(const MappedFontFile& file, FT_Face face) : file_(file), face_(face) {}
  ~TableCopies() {
    for (const Table& table : tables_) hb_blob_destroy(table.blob);
  }
  TableCopies(const TableCopies&) = delete;
  TableCopies& operator=(const TableCopies&) = delete;

  // A new reference to the copy of the table; the empty blob when the face has none.
  hb_blob_t* reference(hb_tag_t tag) {
    for (const Table& table : tables_) {
      if (table.tag == tag) return hb_blob_reference(table.blob);
    }
    hb_blob_t* blob = face_ ? copyThroughFreeType(tag) : copy(tag);
    tables_.push_back({tag, blob});
    return hb_blob_reference(blob);
  }
  size_t bytes() const { return bytes_; }

 private:
  struct Table {
    hb_tag_t tag;
    hb_blob_t* blob;
  };

  hb_blob_t* copy(hb_tag_t tag) {
    // The first entry of the tag that is not empty, as FreeType looks tables up.
    auto entry = std::find_if(directory_.begin(), directory_.end(),
                              [tag](const TableEntry& e) { return e.tag == tag && e.length != 0; });
    // Tag 0 asks for the whole file, which only blob-backed faces can give.
    if (tag == 0 || entry == directory_.end()) return hb_blob_get_empty();
    return blobOf(file_.data() + entry->offset, entry->length);
  }

  hb_blob_t* copyThroughFreeType(hb_tag_t tag) {
    FT_ULong length = 0;
    if (tag == 0 || FT_Load_Sfnt_Table(face_, tag, 0, nullptr, &length) != 0 || length == 0 ||
        length > UINT32_MAX) {
      return hb_blob_get_empty();
    }
    auto* bytes = static_cast<FT_Byte*>(std::malloc(length));
    if (!bytes) return hb_blob_get_empty();
    if (FT_Load_Sfnt_Table(face_, tag, 0, bytes, &length) != 0) {
      std::free(bytes);
      return hb_blob_get_empty();
    }
    bytes_ += length;
    return hb_blob_create(reinterpret_cast<const char*>(bytes), unsigned(length),
                          HB_MEMORY_MODE_WRITABLE, bytes, std::free);
  }

  hb_blob_t* blobOf(const char* from, size_t length) {
    auto* bytes = static_cast<char*>(std::malloc(length));
    if (!bytes) return hb_blob_get_empty();
    std::memcpy(bytes, from, length);
    bytes_ += length;
    return hb_blob_create(bytes, unsigned(length), HB_MEMORY_MODE_WRITABLE, bytes, std::free);
  }

  const MappedFontFile& file_;
  std::vector<TableEntry> directory_;
  FT_Face face_ = nullptr;
  std::vector<Table> tables_;
  size_t bytes_ = 0;
};

hb_blob_t* referenceTable(hb_face_t*, hb_tag_t tag, void* userData) {
  return static_cast<TableCopies*>(userData)->reference(tag);
}

void deleteTableCopies(void* userData) {
  delete static_cast<TableCopies*>(userData);
}

unsigned long readMapping(FT_Stream stream, unsigned long offset, unsigned char* buffer,
                          unsigned long count) {
  // A count of 0 is a seek: 0 for success.
  if (count == 0) return offset <= stream->size ? 0 : 1;
  if (offset >= stream->size) return 0;
  count = std::min(count, stream->size - offset);
  std::memcpy(buffer, static_cast<const unsigned char*>(stream->descriptor.pointer) + offset,
              count);
  return count;
}

}  // namespace

FT_Error openFreeTypeFace(FT_Library library, const MappedFontFile& file, FT_Long index,
                          FT_StreamRec* stream, FT_Face* face) {
  *stream = FT_StreamRec{};
  stream->size = file.size();
  stream->descriptor.pointer = const_cast<char*>(file.data());
  stream->read = readMapping;  // base stays null: FreeType reads by copying
  FT_Open_Args args{};
  args.flags = FT_OPEN_STREAM;
  args.stream = stream;
  return FT_Open_Face(library, &args, index, face);
}

std::shared_ptr<LoadedFace> LoadedFace::open(std::shared_ptr<FreeTypeLibrary> library,
                                             std::shared_ptr<MappedFontFile> file,
                                             const FontRecord& record) {
  if (!library || !file) return nullptr;
  std::shared_ptr<LoadedFace> face(new LoadedFace());
  face->library_ = std::move(library);
  face->file_ = std::move(file);
  face->record_ = record;

  // An sfnt is read from its directory; FreeType opens the face when something is drawn. Other
  // containers need FreeType to unpack them.
  std::vector<TableEntry> directory;
  TableCopies* copies = nullptr;
  switch (readDirectory(*face->file_, record.faceIndex, directory)) {
    case Directory::kRead:
      if (!looksDrawable(directory)) return nullptr;
      face->sfnt_ = true;
      copies = new TableCopies(*face->file_, std::move(directory));
      break;
    case Directory::kBroken:
      return nullptr;
    case Directory::kOtherFormat:
      if (!face->ftFace()) return nullptr;
      copies = new TableCopies(*face->file_, face->ftFace());
      break;
  }
  for (hb_tag_t tag : kShapingTables) hb_blob_destroy(copies->reference(tag));
  HbFacePtr hbFace(hb_face_create_for_tables(referenceTable, copies, deleteTableCopies));
  face->tableCopies_ = copies;
  if (hb_face_get_glyph_count(hbFace.get()) == 0) return nullptr;
  // A named instance the font does not have, which FreeType refuses to open.
  if (record.namedInstance > hb_ot_var_get_named_instance_count(hbFace.get())) return nullptr;
  face->hbFont_.reset(hb_font_create(hbFace.get()));  // the font holds its own face reference
  if (record.namedInstance > 0) {
    hb_font_set_var_named_instance(face->hbFont_.get(), record.namedInstance - 1);
  }
  return face;
}

FT_Face LoadedFace::ftFace() const {
  if (ftTried_) return ftFace_.get();
  ftTried_ = true;
  // FreeType's face index carries the named instance in its upper 16 bits.
  const FT_Long ftIndex = FT_Long(record_.faceIndex) | FT_Long(record_.namedInstance) << 16;
  FT_Face ftFace = nullptr;
  if (openFreeTypeFace(library_->get(), *file_, ftIndex, &stream_, &ftFace) != 0) return nullptr;
  ftFace_.reset(ftFace);
  // What FreeType copied out of the file to keep (see openFreeTypeFace), for the pool's budget.
  for (hb_tag_t tag : kFreeTypeCopies) {
    FT_ULong length = 0;
    if (FT_Load_Sfnt_Table(ftFace, tag, 0, nullptr, &length) == 0) freeTypeBytes_ += length;
  }
  return ftFace;
}

bool LoadedFace::markedBold() const {
  // As FreeType's style flags have it: OS/2 fsSelection bit 5 when the face has an OS/2 table
  // FreeType can read, else head macStyle bit 0.
  if (!sfnt_) return ftFace() && (ftFace()->style_flags & FT_STYLE_FLAG_BOLD);
  LineMetricTables tables;
  uint16_t macStyle = 0;
  readLineMetricTables(hb_font_get_face(hbFont_.get()), &tables, &macStyle);
  return tables.hasOs2 ? (tables.fsSelection & 0x20) != 0 : (macStyle & 1) != 0;
}

FaceLineMetrics LoadedFace::lineMetrics() const {
  FaceLineMetrics metrics;
  if (sfnt_) {
    LineMetricTables tables;
    readLineMetricTables(hb_font_get_face(hbFont_.get()), &tables, nullptr);
    if (chooseLineMetrics(tables, metrics)) return metrics;
  }
  // Other containers, and faces without usable vertical metrics: FreeType's reading.
  return ftFace() ? readLineMetrics(ftFace()) : metrics;
}

LoadedFace::~LoadedFace() {
  glyphCache_.reset();  // cached state may refer to the face
}

size_t LoadedFace::tableBytes() const {
  return static_cast<const TableCopies*>(tableCopies_)->bytes();
}

size_t LoadedFace::memoryBytes() const {
  size_t bytes = kOpenedBytes + freeTypeBytes_ + tableBytes();
  if (glyphCache_) bytes += kShapedBytes + glyphCache_->memoryBytes();
  return bytes;
}

std::shared_ptr<FreeTypeLibrary> FreeTypeLibrary::create() {
  auto library = std::make_shared<FreeTypeLibrary>();
  if (FT_Init_FreeType(&library->library_) != 0) {
    library->library_ = nullptr;
    return nullptr;
  }
  return library;
}

FreeTypeLibrary::~FreeTypeLibrary() {
  if (library_) FT_Done_FreeType(library_);
}

}  // namespace kfp::linux_backend
