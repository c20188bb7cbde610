#include "web/server.h"

#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

#include <httplib.h>

#include "platform/embedded_file.h"
#include "platform/unique_fd.h"
#include "web/event_hub.h"
#include "web/session.h"
#include "web/task_pool.h"

VARNOX_EMBEDDED(varnox_web_assets);

namespace varnox {
namespace {

using httplib::Request;
using httplib::Response;
using std::chrono::milliseconds;

// Each event stream holds a worker thread for its life, and each browser
// connection one while it is kept alive; the threads beyond the streams'
// share answer requests, so streams can never starve the commands.
constexpr std::size_t kMaxStreams = 64;
constexpr std::size_t kRequestThreads = 256;
constexpr auto kPingEvery = std::chrono::seconds(15);
// How often a stream looks for new events, a gone browser and the end.
constexpr milliseconds kStreamTick{1000};

const char* const kPagePolicy =
    "default-src 'self'; frame-src 'self'; img-src 'self' data:; style-src 'self'; "
    "script-src 'self'; connect-src 'self'";
const char* const kMessagePolicy =
    "sandbox; default-src 'none'; style-src 'unsafe-inline'; img-src data:";
const char* const kHelpPolicy = "default-src 'none'; style-src 'unsafe-inline'; img-src data:";

void Refuse(Response& res, int status, const std::string& why) {
  res.status = status;
  res.set_content(why + "\n", "text/plain; charset=utf-8");
}

void SendJson(Response& res, const nlohmann::json& j) {
  res.set_header("Cache-Control", "no-store");
  res.set_content(j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                  "application/json");
}

std::string ContentType(std::string_view name) {
  static const std::pair<std::string_view, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".json", "application/json"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
      {".woff2", "font/woff2"},
      {".txt", "text/plain; charset=utf-8"},
  };
  for (const auto& [ext, type] : kTypes)
    if (name.size() >= ext.size() && name.substr(name.size() - ext.size()) == ext) return type;
  return "application/octet-stream";
}

// An embedded asset by its exact name; nothing from a request is ever
// looked up on the file system.
const EmbeddedFile* Asset(std::string_view name) {
  if (name.empty()) return nullptr;
  for (const EmbeddedFile& f : varnox_web_assets_files())
    if (f.path == name) return &f;
  return nullptr;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  out.clear();
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buf, static_cast<std::size_t>(n));
  }
}

// A whole number of a request's JSON that fits an int.
bool IntValue(const nlohmann::json& v, int& out) {
  if (!v.is_number_integer()) return false;
  if (v.is_number_unsigned()) {
    if (v.get<std::uint64_t>() > static_cast<std::uint64_t>(INT_MAX)) return false;
  } else if (v.get<std::int64_t>() < INT_MIN || v.get<std::int64_t>() > INT_MAX) {
    return false;
  }
  out = v.get<int>();
  return true;
}

bool IntField(const nlohmann::json& body, const char* name, int& out) {
  const auto it = body.find(name);
  return it != body.end() && IntValue(*it, out);
}

int SocketPort(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
  if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
  return -1;
}

// The socket a request came in on, found by its two ports, or -1. The
// server library hands handlers no socket, yet an event stream must notice
// a browser that has gone without waiting for a write to fail.
int ConnectionSocket(const Request& req) {
  DirPtr dir(::opendir("/proc/self/fd"));
  if (!dir) return -1;
  while (const dirent* e = ::readdir(dir.get())) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    const int fd = std::atoi(e->d_name);
    sockaddr_storage local{}, peer{};
    socklen_t localSize = sizeof local, peerSize = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0)
      continue;
    if (SocketPort(local) == req.local_port && SocketPort(peer) == req.remote_port) return fd;
  }
  return -1;
}

bool PeerGone(int fd) {
  if (fd < 0) return false;
  pollfd p{fd, POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// "/x?token=T" → "/x": the address bar no longer shows the token. Only the
// path is kept, and never as "//host", which a browser would leave for.
std::string WithoutToken(const std::string& target) {
  std::string path = target.substr(0, target.find('?'));
  if (path.empty() || path[0] != '/') return "/";
  const std::size_t first = path.find_first_not_of('/');
  return first == std::string::npos ? "/" : "/" + path.substr(first);
}

// The token of the address's query, "/?token=T"; taken from the request
// line itself, as the server library would also read a form body's fields
// as parameters.
bool QueryToken(const std::string& target, std::string& token) {
  const std::size_t q = target.find('?');
  if (q == std::string::npos) return false;
  std::string_view rest = std::string_view(target).substr(q + 1);
  while (!rest.empty()) {
    const std::size_t amp = rest.find('&');
    const std::string_view field = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    if (field.rfind("token=", 0) == 0) {
      token = field.substr(6);
      return true;
    }
  }
  return false;
}

std::string HostPort(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

struct WebServer::Impl {
  Impl(WindowModel& m, UiThread& u, DialogProcedures& p, ServerOptions o)
      : model(m), ui(u), procedures(p), options(std::move(o)) {}

  void Handle(const Request& req, Response& res);
  void Get(const Request& req, Response& res);
  void Command(const nlohmann::json& body, Response& res);
  void Select(const nlohmann::json& body, Response& res);
  void Events(const Request& req, Response& res);
  void ServeFile(const std::function<std::string()>& file, const char* policy, Response& res);
  // Runs work for dialog on the user-interface thread once the dialog may
  // take input; work answers 0 or a refusal's status and sets why.
  void RunGated(const std::string& dialog, std::function<int(std::string& why)> work,
                Response& res);
  void Watch();

  WindowModel& model;
  UiThread& ui;
  DialogProcedures& procedures;
  ServerOptions options;
  std::string token = NewSessionToken();
  std::unique_ptr<Session> session;
  std::shared_ptr<EventHub> hub = std::make_shared<EventHub>(kMaxStreams);
  httplib::Server svr;
  int port = 0;
  std::thread listener;
  std::atomic<bool> listenEnded{false};
  bool started = false;
  bool stopped = false;

  std::mutex watchMutex;  // guards: watchStop
  std::condition_variable watchWake;
  bool watchStop = false;
  std::thread watcher;
};

void WebServer::Impl::Handle(const Request& req, Response& res) {
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Referrer-Policy", "no-referrer");
  if (!session->HostAccepted(req.get_header_value("Host")))
    return Refuse(res, 403, "Forbidden: this Host is not served here");
  const bool read = req.method == "GET" || req.method == "HEAD";
  if (!read && !session->OriginAccepted(req))
    return Refuse(res, 403, "Forbidden: cross-site request");
  if (std::string given; QueryToken(req.target, given)) {
    if (!SameSecret(given, token)) return Refuse(res, 401, "Unauthorized: wrong token");
    res.set_header("Set-Cookie", session->SetCookieValue());
    res.set_redirect(WithoutToken(req.target), 303);
    return;
  }
  if (!session->Authorized(req))
    return Refuse(res, 401, "Unauthorized: the session token is missing");

  const bool command = req.path == "/api/command" || req.path == "/api/select";
  if (command && req.method == "POST") {
    const nlohmann::json body = nlohmann::json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object())
      return Refuse(res, 400, "Bad request: the body is not a JSON object");
    return req.path == "/api/command" ? Command(body, res) : Select(body, res);
  }
  if (command) {
    res.set_header("Allow", "POST");
    return Refuse(res, 405, "Method not allowed: commands are POST only");
  }
  if (read) return Get(req, res);
  static const char* const kGetPaths[] = {"/", "/api/window", "/api/events", "/page", "/help"};
  for (const char* p : kGetPaths) {
    if (req.path == p) {
      res.set_header("Allow", "GET");
      return Refuse(res, 405, "Method not allowed");
    }
  }
  Refuse(res, 404, "Not found");
}

void WebServer::Impl::Get(const Request& req, Response& res) {
  const std::string& path = req.path;
  if (path == "/api/window") return SendJson(res, model.ToJson());
  if (path == "/api/events") return Events(req, res);
  if (path == "/page") return ServeFile(options.pageFile, kMessagePolicy, res);
  if (path == "/help") return ServeFile(options.helpFile, kHelpPolicy, res);
  constexpr std::string_view kAssets = "/assets/";
  const EmbeddedFile* file = nullptr;
  if (path == "/") {
    file = Asset("index.html");
    res.set_header("Content-Security-Policy", kPagePolicy);
    res.set_header("X-Frame-Options", "DENY");
  } else if (path.rfind(kAssets, 0) == 0) {
    file = Asset(std::string_view(path).substr(kAssets.size()));
  }
  if (!file) return Refuse(res, 404, "Not found");
  res.set_header("Cache-Control", "no-store");
  res.set_content(file->data.data(), file->data.size(), ContentType(file->path));
}

void WebServer::Impl::ServeFile(const std::function<std::string()>& file, const char* policy,
                                Response& res) {
  const std::string path = file ? file() : std::string();
  std::string text;
  if (path.empty() || !ReadWholeFile(path, text)) return Refuse(res, 404, "Not found");
  res.set_header("Content-Security-Policy", policy);
  res.set_header("Cache-Control", "no-store");
  res.set_content(text, "text/html; charset=utf-8");
}

void WebServer::Impl::RunGated(const std::string& dialog, std::function<int(std::string& why)> work,
                               Response& res) {
  const auto gate = [this, dialog](std::string& why) {
    if (!model.IsOpen(dialog)) {
      why = "Not found: dialog " + dialog + " is not open";
      return 404;
    }
    const std::string modal = model.Modal();
    if (model.MessageBox() || (!modal.empty() && modal != dialog)) {
      why = "Conflict: a modal dialog or message box is open";
      return 409;
    }
    return 0;
  };
  // A procedure waiting for its box holds the user-interface thread: refuse
  // here rather than queue behind it.
  std::string why;
  if (int status = gate(why); status == 409) return Refuse(res, status, why);
  struct Outcome {
    int status = 0;
    std::string why;
  };
  auto outcome = std::make_shared<Outcome>();
  // The task outlives this request when the procedure shows a message box,
  // so it holds only its own copies; the outcome is set before the
  // procedure runs.
  const bool ran = ui.Run([gate, work = std::move(work), outcome] {
    std::string reason;
    int status = gate(reason);
    if (status == 0) status = work(reason);
    outcome->status = status;
    outcome->why = reason;
  });
  if (!ran) return Refuse(res, 503, "Service unavailable: the program is ending");
  if (outcome->status != 0) return Refuse(res, outcome->status, outcome->why);
  SendJson(res, model.ToJson());
}

void WebServer::Impl::Command(const nlohmann::json& body, Response& res) {
  int id = 0;
  const auto dialog = body.find("dialog");
  if (dialog == body.end() || !dialog->is_string() || !IntField(body, "id", id))
    return Refuse(res, 400, "Bad request: \"dialog\" (text) and \"id\" (number) are needed");
  const std::string key = dialog->get<std::string>();
  if (key == "messagebox") {
    if (id != 1 && id != 2) return Refuse(res, 400, "Bad request: a message box takes 1 or 2");
    if (!ui.Answer(id)) return Refuse(res, 404, "Not found: no message box is open");
    return SendJson(res, model.ToJson());
  }
  const auto controls = body.find("controls");
  nlohmann::json states = controls == body.end() ? nlohmann::json::object() : *controls;
  if (!states.is_object()) return Refuse(res, 400, "Bad request: \"controls\" is no object");
  RunGated(
      key,
      [this, key, id, states = std::move(states)](std::string& why) {
        if (!model.ApplyControls(key, states)) {
          why = "Bad request: a control state has the wrong type or range";
          return 400;
        }
        procedures.Command(key, id);
        return 0;
      },
      res);
}

void WebServer::Impl::Select(const nlohmann::json& body, Response& res) {
  int control = 0;
  const auto dialog = body.find("dialog");
  if (dialog == body.end() || !dialog->is_string() || !IntField(body, "control", control))
    return Refuse(res, 400, "Bad request: \"dialog\" (text) and \"control\" (number) are needed");
  const std::string key = dialog->get<std::string>();
  const bool single = body.contains("index");
  const bool multi = body.contains("indexes");
  int index = -1;
  std::vector<int> indexes;
  if (single == multi || (single && !IntField(body, "index", index)))
    return Refuse(res, 400, "Bad request: give \"index\" or \"indexes\"");
  if (multi) {
    const auto& list = body["indexes"];
    if (!list.is_array()) return Refuse(res, 400, "Bad request: \"indexes\" is no list");
    for (const auto& v : list) {
      int i = 0;
      if (!IntValue(v, i) || i < 0)
        return Refuse(res, 400, "Bad request: a line index is out of range");
      indexes.push_back(i);
    }
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  }
  RunGated(
      key,
      [this, key, control, single, index, indexes](std::string& why) {
        const std::optional<Dialog> d = model.Get(key);
        const Control* c = nullptr;
        if (d && d->controls.count(control) > 0) c = &d->controls.at(control);
        const int lines = c ? static_cast<int>(c->lines.size()) : 0;
        const ControlKind want = single ? ControlKind::kList : ControlKind::kMultiList;
        why = "Bad request: no such list, or a line index out of range";
        if (!c || c->kind != want) return 400;
        if (single) {
          if (index < -1 || index >= lines) return 400;
          model.SetSelected(key, control, index);
        } else {
          if (!indexes.empty() && indexes.back() >= lines) return 400;
          model.SetSelection(key, control, indexes);
        }
        procedures.SelectionChanged(key, control);
        return 0;
      },
      res);
}

void WebServer::Impl::Events(const Request& req, Response& res) {
  std::shared_ptr<EventHub::Stream> stream = hub->Subscribe();
  if (!stream) return Refuse(res, 503, "Service unavailable: too many event streams");
  struct State {
    int fd = -1;
    EventHub::Clock::time_point lastWrite;
  };
  auto state = std::make_shared<State>();
  state->fd = ConnectionSocket(req);
  res.set_header("Cache-Control", "no-store");
  res.set_chunked_content_provider(
      "text/event-stream",
      [hub = hub, stream, state](std::size_t offset, httplib::DataSink& sink) {
        bool last = false;
        // The first bytes tell the browser (and tests) that events now flow.
        std::string text = offset == 0 ? ": connected\n\n" : hub->Take(*stream, kStreamTick, last);
        const auto now = EventHub::Clock::now();
        if (text.empty() && now - state->lastWrite >= kPingEvery) text = ": ping\n\n";
        if (!text.empty()) {
          if (!sink.write(text.data(), text.size())) return false;
          state->lastWrite = now;
        }
        if (last) {
          sink.done();
          return true;
        }
        return !PeerGone(state->fd);
      },
      [hub = hub, stream](bool) { hub->Unsubscribe(stream); });
}

void WebServer::Impl::Watch() {
  using Clock = EventHub::Clock;
  const milliseconds tick =
      std::min(milliseconds(1000), std::max(options.abandonAfter, milliseconds(1)));
  std::string modal;
  Clock::time_point modalSince, boxSince;
  bool box = false;
  std::unique_lock<std::mutex> lock(watchMutex);
  while (!watchWake.wait_for(lock, tick, [this] { return watchStop; })) {
    lock.unlock();
    const auto now = Clock::now();
    const std::string nowModal = model.Modal();
    const bool nowBox = model.MessageBox().has_value();
    if (nowModal != modal) modalSince = now;
    if (nowBox && !box) boxSince = now;
    modal = nowModal;
    box = nowBox;
    // Idle since the later of the opening and the last stream's end.
    const auto idle = [&](Clock::time_point since) {
      return hub->Streams() == 0 &&
             now - std::max(since, hub->LastDisconnect()) >= options.abandonAfter;
    };
    if (box && idle(boxSince)) {
      ui.Answer(2);
    } else if (!box && !modal.empty() && idle(modalSince)) {
      ui.Run([this, modal] {
        if (model.Modal() == modal) procedures.Abandoned(modal);
      });
      modalSince = Clock::now();  // a dialog that stays open is not cancelled every tick
    }
    lock.lock();
  }
}

WebServer::WebServer(WindowModel& model, UiThread& ui, DialogProcedures& procedures,
                     ServerOptions options)
    : impl_(std::make_unique<Impl>(model, ui, procedures, std::move(options))) {}

WebServer::~WebServer() {
  Stop();
}

bool WebServer::Start(std::string& error) {
  Impl& s = *impl_;
  if (s.started) return true;
  if (s.token.empty()) {
    error = "no random numbers for the session token";
    return false;
  }
  // The library owns and deletes the queue it is handed.
  s.svr.new_task_queue = [] { return new TaskPool(kMaxStreams + kRequestThreads); };
  s.svr.set_keep_alive_timeout(1);      // a quick Stop
  s.svr.set_keep_alive_max_count(100);  // a page's requests share few connections
  // Headers and body go out in two writes: without this, Nagle's wait for
  // the browser's delayed ACK adds 40 ms to every answer.
  s.svr.set_tcp_nodelay(true);
  // Commands carry a dialog's field texts; nothing near this size. The body
  // is read before the token is checked, so the bound holds for strangers.
  s.svr.set_payload_max_length(1 << 20);
  // Only SO_REUSEADDR: with the library's SO_REUSEPORT a second program
  // could bind the same port and share its connections.
  int listenFd = -1;  // the last socket tried is the one that binds
  s.svr.set_socket_options([&listenFd](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    listenFd = sock;
  });
  const auto handle = [&s](const Request& req, Response& res) { s.Handle(req, res); };
  const std::string any = "[\\s\\S]*";
  s.svr.Get(any, handle).Post(any, handle).Put(any, handle).Patch(any, handle);
  s.svr.Delete(any, handle).Options(any, handle);
  s.svr.set_exception_handler([](const Request&, Response& res, std::exception_ptr) {
    Refuse(res, 500, "Internal error");
  });
  errno = 0;
  s.port = s.options.port == 0
               ? s.svr.bind_to_any_port(s.options.host)
               : (s.svr.bind_to_port(s.options.host, s.options.port) ? s.options.port : -1);
  if (s.port <= 0) {
    const int e = errno;
    error = "cannot listen on " + HostPort(s.options.host, s.options.port) +
            (e != 0 ? std::string(": ") + std::strerror(e) : std::string());
    return false;
  }
  // The library listens with a backlog of 5: a burst of browsers and
  // scripts connecting at once would lose SYNs and wait a second each.
  ::listen(listenFd, SOMAXCONN);
  s.session = std::make_unique<Session>(s.token, s.options.host, s.port);
  s.model.SetListener([hub = s.hub](const ModelEvent& e) { hub->Publish(e); });
  s.listener = std::thread([&s] {
    s.svr.listen_after_bind();
    s.listenEnded = true;
  });
  // A stop() before the listener runs would be lost.
  while (!s.svr.is_running() && !s.listenEnded) std::this_thread::sleep_for(milliseconds(1));
  s.started = true;
  if (!s.svr.is_running()) {
    Stop();
    error = "cannot serve on " + HostPort(s.options.host, s.port);
    return false;
  }
  s.watcher = std::thread([&s] { s.Watch(); });
  return true;
}

std::string WebServer::Address() const {
  return "http://" + HostPort(impl_->options.host, impl_->port) + "/?token=" + impl_->token;
}

int WebServer::Port() const {
  return impl_->port;
}

const std::string& WebServer::Token() const {
  return impl_->token;
}

void WebServer::Stop() {
  Impl& s = *impl_;
  if (!s.started || s.stopped) return;
  s.stopped = true;
  s.model.Bye();
  s.hub->WaitForStreamsGone(milliseconds(1000));
  s.model.SetListener({});
  {
    std::lock_guard<std::mutex> lock(s.watchMutex);
    s.watchStop = true;
  }
  s.watchWake.notify_all();
  if (s.watcher.joinable()) s.watcher.join();
  s.svr.stop();
  if (s.listener.joinable()) s.listener.join();
}

}  // namespace varnox
