#pragma once
// A registrar for timing a first request under a flood: one thread on epoll,
// on a processor of its own, that stamps the moment the first "POST /reg" is
// read and answers every request at once. A registrar woken on the flooding
// sender's processor would wait for the sender's time slice to end, and put
// its stamp milliseconds after the request went on the wire; a real one is
// on another machine. The sender is kept off that processor by
// keepOffRegistrarProcessor().
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unordered_map>

#include <QtGlobal>

class FirstArrivalServer {
 public:
  FirstArrivalServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listen_, 512) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    port_ = ntohs(addr.sin_port);
    epoll_ = ::epoll_create1(0);
    add(listen_);
    thread_ = std::thread([this] { run(); });
  }
  ~FirstArrivalServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (auto& [fd, pending] : pending_) ::close(fd);
    ::close(epoll_);
    ::close(listen_);
  }
  quint16 port() const { return port_; }
  // CLOCK_MONOTONIC ns of the first registration read since the last reset; 0: none.
  qint64 firstNs() const { return first_; }
  void reset() { first_ = 0; }

 private:
  void add(int fd) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
  }
  static qint64 nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
  }
  // Answers each complete request in what a connection has sent so far.
  static void answer(int fd, std::string& in) {
    static const char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nOK";
    static const size_t kHeadOnly = sizeof kOk - 1 - 2;  // a HEAD gets no body
    for (;;) {
      const size_t head = in.find("\r\n\r\n");
      if (head == std::string::npos) return;
      size_t body = 0;
      const size_t cl = in.find("Content-Length:");
      if (cl != std::string::npos && cl < head)
        body = std::strtoul(in.c_str() + cl + 15, nullptr, 10);
      if (in.size() < head + 4 + body) return;
      const bool isHead = in.compare(0, 5, "HEAD ") == 0;
      in.erase(0, head + 4 + body);
      [[maybe_unused]] const ssize_t n =
          ::send(fd, kOk, isHead ? kHeadOnly : sizeof kOk - 1, MSG_NOSIGNAL);
    }
  }
  // The last processor for the registrar, the others for everyone else.
  static int registrarProcessor() {
    return std::max(1, int(std::thread::hardware_concurrency())) - 1;
  }

 public:
  // For the calling thread and the processes it starts from now on.
  static void keepOffRegistrarProcessor() {
    const int last = registrarProcessor();
    if (last == 0) return;
    cpu_set_t others;
    CPU_ZERO(&others);
    for (int c = 0; c < last; ++c) CPU_SET(c, &others);
    sched_setaffinity(0, sizeof others, &others);
  }

 private:
  void run() {
    if (const int last = registrarProcessor(); last > 0) {
      cpu_set_t own;
      CPU_ZERO(&own);
      CPU_SET(last, &own);
      sched_setaffinity(0, sizeof own, &own);
    }
    epoll_event events[64];
    while (!stop_) {
      const int n = ::epoll_wait(epoll_, events, 64, 50);
      for (int i = 0; i < n; ++i) {
        const int fd = events[i].data.fd;
        if (fd == listen_) {
          for (int c; (c = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
            pending_[c];
            add(c);
          }
          continue;
        }
        char buf[65536];
        const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
        if (got <= 0) {
          ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
          ::close(fd);
          pending_.erase(fd);
          continue;
        }
        const qint64 at = nowNs();
        std::string& in = pending_[fd];
        in.append(buf, static_cast<size_t>(got));
        if (first_ == 0 && in.find("POST /reg") != std::string::npos) first_ = at;
        answer(fd, in);
      }
    }
  }

  int listen_ = -1;
  int epoll_ = -1;
  quint16 port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<qint64> first_{0};
  std::unordered_map<int, std::string> pending_;
  std::thread thread_;
};
