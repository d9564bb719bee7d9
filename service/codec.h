// SPDX-License-Identifier: Apache-2.0
// JSON <-> the host's values at the service's edge: UTF-8 texts to Windows-1252 (refusing what
// the code page cannot hold), bundles, variants, open arrays, datasets and date-times.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "driver/Arfis770.h"
#include "platform/dataset.h"
#include "platform/variant.h"

namespace fpd {

using Json = nlohmann::ordered_json;

// A request that cannot be used: answered 400 with the code, the message and the field.
class RequestError : public std::runtime_error {
 public:
  RequestError(std::string code, std::string field, const std::string& message)
      : std::runtime_error(message), code_(std::move(code)), field_(std::move(field)) {}
  const std::string& Code() const { return code_; }
  const std::string& Field() const { return field_; }

 private:
  std::string code_;
  std::string field_;
};

[[noreturn]] void BadField(const std::string& field, const std::string& what);

// Objects and arrays nested in a body, the body itself counting as the first level.
constexpr size_t kMaxBodyDepth = 32;

// Parses a request body: a JSON object nested at most kMaxBodyDepth levels, or RequestError
// "bad_json" (an empty body included; naming the field where the nesting goes too deep).
Json ParseBody(const std::string& body);

// Texts. The JSON value must be a string; each character must exist in Windows-1252.
plat::AnsiString ToAnsi(const Json& v, const std::string& field);
plat::WideString ToWide(const Json& v, const std::string& field);
std::string FromAnsi(const plat::AnsiString& s);  // Windows-1252 -> UTF-8

bool ToBool(const Json& v, const std::string& field);
int ToInt(const Json& v, const std::string& field);
double ToDouble(const Json& v, const std::string& field);
// "YYYY-MM-DDTHH:MM:SS" (or a plain date) or a number of days since 30/12/1899.
plat::TDateTime ToDate(const Json& v, const std::string& field);
std::string DateText(plat::TDateTime d);

// Any JSON value as a variant: strings are texts, whole numbers integers, other numbers
// doubles, null Empty, arrays variant arrays, a dataset object its data packet.
plat::Variant ToVariant(const Json& v, const std::string& field);
Json FromVariant(const plat::Variant& v);

// A bundle from an object, each member one (key, value) pair in order; and back (a variant that
// is not a bundle is answered as a variant).
plat::Variant ToBundle(const Json& v, const std::string& field);
Json FromBundle(const plat::Variant& v);

ArfisOpenArray ToOpenArray(const Json& v, const std::string& field);

// Datasets: {"fields":[{"name","type","size"}],"rows":[[...]]}.
bool IsDatasetObject(const Json& v);
std::shared_ptr<const plat::DataPacket> ToPacket(const Json& v, const std::string& field);
std::unique_ptr<plat::TClientDataSet> ToDataset(const Json& v, const std::string& field,
                                                const plat::AnsiString& name);
Json FromPacket(const plat::DataPacket& p);
Json FromDataset(const plat::TClientDataSet* ds);  // null when none

// Reads the members of a body object, refusing unknown ones when done.
class Members {
 public:
  Members(const Json& object, std::string prefix);
  // The member or nullptr when absent (null counts as absent).
  const Json* Get(const std::string& name);
  const Json& Required(const std::string& name);
  std::string Path(const std::string& name) const { return prefix_ + name; }
  // Raises "bad_field" for the first member never asked for ("answers" is always allowed).
  void Done() const;

 private:
  const Json& object_;
  std::string prefix_;
  std::vector<std::string> seen_;
};

}  // namespace fpd
