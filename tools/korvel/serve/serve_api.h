// The server's answers, apart from HTTP: requests routed to the page's files and to the JSON API,
// one application per session. The HTTP layer hands each request in and sends the reply back, so
// everything here runs without sockets.
//
// Thread-safe: one request at a time reaches the applications.
#ifndef KORVEL_TOOLS_KORVEL_SERVE_SERVE_API_H_
#define KORVEL_TOOLS_KORVEL_SERVE_SERVE_API_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "compiler/workbook.h"
#include "tools/korvel/serve/serve_config.h"
#include "tools/korvel/serve/serve_session.h"

namespace korvel {

inline constexpr char kSessionCookie[] = "korvel_session";

struct ApiRequest {
  std::string method;  // "GET", "POST", ...
  std::string path;
  std::map<std::string, std::string> query;
  std::string contentType;
  std::string body;
  std::string sessionId;  // the session cookie's value; empty when none came
};

struct ApiReply {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  // Set when the request started a new session: the cookie to send back.
  std::string newSessionId;
  // A download's file name (Content-Disposition: attachment).
  std::string fileName;
};

class ServeApi {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  explicit ServeApi(ServeConfig config, Clock clock = {});
  ~ServeApi();

  // Reads the input and starts one application to show that it starts; false with *error
  // otherwise.
  bool load(std::string* error);
  ApiReply handle(const ApiRequest& request);

  size_t sessionCount() const;
  const ServeConfig& config() const { return config_; }

 private:
  struct Entry {
    std::unique_ptr<ServeSession> session;
    std::chrono::steady_clock::time_point lastUsed;
  };
  // The request's session, a new one when it names none that lives; null with *reply set when
  // no session can be had.
  ServeSession* sessionFor(const ApiRequest& request, ApiReply* reply);
  ApiReply route(const ApiRequest& request, ServeSession& session);
  void expireIdle();

  ServeConfig config_;
  Clock clock_;
  Workbook workbook_;
  WorkbookData presentation_;  // an .xlsx input's package as the program reads it
  ServeSource source_;
  mutable std::mutex mutex_;
  std::map<std::string, Entry> sessions_;
};

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_SERVE_SERVE_API_H_
