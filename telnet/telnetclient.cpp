// The Telnet client component and its reader thread.
//
// Who touches what:
// - the window's (main) thread: OpenConnection, CloseConnection, SendChar, WriteText,
//   IsConnected, DeliverData and the handlers OnConnect, OnDisconnect, OnDataAvailable;
//   readThread_ and destroying_ belong to it alone.
// - the reader thread: the read, the interpreter (ParseState) with its reply writes and
//   OnTelnetCommand, the disconnection check.
// - shared: PeerIsTelnet (atomic), Terminal and the OnTelnetCommand handler (valuesMutex_),
//   the connection (the TCP client serialises whole writes and keeps the socket alive under a
//   waiting read), DataBlock (written by the reader before its synchronous call, read by the
//   main thread inside it: the call's hand-over orders the two).
#include "telnet/telnetclient.h"

namespace {
const char* const kServerNotResponding = "server not responding";
const char* const kOnDataAvailableIsNil = "OnDataAvailable event is nil.";
}  // namespace

// One per open connection: read, interpret, hand the data to the window's thread, check.
class TTelnetReadThread final : public TLoopThread {
 public:
  explicit TTelnetReadThread(TTelnet& client) : TelnetClient(client) { Start(); }
  ~TTelnetReadThread() override {
    Terminate();
    WaitFor();
  }

  TTelnet& TelnetClient;  // not owned; outlives the thread
  Bytes DataBlock;         // the data of the block read last, as the interpreter returned it

 private:
  void RunStep() override {
    const Bytes raw = TelnetClient.ReadAvailable();
    DataBlock = TelnetClient.ProcessTelnetStream(raw);
    Synchronize([this] { TelnetClient.DeliverData(); });
    TelnetClient.CheckForDisconnect();
  }
};

TTelnet::TTelnet() { SetPort(23); }

TTelnet::~TTelnet() {
  // No handler of the application runs from here on: the window that holds this component is
  // being torn down. A delivery still asked for is dropped, and the reader then ends.
  destroying_ = true;
  {
    std::lock_guard<std::mutex> lock(valuesMutex_);
    onTelnetCommand_ = nullptr;
  }
  if (readThread_) readThread_->Terminate();
  CloseSocketQuietly();  // wakes a waiting read; neither OnDisconnect nor OnDisconnected
  if (readThread_) {
    readThread_->WaitFor();
    readThread_.reset();
  }
}

void TTelnet::OpenConnection(int timeoutMs) {
  if (IsConnected()) throw ETcpAlreadyConnected("Already connected.");
  // The reader of a connection that the server dropped is done (or about to be, once its
  // last delivery has run): let it finish before a new connection can be seen by it.
  ReleaseEndedReader();
  Connect(timeoutMs);
  try {
    if (OnConnect) OnConnect(*this);
    readThread_ = std::make_unique<TTelnetReadThread>(*this);
  } catch (const ETcpSocketError&) {
    throw ETelnetClientConnectError(kServerNotResponding);
  }
}

void TTelnet::CloseConnection() {
  if (readThread_) readThread_->Terminate();
  peerIsTelnet_.store(false);
  Disconnect();
  if (OnDisconnect) OnDisconnect(*this);
  ReleaseEndedReader();
}

void TTelnet::ReleaseEndedReader() {
  if (!readThread_) return;
  readThread_->Terminate();
  readThread_->WaitFor();  // runs the deliveries it asks for meanwhile
  readThread_.reset();
}

bool TTelnet::ReadThreadEnded() const { return readThread_ && readThread_->Finished(); }

void TTelnet::SendChar(char c) {
  if (c == '\r' && !peerIsTelnet_.load()) {
    WriteText("\r\n");
  } else {
    WriteText(Bytes(1, c));
  }
}

void TTelnet::DeliverData() {
  if (destroying_) return;
  if (!OnDataAvailable) throw ETelnetServerOnDataAvailableIsNil(kOnDataAvailableIsNil);
  static const Bytes kNone;
  OnDataAvailable(*this, readThread_ ? readThread_->DataBlock : kNone);
}

Bytes TTelnet::ProcessTelnetStream(const Bytes& raw) {
  return interpreter_.ProcessTelnetStream(raw, *this);
}

Bytes TTelnet::Terminal() const {
  std::lock_guard<std::mutex> lock(valuesMutex_);
  return terminal_;
}

void TTelnet::SetTerminal(const Bytes& terminal) {
  std::lock_guard<std::mutex> lock(valuesMutex_);
  terminal_ = terminal;
}

void TTelnet::SetOnTelnetCommand(TTelnetCommandEvent handler) {
  std::lock_guard<std::mutex> lock(valuesMutex_);
  onTelnetCommand_ = std::move(handler);
}

void TTelnet::FireTelnetCommand(TTelnetCommand status) {
  TTelnetCommandEvent handler;
  {
    std::lock_guard<std::mutex> lock(valuesMutex_);
    handler = onTelnetCommand_;
  }
  // Called outside the lock, so the handler may read Terminal or replace itself.
  if (handler) handler(*this, status);
}

Bytes TTelnet::TerminalForReply() {
  std::lock_guard<std::mutex> lock(valuesMutex_);
  if (terminal_.empty()) terminal_ = "dumb";
  return terminal_;
}
