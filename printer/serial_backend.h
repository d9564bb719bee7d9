// SPDX-License-Identifier: Apache-2.0
// The printer on a serial line, registered as the backend "serial": a PrinterBackend that frames
// each command (printer/link_frame.h), writes it to the port's device and waits for the
// printer's reply. A command that only reads is sent again when no valid reply comes; one that
// changes what the printer holds is never sent again blindly: after a lost reply the link asks
// the printer's non-printing queries whether it ran (printer/link_decision.h), sends it again
// only when it did not, and otherwise raises ELinkError of kind InDoubt naming what it could not
// tell. docs/printer-link.md describes the link and its configuration. A SerialBackend takes one
// command at a time, also from several controls and threads; its statistics may be read from any
// thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exceptions.h"
#include "printer/api.h"
#include "printer/backend.h"
#include "printer/link_decision.h"
#include "printer/link_frame.h"
#include "printer/variants.h"
#include "printer/wire.h"

namespace plat {

namespace link {
class LinkTime;
class SerialPort;
struct ExchangeCounters;
struct ExchangeTiming;
}  // namespace link

// The time the link measures its waits by. The steady clock unless a host or a test sets
// another; the link waits on the line for at most what the clock says is left.
class FISCAL_PRINTER_API LinkClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~LinkClock() = default;
  virtual TimePoint Now() const = 0;
};

// The bytes on the line as they pass, for diagnosing a real line: Out is what the host wrote,
// In what it read. Called on the thread that runs the command.
enum class LinkDirection { Out, In };
using LinkTrace = std::function<void(LinkDirection, std::string_view bytes)>;

// Flow control on the line. The printer's own is DTR/DSR: its ready line reaches the host's DSR,
// the host raises DTR and sends only while the printer holds DSR up. XON/XOFF is the printer's
// alternative (chosen on the printer at installation). None is the host's default, as a
// pseudo-terminal has no modem control lines.
enum class FlowControl { None, DtrDsr, RtsCts, XonXoff };

struct SerialConfig {
  // Port number -> device. A port without an entry is /dev/ttyS(n-1).
  std::map<int, std::string> Ports;
  int Baud = facts::kFactoryBaud;
  FlowControl Flow = FlowControl::None;
  // The wait for a reply: the printer's 800 ms, each DC2 / DC4 from a busy printer adding
  // 800 ms, and never less than TimeoutMs (from the frame, and after a busy byte), for slow
  // adapters.
  int TimeoutMs = 2000;
  int ReplyWaitMs = link::kReplyWaitMs;
  int BusyAddsMs = link::kBusyAddsMs;
  int Retries = 3;  // sends of a command again before the link gives up
  // Once a command got no answer in all its tries, the next commands fail at once until a
  // status query answers (a status query then goes out once, one reply timeout); this long
  // after the last unanswered one, the next command tries the printer again.
  int ProbeAfterMs = 30000;
  // The longest one command may take, from its first frame to its answer: every try, busy
  // printer (DC2 / DC4) and the link's own queries about it included. Never less than the
  // ordinary tries take (TimeoutMs times Retries + 1).
  int TotalTimeoutMs = 60000;
  // The sequence number of the first command when the printer has none to tell; -1 picks one
  // at random.
  int FirstSequence = -1;
  // Before its first command the host asks the printer for the reply it keeps (a NAK), and
  // numbers on from that reply's number, so that a restarted host never repeats the number the
  // printer executed last.
  bool AskPrinterFirst = true;
  // Before a command that changes what the printer holds, the host reads what the decision
  // over a lost reply of that command would need and the link does not know yet (as a rule only
  // before the first such command, and again after a failure). Off, such a lost reply is
  // decided only from what the link followed, and is otherwise in doubt.
  bool ReadStateFirst = true;
  // The variant of the printer family the printer is (printer/variants.h), as
  // FISCAL_PRINTER_MODEL names it; empty: the link tells it from the printer's answers to the
  // status modes P, A and C when it first reaches the printer, and again after the line comes
  // back. Either way the host's printer notices (printer/notices.h) say which and why.
  std::string Model;
  std::shared_ptr<const LinkClock> Clock;  // nullptr: the steady clock
  LinkTrace Trace;                         // empty: no trace
};

// Whether a serial line can run at this baud rate (1200 to 115200).
FISCAL_PRINTER_API bool SupportedBaud(int baud);
// Puts an open serial line or pseudo-terminal in raw mode: 8 data bits, no parity, 1 stop bit,
// at baud (0 keeps the line's rate), with the flow control (RTS/CTS and XON/XOFF in the line's
// settings; DTR/DSR is handled by the link, which raises DTR). Answers false, errno set, on
// failure.
FISCAL_PRINTER_API bool MakeRawSerialLine(int fd, int baud, FlowControl flow = FlowControl::None);

// The device for a port number under the configuration.
FISCAL_PRINTER_API std::string SerialDeviceForPort(const SerialConfig& config, int portNumber);

// The configuration from FISCAL_PRINTER_PORTS ("1=/dev/ttyUSB0,2=/dev/ttyS1"),
// FISCAL_PRINTER_BAUD, FISCAL_PRINTER_FLOW, FISCAL_PRINTER_TIMEOUT_MS,
// FISCAL_PRINTER_RETRIES and FISCAL_PRINTER_TRACE (printer/serial_settings.cpp). Raises
// ELinkError naming the variable for a value that does not read.
FISCAL_PRINTER_API SerialConfig SerialConfigFromEnvironment();

class FISCAL_PRINTER_API SerialBackend final : public PrinterBackend {
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

  // The printer variant the link drives the printer of a port as, and how it was told; nothing
  // before the link reached that printer.
  std::optional<variants::Told> Variant(int portNumber) const;

  struct Stats {
    int Frames = 0;         // new commands framed and sent
    int Resends = 0;        // the same frame sent again
    int NaksSent = 0;       // damaged replies answered with NAK
    int NaksReceived = 0;   // frames the printer answered with NAK
    int KeepAlives = 0;     // DC2 / DC4 received
    int StaleReplies = 0;   // replies to an earlier command, skipped
    int StatusQueries = 0;  // status queries the link made itself
    int FromStatus = 0;     // commands whose reply was lost, found to have run
    int SentAgain = 0;      // commands whose reply was lost, found not to have run, sent again
    int InDoubt = 0;        // commands the link could not tell about, reported in doubt
    int FailedFast = 0;     // commands refused at once after the printer stopped answering
    long BytesSent = 0;     // everything written to the line and read from it
    long BytesReceived = 0;
  };
  Stats GetStats() const;

  // The record of every command sent, for checks that each ran exactly once, is read and
  // switched on through printer/internal/sent_record.h, which is not installed.
  friend class SentRecord;
  enum class Outcome : uint8_t;
  struct Sent;

 private:
  struct Command;
  link::ExchangeTiming Timing(const Command& c) const;
  PrinterAnswer Transact(const std::string& device, const std::string& method,
                         const std::vector<AnsiString>& fields);
  PrinterAnswer Once(Command& c);
  void Read(Command& c, unsigned reads, const link::Snapshot* known, link::Snapshot& into,
            const std::string& why);
  size_t Record(const std::string& method, const std::vector<AnsiString>& fields, bool query);
  void Ended(size_t record, Outcome end);
  void TellVariant(Command& c);
  const variants::ModelVariant& VariantOf(const std::string& device) const;
  PrinterAnswer FromLine(const std::string& device, const std::string& method,
                         const std::vector<AnsiString>& fields,
                         const link::ReplyFrame& reply) const;
  void Silenced(const Command& c, const std::string& why);
  [[noreturn]] void Fail(const Command& c, const std::string& what, LinkFault fault) const;

  SerialConfig config_;
  mutable std::mutex mu_;
  std::unique_ptr<link::LinkTime> time_;
  std::unique_ptr<link::SerialPort> port_;
  uint8_t seq_;
  std::set<std::string> asked_;   // devices whose printer was asked for its last number
  std::set<std::string> opened_;  // devices whose line was opened before
  std::map<std::string, link::Snapshot> known_;  // what the link knows of each printer
  // Per device, the values its printer's queries did not tell: not asked before every command.
  std::map<std::string, unsigned> untold_;
  std::map<std::string, wire::Translator> translators_;  // the control's translation per device
  // Per device, the variant told of its printer; kept across a new line until told again.
  std::map<std::string, variants::Told> told_;
  std::set<std::string> retell_;  // devices whose line is new: their variant is told again
  std::string stopped_;           // why the printer stopped answering; empty while it answers
  LinkClock::TimePoint stoppedAt_{};
  Stats stats_;
  std::unique_ptr<link::ExchangeCounters> line_;
  bool record_ = false;
  std::vector<Sent> sent_;
};

// Every control sends its commands over the serial line from its next command on.
FISCAL_PRINTER_API void ConfigureSerialPrinter(SerialConfig config);
// The same with the configuration from the environment.
FISCAL_PRINTER_API void UseSerialPrinterFromEnvironment();

}  // namespace plat
