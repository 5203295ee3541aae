#pragma once
// Reads the name tables of installed faces for the font index.
//
// Each face's name table is read with pread() into a private buffer: only the table directory and
// the name table are read, nothing is mapped (a file shrinking meanwhile gives a short read, not a
// bus error). Given more than one thread, the faces are shared out over threads that end before
// the call returns; only start-up may ask for that, as a confined renderer starts no thread. A file
// that is neither an sfnt nor a collection of them is read through HarfBuzz.

#include <hb.h>

#include <cstdint>
#include <span>
#include <string>

#include "platform/linux/fonts/font_record.h"

namespace kfp::linux_backend {

// The outcome of reading one face's name table.
enum class NameTableBytes {
  kRead,     // `out` holds the table
  kAbsent,   // an sfnt without that face or without a name table, or a short read
  kNotSfnt,  // neither an sfnt nor a collection: another container HarfBuzz may know
};

// The bytes of the name table of face `faceIndex` of the open file `fd`.
NameTableBytes readNameTableBytes(int fd, uint32_t faceIndex, std::string& out);

// A HarfBuzz face that has only the given name table (and no glyphs); the bytes must outlive it.
hb_face_t* createNameOnlyFace(const std::string& nameTable);

// Adds the name-table names of every record (addNameTableNames). Records of one file and face
// index must be adjacent, as the index sorts them; each such group is read once. `threads` at most
// are used (at least one; where threads cannot be made, the calling thread does all).
void addOwnNames(std::span<FontRecord> records, unsigned threads);

// The same for the records [first, end) of each given group, each group one face's records.
void addOwnNamesOfGroups(std::span<FontRecord> records,
                         std::span<const std::pair<size_t, size_t>> groups, unsigned threads);

// The threads start-up name reading uses.
unsigned nameReadingThreads();

}  // namespace kfp::linux_backend
