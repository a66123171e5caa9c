#include "help_format.h"
#include "terminal.h"

#include <algorithm>
#include <cstdlib>

namespace velmora::cli {

int HelpWidth() {
    if (const int columns = TerminalColumns(1); columns > 0) return std::max(columns, 40);
    if (const char* c = std::getenv("COLUMNS")) {
        const int n = std::atoi(c);
        if (n > 0) return std::max(n, 40);
    }
    return 80;
}

namespace {

// Display columns of UTF-8 text: one per character, two for the wide
// (three- and four-byte) ones the Japanese texts are made of.
int Columns(const std::string& s) {
    int n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c & 0xC0) == 0x80) continue;
        n += c >= 0xE0 ? 2 : 1;
    }
    return n;
}

}  // namespace

std::string Wrap(const std::string& text, int width, int indent) {
    const std::string breakLead = "\n" + std::string(static_cast<std::size_t>(indent), ' ');
    std::string out;
    std::size_t start = 0;
    while (true) {
        const std::size_t nl = text.find('\n', start);
        const std::string para = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        // A paragraph that starts with blanks is a table row, "  2  text": its
        // head is kept as it is and its text hangs under the first word of it.
        std::size_t own = std::min(para.find_first_not_of(' '), para.size());
        if (own > 0) {
            const std::size_t gap = para.find("  ", own);
            if (gap != std::string::npos) own = std::min(para.find_first_not_of(' ', gap), para.size());
        }
        const std::string head = para.substr(0, own);
        const std::string hang(own, ' ');
        std::string line = head;
        int used = Columns(head);
        bool empty = true;
        std::size_t at = own;
        while (at < para.size()) {
            std::size_t end = para.find(' ', at);
            if (end == std::string::npos) end = para.size();
            if (end > at) {
                const std::string word = para.substr(at, end - at);
                const int w = Columns(word);
                if (!empty && used + 1 + w > width) {
                    out += line + breakLead;
                    line = hang;
                    used = static_cast<int>(own);
                    empty = true;
                }
                if (!empty) {
                    line += ' ';
                    ++used;
                }
                line += word;
                used += w;
                empty = false;
            }
            at = end + 1;
        }
        out += line;
        if (nl == std::string::npos) break;
        out += breakLead;
        start = nl + 1;
    }
    return out;
}

WrappingFormatter::WrappingFormatter() : width_(HelpWidth()) {
    column_width(static_cast<std::size_t>(std::min(26, width_ / 3)));
}

std::string WrappingFormatter::make_option(const CLI::Option* opt, bool isPositional) const {
    const int col = static_cast<int>(get_column_width());
    std::string desc = make_option_desc(opt);
    std::string wrapped = Wrap(desc, width_ - col, col);
    std::string left = "  " + make_option_name(opt, isPositional) + make_option_opts(opt);
    if (desc.empty()) return left + '\n';
    if (static_cast<int>(left.size()) >= col)
        return left + '\n' + std::string(static_cast<std::size_t>(col), ' ') + wrapped + '\n';
    return left + std::string(static_cast<std::size_t>(col) - left.size(), ' ') + wrapped + '\n';
}

std::string WrappingFormatter::make_subcommand(const CLI::App* sub) const {
    // The list shows each verb's first sentence; its own --help the rest.
    std::string desc = sub->get_description();
    const std::size_t stop = desc.find(". ");
    if (stop != std::string::npos) desc.resize(stop);
    const int col = static_cast<int>(get_column_width());
    std::string left = "  " + sub->get_display_name(true);
    std::string wrapped = Wrap(desc, width_ - col, col);
    if (static_cast<int>(left.size()) >= col)
        return left + '\n' + std::string(static_cast<std::size_t>(col), ' ') + wrapped + '\n';
    return left + std::string(static_cast<std::size_t>(col) - left.size(), ' ') + wrapped + '\n';
}

std::string WrappingFormatter::make_description(const CLI::App* app) const {
    const std::string desc = app->get_description();
    return desc.empty() ? std::string{} : Wrap(desc, width_, 0) + "\n";
}

std::string WrappingFormatter::make_footer(const CLI::App* app) const {
    const std::string footer = app->get_footer();
    return footer.empty() ? std::string{} : Wrap(footer, width_, 0) + "\n";
}

}  // namespace velmora::cli
