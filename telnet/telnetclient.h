#pragma once
// TTelnet: one Telnet client connection. A reader thread per open connection takes what the
// server sends, runs it through the interpreter (which answers negotiation itself) and hands
// the remaining data to the window's thread, where OnDataAvailable runs.
//
// Threads: construction, OpenConnection, CloseConnection, SendChar, WriteText, IsConnected
// and OnDataAvailable belong to the window's (main) thread; the read, the interpreter with
// its reply writes and OnTelnetCommand run on the reader thread.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/bytes.h"
#include "platform/tcp/tcp_client.h"
#include "platform/thread/loop_thread.h"
#include "telnet/telnet_interpreter.h"

class ETelnetError : public ETcpException {
 public:
  explicit ETelnetError(const std::string& message) : ETcpException(message) {}
};
class ETelnetClientConnectError : public ETelnetError {  // "server not responding"
 public:
  explicit ETelnetClientConnectError(const std::string& message) : ETelnetError(message) {}
};
class ETelnetServerOnDataAvailableIsNil : public ETelnetError {  // "OnDataAvailable event is nil."
 public:
  explicit ETelnetServerOnDataAvailableIsNil(const std::string& message) : ETelnetError(message) {}
};

class TTelnet;
using TTelnetDataAvailEvent = std::function<void(TTelnet& Sender, const Bytes& Buffer)>;
using TTelnetCommandEvent = std::function<void(TTelnet& Sender, TTelnetCommand Status)>;
using TNotifyEvent = std::function<void(TTelnet& Sender)>;

class TTelnetReadThread;

class TTelnet : public TTcpClient, private TelnetInterpreterHost {
 public:
  TTelnet();   // Port 23, Terminal "dumb", PeerIsTelnet false, no reader thread
  // Stop request, socket closed (neither OnDisconnect nor OnDisconnected fires), then a wait
  // for the reader that runs queued calls; its own last deliveries are dropped without calling
  // OnDataAvailable, and OnTelnetCommand is no longer called. Destroy on the window's thread.
  ~TTelnet() override;

  // Connects and starts the reader thread. timeoutMs as TTcpClient::Connect.
  void OpenConnection(int timeoutMs);
  // Stop request, PeerIsTelnet cleared, TCP disconnect, OnDisconnect, wait for the reader
  // (running its deliveries meanwhile), release it. Valid in every state. Never call it from
  // an OnDataAvailable or OnTelnetCommand handler: it would wait for itself.
  void CloseConnection();
  // One byte; a carriage return goes out as CR LF until the server has sent an IAC.
  void SendChar(char c);
  // Runs on the window's thread through the reader thread's synchronous call.
  void DeliverData();
  // One block through the interpreter (the reader thread's run step calls it).
  Bytes ProcessTelnetStream(const Bytes& raw);

  Bytes Terminal() const;
  void SetTerminal(const Bytes& terminal);
  bool PeerIsTelnet() const { return peerIsTelnet_.load(); }
  TTelnetParseState ParseState() const { return interpreter_.ParseState(); }
  bool HasReadThread() const { return readThread_ != nullptr; }
  // True when a reader thread is held and has ended (a dropped connection, or an error that
  // ended its loop); it is released by CloseConnection, the next OpenConnection or destruction.
  bool ReadThreadEnded() const;

  // Events. OnDataAvailable, OnConnect and OnDisconnect are set and called on the window's
  // thread; OnTelnetCommand is called on the reader thread, so its setter takes a lock.
  TTelnetDataAvailEvent OnDataAvailable;
  TNotifyEvent OnConnect;
  TNotifyEvent OnDisconnect;
  void SetOnTelnetCommand(TTelnetCommandEvent handler);

 private:
  friend class TTelnetReadThread;
  // TelnetInterpreterHost
  void WriteReply(const Bytes& reply) override { WriteText(reply); }
  void FireTelnetCommand(TTelnetCommand status) override;
  void SetPeerIsTelnet() override { peerIsTelnet_.store(true); }
  Bytes TerminalForReply() override;

  // Stops, waits for (running its deliveries) and releases the reader thread held, if any.
  void ReleaseEndedReader();

  TTelnetInterpreter interpreter_;      // touched by the reader thread only
  mutable std::mutex valuesMutex_;      // guards terminal_ and onTelnetCommand_
  Bytes terminal_ = "dumb";
  TTelnetCommandEvent onTelnetCommand_;
  std::atomic<bool> peerIsTelnet_{false};
  std::unique_ptr<TTelnetReadThread> readThread_;  // the window's thread only
  bool destroying_ = false;                        // the window's thread only
};
