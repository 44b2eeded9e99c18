#include "tools/korvel/serve/serve_api.h"

#include <filesystem>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "hosts/headless/spreadsheet/xlsx_workbook.h"
#include "tools/korvel/serve/serve_page.h"
#include "tools/korvel/workbook_input.h"
#include "util/text.h"

namespace korvel {

namespace {

ApiReply jsonReply(const ServeReply& reply) {
  ApiReply out;
  out.status = reply.status;
  if (!reply.download.empty()) {
    out.contentType = "application/octet-stream";
    out.body = reply.download;
    out.fileName = reply.downloadName;
    return out;
  }
  // Texts of the workbook may hold any bytes; a broken one is replaced rather than failing the
  // whole reply.
  out.body = reply.json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  return out;
}

ApiReply errorReply(int status, std::string message) {
  return jsonReply(ServeReply::error(status, std::move(message)));
}

bool isJson(const std::string& contentType) {
  return contentType.rfind("application/json", 0) == 0;
}

}  // namespace

ServeApi::ServeApi(ServeConfig config, Clock clock)
    : config_(std::move(config)), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
}

ServeApi::~ServeApi() = default;

bool ServeApi::load(std::string* error) {
  source_.allowSave = config_.allowSave;
  if (isApplicationInput(config_.input)) {
    std::error_code failed;
    std::filesystem::path absolute = std::filesystem::absolute(config_.input, failed);
    if (failed) {
      *error = config_.input + ": the path does not read";
      return false;
    }
    source_.applicationPath = fromUtf8(absolute.lexically_normal().string());
  } else {
    std::vector<std::string> errors;
    if (!readWorkbookFile(config_.input, &workbook_, &errors)) {
      *error = config_.input + ": " + (errors.empty() ? "the workbook does not read" : errors[0]);
      return false;
    }
    source_.workbook = &workbook_;
    source_.workbookName = programWorkbookName(config_.input);
    if (isXlsxPath(config_.input)) {
      std::string readError;
      if (!readXlsxWorkbook(config_.input, &presentation_, &readError)) {
        *error = readError;
        return false;
      }
      // Only the look is taken from it: the values would be a second copy of the workbook's.
      for (SheetData& sheet : presentation_.sheets) {
        std::erase_if(sheet.cells, [](const auto& entry) {
          const CellData& cell = entry.second;
          return !cell.style && !cell.fontColor && !cell.interiorColor;
        });
        for (auto& [key, cell] : sheet.cells) {
          cell.value = Variant();
          std::u16string().swap(cell.formula);
          cell.hyperlinks.clear();
        }
      }
      source_.presentation = &presentation_;
    }
  }
  ServeSession trial;
  if (!trial.start(source_, error)) {
    *error = config_.input + ": " + *error;
    return false;
  }
  return true;
}

size_t ServeApi::sessionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

void ServeApi::expireIdle() {
  auto now = clock_();
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (now - it->second.lastUsed >= config_.idleTimeout) {
      it = sessions_.erase(it);
    } else {
      ++it;
    }
  }
}

ServeSession* ServeApi::sessionFor(const ApiRequest& request, ApiReply* reply) {
  expireIdle();
  if (auto it = sessions_.find(request.sessionId);
      !request.sessionId.empty() && it != sessions_.end()) {
    it->second.lastUsed = clock_();
    return it->second.session.get();
  }
  if (sessions_.size() >= config_.maxSessions) {
    *reply = errorReply(503, "the server holds as many sessions as it may; try again later");
    return nullptr;
  }
  auto session = std::make_unique<ServeSession>();
  std::string error;
  if (!session->start(source_, &error)) {
    *reply = errorReply(500, "the application did not start: " + error);
    return nullptr;
  }
  std::string id = randomToken();
  reply->newSessionId = id;
  Entry& entry = sessions_[id];
  entry.session = std::move(session);
  entry.lastUsed = clock_();
  return entry.session.get();
}

ApiReply ServeApi::handle(const ApiRequest& request) {
  if (request.path == "/" || request.path == "/index.html" || request.path == "/app.js" ||
      request.path == "/app.css") {
    if (request.method != "GET" && request.method != "HEAD") {
      return errorReply(405, request.path + ": only GET");
    }
    const PageFile& file = pageFile(request.path == "/" ? "/index.html" : request.path);
    ApiReply reply;
    reply.contentType = file.contentType;
    reply.body = file.body;
    return reply;
  }
  if (request.path.rfind("/api/", 0) != 0) return errorReply(404, "no such page");
  if (request.body.size() > config_.maxBody) {
    return errorReply(413, "the body is larger than " + std::to_string(config_.maxBody) + " bytes");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ApiReply started;
  ServeSession* session = sessionFor(request, &started);
  if (session == nullptr) return started;
  ApiReply reply;
  try {
    reply = route(request, *session);
  } catch (const std::bad_alloc&) {
    // The application's state may be half changed: the session ends rather than go on wrong.
    sessions_.erase(started.newSessionId.empty() ? request.sessionId : started.newSessionId);
    return errorReply(503, "the server ran out of memory; the session was ended");
  }
  reply.newSessionId = started.newSessionId;
  return reply;
}

ApiReply ServeApi::route(const ApiRequest& request, ServeSession& session) {
  const std::string& path = request.path;
  const bool get = request.method == "GET";
  const bool post = request.method == "POST";
  struct Route {
    const char* path;
    bool post;
  };
  static const Route routes[] = {
      {"/api/sheets", false}, {"/api/cells", false},    {"/api/cells", true},
      {"/api/undo", true},    {"/api/calculate", true}, {"/api/manual", true},
      {"/api/export", false}, {"/api/import", true},    {"/api/save", true},
      {"/api/about", true},   {"/api/agreement", true}};
  bool known = false;
  bool allowed = false;
  for (const Route& route : routes) {
    if (path != route.path) continue;
    known = true;
    allowed |= route.post ? post : get;
  }
  if (!known) return errorReply(404, path + ": no such call");
  if (!allowed) return errorReply(405, path + ": not with " + request.method);

  // A form of another site can post plain text but not JSON without asking first: JSON bodies
  // must say so.
  nlohmann::ordered_json body;
  bool wantsJson = post && (path == "/api/cells" || path == "/api/manual");
  if (wantsJson) {
    if (!isJson(request.contentType)) {
      return errorReply(415, path + ": the body must be application/json");
    }
    body = nlohmann::ordered_json::parse(request.body, nullptr, false);
    if (body.is_discarded()) return errorReply(400, path + ": the body is not JSON");
  }

  if (path == "/api/sheets") return jsonReply(session.sheets());
  if (path == "/api/cells" && get) {
    auto range = request.query.find("range");
    if (range == request.query.end() || range->second.empty()) {
      return errorReply(400, "cells: name a range, as in ?range=Order!A1:D6");
    }
    return jsonReply(session.cells(fromUtf8(range->second)));
  }
  if (path == "/api/cells") {
    if (!body.is_object() || !body.contains("set")) {
      return errorReply(400, "cells: expected {\"set\": {\"Order!C2\": 10}}");
    }
    return jsonReply(session.set(body["set"]));
  }
  if (path == "/api/manual") {
    if (!body.is_object() || !body.contains("manual") || !body["manual"].is_boolean()) {
      return errorReply(400, "manual: expected {\"manual\": true} or {\"manual\": false}");
    }
    return jsonReply(session.setManual(body["manual"].get<bool>()));
  }
  if (path == "/api/undo") return jsonReply(session.undo());
  if (path == "/api/calculate") return jsonReply(session.calculate());
  if (path == "/api/export") return jsonReply(session.exportData());
  if (path == "/api/import") {
    // An upload as the browser sends it: the file's bytes as they are.
    if (isJson(request.contentType) || request.contentType.rfind("text/", 0) == 0 ||
        request.contentType.rfind("multipart/", 0) == 0 ||
        request.contentType.rfind("application/x-www-form-urlencoded", 0) == 0) {
      return errorReply(415, "import: send the data file as application/octet-stream");
    }
    return jsonReply(session.importData(request.body));
  }
  if (path == "/api/save") return jsonReply(session.save());
  if (path == "/api/about") return jsonReply(session.about());
  return jsonReply(session.agreement());
}

}  // namespace korvel
