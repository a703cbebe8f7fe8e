#include "launcher/command_line.h"

// Scans the text from the start.  A space ends an unquoted argument; the first
// quote (double or single) opens a section that runs to its partner or to the
// end.  Text before the opening quote is joined to the quoted text; a space
// directly after the closing quote is skipped, any other character starts the
// next argument.
void splitCommandLine(const wstring& text, ArgumentVector& arguments) {
    const std::size_t npos = wstring::npos;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == W(' ')) {
            ++pos;
            continue;
        }
        const std::size_t dquote = text.find(W('"'), pos);
        const std::size_t squote = text.find(W('\''), pos);
        const std::size_t space = text.find(W(' '), pos);
        const std::size_t firstQuote = dquote < squote ? dquote : squote;  // npos is largest

        if (space != npos && space < firstQuote) {
            arguments.push_back(text.substr(pos, space - pos));
            pos = space + 1;
            continue;
        }
        if (firstQuote == npos) {
            arguments.push_back(text.substr(pos));
            return;
        }
        const wchar quote = text[firstQuote];
        std::size_t closing = text.find(quote, firstQuote + 1);
        if (closing == npos) closing = text.size();
        wstring argument = text.substr(pos, firstQuote - pos);
        argument.append(text, firstQuote + 1, closing - firstQuote - 1);
        arguments.push_back(argument);
        pos = closing + 1;
        if (pos < text.size() && text[pos] == W(' ')) ++pos;
    }
}
