#pragma once
// How the window lays out a page's heading and the text below it, the same in every toolkit:
// a heading that wraps is set in lines of even length (no word left alone on its last line),
// and the text below starts clear of the heading's last line, whatever the two texts are.
// The toolkit measures; these rules decide.

#include <algorithm>
#include <vector>

namespace wizard_layout {

// Breaks `text` into the lines it takes at `width`: at blanks and line breaks (LF) only, so a
// hyphenated word ("USB-Stick", "d'elle-même") is never split after its hyphen, and a no-break
// space holds its neighbours together. A word wider than the line stands on a line of its own.
// `measure(line)` gives a line's width. TString is std::wstring (Win32) or QString.
template <class TString, class TMeasure>
std::vector<TString> WrapLines(const TString& text, int width, TMeasure&& measure) {
    std::vector<TString> lines;
    const auto* chars = text.data();
    const auto size = static_cast<long long>(text.size());
    long long begin = 0; // of the paragraph
    while (begin <= size) {
        long long end = begin;
        while (end < size && chars[end] != u'\n')
            ++end;
        TString line;
        bool empty = true;
        for (long long word = begin; word <= end;) {
            long long next = word;
            while (next < end && chars[next] != u' ')
                ++next;
            const TString piece(chars + word, next - word);
            if (empty) {
                line = piece;
                empty = false;
            } else if (TString candidate = line + TString(1, u' ') + piece;
                       measure(candidate) <= width) {
                line = candidate;
            } else {
                lines.push_back(line);
                line = piece;
            }
            word = next + 1;
        }
        lines.push_back(line);
        begin = end + 1;
    }
    return lines;
}

// The room kept between a heading's last line and the text below it, at 96 DPI.
constexpr int HeadingGap = 8;

// The narrowest width, at most `full`, at which a text still takes no more lines than at
// `full`: the width to set a wrapping heading in, so that its lines come out even and no word
// is left alone on the last one. `linesAt(width)` counts the lines at a width.
template <class TLinesAt> int BalancedWidth(int full, TLinesAt&& linesAt) {
    const auto lines = linesAt(full);
    if (full <= 1 || lines <= 1)
        return full;
    int tooNarrow = full / 2; // half the width cannot hold what one full line holds
    int fits = full;
    while (fits - tooNarrow > 1) {
        const int mid = tooNarrow + (fits - tooNarrow) / 2;
        if (linesAt(mid) <= lines)
            fits = mid;
        else
            tooNarrow = mid;
    }
    return fits;
}

// How far below its own top a body label's text starts so that it clears the heading above
// it: `headingTextBottom` is where the heading's last line ends and `bodyTop` the label's top,
// both in the page's coordinates, at the scale of `gap`.
constexpr int BodyInset(int headingTextBottom, int bodyTop, int gap) {
    return std::max(0, headingTextBottom + gap - bodyTop);
}

} // namespace wizard_layout
