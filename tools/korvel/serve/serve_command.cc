// The HTTP layer: the only file that knows the HTTP library.
#include "tools/korvel/serve/serve_command.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <ctime>
#include <exception>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "tools/korvel/calc_commands.h"
#include "tools/korvel/exit_status.h"
#include "tools/korvel/serve/serve_api.h"

namespace korvel {

namespace {

// The session cookie's value, or empty.
std::string sessionCookie(const httplib::Request& request) {
  const std::string prefix = std::string(kSessionCookie) + "=";
  size_t count = request.get_header_value_count("Cookie");
  for (size_t i = 0; i < count; ++i) {
    std::string header = request.get_header_value("Cookie", i);
    size_t at = 0;
    while (at < header.size()) {
      size_t end = header.find(';', at);
      if (end == std::string::npos) end = header.size();
      size_t start = header.find_first_not_of(' ', at);
      if (start < end && header.compare(start, prefix.size(), prefix) == 0) {
        return header.substr(start + prefix.size(), end - start - prefix.size());
      }
      at = end + 1;
    }
  }
  return {};
}

void securityHeaders(httplib::Response& response) {
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("X-Frame-Options", "DENY");
  response.set_header("Referrer-Policy", "no-referrer");
  response.set_header("Cross-Origin-Opener-Policy", "same-origin");
  response.set_header("Content-Security-Policy",
                      "default-src 'none'; script-src 'self'; style-src 'self'; "
                      "connect-src 'self'; img-src 'self'; form-action 'none'; "
                      "frame-ancestors 'none'; base-uri 'none'");
  response.set_header("Cache-Control", "no-store");
}

// A file name for the Content-Disposition header: only characters that need no quoting.
std::string safeFileName(const std::string& name) {
  std::string out;
  for (char c : name) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '-' || c == '_';
    out += plain ? c : '_';
  }
  return out.empty() ? "data.dat" : out;
}

std::string jsonError(const std::string& message) {
  return nlohmann::json{{"error", message}}.dump(-1, ' ', false,
                                                 nlohmann::json::error_handler_t::replace);
}

}  // namespace

int serveCommand(const ServeOptions& options) {
  installHeadlessLocale();
  ServeApi api(options.config);
  std::string error;
  if (!api.load(&error)) {
    std::cerr << "korvel: " << error << "\n";
    return kExitFailed;
  }

  // SIGINT and SIGTERM are taken by a thread of their own, which stops the server; every other
  // thread inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  httplib::Server server;
  server.set_payload_max_length(options.config.maxBody);
  // A browser keeps its connection open between edits; more threads than cores let many
  // connections wait their turn without being closed.
  server.new_task_queue = [] { return new httplib::ThreadPool(32); };
  server.set_keep_alive_max_count(1000);
  std::mutex logMutex;
  auto handler = [&](const httplib::Request& request, httplib::Response& response) {
    ApiRequest call;
    call.method = request.method;
    call.path = request.path;
    for (const auto& [key, value] : request.params) call.query.emplace(key, value);
    call.contentType = request.get_header_value("Content-Type");
    call.body = request.body;
    call.sessionId = sessionCookie(request);
    ApiReply reply = api.handle(call);
    securityHeaders(response);
    response.status = reply.status;
    if (!reply.newSessionId.empty()) {
      response.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + reply.newSessionId +
                                            "; Path=/; HttpOnly; SameSite=Strict");
    }
    if (!reply.fileName.empty()) {
      response.set_header("Content-Disposition",
                          "attachment; filename=\"" + safeFileName(reply.fileName) + "\"");
    }
    response.set_content(reply.body, reply.contentType);
  };
  server.Get(".*", handler);
  server.Post(".*", handler);
  server.Put(".*", handler);
  server.Patch(".*", handler);
  server.Delete(".*", handler);
  // What the library answers itself (a body over the limit, a request it cannot read) still says
  // why, as JSON.
  server.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& response) {
        securityHeaders(response);
        if (response.body.empty()) {
          response.set_content(
              jsonError(response.status == 413 ? "the body is larger than the server takes"
                                               : "the request was refused"),
              "application/json");
        }
        return httplib::Server::HandlerResponse::Handled;
      }));
  server.set_exception_handler(
      [&](const httplib::Request& request, httplib::Response& response, std::exception_ptr ep) {
        std::string what = "an unknown failure";
        try {
          std::rethrow_exception(ep);
        } catch (const std::exception& e) {
          what = e.what();
        }
        {
          std::lock_guard<std::mutex> lock(logMutex);
          std::cerr << "korvel: serve: " << request.method << " " << request.path
                    << " failed: " << what << std::endl;
        }
        securityHeaders(response);
        response.status = 500;
        response.set_content(jsonError("the server failed: " + what), "application/json");
      });
  server.set_logger([&](const httplib::Request& request, const httplib::Response& response) {
    std::time_t now = std::time(nullptr);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    std::lock_guard<std::mutex> lock(logMutex);
    std::cerr << stamp << " " << request.remote_addr << " " << request.method << " " << request.path
              << " " << response.status << " " << response.body.size() << std::endl;
  });

  int port = options.port;
  if (port == 0) {
    port = server.bind_to_any_port(options.host);
    if (port < 0) port = 0;
  } else if (!server.bind_to_port(options.host, port)) {
    port = 0;
  }
  if (port == 0) {
    std::cerr << "korvel: serve: cannot listen on " << options.host << ":" << options.port << "\n";
    return kExitFailed;
  }
  std::string shownHost =
      options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
  std::cout << "korvel: serving " << options.config.input << " at http://" << shownHost << ":"
            << port << "/" << std::endl;

  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
  });
  bool listened = server.listen_after_bind();
  // Stopped by a signal, or the listening failed: either way the stopper must end.
  if (!listened) pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  if (!listened) {
    std::cerr << "korvel: serve: the server stopped listening\n";
    return kExitFailed;
  }
  return kExitSuccess;
}

}  // namespace korvel
