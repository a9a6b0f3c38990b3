// The exit statuses of both programs.
#pragma once

namespace tabulon {

// The converter's.
enum ExitStatus : int {
  kExitSuccess = 0,  // a run that ended normally, a message shown or not
  kExitFailure = 1,  // a run ended by a failure report
};

// The status (and the number shown) of the last-resort report of a terminate.
inline constexpr int kRuntimeErrorNumber = 217;

// The layout check's.
inline constexpr int kStatusNothingFound = 0;
inline constexpr int kStatusSomethingFound = 1;
inline constexpr int kStatusCouldNotRun = 2;

}  // namespace tabulon
