#include "app/command_line.h"

namespace qelt {

std::vector<std::string> SplitArgumentString(std::string_view text) {
    std::vector<std::string> arguments;
    std::size_t i = 0;
    const auto isBlank = [&] { return text[i] == ' ' || text[i] == '\t'; };
    while (true) {
        while (i < text.size() && isBlank())
            ++i;
        if (i == text.size()) return arguments;
        std::string argument;
        // 0 outside quotes, 1 inside; inside a run of quotes it counts the run, and every third quote is literal.
        int quotes = 0;
        while (i < text.size() && (quotes != 0 || !isBlank())) {
            if (text[i] == '\\') {
                std::size_t backslashes = 0;
                while (i < text.size() && text[i] == '\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < text.size() && text[i] == '"') {
                    argument.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        argument += '"';
                        ++i;
                    }
                } else {
                    argument.append(backslashes, '\\');
                }
            } else if (text[i] == '"') {
                ++quotes;
                ++i;
                while (i < text.size() && text[i] == '"') {
                    if (++quotes == 3) {
                        argument += '"';
                        quotes = 0;
                    }
                    ++i;
                }
                if (quotes == 2) quotes = 0;
            } else {
                argument += text[i++];
            }
        }
        arguments.push_back(std::move(argument));
    }
}

}  // namespace qelt
