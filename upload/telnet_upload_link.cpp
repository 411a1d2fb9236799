// The transfer's view of the real Telnet component: every call passes straight through.
#include "telnet/telnetclient.h"
#include "upload/transfer.h"

bool TelnetUploadLink::IsConnected() { return telnet_.IsConnected(); }
void TelnetUploadLink::OpenConnection(int timeoutMs) { telnet_.OpenConnection(timeoutMs); }
void TelnetUploadLink::WriteText(const Bytes& text) { telnet_.WriteText(text); }
void TelnetUploadLink::SendChar(char c) { telnet_.SendChar(c); }
void TelnetUploadLink::CloseConnection() { telnet_.CloseConnection(); }
