// The window over HTTP: the page, the model's JSON, commands, selections and
// the event stream, behind the session token and the refusals that keep other
// sites and other hosts out.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "web/control_model.h"
#include "web/ui_thread.h"

namespace varnox {

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 8740;  // 0 takes a free port
  // Files served besides the embedded assets; each returns the path of the
  // file to serve, or empty (404). Called on a server thread.
  std::function<std::string()> pageFile;  // GET /page
  std::function<std::string()> helpFile;  // GET /help
  // A modal dialog or message box with no event stream connected for this
  // long is ended as by Cancel.
  std::chrono::milliseconds abandonAfter{60000};
};

class WebServer {
 public:
  WebServer(WindowModel& model, UiThread& ui, DialogProcedures& procedures, ServerOptions options);
  ~WebServer();  // stops the server
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Binds and starts serving on threads of its own; returns once
  // connections are accepted. False, with the reason in error, when the
  // address cannot be bound.
  bool Start(std::string& error);
  // "http://HOST:PORT/?token=TOKEN"
  std::string Address() const;
  int Port() const;
  const std::string& Token() const;
  // Tells the browsers "bye" and stops serving.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace varnox
