// The compiled model stream: loading a delivered model into a CompiledModel and writing a model
// back, section by section. The constants below are shared by the reader and the writer;
// docs/model_format.md describes the stream.
#ifndef KORVEL_MODEL_MODEL_STREAM_H_
#define KORVEL_MODEL_MODEL_STREAM_H_

#include <cstdint>
#include <string>

#include "model/chunk_stream.h"
#include "model/compiled_model.h"

namespace korvel {

// The bytes 'K', 'V', 'G', 'R' read as a little-endian u32.
inline constexpr uint32_t kModelMagic = 0x5247564Bu;
inline constexpr uint16_t kModelFormatVersion = 1;
// Lengths of the fixed parts this writer writes; readers accept longer ones and skip the rest.
inline constexpr uint32_t kModelHeaderLength = 24;
inline constexpr uint32_t kSectionHeaderLength = 8;          // sections 1, 5, 6, 7, 10, 11, 12
inline constexpr uint32_t kCountedSectionHeaderLength = 12;  // sections 3 and 4
inline constexpr uint32_t kGridExtentLength = 12;
inline constexpr uint16_t kSheetRecordLength = 32;
inline constexpr uint32_t kControlGroupHeadLength = 8;
inline constexpr uint32_t kControlItemHeadLength = 32;
inline constexpr uint32_t kExternalWorkbookHeadLength = 8;
inline constexpr uint32_t kDdeLinkHeadLength = 12;
inline constexpr uint32_t kDdeItemHeadLength = 12;
inline constexpr uint16_t kNameRecordHeadLength = 12;
inline constexpr uint8_t kCellRecordHeadLength = 40;
inline constexpr uint8_t kFormulaRecordHeadLength = 24;
inline constexpr uint32_t kArrayRangeLength = 16;

// The kind of link a cell's hyperlink text names: "http://" or "https://" (any case) a web link,
// "mailto:" a mail link, a leading "#" a link inside the workbook whose target is the rest, any
// other text a file link. The text becomes the address, or the target of an in-workbook link.
Hyperlink classifyHyperlink(std::u16string text);

// Reads sections 0 to 12 from the stream into the model. Whatever the model held before is
// dropped first.
//
// Where the stream may end: at the start of any section whose records no earlier count has
// promised, that is before the header of sections 1, 3 to 7 and 9 to 12 (provided the model
// header counts no defined names when the stream ends before section 7). Those sections and all
// after them stay empty and the load succeeds: a model cut short at a section boundary loads as
// far as it goes. Section 12 is read to the end of the stream.
//
// Everything else is a malformed model and is rejected whole: false, *error (may be null) names
// the section, the record and the byte offset of the record within the stream, and the model is
// left empty (no cells, sheets, names or tables). Malformed means: the stream ends inside the
// model header, a section header or a record; a count promises more records than the stream
// holds; a header or record is shorter than its fixed part; a text, value or node runs past its
// record; a node record is malformed or names a parent that is no earlier node; a formula record
// or a precedent names an address without a cell; two cell records share an address; the magic
// is not "KVGR"; the model header's name count differs from section 7's; the control groups do
// not fill their stated byte length or the constants their value block; a grid extent names no
// rows or the extents ask for more than one row block per cell record.
//
// Memory is reserved only for bytes that the stream has actually delivered, never from a count.
bool loadModel(ChunkStream& in, CompiledModel& model, std::string* error);

// Writes sections 0 to 12 from the model, then flushes the stream's last partial buffer into a
// chunk. Cells are written in identity order; each cell is the current cell while its records are
// written. Writing a model loaded from a stream this writer made gives that stream back byte for
// byte (docs/model_format.md lists what is kept and what is written in canonical form).
// Throws FileError when a temporary file cannot be made, std::logic_error when the shared table 1
// trees written differ from its entry count or a text or count does not fit its field.
void writeModel(const CompiledModel& model, ChunkStream& out);

}  // namespace korvel

#endif  // KORVEL_MODEL_MODEL_STREAM_H_
