#include "support/collective_section.h"

#include <mpi.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <iostream>

namespace rotalign::mpi {
namespace {

int report_what() {
    try {
        throw;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
    } catch (...) {
        std::cerr << "an unknown error\n";
    }
    return 1;
}

std::atomic<failure_report> current_report{report_what};

}  // namespace

void set_failure_report(failure_report report) { current_report = report != nullptr ? report : report_what; }

void end_run_with_current_failure() {
    int status = 1;
    try {
        status = current_report.load()();
    } catch (...) {
        // The report itself failed: the run still ends, with the plain status.
    }
    std::cerr.flush();
    MPI_Abort(MPI_COMM_WORLD, status != 0 ? status : 1);
    std::abort();  // MPI_Abort does not return; should it, this rank still must not go on
}

}  // namespace rotalign::mpi
