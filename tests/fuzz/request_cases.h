// The request fuzzer's cases: case n is the same text on every run. The
// complete families come first, mixed so that any first thousand samples all
// of them; after them, random byte changes on top of those.
#pragma once
#include <cstdint>
#include <string>

#include <json/value.h>

namespace hk::fuzz {

// How many cases the complete families hold; cases past it are random.
uint64_t CompleteCases();

struct Case {
  std::string text;   // what the server sends, bytes as they are
  std::string about;  // "truncated at 17: 2007 stop a service", for reports
};

Case MakeCase(uint64_t index);

// A document as one line, keys in the writer's order, UTF-8 as it is.
std::string Compact(const Json::Value& v);

}  // namespace hk::fuzz
