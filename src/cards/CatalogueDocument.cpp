#include "cards/CatalogueDocument.h"

#include "cards/CardFields.h"

#include <algorithm>
#include <array>

namespace morvane {

CatalogueDocument CatalogueDocument::parse(std::string_view bytes) {
    CatalogueDocument document;
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\x1a') {
            if (i > start)
                document.lines_.push_back({std::string(bytes.substr(start, i - start)), {}});
            document.tail_ = std::string(bytes.substr(i));
            return document;
        }
        if (c != '\r' && c != '\n')
            continue;
        const size_t endLength = c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n' ? 2 : 1;
        document.lines_.push_back(
            {std::string(bytes.substr(start, i - start)), std::string(bytes.substr(i, endLength))});
        i += endLength - 1;
        start = i + 1;
    }
    if (start < bytes.size())
        document.lines_.push_back({std::string(bytes.substr(start)), {}});
    return document;
}

std::string CatalogueDocument::bytes() const {
    std::string out;
    for (const DocumentLine& line : lines_)
        out.append(line.text).append(line.end);
    return out + tail_;
}

LineEdit CatalogueDocument::apply(const LineEdit& edit) {
    const size_t index = std::min(edit.index, lines_.size());
    const size_t removed = std::min(edit.removed, lines_.size() - index);
    LineEdit undo{index, edit.inserted.size(), {}};
    const auto first = lines_.begin() + static_cast<std::ptrdiff_t>(index);
    undo.inserted.assign(first, first + static_cast<std::ptrdiff_t>(removed));
    lines_.erase(first, first + static_cast<std::ptrdiff_t>(removed));
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index), edit.inserted.begin(), edit.inserted.end());
    return undo;
}

std::string CatalogueDocument::usualEnd() const {
    std::array<size_t, 3> counts{};
    static constexpr std::array<std::string_view, 3> ends{"\r\n", "\n", "\r"};
    for (const DocumentLine& line : lines_)
        for (size_t k = 0; k < ends.size(); ++k)
            counts[k] += line.end == ends[k] ? 1 : 0;
    const auto most = static_cast<size_t>(std::max_element(counts.begin(), counts.end()) - counts.begin());
    return std::string(counts[most] > 0 ? ends[most] : ends[0]);
}

LineEdit CatalogueDocument::insertCard(std::string text) const {
    const char kind = lineKind(text);
    size_t at = lines_.size();
    const std::vector<size_t> same = cardLines(kind);
    if (!same.empty()) {
        at = same.back() + 1;
    } else if (kind == 'C') {
        const std::vector<size_t> vehicles = cardLines('V');
        if (!vehicles.empty())
            at = vehicles.front();
    }
    LineEdit edit{at, 0, {{std::move(text), usualEnd()}}};
    // After a last line without a line end, that line gets one and the new line, now
    // the last, goes without: the file keeps its shape and no two lines run together.
    if (at > 0 && lines_[at - 1].end.empty()) {
        edit.inserted.front().end.clear();
        edit.inserted.insert(edit.inserted.begin(), {lines_[at - 1].text, usualEnd()});
        edit.index = at - 1;
        edit.removed = 1;
    }
    return edit;
}

LineEdit CatalogueDocument::replaceText(size_t index, std::string text) const {
    return {index, 1, {{std::move(text), lines_.at(index).end}}};
}

LineEdit CatalogueDocument::removeLine(size_t index) const {
    (void)lines_.at(index);
    return {index, 1, {}};
}

std::vector<size_t> CatalogueDocument::cardLines(char kind) const {
    std::vector<size_t> found;
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lineKind(lines_[i].text) == kind)
            found.push_back(i);
    return found;
}

} // namespace morvane
