// The request fuzzer's cases: a valid request of every request code of every
// tool, and what is done to it. Case n is the same text on every run: the
// families that are walked through completely come first, in an order mixed
// by a fixed starting value so that any first thousand samples all of them;
// after them, random byte flips on top of those mutations.
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
