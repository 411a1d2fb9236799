#pragma once
// The board-sim program as a child process, for the end-to-end tests and upload-bench.
//
// Its standard output (and, when asked, its standard error) comes back through pipes; every
// read waits at most a given time. The process is always stopped and waited for when the
// object goes, whatever its user did.
#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

struct BoardSimOptions {
  // "--port 0" goes before the other arguments: the system picks a free port, which Port()
  // reads from the program's first line.
  bool freePort = true;
  // Keeps its standard error in a pipe for Errors(); otherwise it shares this process's.
  bool captureErrors = false;
  // How long a read or a wait lasts at most when not given.
  std::chrono::milliseconds patience{10000};
  // Sent when the object goes while the program still runs; any signal other than SIGKILL
  // is given `patience` to end it, then SIGKILL follows.
  int stopSignal = SIGKILL;
};

class BoardSimProcess {
 public:
  BoardSimProcess(const std::string& path, const std::vector<std::string>& args, BoardSimOptions options = {});
  ~BoardSimProcess();
  BoardSimProcess(const BoardSimProcess&) = delete;
  BoardSimProcess& operator=(const BoardSimProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Why it did not start ("" when it did).
  const std::string& StartError() const { return startError_; }

  // PORT of the first line, "board-sim listening on 127.0.0.1:PORT", read on the first call;
  // -1 when that line did not come (ListeningLine() then tells what came instead).
  int Port();
  // The first line as read by Port(), "(nothing)" when no line came.
  const std::string& ListeningLine() const { return listeningLine_; }

  // The next line of its standard output, without the line feed; none if no line came in time
  // or the output ended.
  std::optional<std::string> ReadLine() { return ReadLine(options_.patience); }
  std::optional<std::string> ReadLine(std::chrono::milliseconds patience);

  void Signal(int sig) const;

  // The exit code once the program has ended by itself; none while it still runs (or when a
  // signal ended it).
  std::optional<int> WaitExit() { return WaitExit(options_.patience); }
  std::optional<int> WaitExit(std::chrono::milliseconds patience);

  // Everything it wrote to its standard error, read once it has ended ("" unless captured).
  std::string Errors();
  // Everything left on its standard output, read once it has ended.
  std::string RestOfOutput();

 private:
  BoardSimOptions options_;
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string outText_;
  std::string startError_;
  std::optional<int> port_;
  std::string listeningLine_;
  std::optional<int> status_;  // waitpid's status once it has been waited for
};
