// SPDX-License-Identifier: Apache-2.0
#include "chain/topics.h"

namespace chain {

namespace {

bool Alnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

bool ValidLevel(const std::string& name) {
  if (name.empty() || name.size() > 64 || !Alnum(name.front())) return false;
  for (const char c : name) {
    if (!Alnum(c) && c != '_' && c != '.' && c != '-') return false;
  }
  return true;
}

std::string Topic(const std::string& shop, const std::string& printer, const std::string& kind) {
  return kTopicPrefix + shop + "/" + printer + "/" + kind;
}

}  // namespace chain
