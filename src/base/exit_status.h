// The exit statuses of the program.
#pragma once

namespace tabulon {

enum ExitStatus : int {
  kExitSuccess = 0,  // a run that ended normally, a message shown or not
  kExitFailure = 1,  // a run ended by a failure report
};

}  // namespace tabulon
