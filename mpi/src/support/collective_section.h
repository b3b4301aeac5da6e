// Work that every rank runs alongside the others inside collectives that wait for each of them (a
// solver's reductions, a distributed factor, a ring of exchanges). A rank that fails there cannot
// agree on it with the others, which never reach the agreement: the failure ends the whole run.
#pragma once

#include <utility>

namespace rotalign::mpi {

// Writes the message for the exception being handled and returns the run's exit status. The
// program sets its own wording; by default what() goes to standard error and the status is 1.
using failure_report = int (*)();
void set_failure_report(failure_report report);

// Called in a handler: reports the exception being handled and ends every rank of
// MPI_COMM_WORLD with the report's status (MPI_Abort), whatever collective they wait in.
[[noreturn]] void end_run_with_current_failure();

// Runs `work` and returns its result; an exception that leaves it ends the whole run. Failures
// that every rank sees alike belong outside: `work` returns them as values, to be thrown after
// the section on every rank and agreed on as usual.
template <typename Work>
decltype(auto) collective_section(Work&& work) {
    try {
        return std::forward<Work>(work)();
    } catch (...) {
        end_run_with_current_failure();
    }
}

}  // namespace rotalign::mpi
