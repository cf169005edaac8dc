// A flow: nodes (the registered tools, and the host's Read, Merge and Write
// nodes), connections from a node's output to an image input of another,
// and the shot. Nodes are named, uniquely; connections refer to names.
#pragma once

#include <dfsystem/dfsystem.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vorn::flow {

enum class NodeKind { Tool, Read, Merge, Write };

// What a Read does for a sequence frame that is not on disk.
enum class MissingFrame { Error, Black, Nearest };

struct ReadSettings {
  std::string file;                // a file, or a sequence pattern (#, @, %04d)
  int frameOffset = 0;             // the file frame of flow frame f is f + frameOffset
  std::string colourSpace, layer;  // as --input-colorspace and --input-layer take them
  MissingFrame missing = MissingFrame::Error;
};

enum class MergeOperation { Over, Under, Plus, Multiply, Screen };

struct MergeSettings {
  MergeOperation operation = MergeOperation::Over;
  double mix = 1.0;  // 0: B unchanged, 1: the whole operation
};

struct WriteSettings {
  std::string file;  // output pattern, as --out takes it
  std::string compression, bitDepth,
      colourSpace;  // as --compression, --bit-depth, --output-colorspace
};

struct Node {
  std::string name;
  NodeKind kind = NodeKind::Tool;
  df::OperatorPtr op;  // a tool node's operator
  ReadSettings read;
  MergeSettings merge;
  WriteSettings write;

  bool Sequential() const { return op && (op->objFlags & df::kObjFlagSequential) != 0; }
};

struct Connection {
  std::string from;   // the node whose output feeds
  std::string to;     // the node fed
  std::string input;  // caption of its image input
};

// Frames of the shot, and the frame sequential tools start simulating at.
struct Shot {
  int first = 0, last = 0;
  int simulationStart = 0;
};

inline constexpr size_t kMaxNodes = 1000;
inline constexpr size_t kMaxNameLength = 100;

// The class names of the host's nodes.
inline constexpr const char* kReadClass = "Read";
inline constexpr const char* kMergeClass = "Merge";
inline constexpr const char* kWriteClass = "Write";

class Flow {
 public:
  std::vector<Node> nodes;
  std::vector<Connection> connections;
  Shot shot;
  // Size of the built-in images; unset: the first Read's, else 1280 x 720.
  std::optional<std::pair<int, int>> size;

  Node* Find(const std::string& name);
  const Node* Find(const std::string& name) const;
  ptrdiff_t IndexOf(const std::string& name) const;

  // A name a new node may take: not empty, no control characters, not too
  // long, not taken. False with the reason.
  bool CheckName(const std::string& name, std::string* error) const;
  // Renames a node and the connections that name it.
  bool Rename(const std::string& from, const std::string& to, std::string* error);
  // Adds a node (its name checked). False with the reason.
  bool Add(Node node, std::string* error);

  // Connects `from`'s output to `input` of `to`, replacing what fed that
  // input. Refused when a name or the input is unknown, or when the
  // connection would close a loop (the message names the loop).
  bool Connect(const std::string& from, const std::string& to, const std::string& input,
               std::string* error);
  // Opens `input` of `to`; refused when the node or input is unknown or
  // nothing feeds it.
  bool Disconnect(const std::string& to, const std::string& input, std::string* error);
  // Takes a node out of the flow with every connection to and from it;
  // `op` receives a tool node's operator. False when no node has the name.
  bool Remove(const std::string& name, df::OperatorPtr* op, std::string* error);
  // The node feeding `input` of `to`, or null.
  const Node* Source(const Node& to, const std::string& input) const;

  // Nodes in an order where every node comes after those feeding it.
  std::vector<size_t> Order() const;
  // Indices of `targets` and of every node upstream of them.
  std::vector<bool> Upstream(const std::vector<size_t>& targets) const;
  // The node `--out` alone writes: the last Write, else the last node.
  const Node* DefaultNode() const;
};

// Image inputs of a node, by caption, in declaration order; `required` gets
// whether each must have a picture.
std::vector<std::string> ImageInputNames(const Node& node, std::vector<bool>* required = nullptr);
// "Read", "Merge", "Write", or the tool's registry class name.
std::string ClassOf(const Node& node);
const char* MergeOperationName(MergeOperation op);
std::optional<MergeOperation> ParseMergeOperation(const std::string& text);
const char* MissingFrameName(MissingFrame m);
std::optional<MissingFrame> ParseMissingFrame(const std::string& text);

}  // namespace vorn::flow
