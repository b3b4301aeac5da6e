// The options of the clustering chain, described once. The command line, the Python package and
// the docs take every option's names, kind, range, default, words and help from this table, and
// check_options checks the chain's options against its ranges.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

namespace rotalign {

// The defaults that the table shows and that cluster_options starts from.
namespace option_defaults {
constexpr int neighbours = 7;
constexpr int max_groups = 10;
constexpr double tolerance = 0.001;
}  // namespace option_defaults

// From this many points on the automatic graph is the nearest-neighbour graph where the data do
// not choose it (a distance matrix, or too few points for any candidate neighbour count).
constexpr std::size_t knn_graph_from = 5000;
// The automatic graph on points: the chain runs on the knn graph of each of these neighbour
// counts (those not below the local scales' K and below half the number of points); among the
// graphs whose count another candidate confirms (a count that one graph alone gives is often an
// accident of that graph: on a 4,000-point sample of two moons, 15 neighbours gave 8 groups with
// a score six times the others' 2), the count with the largest summed score (graph_choice_score
// in chain.h) is taken, on its best-scored graph. On more than
// graph_choice_sample points the graphs, the count and the groups come from that many points
// drawn at random (fixed seed), and every other point takes the group of its nearest sampled
// point (groups_by_nearest_sample): the count is that of a set of one size, whatever N, and
// the groups do not depend on how far a graph of N points reaches.
constexpr std::size_t graph_choice_neighbours[] = {7, 10, 15, 20, 30};
constexpr std::size_t graph_choice_sample = 4000;
// From rotation_sample_from points on the automatic rotation sample is rotation_sample_rows rows
// (a third of the points or less); below it the searches run on every row.
constexpr std::size_t rotation_sample_from = 60000;
constexpr std::size_t rotation_sample_rows = 20000;

enum class option_kind {
    whole,  // an integer within [least, most]
    real,   // a finite number within the range
    word,   // one of `words`
    flag,   // on or off: "true" or "false" (the command line: given or not)
};

// One allowed word of a word option: the library's (and Python's) word, and the command line's
// where it names the option otherwise (the affinities go by their plug-ins there).
struct option_word {
    const char* word;
    const char* program_word;
};

struct option_description {
    std::string name;       // the library's key, and Python's: "max_groups"
    std::string flag;       // the command line's, without "--": "max-groups"
    std::string parameter;  // the estimator's parameter: "n_groups"
    std::string noun;       // what it is, for messages: "the largest number of groups"
    option_kind kind = option_kind::whole;
    double least = 0.0, most = 0.0;  // the range of a number
    bool least_excluded = false;     // the range starts just above `least`
    // A word option's words, in the order of its enum's values.
    std::vector<option_word> words;
    // The default as a user sees it: a number or a word; "" where the default depends on the data
    // or the option has none (the help says which).
    std::string default_text;
    std::string help;
};

// Which spelling of the words: the library's or the command line's.
enum class option_vocabulary { library, program };

// Every option of the chain, in the order the help shows them.
const std::vector<option_description>& chain_options();
// The option of that library name; throws std::out_of_range for another name.
const option_description& option_named(const std::string& name);

// What a value of the option must be, in words: "at least 2", "a positive number", "one of
// auto, dense or knn".
std::string requirement(const option_description& option, option_vocabulary vocabulary);
// A number as an option of this kind shows it: 7, 0.001.
std::string value_text(const option_description& option, double value);
bool in_range(const option_description& option, double value);
// The word of a word option's value number `index` (its enum's value).
std::string word_of(const option_description& option, std::size_t index, option_vocabulary vocabulary);
// A library word of the option in `vocabulary`; any other text unchanged.
std::string spelled_in(const option_description& option, const std::string& word, option_vocabulary vocabulary);

// A value given to an option, read as the option's kind: a whole number or a real (a flag: 1 or
// 0), or the index of a word. Throws option_error naming the option, the text and the requirement.
struct option_value {
    double number = 0.0;
    std::size_t word = 0;
};
option_value read_option(const option_description& option, const std::string& text, option_vocabulary vocabulary);

constexpr double largest_whole = std::numeric_limits<int>::max();

}  // namespace rotalign
