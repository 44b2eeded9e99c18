// Reading one node record of the model stream into a node of the family in node.h.
#ifndef KORVEL_MODEL_NODES_NODE_READER_H_
#define KORVEL_MODEL_NODES_NODE_READER_H_

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

// Reads one node record: peeks the 8-byte head, reads the whole record, builds the node (cell
// references take their cell from the model's grid, creating it empty when missing; call nodes
// resolve through model.functions) and attaches it to its parent, the node at the record's parent
// index among the records of the same formula, name expression or table read so far (local).
// The new node, or null for a record that yields none, is appended to local. A root (parent
// index -1) is handed to the caller through *root.
// Errors: the stream ends inside the record, a record length shorter than its tag's fixed part or
// longer than the tag allows, a parent index that names no earlier node, a parent that takes no
// children.
NodeReadStatus readNode(ChunkStream& in, CompiledModel& model, std::vector<Node*>& local,
                        std::unique_ptr<Node>* root, std::string* error);

}  // namespace korvel

#endif  // KORVEL_MODEL_NODES_NODE_READER_H_
