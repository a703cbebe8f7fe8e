#include "frontend/deletion_list.h"

namespace deletion {

namespace {

void dropTrailingLineEnds(wstring& line) {
    while (!line.empty() && (line.back() == W('\r') || line.back() == W('\n'))) line.pop_back();
}

}  // namespace

std::vector<wstring> readListLines(const unsigned char* bytes, std::size_t size) {
    std::vector<wstring> lines;
    wstring piece;
    // Whether the current line already gave a full piece: its line end then
    // closes the line without adding an empty one.
    bool pieceTaken = false;
    for (std::size_t at = 0; at + 1 < size; at += 2) {
        const wchar c = static_cast<wchar>(bytes[at] | (bytes[at + 1] << 8));
        if (c == W('\n')) {
            dropTrailingLineEnds(piece);
            if (!piece.empty() || !pieceTaken) lines.push_back(piece);
            piece.clear();
            pieceTaken = false;
            continue;
        }
        piece.push_back(c);
        if (piece.size() == kLineLimit) {
            dropTrailingLineEnds(piece);
            lines.push_back(piece);
            piece.clear();
            pieceTaken = true;
        }
    }
    dropTrailingLineEnds(piece);
    if (!piece.empty()) lines.push_back(piece);
    return lines;
}

}  // namespace deletion
