#include "platform/linux/files/loaded_face.h"

#include <freetype/tttables.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// HarfBuzz reads the face through private copies: it validates a table once and trusts it after,
// so it must never see bytes that can change under it. FreeType copies each table out of the
// mapping, under the bus-error guard, and checks its extent against the file it opened. The
// tables above are copied at once; any other HarfBuzz asks for is copied on its first request.
// Every copy is kept, so each table is read from the file once.
class TableCopies {
 public:
  explicit TableCopies(FT_Face face) : face_(face) {}
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
    hb_blob_t* blob = copy(tag);
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
    FT_ULong length = 0;
    // Tag 0 asks for the whole file, which only blob-backed faces can give.
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

  FT_Face face_;
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

  // FreeType's face index carries the named instance in its upper 16 bits.
  FT_Long ftIndex = FT_Long(record.faceIndex) | FT_Long(record.namedInstance) << 16;
  FT_Face ftFace = nullptr;
  if (openFreeTypeFace(face->library_->get(), *face->file_, ftIndex, &face->stream_, &ftFace) !=
      0) {
    return nullptr;
  }
  face->ftFace_.reset(ftFace);

  // The FreeType face outlives the HarfBuzz face: the face releases its font objects first.
  // What FreeType copied out of the file to keep (see openFreeTypeFace), for the pool's budget.
  for (hb_tag_t tag : kFreeTypeCopies) {
    FT_ULong length = 0;
    if (FT_Load_Sfnt_Table(ftFace, tag, 0, nullptr, &length) == 0) face->freeTypeBytes_ += length;
  }
  auto* copies = new TableCopies(ftFace);
  for (hb_tag_t tag : kShapingTables) hb_blob_destroy(copies->reference(tag));
  HbFacePtr hbFace(hb_face_create_for_tables(referenceTable, copies, deleteTableCopies));
  face->tableCopies_ = copies;
  if (hb_face_get_glyph_count(hbFace.get()) == 0) return nullptr;
  face->hbFont_.reset(hb_font_create(hbFace.get()));  // the font holds its own face reference
  if (record.namedInstance > 0) {
    hb_font_set_var_named_instance(face->hbFont_.get(), record.namedInstance - 1);
  }
  return face;
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
