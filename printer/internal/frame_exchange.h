// SPDX-License-Identifier: Apache-2.0
// The frame exchange of one command on the line: the frame goes out, the reply comes back
// within the wait (each DC2 / DC4 from a busy printer adds to it), a damaged reply is answered
// with NAK so that the printer sends it again, a frame the printer answers with NAK or with a
// full buffer goes again, and a command that only reads is sent again when no reply of its own
// comes. A command that changes what the printer holds is otherwise sent once: when its reply
// does not come the exchange ends Lost, and the exactly-once policy of the serial backend finds
// out from the printer whether it ran. Every wait ends by the command's overall
// limit. Not installed; one thread at a time (the serial backend's lock).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/types.h"
#include "printer/internal/serial_port.h"
#include "printer/link_frame.h"

namespace plat::link {

struct ExchangeTiming {
  int TimeoutMs = 2000;  // the shortest wait for a reply, also after a busy byte
  int Retries = 3;       // sends again of a read-only command, NAKs of a damaged reply
  int TotalTimeoutMs = 60000;
  FlowControl Flow = FlowControl::None;
  int ReplyWaitMs = 0;  // the first wait for a reply when longer than TimeoutMs
  int BusyAddsMs = 0;   // what each busy byte adds to the wait
  // The first wait for a reply.
  int WaitMs() const { return TimeoutMs > ReplyWaitMs ? TimeoutMs : ReplyWaitMs; }
};

struct ExchangeCounters {
  int Resends = 0;
  int NaksSent = 0;
  int NaksReceived = 0;
  int KeepAlives = 0;
  int StaleReplies = 0;
};

struct ExchangeResult {
  enum class End {
    Reply,  // the printer answered: Reply
    Lost,   // a command sent once got no reply it could read: it may have run
    Failed  // the exchange could not be made: Why, Fault
  };
  End What = End::Failed;
  ReplyFrame Reply;
  std::string Why;  // "no answer (4 tries, 200 ms each)", "device gone (hang-up)"
  LinkFault Fault = LinkFault::Other;
  bool Written = false;  // the frame reached the line (the printer may have it)
  bool NotRun = false;   // the printer said it did not run it (every frame refused, buffer full)
  bool Silent = false;   // the printer answered nothing at all in every try
};

class FrameExchange {
 public:
  FrameExchange(SerialPort& port, const LinkTime& time, const ExchangeTiming& timing,
                ExchangeCounters& counters)
      : port_(port), time_(time), timing_(timing), counters_(counters) {}

  // One command under the number seq, which moves on past every number used. once: sent a
  // single time (see above), but again, under the same number, when the printer answers it
  // with NAK, and under a new one when its buffer was full. giveUp: the command's overall
  // limit.
  ExchangeResult Run(uint8_t& seq, const std::string& method, const std::vector<AnsiString>& fields,
                     bool once, LinkTime::TimePoint giveUp);

  // Asks the printer for the reply it keeps (a NAK); answers that reply's number, or nothing
  // when the printer keeps none. Nothing runs on the printer.
  std::optional<uint8_t> AskPrinter(int waitMs, LinkTime::TimePoint giveUp);

 private:
  enum class Heard { Nothing, Reply, Nak, Damaged, Gone, OverLimit };
  Heard Listen(LinkTime::TimePoint giveUp);
  void Restart();

  SerialPort& port_;
  const LinkTime& time_;
  const ExchangeTiming& timing_;
  ExchangeCounters& counters_;
  // The try in progress.
  ReplyParser parser_;
  std::string pending_;  // read from the line, not yet fed to the parser
  size_t next_ = 0;
  bool partial_ = false;  // bytes came that made no whole frame yet
  int keepAlives_ = 0;
  std::string gone_;
  LinkTime::TimePoint deadline_{};
};

}  // namespace plat::link
