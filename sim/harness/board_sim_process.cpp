#include "sim/harness/board_sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Appends what the pipe has; false at its end or when the deadline passes first.
bool ReadSome(int fd, std::string& into, Clock::time_point deadline) {
  if (fd < 0) return false;
  pollfd p{fd, POLLIN, 0};
  const int r = poll(&p, 1, MillisLeft(deadline));
  if (r < 0 && errno == EINTR) return true;
  if (r <= 0) return false;
  char buffer[1024];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n <= 0) return false;
  into.append(buffer, static_cast<std::size_t>(n));
  return true;
}

void CloseBoth(int (&fds)[2]) {
  close(fds[0]);
  close(fds[1]);
}

}  // namespace

BoardSimProcess::BoardSimProcess(const std::string& path, const std::vector<std::string>& args,
                                 BoardSimOptions options)
    : options_(options) {
  int out[2];
  int err[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) {
    startError_ = "pipe failed";
    return;
  }
  if (options_.captureErrors && pipe2(err, O_CLOEXEC) != 0) {
    CloseBoth(out);
    startError_ = "pipe failed";
    return;
  }
  std::vector<std::string> all{path};
  if (options_.freePort) all.insert(all.end(), {"--port", "0"});
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (options_.captureErrors) posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  const int rc = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  out_ = out[0];
  if (options_.captureErrors) {
    close(err[1]);
    err_ = err[0];
  }
  if (rc != 0) {
    pid_ = -1;
    startError_ = "cannot start " + path + ": " + std::strerror(rc);
  }
}

BoardSimProcess::~BoardSimProcess() {
  if (pid_ > 0 && !status_) {
    kill(pid_, options_.stopSignal);
    if (options_.stopSignal != SIGKILL && !WaitExit() && !status_) kill(pid_, SIGKILL);
    int status = 0;
    while (!status_ && waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

int BoardSimProcess::Port() {
  if (!port_) {
    const std::string prefix = "board-sim listening on 127.0.0.1:";
    const auto line = ReadLine();
    listeningLine_ = line.value_or("(nothing)");
    port_ = line && line->rfind(prefix, 0) == 0 ? std::stoi(line->substr(prefix.size())) : -1;
  }
  return *port_;
}

std::optional<std::string> BoardSimProcess::ReadLine(std::chrono::milliseconds patience) {
  const auto deadline = Clock::now() + patience;
  for (;;) {
    if (auto end = outText_.find('\n'); end != std::string::npos) {
      std::string line = outText_.substr(0, end);
      outText_.erase(0, end + 1);
      return line;
    }
    if (!ReadSome(out_, outText_, deadline)) return std::nullopt;
  }
}

void BoardSimProcess::Signal(int sig) const {
  if (pid_ > 0 && !status_) kill(pid_, sig);
}

std::optional<int> BoardSimProcess::WaitExit(std::chrono::milliseconds patience) {
  if (pid_ <= 0) return std::nullopt;
  const auto deadline = Clock::now() + patience;
  while (!status_) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = status;
    } else if (r < 0 && errno != EINTR) {
      return std::nullopt;
    } else if (Clock::now() >= deadline) {
      return std::nullopt;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (!WIFEXITED(*status_)) return std::nullopt;
  return WEXITSTATUS(*status_);
}

std::string BoardSimProcess::Errors() {
  std::string text;
  const auto deadline = Clock::now() + options_.patience;
  while (ReadSome(err_, text, deadline)) {
  }
  return text;
}

std::string BoardSimProcess::RestOfOutput() {
  const auto deadline = Clock::now() + options_.patience;
  while (ReadSome(out_, outText_, deadline)) {
  }
  return std::exchange(outText_, {});
}
