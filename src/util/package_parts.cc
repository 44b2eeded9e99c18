#include "util/package_parts.h"

#include <vector>

namespace korvel {

std::string resolvePartName(const std::string& folder, std::string_view target) {
  std::string joined = !target.empty() && target.front() == '/' ? std::string(target.substr(1))
                                                                : folder + std::string(target);
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    std::string piece = joined.substr(start, end - start);
    if (piece == "..") {
      if (!pieces.empty()) pieces.pop_back();
    } else if (!piece.empty() && piece != ".") {
      pieces.push_back(piece);
    }
    start = end + 1;
  }
  std::string name;
  for (const std::string& piece : pieces) name += (name.empty() ? "" : "/") + piece;
  return name;
}

std::string folderOf(const std::string& part) {
  size_t slash = part.rfind('/');
  return slash == std::string::npos ? "" : part.substr(0, slash + 1);
}

std::string relsOf(const std::string& part) {
  size_t slash = part.rfind('/');
  std::string base = slash == std::string::npos ? part : part.substr(slash + 1);
  return folderOf(part) + "_rels/" + base + ".rels";
}

}  // namespace korvel
