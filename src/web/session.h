// Who may talk to the window: the session token and the addresses a
// browser may name in Host and Origin. Kept apart from the server so the
// checks read as one list.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include <httplib.h>

namespace varnox {

// 32 lower-case hex digits from 128 random bits; empty when the system's
// random source fails.
std::string NewSessionToken();

// Equal strings, in a time that does not tell how much of them matched.
bool SameSecret(std::string_view a, std::string_view b);

class Session {
 public:
  // host and port as the server listens on them.
  Session(std::string token, const std::string& host, int port);

  const std::string& Token() const { return token_; }
  // The cookie that carries the token after the first visit.
  std::string SetCookieValue() const;

  // The Host header names this server: the listening address, localhost or
  // 127.0.0.1 with the port; with a non-loopback address also any IP
  // literal or this machine's name with the port.
  bool HostAccepted(std::string_view host) const;
  // An Origin header is absent or one of the accepted http://HOST:PORT.
  bool OriginAccepted(const httplib::Request& req) const;
  // The request carries the token in the session cookie or as a bearer.
  bool Authorized(const httplib::Request& req) const;

 private:
  std::string token_;
  std::string port_;
  bool loopback_ = true;
  std::set<std::string> hosts_;  // accepted Host values, lower case
};

}  // namespace varnox
