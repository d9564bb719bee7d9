// SPDX-License-Identifier: Apache-2.0
// The tills of a shop that share one printer (--tills FILE): each till's name, the hash of its
// token and its rights. One till per line, "NAME HASH RIGHTS" separated by blanks, "#" starting
// a comment; RIGHTS a comma-separated list of sell, cash, x, z, closing, call, read, read-all
// or all. Tokens are never stored: a till presents its token as a bearer token, which is
// hashed with each till's salt and compared in constant time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fpd {

enum class Right : uint16_t {
  Sell = 1 << 0,     // /v1/sales
  Cash = 1 << 1,     // /v1/cash/supply
  X = 1 << 2,        // /v1/x
  Z = 1 << 3,        // /v1/z
  Closing = 1 << 4,  // /v1/closing
  Call = 1 << 5,     // /v1/call/<EntryPoint>
  Read = 1 << 6,     // its own journal entries
  ReadAll = 1 << 7,  // every till's journal entries
};

// A set of rights.
class Rights {
 public:
  Rights() = default;
  static Rights All();
  bool Has(Right r) const { return (bits_ & static_cast<uint16_t>(r)) != 0; }
  void Add(Right r) { bits_ |= static_cast<uint16_t>(r); }
  bool Empty() const { return bits_ == 0; }
  bool operator==(const Rights&) const = default;

 private:
  uint16_t bits_ = 0;
};

// "sell", "cash", "x", "z", "closing", "call", "read", "read-all"; "all" is every one.
std::optional<Rights> ParseRight(std::string_view word);
std::string_view RightName(Right r);

struct Till {
  std::string Name;
  std::string Hash;  // the HASH field: "sha256:<salt, 32 hex digits>:<digest, 64 hex digits>"
  Rights Granted;
};

// The hash of a token with a new random salt, as the HASH field of the tills file. A token is a
// long random secret (at least kMinTokenLength characters, printable, no blanks): raises
// std::invalid_argument for a shorter one or one with other characters.
std::string HashToken(std::string_view token);
inline constexpr size_t kMinTokenLength = 16;

class Tills {
 public:
  // Reads the file; a file that cannot be read, or a malformed line (its number and what is
  // wrong named), raises std::runtime_error naming the file.
  static Tills Load(const std::string& path);
  // The same for the file's text; fileName names it in errors.
  static Tills Parse(std::string_view text, const std::string& fileName);

  // The till whose token this is, or null. Takes the same time whichever till it is, or none:
  // every till's hash is computed and compared in constant time.
  const Till* Find(std::string_view token) const;
  const Till* Named(std::string_view name) const;
  const std::vector<Till>& All() const { return tills_; }

 private:
  std::vector<Till> tills_;
};

}  // namespace fpd
