// What an operation of tools 1 to 3 comes back with: an answer (the finished
// response text of a listing, or nothing for an action that succeeded),
// nothing gathered ("false"), or an error caught on the way ("error"); with
// the Windows error that the answer reports, taken where the failure was.
// The dispatcher turns it into the legacy answers in one place.
#pragma once
#include <windows.h>

#include <cstring>
#include <string>

namespace hk {

struct Outcome {
  enum class Kind { kAnswer, kFalse, kError };
  Kind kind = Kind::kFalse;
  std::string text;
  DWORD error = 0;

  static Outcome Answer(std::string text = {}) { return {Kind::kAnswer, std::move(text), 0}; }
  static Outcome False(DWORD error = 0) { return {Kind::kFalse, {}, error}; }
  static Outcome Error(DWORD error = 0) { return {Kind::kError, {}, error}; }
};

// The same outcome as the one-word texts of the older interfaces: "false",
// "error", "true", or a heap copy of the response text that the receiver
// sends and frees (hk::FreeText).
inline constexpr const char kOutcomeFalse[] = "false";
inline constexpr const char kOutcomeError[] = "error";
inline constexpr const char kOutcomeTrue[] = "true";

inline bool OutcomeIs(const char* outcome, const char* word) { return outcome && std::strcmp(outcome, word) == 0; }
inline bool IsOutcomeWord(const char* outcome) {
  return !outcome || OutcomeIs(outcome, kOutcomeFalse) || OutcomeIs(outcome, kOutcomeError) ||
         OutcomeIs(outcome, kOutcomeTrue);
}

// Stores outcome through out as those texts; an answer without text is "true".
void StoreOutcomeText(const Outcome& outcome, char** out);

}  // namespace hk
