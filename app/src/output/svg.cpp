#include "rotalign/output/svg.h"

#include <algorithm>
#include <cmath>
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

// A panel of the choice picture: its place on the page and the range of its values.
struct panel {
    double left, top, width, height;
    double lo, hi;  // of the vertical axis
    double y(double v) const { return top + height * (hi - v) / (hi - lo); }
};

const char* const axis_colour = "#555555";

void frame(std::ostream& out, const panel& p, const std::string& label) {
    out << "<rect x=\"" << fixed(p.left) << "\" y=\"" << fixed(p.top) << "\" width=\"" << fixed(p.width)
        << "\" height=\"" << fixed(p.height) << "\" fill=\"none\" stroke=\"" << axis_colour << "\"/>\n"
        << "<text x=\"" << fixed(p.left) << "\" y=\"" << fixed(p.top - 6.0)
        << "\" font-family=\"sans-serif\" font-size=\"12\">" << escaped(label) << "</text>\n";
}

void tick(std::ostream& out, const panel& p, double v, const std::string& label) {
    const double y = p.y(v);
    out << "<line x1=\"" << fixed(p.left - 4.0) << "\" y1=\"" << fixed(y) << "\" x2=\"" << fixed(p.left)
        << "\" y2=\"" << fixed(y) << "\" stroke=\"" << axis_colour << "\"/>\n<text x=\"" << fixed(p.left - 6.0)
        << "\" y=\"" << fixed(y + 4.0) << "\" font-family=\"sans-serif\" font-size=\"10\" text-anchor=\"end\">"
        << escaped(label) << "</text>\n";
}

}  // namespace

void write_choice_svg(std::ostream& out, const std::vector<double>& values, const std::vector<double>& quality,
                      int chosen, const group_count_settings& settings, const std::string& title) {
    constexpr double left = 70.0, width = 480.0, height = 180.0, gap = 50.0, top = 60.0;
    const std::size_t last = std::max<std::size_t>(values.size(), quality.size() + 1);  // largest c shown
    auto x = [&](double c) { return left + width * (c - 0.5) / static_cast<double>(std::max<std::size_t>(last, 1)); };

    // Distances from 1 on a log scale, from 1e-16 (what rounding leaves of an eigenvalue 1) up.
    auto distance = [](double v) { return std::log10(std::max(1.0 - v, 1e-16)); };
    panel upper{left, top, width, height, -16.0, 0.5};
    for (double v : values) upper.hi = std::max(upper.hi, std::ceil(distance(v)));
    // Qualities lie between 1/c and 1; the panel starts at the lowest one shown.
    panel lower{left, top + height + gap, width, height, 1.0, 1.0};
    for (double q : quality)
        if (std::isfinite(q)) lower.lo = std::min(lower.lo, q);
    lower.lo = std::floor(lower.lo * 100.0 - 1e-9) / 100.0;
    if (lower.lo >= 1.0) lower.lo = 0.99;
    lower.hi = 1.0 + 0.02 * (1.0 - lower.lo);

    const double page_width = left + width + 30.0, page_height = lower.top + height + 50.0;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << fixed(page_width) << "\" height=\""
        << fixed(page_height) << "\" viewBox=\"0 0 " << fixed(page_width) << ' ' << fixed(page_height) << "\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text x=\"" << fixed(left) << "\" y=\"24\" font-family=\"sans-serif\" font-size=\"14\">"
        << escaped(title) << "</text>\n";
    frame(out, upper, "distance of eigenvalue c from 1 (log scale)");
    frame(out, lower, "alignment quality of the search with c groups (filled: candidate)");
    for (double d = upper.lo; d <= upper.hi; d += 4.0) tick(out, upper, d, "1e" + std::to_string(static_cast<int>(d)));
    for (int k = 0; k <= 4; ++k) {
        const double q = lower.lo + (1.0 - lower.lo) * k / 4.0;
        char label[16];
        std::snprintf(label, sizeof label, "%.3f", q);
        tick(out, lower, q, label);
    }
    // Numbers of groups along both panels.
    for (std::size_t c = 1; c <= last; ++c)
        out << "<text x=\"" << fixed(x(static_cast<double>(c))) << "\" y=\"" << fixed(lower.top + height + 16.0)
            << "\" font-family=\"sans-serif\" font-size=\"10\" text-anchor=\"middle\">" << c << "</text>\n";
    out << "<text x=\"" << fixed(left + width / 2.0) << "\" y=\"" << fixed(lower.top + height + 34.0)
        << "\" font-family=\"sans-serif\" font-size=\"12\" text-anchor=\"middle\">c</text>\n";

    // The line below which eigenvalues count as copies of 1.
    const double near = upper.y(std::log10(near_one_bound(values, settings)));
    out << "<line x1=\"" << fixed(left) << "\" y1=\"" << fixed(near) << "\" x2=\"" << fixed(left + width)
        << "\" y2=\"" << fixed(near) << "\" stroke=\"#999999\" stroke-dasharray=\"4 3\"/>\n"
        << "<text x=\"" << fixed(left + width - 4.0) << "\" y=\"" << fixed(near + 12.0)
        << "\" font-family=\"sans-serif\" font-size=\"10\" fill=\"#777777\" text-anchor=\"end\">"
        << "below: counted as copies of 1</text>\n";
    if (chosen > 0) {
        const double at = x(chosen);
        out << "<line x1=\"" << fixed(at) << "\" y1=\"" << fixed(upper.top) << "\" x2=\"" << fixed(at) << "\" y2=\""
            << fixed(lower.top + height) << "\" stroke=\"#d62728\" stroke-width=\"2\" opacity=\"0.6\"/>\n"
            << "<text x=\"" << fixed(at + 4.0) << "\" y=\"" << fixed(upper.top + 14.0)
            << "\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#d62728\" stroke=\"white\" stroke-width=\"3\""
            << " paint-order=\"stroke\">chosen: " << chosen
            << "</text>\n";
    }
    out << "<polyline fill=\"none\" stroke=\"#1f77b4\" points=\"";
    for (std::size_t k = 0; k < values.size(); ++k)
        out << (k ? " " : "") << fixed(x(static_cast<double>(k + 1))) << ',' << fixed(upper.y(distance(values[k])));
    out << "\"/>\n";
    for (std::size_t k = 0; k < values.size(); ++k)
        out << "<circle cx=\"" << fixed(x(static_cast<double>(k + 1))) << "\" cy=\""
            << fixed(upper.y(distance(values[k]))) << "\" r=\"3\" fill=\"#1f77b4\"/>\n";
    for (std::size_t k = 0; k < quality.size(); ++k) {
        if (!std::isfinite(quality[k])) continue;
        const bool candidate = clear_cut(values, k + 2, settings);
        out << "<circle cx=\"" << fixed(x(static_cast<double>(k + 2))) << "\" cy=\"" << fixed(lower.y(quality[k]))
            << "\" r=\"4\" stroke=\"#2ca02c\" stroke-width=\"1.5\" fill=\"" << (candidate ? "#2ca02c" : "white")
            << "\"/>\n";
    }
    out << "</svg>\n";
}

void write_choice_svg_file(const std::string& path, const std::vector<double>& values,
                           const std::vector<double>& quality, int chosen, const group_count_settings& settings,
                           const std::string& title) {
    std::ofstream out(path);
    if (!out) throw input_error("cannot write " + path + ": " + std::strerror(errno));
    write_choice_svg(out, values, quality, chosen, settings, title);
    out.close();
    if (!out) throw input_error("cannot write " + path);
}

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
