// The printer on a serial line: a PrinterBackend that frames each command (printer/link_frame.h),
// writes it to the port's device and waits for the printer's reply, resending the same frame
// when no valid reply comes. docs/printer-link.md describes the link and its configuration.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "printer/printer.h"

namespace plat {

struct SerialConfig {
  // Port number -> device. A port without an entry is /dev/ttyS(n-1).
  std::map<int, std::string> Ports;
  int Baud = 9600;
  int TimeoutMs = 2000;  // for a reply; DC2 / DC4 from the printer restart it
  int Retries = 3;       // resends of the same frame before the link gives up
  // The sequence number of the first command; -1 picks one at random, so that a restarted host
  // is unlikely to repeat the last number the printer executed.
  int FirstSequence = -1;
};

// Whether a serial line can run at this baud rate (1200 to 115200).
bool SupportedBaud(int baud);
// Puts an open serial line or pseudo-terminal in raw mode: 8 data bits, no parity, 1 stop bit,
// no flow control, at baud (0 keeps the line's rate). Answers false, errno set, on failure.
bool MakeRawSerialLine(int fd, int baud);

// The device for a port number under the configuration.
std::string SerialDeviceForPort(const SerialConfig& config, int portNumber);

// The configuration from FISCAL_PRINTER_PORTS ("1=/dev/ttyUSB0,2=/dev/ttyS1"),
// FISCAL_PRINTER_BAUD and FISCAL_PRINTER_TIMEOUT_MS. Raises ELinkError for a value that does
// not read.
SerialConfig SerialConfigFromEnvironment();

class SerialBackend : public PrinterBackend {
 public:
  explicit SerialBackend(SerialConfig config);
  ~SerialBackend() override;
  SerialBackend(const SerialBackend&) = delete;
  SerialBackend& operator=(const SerialBackend&) = delete;

  // Sends the method's arguments as fields and answers what the printer replied. The
  // arguments are not written: only the reply's status words and fields come back. A
  // non-fiscal text goes out one printed line per frame (it is cut at each line break), as a
  // line break may not travel inside a field. Raises ELinkError when the printer cannot be
  // reached; a refusal is an answer with Result 0.
  PrinterAnswer Execute(int portNumber, const char* method,
                        const std::vector<WideString*>& args) override;

  const SerialConfig& Config() const { return config_; }

  struct Stats {
    int Frames = 0;        // new commands framed and sent
    int Resends = 0;       // the same frame sent again
    int NaksSent = 0;      // damaged replies answered with NAK
    int NaksReceived = 0;  // frames the printer answered with NAK
    int KeepAlives = 0;    // DC2 / DC4 received
    int StaleReplies = 0;  // replies to an earlier command, skipped
    long BytesSent = 0;    // everything written to the line and read from it
    long BytesReceived = 0;
  };
  Stats GetStats() const;

  // One command as framed for the first time: method and fields (Windows-1252).
  struct Sent {
    std::string Method;
    std::vector<AnsiString> Fields;
  };
  // Keeps every command sent from now on (for checks that each ran exactly once).
  void RecordSent(bool on);
  std::vector<Sent> SentCommands() const;

 private:
  PrinterAnswer Transact(const std::string& device, const std::string& method,
                         const std::vector<AnsiString>& fields);
  void Open(const std::string& device);
  void Close();

  SerialConfig config_;
  mutable std::mutex mu_;
  int fd_ = -1;
  std::string device_;
  uint8_t seq_;
  Stats stats_;
  bool record_ = false;
  std::vector<Sent> sent_;
};

// Every control sends its commands over the serial line from its next command on.
void ConfigureSerialPrinter(SerialConfig config);
// The same with the configuration from the environment.
void UseSerialPrinterFromEnvironment();

// The backend that FISCAL_PRINTER selects when a host set none: nullptr for "emulator" or
// unset, a serial backend (kept while the environment stays the same) for "serial". Raises
// ELinkError for another value.
std::shared_ptr<PrinterBackend> EnvironmentPrinterBackend();

}  // namespace plat
