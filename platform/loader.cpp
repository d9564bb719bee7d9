// SPDX-License-Identifier: Apache-2.0
// Loading a package: dlopen, its Initialize at once, Finalize before dlclose.
#include "platform/loader.h"

#include <dlfcn.h>

#include <exception>
#include <string>

#include "platform/exceptions.h"
#include "platform/os.h"

namespace plat {
namespace {

std::string DlErrorText() {
  const char* err = ::dlerror();
  return err != nullptr ? std::string(err) : std::string("unknown error");
}

// The address of name, or null; leaves no pending error behind.
void* Lookup(void* handle, const char* name) {
  ::dlerror();
  void* p = ::dlsym(handle, name);
  ::dlerror();
  return p;
}

}  // namespace

std::unique_ptr<Package> Package::Load(const AnsiString& path) {
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    throw Exception("Cannot load package '" + path + "': " + DlErrorText());
  }
  auto* initialize = reinterpret_cast<void (*)()>(Lookup(handle, "Initialize"));
  if (initialize == nullptr) {
    ::dlclose(handle);
    throw Exception("Cannot load package '" + path + "': entry point 'Initialize' not found");
  }
  // The failure's text is copied out before the library goes: the exception object may live
  // in code that dlclose unmaps.
  std::string failure;
  bool failed = false;
  try {
    initialize();
  } catch (const std::exception& e) {
    failure = e.what();
    failed = true;
  } catch (...) {
    failure = "unknown exception";
    failed = true;
  }
  if (failed) {
    ::dlclose(handle);
    throw Exception("Cannot load package '" + path + "': Initialize failed: " + failure);
  }
  return std::unique_ptr<Package>(new Package(path, handle));
}

Package::~Package() {
  if (handle_ == nullptr) return;
  if (auto* finalize = reinterpret_cast<void (*)()>(Lookup(handle_, "Finalize"))) {
    try {
      finalize();
    } catch (...) {
      // Unloading goes on: a destructor has nobody to report to.
    }
  }
  ::dlclose(handle_);
}

void* Package::Symbol(const char* name) const {
  void* p = Lookup(handle_, name);
  if (p == nullptr) {
    throw Exception(std::string("entry point '") + name + "' not found in " + path_);
  }
  return p;
}

bool Package::Has(const char* name) const {
  return Lookup(handle_, name) != nullptr;
}

AnsiString DefaultDriverPackagePath() {
  return ExtractFileDir(ExecutablePath()) + PathDelim + "libarfis770.so";
}

}  // namespace plat
