// SPDX-License-Identifier: Apache-2.0
// The host side of "looked up by plain name": loads a package, runs its Initialize, finds
// entry points by their exported names, and runs Finalize before unloading.
// Thread safety: a Package may be searched (Symbol, Has, Get) from several threads at once;
// loading and destroying one run on one thread, with no other thread using it meanwhile.
#pragma once

#include <memory>

#include "platform/export.h"
#include "platform/types.h"

namespace plat {

class PLAT_API Package {
 public:
  // Loads the shared library at path and calls its exported Initialize. A library that cannot
  // be loaded, or that lacks Initialize, raises Exception naming the path and the reason.
  static std::unique_ptr<Package> Load(const AnsiString& path);
  ~Package();  // calls Finalize, then unloads
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;

  const AnsiString& Path() const { return path_; }
  // The address of an exported name; raises Exception "entry point 'X' not found in <path>".
  void* Symbol(const char* name) const;
  bool Has(const char* name) const;
  // The exported name as a pointer of the entry point's type, F being decltype(Name) from
  // driver/Arfis770.h: pkg->Get<decltype(AbreCupom)>("AbreCupom"). For an exported variable
  // (frmArgentina, DsDirCad, nrECF) F is the variable's type. Raises as Symbol does.
  template <class F>
  F* Get(const char* name) const {
    return reinterpret_cast<F*>(Symbol(name));
  }

 private:
  Package(AnsiString path, void* handle) : path_(std::move(path)), handle_(handle) {}
  AnsiString path_;
  void* handle_;
};

// The driver package's file name, "libarfis770.so", beside the running executable.
PLAT_API AnsiString DefaultDriverPackagePath();

}  // namespace plat
