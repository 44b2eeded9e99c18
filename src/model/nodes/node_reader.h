// Reading one node record of the model stream into a node of the family in node.h.
#ifndef KORVEL_MODEL_NODES_NODE_READER_H_
#define KORVEL_MODEL_NODES_NODE_READER_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "model/nodes/node.h"

namespace korvel {

enum class NodeReadStatus {
  kNode,    // a node was built: a root handed out through *root, or a child attached to its parent
  kNoNode,  // a record of an unknown tag, consumed whole; it yields no node
  kError,   // a malformed record; *error says what, and nothing was attached
};

// Trees deeper than this are refused, so that the recursive walks over a formula (text, writing,
// destruction) stay within the stack. Formulas of a workbook nest far less.
inline constexpr size_t kMaxNodeDepth = 4096;

// Reads one node record: peeks the 8-byte head, reads the whole record, builds the node (cell
// references take their cell from the model's grid, creating it empty when missing, and keep a
// null cell for the no-cell sentinel; call nodes resolve through model.functions; NaN and
// infinite numbers load as 0) and attaches it to its parent, the node at the record's parent
// index among the records of the same formula, name expression or table read so far (local).
// The new node, or null for a record that yields none, is appended to local. A root (parent
// index -1) is handed to the caller through *root.
// REQUIRES: root is not null, and the caller takes each root out of *root before the next one is
// read (a root left there is refused rather than destroyed under the pointers in local); the
// roots outlive the reading of their records.
// Errors (nothing is attached, nothing appended to local; the record is consumed when the stream
// holds it whole): the stream ends inside the record; a record length shorter than its tag's fixed
// part or longer than the tag allows (1024 bytes for tags 14 and 16); a parent index that names no
// earlier record or a record that yielded no node; a parent that takes no children; a tree deeper
// than kMaxNodeDepth; an array constant whose elements do not decode, are arrays, or do not fill
// whole rows of its column count.
NodeReadStatus readNode(ChunkStream& in, CompiledModel& model, std::vector<Node*>& local,
                        std::unique_ptr<Node>* root, std::string* error);

}  // namespace korvel

#endif  // KORVEL_MODEL_NODES_NODE_READER_H_
