// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the printer link's reply parser, as a damaged or hostile line would
// deliver them: it must never read out of bounds, hold more than one frame's worth of bytes, or
// hand over a reply that does not frame back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "printer/link_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace link = plat::link;
  link::ReplyParser parser;
  link::FrameScanner commands;
  for (size_t i = 0; i < size; ++i) {
    if (parser.Feed(data[i]) == link::ReplyParser::Event::Reply) {
      const link::ReplyFrame& r = parser.Reply();
      if (r.Fields.size() > link::kMaxAnswerFields) std::abort();
      // A reply that was read is well formed: encoding it again gives a frame that reads back
      // the same.
      const auto again = link::DecodeReply(link::EncodeReply(r));
      if (!again || again->Seq != r.Seq || again->Cmd != r.Cmd ||
          again->PrinterStatus != r.PrinterStatus || again->FiscalStatus != r.FiscalStatus ||
          again->Fields != r.Fields)
        std::abort();
      (void)link::ToAnswer(r);
      (void)link::DecodePrinterStatus(r.PrinterStatus);
      (void)link::DecodeFiscalStatus(r.FiscalStatus);
    }
    if (commands.Feed(data[i]) == link::FrameScanner::Event::Frame) {
      if (commands.Frame().size() > link::kMaxFrameBytes + 5) std::abort();
      (void)link::DecodeCommand(commands.Frame());
    }
  }
  const std::string whole(reinterpret_cast<const char*>(data), size);
  (void)link::DecodeReply(whole);
  (void)link::DecodeCommand(whole);
  return 0;
}
