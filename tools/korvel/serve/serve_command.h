// `korvel serve`: the application as a web page and a JSON API over HTTP.
#ifndef KORVEL_TOOLS_KORVEL_SERVE_SERVE_COMMAND_H_
#define KORVEL_TOOLS_KORVEL_SERVE_SERVE_COMMAND_H_

#include <string>

#include "tools/korvel/serve/serve_config.h"

namespace korvel {

struct ServeOptions {
  ServeConfig config;
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port, printed when listening
};

// Serves until SIGINT or SIGTERM; the exit status.
int serveCommand(const ServeOptions& options);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_SERVE_SERVE_COMMAND_H_
