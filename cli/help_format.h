// Help texts wrapped to the terminal's width.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace velmora::cli {

// The width help is wrapped to: the terminal on stdout, else $COLUMNS, else 80.
int HelpWidth();

// Breaks text into lines of at most `width` columns at blanks; lines after a
// break start with `indent` blanks. Line breaks in the text are kept.
std::string Wrap(const std::string& text, int width, int indent);

class WrappingFormatter : public CLI::Formatter {
public:
    WrappingFormatter();
    std::string make_option(const CLI::Option* opt, bool isPositional) const override;
    std::string make_subcommand(const CLI::App* sub) const override;
    std::string make_description(const CLI::App* app) const override;
    std::string make_footer(const CLI::App* app) const override;

private:
    int width_;
};

}  // namespace velmora::cli
