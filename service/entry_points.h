// SPDX-License-Identifier: Apache-2.0
// The driver's exported entry points as the service offers them: each one's parameters by
// name and kind, the decoding of a JSON body into its arguments, the call through the loaded
// package and the answer of its result and by-reference arguments.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec.h"
#include "platform/loader.h"

namespace fpd {

enum class Kind {
  Text,
  Wide,
  Bool,
  Int,
  Double,
  Date,
  Bundle,
  OpenArray,
  Variant,
  AnswerArray,  // a variant that defaults to an array of three
  Dataset,
  DatasetRef,  // TClientDataSet*&: none unless the body gives one
  StringList,
  StringListRef
};

struct Param {
  const char* Name;
  Kind What;
  bool ByRef = false;
};

// One argument after decoding; only the member of the parameter's kind is used.
struct Arg {
  plat::AnsiString Text;
  plat::WideString Wide;
  bool Bool = false;
  int Int = 0;
  double Double = 0;
  plat::Variant Value;
  ArfisOpenArray Array;
  std::unique_ptr<plat::TClientDataSet> OwnedDataset;
  plat::TClientDataSet* Dataset = nullptr;
  std::unique_ptr<plat::TStringList> OwnedList;
  plat::TStringList* List = nullptr;
};

struct CallArgs;
struct EntryPoint {
  const char* Name;
  std::vector<Param> Params;
  // Calls the entry point with the arguments; answers its result as JSON.
  std::function<Json(const plat::Package&, CallArgs&)> Invoke;
};

// The host files a call may supply: written into the host folder before the call.
struct HostFile {
  std::string Name;  // "cdsVenda.cds" or "Quorilo.cds"
  std::shared_ptr<const plat::DataPacket> Data;
};

struct CallArgs {
  const EntryPoint* Entry = nullptr;
  std::vector<Arg> Args;
  std::vector<HostFile> Files;
};

// Whether the entry point answers the same whatever the printer holds (it sends nothing): its
// False is an answer, never a failure.
bool FixedAnswer(const std::string& name);

// The entry point of that exact name, or nullptr.
const EntryPoint* FindEntryPoint(const std::string& name);
const std::vector<EntryPoint>& EntryPoints();

// Decodes a body into the entry point's arguments (RequestError on a bad member).
CallArgs DecodeCall(const EntryPoint& entry, const Json& body);
// The operator's answers of a body ("answers": [true, false]); empty when none.
std::vector<bool> DecodeAnswers(const Json& body);
// The by-reference arguments after the call, by parameter name.
Json OutArgs(const CallArgs& call);

}  // namespace fpd
