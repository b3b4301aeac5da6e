#include "rotalign/svg.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace rotalign {
namespace {

// Colours that stay apart for the first ten groups; later groups reuse them.
const char* const palette[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
                               "#8c564b", "#e377c2", "#17becf", "#bcbd22", "#393b79"};
const char* const no_group = "#999999";

std::string escaped(const std::string& text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            // Control characters are not allowed in XML 1.0 text.
            if (static_cast<unsigned char>(ch) >= 0x20 || ch == '\t' || ch == '\n') out += ch;
        }
    }
    return out;
}

std::string fixed(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", v);
    return buffer;
}

}  // namespace

void write_svg(std::ostream& out, const points& p, const std::vector<int>& groups, const std::string& title) {
    if (p.dims < 2) throw input_error("a picture needs points of at least two coordinates");
    if (groups.size() != p.count) throw input_error("a picture needs one group per point");
    constexpr double size = 480.0, margin = 20.0, top = 36.0;
    double min_x = 0.0, max_x = 1.0, min_y = 0.0, max_y = 1.0;
    if (p.count > 0) {
        min_x = max_x = p.at(0, 0);
        min_y = max_y = p.at(0, 1);
        for (std::size_t i = 1; i < p.count; ++i) {
            min_x = std::min(min_x, p.at(i, 0)), max_x = std::max(max_x, p.at(i, 0));
            min_y = std::min(min_y, p.at(i, 1)), max_y = std::max(max_y, p.at(i, 1));
        }
    }
    // One scale for both axes, so that circles stay round; a single point sits in the middle.
    const double span = std::max({max_x - min_x, max_y - min_y, 1e-300});
    const double scale = (size - 2.0 * margin) / span;
    const double height = top + (max_y - min_y) * scale + 2.0 * margin;
    const double width = (max_x - min_x) * scale + 2.0 * margin;

    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << fixed(std::max(width, 200.0)) << "\" height=\""
        << fixed(height) << "\" viewBox=\"0 0 " << fixed(std::max(width, 200.0)) << ' ' << fixed(height) << "\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text x=\"" << fixed(margin) << "\" y=\"24\" font-family=\"sans-serif\" font-size=\"14\">"
        << escaped(title) << "</text>\n<g stroke=\"none\">\n";
    for (std::size_t i = 0; i < p.count; ++i) {
        const int g = groups[i];
        const char* colour = g <= 0 ? no_group : palette[static_cast<std::size_t>(g - 1) % std::size(palette)];
        const double x = margin + (p.at(i, 0) - min_x) * scale;
        const double y = top + margin + (max_y - p.at(i, 1)) * scale;  // y grows downwards in SVG
        out << "<circle cx=\"" << fixed(x) << "\" cy=\"" << fixed(y) << "\" r=\"2.5\" fill=\"" << colour << "\"/>\n";
    }
    out << "</g>\n</svg>\n";
}

void write_svg_file(const std::string& path, const points& p, const std::vector<int>& groups,
                    const std::string& title) {
    std::ofstream out(path);
    if (!out) throw input_error("cannot write " + path + ": " + std::strerror(errno));
    write_svg(out, p, groups, title);
    out.close();
    if (!out) throw input_error("cannot write " + path);
}

}  // namespace rotalign
