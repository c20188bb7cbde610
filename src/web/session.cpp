#include "web/session.h"

#include <arpa/inet.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace varnox {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsLoopback(const std::string& host) {
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  return host == "localhost" || host == "::1";
}

// "1.2.3.4" or "[::1]": an IP address literal as a Host names one.
bool IsIpLiteral(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    in6_addr v6{};
    return inet_pton(AF_INET6, std::string(host.substr(1, host.size() - 2)).c_str(), &v6) == 1;
  }
  in_addr v4{};
  return inet_pton(AF_INET, std::string(host).c_str(), &v4) == 1;
}

}  // namespace

std::string NewSessionToken() {
  std::array<unsigned char, 16> bytes{};
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = getrandom(bytes.data() + got, bytes.size() - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return {};
    got += static_cast<std::size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += kHex[b >> 4];
    token += kHex[b & 15];
  }
  return token;
}

bool SameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

Session::Session(std::string token, const std::string& host, int port)
    : token_(std::move(token)), port_(std::to_string(port)), loopback_(IsLoopback(host)) {
  std::set<std::string> names = {"localhost", "127.0.0.1",
                                 host.find(':') != std::string::npos ? "[" + host + "]" : host};
  if (!loopback_) {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') names.insert(name);
  }
  for (const std::string& n : names) {
    hosts_.insert(Lower(n) + ":" + port_);
    if (port == 80) hosts_.insert(Lower(n));  // browsers leave out the default port
  }
}

std::string Session::SetCookieValue() const {
  return "varnox_session=" + token_ + "; HttpOnly; SameSite=Strict; Path=/";
}

bool Session::HostAccepted(std::string_view host) const {
  const std::string h = Lower(Trim(host));
  if (hosts_.count(h) > 0) return true;
  if (loopback_) return false;
  const std::size_t colon = h.rfind(':');
  if (colon == std::string::npos || colon + 1 >= h.size()) return false;
  if (std::string_view(h).substr(colon + 1) != port_) return false;
  return IsIpLiteral(std::string_view(h).substr(0, colon));
}

bool Session::OriginAccepted(const httplib::Request& req) const {
  if (!req.has_header("Origin")) return true;
  const std::string origin = Lower(Trim(req.get_header_value("Origin")));
  constexpr std::string_view kScheme = "http://";
  if (origin.rfind(kScheme, 0) != 0) return false;  // "null", https, other schemes
  return HostAccepted(std::string_view(origin).substr(kScheme.size()));
}

bool Session::Authorized(const httplib::Request& req) const {
  const std::size_t bearers = req.get_header_value_count("Authorization");
  for (std::size_t i = 0; i < bearers; ++i) {
    const std::string value = req.get_header_value("Authorization", i);
    constexpr std::string_view kBearer = "bearer ";
    if (value.size() > kBearer.size() && Lower(value.substr(0, kBearer.size())) == kBearer &&
        SameSecret(Trim(std::string_view(value).substr(kBearer.size())), token_))
      return true;
  }
  const std::size_t cookies = req.get_header_value_count("Cookie");
  for (std::size_t i = 0; i < cookies; ++i) {
    const std::string all = req.get_header_value("Cookie", i);
    std::string_view rest = all;
    while (!rest.empty()) {
      const std::size_t semi = rest.find(';');
      const std::string_view pair = Trim(rest.substr(0, semi));
      rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
      const std::size_t eq = pair.find('=');
      if (eq != std::string_view::npos && Trim(pair.substr(0, eq)) == "varnox_session" &&
          SameSecret(Trim(pair.substr(eq + 1)), token_))
        return true;
    }
  }
  return false;
}

}  // namespace varnox
