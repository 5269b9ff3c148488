// The one-word outcomes of the process, service and user operations. Any
// other outcome is a heap response text that the receiver sends and frees.
#pragma once
#include <cstring>

namespace hk {

inline constexpr const char kOutcomeFalse[] = "false";
inline constexpr const char kOutcomeError[] = "error";
inline constexpr const char kOutcomeTrue[] = "true";

inline bool OutcomeIs(const char* outcome, const char* word) { return outcome && std::strcmp(outcome, word) == 0; }
inline bool IsOutcomeWord(const char* outcome) {
  return !outcome || OutcomeIs(outcome, kOutcomeFalse) || OutcomeIs(outcome, kOutcomeError) ||
         OutcomeIs(outcome, kOutcomeTrue);
}

}  // namespace hk
