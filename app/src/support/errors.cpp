#include "rotalign/support/errors.h"

#include <utility>

namespace rotalign {
namespace {

std::string with_remedies(const std::string& fact, const std::vector<remedy>& remedies,
                          const std::function<std::string(const remedy&)>& spell) {
    std::string message = fact;
    for (std::size_t k = 0; k < remedies.size(); ++k) {
        message += k == 0 ? ": " : ", or ";
        message += remedies[k].phrase;
        const std::string spelled = spell ? spell(remedies[k]) : std::string();
        if (!spelled.empty()) message += " (" + spelled + ")";
    }
    return message;
}

}  // namespace

input_error::input_error(const std::string& fact, std::vector<remedy> remedies)
    : std::runtime_error(with_remedies(fact, remedies, nullptr)), fact_(fact), remedies_(std::move(remedies)) {}

std::string worded(const input_error& error, const std::function<std::string(const remedy&)>& spell) {
    return with_remedies(error.fact(), error.remedies(), spell);
}

option_error::option_error(std::string option, std::string given, std::string needed, const std::string& fact)
    : input_error(fact), option_(std::move(option)), given_(std::move(given)), needed_(std::move(needed)) {}

too_many_pieces::too_many_pieces(std::size_t components, int groups_tried)
    : input_error("the affinity graph falls apart into " + std::to_string(components) + " components, more than the " +
                      std::to_string(groups_tried) + " groups tried",
                  {{"allow " + std::to_string(components) + " or more groups", "max_groups", std::to_string(components)},
                   {"use a larger neighbour count", "neighbours", ""}}),
      components_(components),
      groups_tried_(groups_tried) {}

}  // namespace rotalign
