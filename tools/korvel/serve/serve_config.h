// What `korvel serve` is told: the application and the limits of its sessions.
#ifndef KORVEL_TOOLS_KORVEL_SERVE_SERVE_CONFIG_H_
#define KORVEL_TOOLS_KORVEL_SERVE_SERVE_CONFIG_H_

#include <chrono>
#include <cstddef>
#include <string>

namespace korvel {

struct ServeConfig {
  std::string input;  // an application file (.kvapp), an .xlsx workbook or a workbook text
  bool allowSave = false;
  size_t maxSessions = 100;
  std::chrono::seconds idleTimeout{30 * 60};
  // The largest request body (an import's data file included).
  size_t maxBody = 16u << 20;
};

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_SERVE_SERVE_CONFIG_H_
