// The page the server shows: its HTML, style sheet and script, built into the binary from
// tools/korvel/serve/page/ so that the server needs no files beside it.
#ifndef KORVEL_TOOLS_KORVEL_SERVE_SERVE_PAGE_H_
#define KORVEL_TOOLS_KORVEL_SERVE_SERVE_PAGE_H_

#include <string_view>

namespace korvel {

struct PageFile {
  std::string_view contentType;
  std::string_view body;
};

// "/index.html", "/app.js" or "/app.css".
// Any other path gives the HTML.
const PageFile& pageFile(std::string_view path);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_SERVE_SERVE_PAGE_H_
