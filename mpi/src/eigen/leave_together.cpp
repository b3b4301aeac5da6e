#include "eigen/leave_together.h"

#include "rotalign/support/errors.h"
#include "support/ranks.h"

#include <stdexcept>
#include <string>

namespace rotalign::mpi {

void leave_together(MPI_Comm comm, const std::exception_ptr& failure) {
    // The message travels with a first letter for its kind: 'i' for bad input, 'r' for the rest.
    std::string message;
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const input_error& e) {
            message = std::string("i") + e.what();
        } catch (const std::exception& e) {
            message = std::string("r") + e.what();
        } catch (...) {
            message = "rthe eigen-step stopped";
        }
    }
    const std::string first = first_failure(comm, message);
    if (first.empty()) return;
    if (failure) std::rethrow_exception(failure);
    if (first[0] == 'i') throw input_error(first.substr(1));
    throw std::runtime_error(first.substr(1));
}

}  // namespace rotalign::mpi
