// SPDX-License-Identifier: Apache-2.0
// The frame exchange of one command: sends, listens, answers damaged replies with NAK and
// sends a read-only command again when its reply does not come.
#include "printer/internal/frame_exchange.h"

#include <algorithm>
#include <chrono>

namespace plat::link {

namespace {

// Whether a reply's number is one of the few the host gave the commands just before this one:
// a late copy of one of their replies.
bool EarlierNumber(uint8_t mine, uint8_t seq) {
  constexpr int kRange = kLastSequence - kFirstSequence + 1;
  constexpr int kRecent = 8;
  if (seq < kFirstSequence || seq > kLastSequence) return false;
  const int back = (mine - seq + kRange) % kRange;
  return back >= 1 && back <= kRecent;
}

ExchangeResult Failed(std::string why, LinkFault fault, bool written) {
  ExchangeResult r;
  r.What = ExchangeResult::End::Failed;
  r.Why = std::move(why);
  r.Fault = fault;
  r.Written = written;
  return r;
}

}  // namespace

void FrameExchange::Restart() {
  parser_.Reset();
  pending_.clear();
  next_ = 0;
  partial_ = false;
  deadline_ = time_.After(timing_.WaitMs());
}

FrameExchange::Heard FrameExchange::Listen(LinkTime::TimePoint giveUp) {
  while (true) {
    // What was read already comes first.
    while (next_ < pending_.size()) {
      const auto e = parser_.Feed(static_cast<uint8_t>(pending_[next_++]));
      switch (e) {
        case ReplyParser::Event::None:
          partial_ = true;
          continue;
        case ReplyParser::Event::KeepAlive:
          ++counters_.KeepAlives;
          ++keepAlives_;
          // Each busy byte adds to the wait, never leaving less than the shortest one.
          deadline_ = std::max(deadline_ + std::chrono::milliseconds(timing_.BusyAddsMs),
                               time_.After(timing_.TimeoutMs));
          continue;
        case ReplyParser::Event::Nak:
          partial_ = false;
          return Heard::Nak;
        case ReplyParser::Event::BadReply:
          partial_ = false;
          return Heard::Damaged;
        case ReplyParser::Event::Reply:
          partial_ = false;
          return Heard::Reply;
      }
    }
    pending_.clear();
    next_ = 0;
    if (time_.Now() >= giveUp) return Heard::OverLimit;
    LineResult r = port_.Read(std::min(deadline_, giveUp));
    if (r.What == LineResult::End::Gone) {
      gone_ = r.Why;
      return Heard::Gone;
    }
    if (r.What == LineResult::End::TimedOut) {
      if (time_.Now() >= giveUp) return Heard::OverLimit;
      return Heard::Nothing;
    }
    pending_ = std::move(r.Bytes);
  }
}

ExchangeResult FrameExchange::Run(uint8_t& seq, const std::string& method,
                                  const std::vector<AnsiString>& fields, bool once,
                                  LinkTime::TimePoint giveUp) {
  uint8_t mine = seq;
  seq = NextSequence(seq);
  std::string frame = EncodeCommand(mine, method, fields);
  const auto cmd = static_cast<uint8_t>(frame[2]);
  const int tries = timing_.Retries + 1;
  int sent = 0, badReplies = 0, naks = 0, full = 0;
  bool heardAny = false;
  bool frameLast = true;  // the frame, not a NAK of ours, went out last
  keepAlives_ = 0;
  const std::string each = std::to_string(timing_.WaitMs()) + " ms";

  auto overLimit = [&] {
    return Failed(keepAlives_ > 0
                      ? "busy without an answer for " + std::to_string(timing_.TotalTimeoutMs) +
                            " ms (" + std::to_string(keepAlives_) + " busy signals)"
                      : "no answer within the command's limit of " +
                            std::to_string(timing_.TotalTimeoutMs) + " ms",
                  LinkFault::Timeout, sent > 0);
  };
  auto send = [&](std::string_view bytes) -> std::optional<ExchangeResult> {
    const LineResult ready =
        port_.WaitReady(timing_.Flow, std::min(giveUp, time_.After(timing_.TimeoutMs)));
    if (ready.What == LineResult::End::Gone)
      return Failed("device gone (" + ready.Why + ")", LinkFault::Other, sent > 0);
    // A printer that keeps its ready line down is not ready (off line, cover open, wrong
    // cable): said so, not taken for a printer that does not answer.
    if (ready.What == LineResult::End::TimedOut)
      return Failed(
          "not ready (the printer holds DSR low for " + std::to_string(timing_.TimeoutMs) + " ms)",
          LinkFault::NotReady, sent > 0);
    const LineResult w = port_.Write(bytes, std::min(giveUp, time_.After(timing_.TimeoutMs)));
    if (w.What == LineResult::End::Gone)
      return Failed("device gone (" + w.Why + ")", LinkFault::Other, true);
    if (w.What == LineResult::End::TimedOut)
      return Failed("the line does not take the frame", LinkFault::Timeout, true);
    Restart();
    return std::nullopt;
  };
  // The command goes again under a new number, as a new frame.
  auto sendRenumbered = [&]() -> std::optional<ExchangeResult> {
    ++sent;
    ++counters_.Resends;
    mine = seq;
    seq = NextSequence(seq);
    frame = EncodeCommand(mine, method, fields);
    frameLast = true;
    return send(frame);
  };
  auto lost = [&](std::string why) {
    ExchangeResult r;
    r.What = ExchangeResult::End::Lost;
    r.Why = std::move(why);
    r.Written = true;
    return r;
  };

  if (auto f = send(frame)) return *f;
  sent = 1;
  while (true) {
    const Heard h = Listen(giveUp);
    if (h != Heard::Nothing) heardAny = true;
    switch (h) {
      case Heard::OverLimit:
        return overLimit();
      case Heard::Gone:
        return Failed("device gone (" + gone_ + ")", LinkFault::Other, true);
      case Heard::Reply: {
        const ReplyFrame& reply = parser_.Reply();
        if (EarlierNumber(mine, reply.Seq)) {
          ++counters_.StaleReplies;  // a late copy of the reply to an earlier command
          continue;
        }
        if (reply.Seq != mine || reply.Cmd != cmd) {
          // Not this command's reply: it is sent again, a command that changes the printer only
          // once the printer's queries show that it did not run.
          ++counters_.StaleReplies;
          if (once) return lost("a reply that is not this command's");
          if (sent >= tries)
            return Failed("no reply of its own (" + std::to_string(sent) + " tries)",
                          LinkFault::Other, true);
          if (auto f = sendRenumbered()) return *f;
          continue;
        }
        if (reply.PrinterStatus & status::kBufferFull) {
          // The printer's buffer was full: the command did not run and goes again, under a new
          // number.
          ++full;
          if (sent >= tries) {
            ExchangeResult r = Failed("the printer's buffer stays full (" + std::to_string(full) +
                                          (full == 1 ? " try)" : " tries)"),
                                      LinkFault::Other, true);
            r.NotRun = true;
            return r;
          }
          if (auto f = sendRenumbered()) return *f;
          continue;
        }
        ExchangeResult r;
        r.What = ExchangeResult::End::Reply;
        r.Reply = reply;
        r.Written = true;
        return r;
      }
      case Heard::Damaged:
        // A NAK of ours: the printer sends its reply again.
        ++badReplies;
        if (sent >= tries) {
          if (once) return lost("repeated damaged replies");
          return Failed(
              "repeated bad checksums (" + std::to_string(badReplies) + " damaged replies)",
              LinkFault::Other, true);
        }
        ++sent;
        ++counters_.NaksSent;
        frameLast = false;
        if (auto f = send(std::string(1, static_cast<char>(kNak)))) return *f;
        continue;
      case Heard::Nak:
      case Heard::Nothing: {
        // No whole reply in time, or the printer could not read the frame. Bytes that made no
        // frame were a reply damaged beyond recognition (its STX or ETX lost).
        const bool nak = h == Heard::Nak;
        if (nak) ++counters_.NaksReceived, ++naks;
        if (!nak && partial_) ++badReplies;
        // A NAK right after the frame says it came damaged and did not run: the same frame goes
        // again, under the same number, also for a command that changes the printer.
        if (once && !(nak && frameLast))
          return lost(nak        ? "a NAK after a damaged reply"
                      : partial_ ? "a damaged reply"
                                 : "no answer");
        if (sent >= tries) {
          if (naks > 0) {
            ExchangeResult r = Failed("repeated bad checksums (the printer refused the frame " +
                                          std::to_string(naks) + " times)",
                                      LinkFault::Other, true);
            r.NotRun = naks == sent;
            return r;
          }
          if (badReplies > 0)
            return Failed(
                "repeated bad checksums (" + std::to_string(badReplies) + " damaged replies)",
                LinkFault::Other, true);
          ExchangeResult r =
              Failed("no answer (" +
                         (sent == 1 ? "1 try, " + each
                                    : std::to_string(sent) + " tries, " + each + " each") +
                         ")",
                     LinkFault::Timeout, true);
          r.Silent = !heardAny;
          return r;
        }
        ++sent;
        ++counters_.Resends;
        frameLast = true;
        if (auto f = send(frame)) return *f;  // the identical frame, under the same number
        continue;
      }
    }
  }
}

std::optional<uint8_t> FrameExchange::AskPrinter(int waitMs, LinkTime::TimePoint giveUp) {
  for (int ask = 0; ask <= timing_.Retries; ++ask) {
    const LineResult w = port_.Write(std::string(1, static_cast<char>(kNak)), giveUp);
    if (w.What != LineResult::End::Done) return std::nullopt;
    Restart();
    deadline_ = time_.After(std::min(timing_.TimeoutMs, waitMs));
    const Heard h = Listen(giveUp);
    if (h == Heard::Reply) {
      const uint8_t kept = parser_.Reply().Seq;
      Restart();
      return kept;
    }
    Restart();
    if (h != Heard::Damaged) return std::nullopt;  // nothing kept, or nothing to tell
  }
  return std::nullopt;
}

}  // namespace plat::link
